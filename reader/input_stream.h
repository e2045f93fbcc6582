// The data file as salvage and gandrel info read it, outside a DataFile:
// opened "rb", never written, read at explicit offsets through a large
// stream buffer, and pages in file order viewed in a read-ahead window
// (reader/read_ahead.h).  Reads past the end return what is there.
#ifndef GANDREL_READER_INPUT_STREAM_H_
#define GANDREL_READER_INPUT_STREAM_H_

#include <cstdint>
#include <cstdio>
#include <string>

#include "reader/read_ahead.h"

struct InputFile {
  FILE* file = nullptr;
  int64_t size = 0;
  int64_t position = -1;  // where the stream stands, -1 unknown
  char* streamBuffer = nullptr;
  ReadAheadWindow window;
};

// Opens `path` read only and measures it.  False with `error` set (one
// phrase, e.g. "cannot open: No such file or directory").
bool OpenInputFile(const char* path, InputFile* input, std::string* error);
void CloseInputFile(InputFile* input);

// Reads up to `length` bytes at `offset` into `buffer`; returns how many
// were read (fewer at the end of the file, 0 outside it or on error).
uint32_t ReadInputAt(InputFile* input, int64_t offset, uint8_t* buffer,
                     uint32_t length);

// The `length` bytes at `offset` where the read-ahead window can hold them
// (valid until the next view), else null: the caller reads them with
// ReadInputAt.  For pages read in file order, each read once.
const uint8_t* ViewInputAt(InputFile* input, int64_t offset, uint32_t length);

#endif  // GANDREL_READER_INPUT_STREAM_H_
