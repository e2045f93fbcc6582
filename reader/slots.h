// Data page slots: which slots hold a record, by the version's empty-slot
// rule (reader/version_rules.h).  Pure functions of the page's bytes; bytes
// of a slot that reach beyond the page count as zero.
#ifndef GANDREL_READER_SLOTS_H_
#define GANDREL_READER_SLOTS_H_

#include <cstdint>

#include "reader/version_rules.h"

// True when the slot of `slotLength` bytes at `slotOffset` in `page` holds
// no record.
bool SlotIsEmpty(EmptySlotRule rule, const uint8_t* page, uint32_t pageSize,
                 uint32_t slotOffset, uint32_t slotLength);

// How many slots in a row, from the one at `slotOffset` on and at most
// `most`, hold a record: what as many SlotIsEmpty calls would find, with
// the rule chosen once.
uint32_t UsedSlotsInRow(EmptySlotRule rule, const uint8_t* page, uint32_t pageSize,
                        uint32_t slotOffset, uint32_t slotLength, uint32_t most);

#endif  // GANDREL_READER_SLOTS_H_
