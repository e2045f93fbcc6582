#include "reader/file_io.h"

#include <sys/types.h>

bool SeekFile(FILE* file, int64_t offset) {
  if (offset < 0) return false;
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

int64_t TellFile(FILE* file) {
  return static_cast<int64_t>(ftello(file));
}
