// The reader's small shared vocabulary: status codes, the program variant,
// the page directory's entry, the caller's transfer record and the kind of
// a page.  The reader's internal headers take a DataFile by pointer and
// need no more than this.
#ifndef GANDREL_READER_READER_TYPES_H_
#define GANDREL_READER_READER_TYPES_H_

#include <cstdint>

// Result of every reader operation.  Code 1 is not used.
enum ReaderStatus : uint16_t {
  kReaderOk = 0,
  kReaderUnusable = 2,      // cannot open, seek/read failed, no memory at
                            // open, unknown layout signature or geometry
  kReaderDirectoryFull = 3, // a page directory list could not grow
  kReaderNoDataFile = 4,    // no DataFile given
  kReaderEnd = 5,           // no more records or pages
  kReaderTooSmall = 6,      // destination smaller than the record
  kReaderBadVersion = 7,    // unsupported format version
};

// Short English name of a status, for messages and test output.
const char* ReaderStatusName(ReaderStatus status);

// The two programs read files in slightly different ways; the variant is
// given at open, which makes of it the plan the reader follows.
enum class ReaderVariant : uint8_t {
  Console = 0,  // pagrove
  Wizard = 1,   // gandrelgui
};

// One entry of the page directory.
struct PageEntry {
  uint32_t pageNumber;  // from the page header, widened per version
  int64_t offset;       // file offset the page was read from
  uint16_t usage;       // usage counter from the page header
};

// The caller's transfer record for one record.
struct RecordBuffer {
  uint32_t length;         // in: capacity of the destination; out: record length
  uint32_t recordCounter;  // the console's running count; never touched here
};

// What a page header makes of a page.
enum class PageKindResult : uint8_t { Neither = 0, Data = 1, Variable = 2 };

struct DataFile;  // reader/datafile.h

#endif  // GANDREL_READER_READER_TYPES_H_
