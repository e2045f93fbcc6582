// The page directory: the lists dataPages and variablePages of a DataFile,
// one entry per page number, with an index from page number to entry.
// AddPageEntry, SortDataPages and ReadNextDataPage are declared in
// reader/datafile.h; the passes that fill the lists are in
// reader/page_scan.h.
#ifndef GANDREL_READER_PAGE_DIRECTORY_H_
#define GANDREL_READER_PAGE_DIRECTORY_H_

#include <cstdint>

#include "reader/datafile.h"

// File offset of the listed page of `kind` with `pageNumber`, or -1.
int64_t FindListedPage(const DataFile* dataFile, PageKindResult kind,
                       uint32_t pageNumber);

// Adds an entry for a page whose header was decoded elsewhere; as
// AddPageEntry.
ReaderStatus AddListedPage(DataFile* dataFile, PageKindResult kind,
                           uint32_t pageNumber, uint16_t usage, int64_t offset);

#endif  // GANDREL_READER_PAGE_DIRECTORY_H_
