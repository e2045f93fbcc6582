// The passes at open that fill the page directory, as the read plan says:
// every physical page in file order (the console's, when it needs variable
// pages), logical pages through the page map (the wizard's), or the 0x0800
// allocation tables checked against the pages themselves.  ScanPages is the
// entry point.
#ifndef GANDREL_READER_PAGE_SCAN_H_
#define GANDREL_READER_PAGE_SCAN_H_

#include "reader/reader_types.h"

// Fills the lists from the allocation tables of a 0x0800 or 0x0900 file: the
// current copy of every logical data and variable page, or, for logical
// pages whose table or entry cannot be used, the copy with the highest usage
// counter.  Control page and table areas are never taken for pages.
void ScanAllocationTables(DataFile* dataFile);

// Fills the page directory at open, by the pass the plan names (none, when
// the walk reads no directory).
void ScanPages(DataFile* dataFile);

#endif  // GANDREL_READER_PAGE_SCAN_H_
