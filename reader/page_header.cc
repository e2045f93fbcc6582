#include "reader/page_header.h"

#include "reader/format.h"
#include "reader/v8_layout.h"

PageKindResult ClassifyPage(KindRule rule, const uint8_t* page) {
  uint8_t kind;
  switch (rule) {
    case KindRule::Bit15AtOffset4:
      return (DecodeLE16(page + 4) & 0x8000) ? PageKindResult::Data
                                             : PageKindResult::Neither;
    case KindRule::ByteAtOffset1:
      kind = page[1];
      break;
    case KindRule::ByteAtOffset4NotIndex:
      // An index page keeps its key number at 4 and 0x80 at 5: key 68 would
      // read as 'D'.
      if (page[kV8PageKindHighOffset] != 0) return PageKindResult::Neither;
      kind = page[4];
      break;
    default:
      return PageKindResult::Neither;
  }
  if (kind == 'D') return PageKindResult::Data;
  if (kind == 'V') return PageKindResult::Variable;
  return PageKindResult::Neither;
}

uint32_t PageUsageOffset(PageNumberRule rule) {
  if (rule == PageNumberRule::Number32UsageWord8) return kV95PageUsageOffset;
  return rule == PageNumberRule::Number32UsageWord6 ? 6 : 4;
}

PageHeader DecodePageHeader(PageNumberRule rule, const uint8_t* page) {
  const uint16_t usage = DecodeLE16(page + PageUsageOffset(rule));
  if (rule == PageNumberRule::Number32UsageWord6 || rule == PageNumberRule::Number32UsageWord8) {
    // Bit 15 of the usage word marks data pages; it is not part of the count.
    return PageHeader{DecodeLE32(page), static_cast<uint16_t>(usage & kV8UsageMask)};
  }
  return PageHeader{DecodePageNumber24(page), usage};
}
