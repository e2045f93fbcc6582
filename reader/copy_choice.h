// Which copy of a doubled structure holds the current values, as pure
// functions of what the copies carry, so that every reader of the format
// (the reader, salvage, gandrel info) decides alike.
#ifndef GANDREL_READER_COPY_CHOICE_H_
#define GANDREL_READER_COPY_CHOICE_H_

#include <cstdint>

#include "reader/version_rules.h"

// Of two sound control page copies, the current one: 1 or 2.  The greater
// counter was written last.  On equal counters the rows that take every
// field from the active copy (0x0800 on) keep copy 1, the others copy 2.
int ChooseControlCopyOnCounters(const VersionRules& rules, uint32_t counter1,
                                uint32_t counter2);

// Of the two copies of a page map pair (0x0600-0x0700), the current one: 0
// or 1.  The greater counter wins, equal counters select the second; a
// copy that could not be read loses.
int ChooseMapPairCopy(bool readable0, uint16_t counter0, bool readable1, uint16_t counter1);

#endif  // GANDREL_READER_COPY_CHOICE_H_
