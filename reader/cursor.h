// The cursor: how the walk moves from slot to slot and from one data page
// to the next, by the plan's page source (reader/read_plan.h).
#ifndef GANDREL_READER_CURSOR_H_
#define GANDREL_READER_CURSOR_H_

#include "reader/reader_types.h"

// Moves currentRecord to the next slot, loading the next data page when the
// loaded one is used up.  0, 5 or 2.
ReaderStatus AdvanceSlot(DataFile* dataFile);

// Walks logical pages upward from pageCursor until one is a data page.  0,
// 5 or 2.
ReaderStatus FindNextDataPage(DataFile* dataFile);

#endif  // GANDREL_READER_CURSOR_H_
