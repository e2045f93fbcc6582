// The page directory: the lists dataPages and variablePages of a DataFile,
// one entry per page number, with an index from page number to entry.
// The passes that fill the lists are in reader/page_scan.h.
#ifndef GANDREL_READER_PAGE_DIRECTORY_H_
#define GANDREL_READER_PAGE_DIRECTORY_H_

#include <cstdint>

#include "reader/reader_types.h"

// File offset of the listed page of `kind` with `pageNumber`, or -1.
int64_t FindListedPage(const DataFile* dataFile, PageKindResult kind,
                       uint32_t pageNumber);

// Adds an entry for a page whose header was decoded elsewhere; as
// AddPageEntry.
ReaderStatus AddListedPage(DataFile* dataFile, PageKindResult kind,
                           uint32_t pageNumber, uint16_t usage, int64_t offset);

// Records a data or variable page in its list; of two pages with one page
// number the one with the higher usage counter is kept (equal: the earlier).
// Returns 0, or 3 when the list cannot grow.
ReaderStatus AddPageEntry(DataFile* dataFile, const uint8_t* page,
                          PageKindResult kind, int64_t offset);

// Sorts dataPages by ascending unsigned page number.
void SortDataPages(DataFile* dataFile);

// Loads the page of dataPages[pageCursor] into pageBuffer and advances.  0,
// 5 when the list is used up, 2 on read failure.
ReaderStatus ReadNextDataPage(DataFile* dataFile);

#endif  // GANDREL_READER_PAGE_DIRECTORY_H_
