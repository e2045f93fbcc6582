// Page header rules as salvage applies them: the reader's version rows
// (reader/version_rules.h) plus the plausibility checks a damaged file
// needs before a page is trusted.
#ifndef GANDREL_SALVAGE_PAGE_RULES_H_
#define GANDREL_SALVAGE_PAGE_RULES_H_

#include <cstdint>

#include "reader/version_rules.h"

enum class HeaderKind : uint8_t { Other = 0, Data = 1, Variable = 2 };

// Eight bytes, so that it comes back from a call in one register.
struct PageHeaderInfo {
  uint32_t logical = 0;  // page number from the header
  uint16_t usage = 0;    // usage counter (bit 15 of 0x0800 data pages removed)
  HeaderKind kind = HeaderKind::Other;
};

// Classifies the page at physical page `physical` (its first
// kPageHeaderBytes bytes at `page`, reader/page_header.h) by the rules of
// `layout`.  A header only counts as a data
// or variable page when it is plausible:
//   0x0300-0x0500  bit 15 of the word at 4, and the page number equal to the
//                  physical page (these versions have no page map); 0x0300
//                  also refuses bytes 4, 6 and 7 all zero
//   0x0600-0x0700  kind byte at 1, page number 1 .. logicalBound - 1
//   0x0800-0x0900  kind byte at 4 with byte 5 zero, bit 15 of the usage word
//                  set on data pages and clear on variable pages, page number
//                  1 .. logicalBound - 1
PageHeaderInfo ClassifyPageHeader(const VersionRules& layout, const uint8_t* page,
                                  uint64_t physical, uint64_t logicalBound);

// The page number a header carries, whatever its kind: the 24-bit number
// below 0x0800, the u32 from 0x0800 on.  Index pages carry theirs too.
uint32_t RawPageNumber(const VersionRules& layout, const uint8_t* page);

// Highest logical page number worth believing in a file of `pageCount`
// physical pages, plus one: every logical page needs a physical one, and a
// file cut short may have lost some, so twice the count and a margin.
inline uint64_t LogicalBound(int64_t pageCount) {
  return static_cast<uint64_t>(pageCount) * 2 + 16;
}

// What one word of a linked-duplicate pointer pair at `bytes` is: none
// (0xFFFFFFFF), a record address (logical page << s | slot, from 0x0800 on)
// or the file offset of a slot with its 16-bit halves swapped (before
// 0x0800), on pages of `slots` slots of `slotLength` bytes in a file of
// `fileSize` bytes (one page beyond it allowed: bytes may have been lost
// before), or a zero word.  Zero is no pointer: the engines write
// 0xFFFFFFFF for none (no used slot of the 28 real files with duplicate
// pointers, 0x0400 to 0x0950, holds a zero word there), and offset 0 is the
// control page; but a free slot keeps zeros there.
enum class DuplicatePointer : uint8_t { None, Slot, Zero, Other };
DuplicatePointer LookAtDuplicatePointer(const VersionRules& layout, const uint8_t* bytes,
                                        uint32_t pageSize, uint32_t slotLength, uint32_t slots,
                                        int64_t fileSize);

#endif  // GANDREL_SALVAGE_PAGE_RULES_H_
