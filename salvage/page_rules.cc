#include "salvage/page_rules.h"

#include "reader/format.h"
#include "reader/v8_layout.h"

PageHeaderInfo ClassifyPageHeader(const VersionRules& layout, const uint8_t* page,
                                  uint64_t physical, uint64_t logicalBound) {
  PageHeaderInfo info;
  switch (layout.versionClass) {
    case 1: {
      // No page map: a data page sits at the position its number names, so
      // a header that names another page is not one.
      const uint16_t word4 = DecodeLE16(page + 4);
      if ((word4 & 0x8000) == 0) return info;
      if (DecodePageNumber24(page) != physical) return info;
      if (layout.consoleChecksZeroHeader && page[4] == 0 && page[6] == 0 && page[7] == 0) {
        return info;
      }
      info.kind = HeaderKind::Data;
      info.logical = static_cast<uint32_t>(physical);
      info.usage = word4;
      return info;
    }
    case 2: {
      const uint8_t kind = page[1];
      if (kind != 'D' && kind != 'V') return info;
      const uint32_t number = DecodePageNumber24(page);
      if (number == 0 || number >= logicalBound) return info;
      info.kind = kind == 'D' ? HeaderKind::Data : HeaderKind::Variable;
      info.logical = number;
      info.usage = DecodeLE16(page + 4);
      return info;
    }
    default: {
      const uint8_t kind = page[4];
      if ((kind != 'D' && kind != 'V') || page[kV8PageKindHighOffset] != 0) return info;
      const uint16_t usage = DecodeLE16(page + 6);
      // The engine sets bit 15 on every data page and on no variable page.
      if (((usage & 0x8000) != 0) != (kind == 'D')) return info;
      const uint32_t number = DecodeLE32(page);
      if (number == 0 || number >= logicalBound) return info;
      info.kind = kind == 'D' ? HeaderKind::Data : HeaderKind::Variable;
      info.logical = number;
      info.usage = usage & kV8UsageMask;
      return info;
    }
  }
}

uint32_t RawPageNumber(const VersionRules& layout, const uint8_t* page) {
  return layout.versionClass == 3 ? DecodeLE32(page) : DecodePageNumber24(page);
}
