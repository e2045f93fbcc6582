// The data file reader: opens a Btrieve data file read only and hands out
// its records one at a time.  This header is what the programs use.
//
// Calling order, for every program:
//   DataFile df = {};
//   ReaderStatus s = OpenDataFile(path, &df, ReaderVariant::Console);
//   while (s == kReaderOk) {
//     RecordBuffer rb = {};  rb.length = 64000;
//     s = ReadNextRecord(&df, &rb, area);   // 0: record in area, rb.length bytes
//   }
//   CloseDataFile(&df, s);
//
// The reader prints nothing and keeps no state outside the DataFile; one
// thread uses a DataFile at a time.  What it passes over on a damaged file
// it tells a reporter given at open (reader/report.h).  Inside: the control
// page (control_page.h), the version rules (version_rules.h) and the read
// plan made of them at open (read_plan.h), page addressing (page_map.h), the
// page directory (page_directory.h, page_scan.h), slots (slots.h), records
// and their fragment chains (record.h, chain.h, compression.h), the stream
// (stream.h); the on-disk layouts in format.h and v8_layout.h.  The
// status codes and the other shared types are in reader_types.h; the steps
// of the walk are declared by the headers of the files that hold them.
#ifndef GANDREL_READER_DATAFILE_H_
#define GANDREL_READER_DATAFILE_H_

#include <cstdint>
#include <cstdio>

#include "reader/reader_types.h"
#include "reader/report.h"

struct ReaderState;  // the reader's private state (reader/reader_state.h)

// The reader's whole state for one open data file.  Owned by the caller,
// filled by OpenDataFile, emptied by CloseDataFile.  After status 0 a caller
// may read version, pageSize, recordCount and recordLength; everything else
// belongs to the reader.
struct DataFile {
  FILE* file;
  uint16_t version;            // absolute value of the stored version word
  uint16_t pageSize;
  int64_t pageCount;           // file size / pageSize, measured at open
  int32_t mapEntriesPerPage;   // (pageSize - 8) / 4 for 0x0600/0x0610, else 0
  uint32_t recordCount;        // from the chosen control page copy
  int32_t recordIndex;         // index of the last record handed out, -1 first
  uint8_t fragmentHeaderSize;  // 0, 4 or 6 by version class
  uint8_t variableLength;      // control page byte 56; from 0x0800 the flags
                               // word: a variable tail or compression
  uint16_t recordLength;       // fixed record length; for a compressed file
                               // the length of the decoded record
  uint16_t slotLength;         // distance between slots in a data page
  uint8_t slotDataOffset;      // 0, or 2 in the "FC" layout; from 0x0800
                               // 2, 10 with system data, 0 when compressed
  int32_t pageCursor;          // the cursor's next logical page, or next
                               // index into dataPages
  const uint8_t* currentRecord;  // slot of the last record, inside pageBuffer
  uint32_t nextSlot;           // next slot of the loaded page; ~0 after open
  uint8_t* pageBuffer;         // pageSize bytes
  uint8_t* variablePageBuffer; // pageSize bytes, only for variable-length files
  uint32_t variablePageCount;
  PageEntry* variablePages;
  uint32_t dataPageCount;
  PageEntry* dataPages;
  ReaderState* state;
};

// Open: reads the control page copies, the version and geometry, measures
// the file and makes the read plan; builds the page directory where the
// plan reads one.  `dataFile` must be empty (zeroed or closed).  Returns 0
// with the DataFile open; 4 without a DataFile; 2 when the file cannot be
// used; 7 for an unknown version.  On any non-zero status the DataFile holds
// nothing.  `reporter` (may be null) is told every page and chain the reader
// passes over, from open until close.
ReaderStatus OpenDataFile(const char* path, DataFile* dataFile,
                          ReaderVariant variant,
                          const ReaderReporter* reporter = nullptr);

// Releases the stream, the page buffers and the directory, leaves the
// DataFile empty and returns `status` unchanged.  Closing an empty DataFile,
// or none, does nothing.
ReaderStatus CloseDataFile(DataFile* dataFile, ReaderStatus status);

// Hands out the next record: copies it (fixed and variable part) into
// `destination`, which holds at least record->length bytes, or may be null.
// 0: record->length is the record's length.  6: the record is longer than the
// capacity; the first capacity bytes were copied and record->length is the
// full length.  5: no more records.  2: a page could not be read.  4: no
// DataFile.
ReaderStatus ReadNextRecord(DataFile* dataFile, RecordBuffer* record,
                            uint8_t* destination);

// As ReadNextRecord, but a record that lies whole in its data page (a
// fixed-length file) is not copied: *data points at it inside the reader's
// page, valid until the next call on `dataFile`.  Any other record is
// assembled into `destination`, as ReadNextRecord does, and *data points
// there.  Statuses as for ReadNextRecord.
ReaderStatus ReadNextRecordInPlace(DataFile* dataFile, RecordBuffer* record,
                                   uint8_t* destination, const uint8_t** data);

#endif  // GANDREL_READER_DATAFILE_H_
