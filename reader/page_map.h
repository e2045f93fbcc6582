// Page addressing: from a logical page number to the file offset of the
// page that holds it.  Versions 0x0600 to 0x0700 keep a page map in pairs of
// map pages (reader/format.h); 0x0600 and 0x0610 place every page from the
// first copy of map pair 30 on 4096 bytes further into the file; 0x0800 and
// 0x0900 pages are found in the directory their allocation tables gave.
#ifndef GANDREL_READER_PAGE_MAP_H_
#define GANDREL_READER_PAGE_MAP_H_

#include <cstdint>

#include "reader/reader_types.h"

// Offset of a physical page: page number times page size, with the
// 4096-byte adjustment where the plan has it.
int64_t PhysicalPageOffset(const DataFile* dataFile, uint64_t physicalPage);

// File offset of a logical page, through the page map where the plan walks
// one; -1 when the page has no physical page (no map entry, a map page that
// cannot be read, a page number of 0 or below).  Reads from `file` but
// never touches pageBuffer.
int64_t PageOffset(DataFile* dataFile, int32_t logicalPage);

#endif  // GANDREL_READER_PAGE_MAP_H_
