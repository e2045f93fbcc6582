#include "reader/file_io.h"

#include <sys/types.h>
#if defined(__GLIBC__)
#include <stdio_ext.h>
#endif

bool SeekFile(FILE* file, int64_t offset) {
  if (offset < 0) return false;
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

int64_t TellFile(FILE* file) {
  return static_cast<int64_t>(ftello(file));
}

void SkipStreamLocking(FILE* file) {
#if defined(__GLIBC__)
  // glibc locks the stream on every fread: a locked instruction pair per
  // page, twice per page of the file (the scan at open and the walk).
  __fsetlocking(file, FSETLOCKING_BYCALLER);
#else
  (void)file;
#endif
}
