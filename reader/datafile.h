// The data file reader as the programs use it: open, take each record, close.
//   DataFile df = {};
//   ReaderStatus s = OpenDataFile(path, &df, ReaderVariant::Console);
//   while (s == kReaderOk) { RecordBuffer rb = {64000}; s = ReadNextRecord(&df, &rb, area); }
//   CloseDataFile(&df, s);
// Read only; no output, no state outside the DataFile, one thread per
// DataFile.  Shared types: reader_types.h; what a walk passes over: report.h.
#ifndef GANDREL_READER_DATAFILE_H_
#define GANDREL_READER_DATAFILE_H_

#include <cstdint>
#include <cstdio>

#include "reader/reader_types.h"
#include "reader/report.h"

struct ReaderState;  // the reader's private state (reader/reader_state.h)
// One data file, owned by the caller.  After status 0 a caller may read
// version, pageSize, recordCount and recordLength; the rest is the reader's.
struct DataFile {
  FILE* file;
  uint16_t version;            // absolute value of the stored version word
  uint16_t pageSize;
  int64_t pageCount;           // file size / pageSize, measured at open
  int32_t mapEntriesPerPage;   // (pageSize - 8) / 4 for 0x0600/0x0610, else 0
  uint32_t recordCount;        // from the chosen control page copy
  int32_t recordIndex;         // index of the last record handed out, -1 first
  uint8_t fragmentHeaderSize;  // 0, 4 or 6 by version class
  uint8_t variableLength;      // control byte 56; from 0x0800 the flags word
  uint16_t recordLength;       // fixed length (decoded, when compressed)
  uint16_t slotLength;         // distance between slots in a data page
  uint8_t slotDataOffset;      // where the record starts in its slot: 0, 2, 10
  int32_t pageCursor;          // next logical page, or next index of dataPages
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

// Opens an empty `dataFile`: control page, read plan, page directory where
// the plan reads one.  0: open; 4: no DataFile; 2: the file cannot be used;
// 7: unknown version; on any status but 0 the DataFile holds nothing.
// `reporter` (may be null) hears of every page and chain passed over.
ReaderStatus OpenDataFile(const char* path, DataFile* dataFile,
                          ReaderVariant variant,
                          const ReaderReporter* reporter = nullptr);

// Releases everything, leaves the DataFile empty and returns `status`
// unchanged.  Closing an empty DataFile, or none, does nothing.
ReaderStatus CloseDataFile(DataFile* dataFile, ReaderStatus status);

// Copies the next record into `destination` (room for record->length bytes,
// or null).  0: record->length is its length; 6: longer than the room, the
// room filled, record->length the full length; 5: no more records; 2: a page
// could not be read; 4: no DataFile.
ReaderStatus ReadNextRecord(DataFile* dataFile, RecordBuffer* record,
                            uint8_t* destination);

// As ReadNextRecord, but *data points at the record: in the reader's page,
// until the next call, where it lies whole in one; else in `destination`.
ReaderStatus ReadNextRecordInPlace(DataFile* dataFile, RecordBuffer* record,
                                   uint8_t* destination, const uint8_t** data);

#endif  // GANDREL_READER_DATAFILE_H_
