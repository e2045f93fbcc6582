// 64-bit positioning of the runtime's file streams.  The data file is read
// through a buffered stream opened "rb"; these wrappers let offsets beyond
// 2 GiB work on both platforms, and let a stream go without the runtime's
// locking.  One implementation file per platform.
#ifndef GANDREL_READER_FILE_IO_H_
#define GANDREL_READER_FILE_IO_H_

#include <cstdint>
#include <cstdio>

// Moves the stream to `offset` from the start; false for a negative offset or
// when the runtime refuses.
bool SeekFile(FILE* file, int64_t offset);

// Current position, or -1.
int64_t TellFile(FILE* file);

// Lets the runtime skip its per-call lock on `file` where it can.  Only for a
// stream that one thread uses at a time, as a DataFile's is; call before the
// first read.
void SkipStreamLocking(FILE* file);

#endif  // GANDREL_READER_FILE_IO_H_
