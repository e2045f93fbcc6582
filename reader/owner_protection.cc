#include "reader/owner_protection.h"

#include "reader/format.h"
#include "reader/page_header.h"

bool OwnerModeEncrypts(uint8_t mode) { return mode == 2 || mode == 3; }

uint64_t FirstPageAfterControl(const VersionRules& rules) {
  const bool twoCopies = rules.secondCopyPage != 0 || ChoosesActiveCopy(rules.control);
  return twoCopies ? 2 : 1;
}

void WeighPageHeader(const VersionRules& rules, const uint8_t* header, uint64_t physical,
                     int64_t pageCount, ClearPageEvidence* evidence) {
  bool zero = true;
  for (uint32_t i = 0; i < kPageHeaderBytes; ++i) zero = zero && header[i] == 0;
  if (zero) return;
  ++evidence->examined;
  const PageHeader decoded = DecodePageHeader(rules.pageNumber, header);
  bool parses;
  if (rules.pageMap == PageMapRule::None) {
    // No page map: every page keeps its own position as its number.
    parses = decoded.number == physical;
  } else {
    // Every logical page needs a physical one; a margin for shadow copies.
    const uint64_t bound = static_cast<uint64_t>(pageCount) * 2 + 16;
    parses = ClassifyPage(rules.kind, header) != PageKindResult::Neither &&
             decoded.number >= 1 && decoded.number < bound;
  }
  if (parses) ++evidence->parsed;
}

bool PagesInClear(const ClearPageEvidence& evidence) {
  if (evidence.examined == 0) return true;
  return evidence.parsed > 0 && evidence.parsed * 8 >= evidence.examined;
}
