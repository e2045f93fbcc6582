#include "reader/file_io.h"

bool SeekFile(FILE* file, int64_t offset) {
  if (offset < 0) return false;
  return _fseeki64(file, offset, SEEK_SET) == 0;
}

int64_t TellFile(FILE* file) {
  return _ftelli64(file);
}

void SkipStreamLocking(FILE*) {
  // The runtime has no such switch per stream; it keeps its locks.
}
