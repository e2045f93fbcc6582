#include "salvage/page_rules.h"

#include "reader/format.h"
#include "reader/page_header.h"
#include "reader/v8_layout.h"

PageHeaderInfo ClassifyPageHeader(const VersionRules& rules, const uint8_t* page,
                                  uint64_t physical, uint64_t logicalBound) {
  PageHeaderInfo info;
  const PageKindResult kind = ClassifyPage(rules.kind, page);
  if (kind == PageKindResult::Neither) return info;
  const PageHeader header = DecodePageHeader(rules.pageNumber, page);
  if (rules.pageMap == PageMapRule::None) {
    // No page map: a data page sits at the position its number names, so
    // a header that names another page is not one.
    if (header.number != physical) return info;
    if (rules.consoleChecksZeroHeader && page[4] == 0 && page[6] == 0 && page[7] == 0) {
      return info;
    }
  } else {
    if (header.number == 0 || header.number >= logicalBound) return info;
    // From 0x0800 the engine sets bit 15 of the usage word on every data
    // page and on no variable page.
    const uint16_t usage = DecodeLE16(page + PageUsageOffset(rules.pageNumber));
    if (rules.usageBit15MarksData && ((usage & 0x8000) != 0) != (kind == PageKindResult::Data)) {
      return info;
    }
  }
  info.kind = kind == PageKindResult::Data ? HeaderKind::Data : HeaderKind::Variable;
  info.logical = header.number;
  info.usage = header.usage;
  return info;
}

uint32_t RawPageNumber(const VersionRules& rules, const uint8_t* page) {
  return DecodePageHeader(rules.pageNumber, page).number;
}

DuplicatePointer LookAtDuplicatePointer(const VersionRules& layout, const uint8_t* bytes,
                                        uint32_t pageSize, uint32_t slotLength, uint32_t slots,
                                        int64_t fileSize) {
  const uint32_t word = DecodeLE32(bytes);
  if (word == 0xFFFFFFFFu) return DuplicatePointer::None;
  if (word == 0) return DuplicatePointer::Zero;
  if (slotLength == 0) return DuplicatePointer::Other;
  bool fits;
  if (layout.slotWords) {
    uint32_t shift = 4;
    while ((1u << shift) < slots) ++shift;
    const uint64_t page = word >> shift;
    fits = page > 0 && page < LogicalBound(fileSize / pageSize) &&
           (word & ((1u << shift) - 1)) < slots;
  } else {
    const uint64_t offset = DecodeSwappedCount(bytes);
    const uint32_t within = static_cast<uint32_t>(offset % pageSize);
    const uint32_t header = layout.dataPageHeaderSize;
    fits = offset < static_cast<uint64_t>(fileSize) + pageSize && within >= header &&
           (within - header) % slotLength == 0 && (within - header) / slotLength < slots;
  }
  return fits ? DuplicatePointer::Slot : DuplicatePointer::Other;
}
