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

// A copy of allocation table k counts only when it names itself: the
// signature with k, kind 'P' (reader/v8_layout.h).  `copy` holds at least
// the table's header.
bool TableCopyNamesItself(const uint8_t* copy, uint64_t k);
// The usage counter of a table copy, where and as wide as the row keeps it.
uint32_t TableCopyUsage(const AllocationTableRules& rules, const uint8_t* copy);

// Of the copies of a page allocation table (0x0800 on) that name
// themselves, whether one of usage `usage` is to be preferred to the one of
// `chosenUsage` taken so far.  By the greater usage (0x0800, 0x0900); by the
// rule of 0x0950 a copy newer than the active control page (its usage
// `controlUsage`) belongs to a change that was never committed, and when
// every copy is newer, the older of them is the nearer to the committed
// state.
bool PreferTableCopy(const AllocationTableRules& rules, uint32_t controlUsage, uint32_t usage,
                     uint32_t chosenUsage);

#endif  // GANDREL_READER_COPY_CHOICE_H_
