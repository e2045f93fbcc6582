// Reading the data file through its buffered stream: whole pieces at an
// offset, with the seek skipped where the stream already stands.  Nothing
// here ever writes.
#ifndef GANDREL_READER_STREAM_H_
#define GANDREL_READER_STREAM_H_

#include <cstdint>

#include "reader/reader_types.h"

// Opens `path` for reading ("rb") with a large stream buffer and measures
// it; false when it cannot be opened or measured.
bool OpenStream(DataFile* dataFile, const char* path);
// Closes the stream and frees its buffer (only once the stream is closed),
// and the read-ahead window.
void CloseStream(DataFile* dataFile);

// Reads `length` bytes at `offset` into `buffer`; false when the seek fails
// or fewer bytes are there.
bool ReadFileAt(DataFile* dataFile, int64_t offset, uint8_t* buffer,
                uint32_t length);
// Reads up to `length` bytes at `offset`, as far as the file goes; returns
// how many were read.
uint32_t ReadFileUpTo(DataFile* dataFile, int64_t offset, uint8_t* buffer,
                      uint32_t length);

// Points pageBuffer at the page of pageSize bytes at `offset`, inside the
// read-ahead window, which is read afresh from `offset` on (as far as the
// file goes) when the page does not lie whole in it.  The page stays there
// until the next call.  False when the file does not hold the page whole;
// pageBuffer then points at the page bytes of open with a cleared header.
bool LoadPage(DataFile* dataFile, int64_t offset);

// The page of pageSize bytes at `offset`, for a pass or the cursor that look at
// pages one after another: a view into the read-ahead window, read afresh
// `fillBytes` at a time, or where the window cannot give it (no memory, no
// stream of its own, a read that failed) the page read alone into the page
// bytes of open.  Valid until the next read.  Null when the page cannot be
// read whole.
const uint8_t* ViewPassPage(DataFile* dataFile, int64_t offset, uint32_t fillBytes);

// Points pageBuffer at the page bytes of open, with a copy of the loaded
// page when it was in the window, so that the page may be changed.
uint8_t* WritablePage(DataFile* dataFile);

// Frees the page bytes of open (the window goes with the stream).
void FreePageBuffers(DataFile* dataFile);

#endif  // GANDREL_READER_STREAM_H_
