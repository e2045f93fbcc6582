// Reader-private state kept beside a DataFile: indexes over the page
// directory, the page map pages already read, where the stream stands, and
// the fragments a chain walk has visited.  None of it changes what is read;
// it only spares repeated searches and reads.
#ifndef GANDREL_READER_SCRATCH_H_
#define GANDREL_READER_SCRATCH_H_

#include <cstdint>
#include <vector>

#include "reader/datafile.h"
#include "reader/v8_layout.h"
#include "reader/version_layout.h"

// Open-addressing index from page number to position in a PageEntry list.
// Slots hold position + 1; 0 is free.
struct PageIndex {
  std::vector<uint32_t> slots;
  uint32_t used = 0;
};

// Set of (page, fragment) pairs seen by one chain walk, cleared per record.
struct VisitedSet {
  std::vector<uint64_t> slots;      // key + 1; 0 is free
  std::vector<uint32_t> usedSlots;  // for a cheap clear
};

struct ReaderScratch {
  int64_t fileSize = 0;
  int64_t streamPosition = -1;      // where the stream stands, -1 unknown
  char* streamBuffer = nullptr;     // the data file stream's buffer (malloc)

  uint32_t dataCapacity = 0;        // allocated entries of dataPages
  uint32_t variableCapacity = 0;
  PageIndex dataIndex;              // only while the scan runs
  PageIndex variableIndex;

  // Page map: per map pair, -1 not read yet, else the start of its E decoded
  // entries in mapEntries (kMapNoPage for missing or unreadable entries).
  std::vector<int64_t> mapPairStart;
  std::vector<uint32_t> mapEntries;
  std::vector<uint8_t> mapPageBytes;  // two copies, read side by side

  int64_t variablePageOffset = -1;  // page now in variablePageBuffer
  VisitedSet visited;

  // The cursor's rules, worked out at its first step instead of per record.
  bool cursorReady = false;
  uint32_t slotsPerPage = 0;
  EmptySlotRule emptySlotRule = EmptySlotRule::FirstWord;

  V8FileInfo v8;                    // versions 0x0800 and 0x0900 only
};

// Reads `length` bytes at `offset` into `buffer`; false when the seek fails
// or fewer bytes are there.  Skips the seek when the stream already stands
// at `offset`.
bool ReadFileAt(DataFile* dataFile, int64_t offset, uint8_t* buffer,
                uint32_t length);

// Loads the variable page at `offset` into variablePageBuffer, unless it is
// the page already there (variablePageOffset); false when it cannot be read.
bool LoadVariablePage(DataFile* dataFile, int64_t offset);

// Copies `length` bytes from page offset `start` of a page of `pageSize`
// bytes; bytes beyond the page are supplied as zeros.
void CopyPageBytes(const uint8_t* page, uint32_t pageSize, uint64_t start,
                   uint32_t length, uint8_t* out);

// Adds (page, fragment) to the set; true when it was there already, that is
// when a chain walk comes back to a fragment it has read.
bool AlreadyVisited(VisitedSet& set, int64_t pageNumber, uint32_t fragment);
// Empties the set before the next walk.
void ClearVisited(VisitedSet& set);

// Position of `pageNumber` in `entries`, or -1.
int64_t FindPageEntry(const PageIndex& index, const PageEntry* entries,
                      uint32_t pageNumber);

#endif  // GANDREL_READER_SCRATCH_H_
