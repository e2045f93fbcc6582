// Handing out one record: the fixed part from its slot and, for variable
// and compressed records, the bytes of its fragment chain (reader/chain.h).
#ifndef GANDREL_READER_RECORD_H_
#define GANDREL_READER_RECORD_H_

#include <cstdint>

#include "reader/reader_types.h"

// Copies the first min(capacity, recordLength) bytes of the fixed part of
// the record in `slot` (inside pageBuffer) to `destination` (may be null).
// Bytes beyond the page are supplied as zeros.
void CopyFixedPart(const DataFile* dataFile, const uint8_t* slot,
                   uint8_t* destination, uint32_t capacity);

// The one place that decides between 0 and 6: sets record->length to the
// record's length (cut to 16 bits where the version reports it so) and
// returns 6 when it is more than the capacity, or the capacity is 0.
ReaderStatus FinishRecord(const DataFile* dataFile, RecordBuffer* record,
                          uint64_t length, uint32_t capacity);

// Copies the fixed part from `slot` and follows the fragment chain through
// the variable pages.  Statuses as for ReadNextRecord (0, 6, 2).
ReaderStatus AssembleVariableRecord(const uint8_t* slot, DataFile* dataFile,
                                    uint8_t* destination, RecordBuffer* record);

#endif  // GANDREL_READER_RECORD_H_
