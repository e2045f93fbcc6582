#include "reader/copy_choice.h"

#include "reader/format.h"
#include "reader/v8_layout.h"

int ChooseControlCopyOnCounters(const VersionRules& rules, uint32_t counter1,
                                uint32_t counter2) {
  if (counter1 != counter2) return counter1 > counter2 ? 1 : 2;
  return ChoosesActiveCopy(rules.control) ? 1 : 2;
}

int ChooseMapPairCopy(bool readable0, uint16_t counter0, bool readable1, uint16_t counter1) {
  if (!readable1) return 0;
  if (!readable0) return 1;
  return counter0 > counter1 ? 0 : 1;
}

bool PreferTableCopy(const AllocationTableRules& rules, uint32_t controlUsage, uint32_t usage,
                     uint32_t chosenUsage) {
  if (rules.choice == TableChoiceRule::GreaterUsage) return usage > chosenUsage;
  const bool committed = usage <= controlUsage;
  const bool chosenCommitted = chosenUsage <= controlUsage;
  if (committed != chosenCommitted) return committed;
  return committed ? usage > chosenUsage : usage < chosenUsage;
}

bool TableCopyNamesItself(const uint8_t* copy, uint64_t k) {
  return DecodeLE32(copy) == (kV8TableSignature | static_cast<uint32_t>(k)) &&
         copy[kV8TableKindOffset] == kV8TableKind;
}

uint32_t TableCopyUsage(const AllocationTableRules& rules, const uint8_t* copy) {
  return rules.usage32 ? DecodeLE32(copy + rules.usageOffset)
                       : DecodeLE16(copy + rules.usageOffset);
}
