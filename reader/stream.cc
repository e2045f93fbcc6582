#include "reader/stream.h"

#include <cstdlib>
#include <cstring>

#include "reader/file_io.h"
#include "reader/reader_state.h"

namespace {

// Large enough that the page passes, which read pages in file order, reach
// the disk in big pieces.  Sanitizer builds ask for less: their allocator
// maps and unmaps a block this large on every open, some milliseconds each,
// and the damage tests and the fuzzer open files by the ten thousand.  Only
// the size of the stream's reads changes.
#ifndef GANDREL_STREAM_BUFFER_SIZE
#define GANDREL_STREAM_BUFFER_SIZE (1 << 20)
#endif
constexpr size_t kStreamBufferSize = GANDREL_STREAM_BUFFER_SIZE;

}  // namespace

bool OpenStream(DataFile* dataFile, const char* path) {
  ReaderState* state = dataFile->state;
  dataFile->file = fopen(path, "rb");
  if (dataFile->file == nullptr) return false;
  // The runtime takes a buffer size only together with a buffer: given none,
  // glibc keeps its 4 KiB default and reads the file 4 KiB per system call.
  // Without the memory the stream keeps its own buffer, only slower.
  state->streamBuffer = static_cast<char*>(malloc(kStreamBufferSize));
  if (state->streamBuffer != nullptr) {
    setvbuf(dataFile->file, state->streamBuffer, _IOFBF, kStreamBufferSize);
  }
  SkipStreamLocking(dataFile->file);
  if (fseek(dataFile->file, 0, SEEK_END) != 0) return false;
  state->fileSize = TellFile(dataFile->file);
  state->streamPosition = -1;
  return state->fileSize >= 0;
}

void CloseStream(DataFile* dataFile) {
  if (dataFile->file != nullptr) fclose(dataFile->file);
  dataFile->file = nullptr;
  if (dataFile->state != nullptr) {
    free(dataFile->state->streamBuffer);
    dataFile->state->streamBuffer = nullptr;
  }
}

bool ReadFileAt(DataFile* dataFile, int64_t offset, uint8_t* buffer,
                uint32_t length) {
  ReaderState* state = dataFile->state;
  if (offset < 0) return false;
  if (state->streamPosition != offset) {
    if (!SeekFile(dataFile->file, offset)) {
      state->streamPosition = -1;
      return false;
    }
    state->streamPosition = offset;
  }
  const size_t got = fread(buffer, 1, length, dataFile->file);
  if (got != length) {
    // A short read leaves the stream at end of file with its error flag set;
    // the next read seeks afresh.
    clearerr(dataFile->file);
    state->streamPosition = -1;
    return false;
  }
  state->streamPosition = offset + length;
  return true;
}

uint32_t ReadFileUpTo(DataFile* dataFile, int64_t offset, uint8_t* buffer,
                      uint32_t length) {
  const int64_t size = dataFile->state->fileSize;
  if (offset < 0 || offset >= size) return 0;
  const int64_t available = size - offset;
  const uint32_t want = available < length ? static_cast<uint32_t>(available) : length;
  return ReadFileAt(dataFile, offset, buffer, want) ? want : 0;
}
