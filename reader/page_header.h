// The header every data and variable page starts with: its kind, its
// logical page number and its usage counter, decoded by the version's rules
// (reader/version_rules.h, reader/format.h, reader/v8_layout.h).  Pure
// functions of the page's first kPageHeaderBytes bytes.
#ifndef GANDREL_READER_PAGE_HEADER_H_
#define GANDREL_READER_PAGE_HEADER_H_

#include <cstdint>

#include "reader/reader_types.h"
#include "reader/version_rules.h"

// Bytes of a page that these functions look at: the longest header, that
// of 0x0950.  The kind always lies in the first eight.
constexpr uint32_t kPageHeaderBytes = 10;

// Data page, variable page or neither.  `page` holds kPageHeaderBytes.
PageKindResult ClassifyPage(KindRule rule, const uint8_t* page);

struct PageHeader {
  uint32_t number;  // logical page number
  uint16_t usage;   // usage counter: of two copies the greater is current
};
PageHeader DecodePageHeader(PageNumberRule rule, const uint8_t* page);

// Offset of the usage word in the header: 4 below 0x0800, 6 from 0x0800,
// 8 in 0x0950.  From 0x0800 its bit 15 marks a data page.
uint32_t PageUsageOffset(PageNumberRule rule);

// Classifies a page by its header.  `page` holds at least 8 bytes.
PageKindResult PageKind(const DataFile* dataFile, const uint8_t* page);

#endif  // GANDREL_READER_PAGE_HEADER_H_
