#include "reader/stream.h"

#include <cstdlib>
#include <cstring>

#include "reader/file_io.h"
#include "reader/reader_state.h"

namespace {

// The read-ahead window: large enough that the cursor's data pages, read
// in file order, reach the disk in big pieces.  Sanitizer builds ask for
// less: their allocator maps and unmaps a block this large on every open,
// some milliseconds each, and the damage tests and the fuzzer open files by
// the ten thousand.  Only the size of the reads changes.
#ifndef GANDREL_STREAM_BUFFER_SIZE
#define GANDREL_STREAM_BUFFER_SIZE (1 << 20)
#endif
constexpr uint32_t kReadAheadBytes = GANDREL_STREAM_BUFFER_SIZE;

// The buffered stream serves what is read a page or two at a time away from
// the cursor: control pages, map pairs, variable pages, the open passes'
// single pages.  Every read elsewhere refills its buffer, so it is kept to
// a sixteenth of the window (the passes' big batches go past it anyway).
constexpr size_t kStreamBufferSize = kReadAheadBytes / 16;

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
  state->windowFile = fopen(path, "rb");
  if (state->windowFile != nullptr) {
    setvbuf(state->windowFile, nullptr, _IONBF, 0);
    SkipStreamLocking(state->windowFile);
  }
  if (fseek(dataFile->file, 0, SEEK_END) != 0) return false;
  state->fileSize = TellFile(dataFile->file);
  state->streamPosition = -1;
  return state->fileSize >= 0;
}

void CloseStream(DataFile* dataFile) {
  if (dataFile->file != nullptr) fclose(dataFile->file);
  dataFile->file = nullptr;
  if (dataFile->state != nullptr) {
    if (dataFile->state->windowFile != nullptr) fclose(dataFile->state->windowFile);
    dataFile->state->windowFile = nullptr;
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

namespace {

// Fills the window from `offset` on, as far as the file goes; returns how
// many bytes it holds, 0 when the read failed.
uint32_t ReadWindow(DataFile* dataFile, int64_t offset) {
  ReaderState* state = dataFile->state;
  if (state->windowFile == nullptr) {
    return ReadFileUpTo(dataFile, offset, state->window, kReadAheadBytes);
  }
  if (offset < 0 || offset >= state->fileSize) return 0;
  const int64_t available = state->fileSize - offset;
  const uint32_t want =
      available < kReadAheadBytes ? static_cast<uint32_t>(available) : kReadAheadBytes;
  if (state->windowFilePosition != offset && !SeekFile(state->windowFile, offset)) {
    state->windowFilePosition = -1;
    return 0;
  }
  const size_t got = fread(state->window, 1, want, state->windowFile);
  if (got != want) {
    clearerr(state->windowFile);
    state->windowFilePosition = -1;
    return 0;
  }
  state->windowFilePosition = offset + want;
  return want;
}

}  // namespace

bool LoadPage(DataFile* dataFile, int64_t offset) {
  ReaderState* state = dataFile->state;
  const uint32_t pageSize = dataFile->pageSize;
  if (state->window != nullptr && offset >= state->windowStart &&
      offset - state->windowStart <= static_cast<int64_t>(state->windowBytes) - pageSize) {
    dataFile->pageBuffer = state->window + (offset - state->windowStart);
    return true;
  }
  if (state->window == nullptr && pageSize <= kReadAheadBytes) {
    state->window = static_cast<uint8_t*>(malloc(kReadAheadBytes));
  }
  if (state->window == nullptr) {
    // Without the memory the page goes through the page bytes, as a copy.
    dataFile->pageBuffer = state->pageBytes;
    if (ReadFileAt(dataFile, offset, state->pageBytes, pageSize)) return true;
    memset(state->pageBytes, 0, pageSize);
    return false;
  }
  state->windowStart = offset;
  state->windowBytes = ReadWindow(dataFile, offset);
  if (state->windowBytes >= pageSize) {
    dataFile->pageBuffer = state->window;
    return true;
  }
  // A window that could not be read (an error further on, not only the end
  // of the file) still leaves the page itself to be read alone.
  state->windowBytes = 0;
  dataFile->pageBuffer = state->pageBytes;
  if (ReadFileAt(dataFile, offset, state->pageBytes, pageSize)) return true;
  memset(state->pageBytes, 0, pageSize);
  return false;
}

uint8_t* WritablePage(DataFile* dataFile) {
  ReaderState* state = dataFile->state;
  if (dataFile->pageBuffer != state->pageBytes) {
    memcpy(state->pageBytes, dataFile->pageBuffer, dataFile->pageSize);
    dataFile->pageBuffer = state->pageBytes;
  }
  return state->pageBytes;
}

void FreePageBuffers(DataFile* dataFile) {
  if (dataFile->state == nullptr) return;
  free(dataFile->state->window);
  free(dataFile->state->pageBytes);
  dataFile->state->window = nullptr;
  dataFile->state->pageBytes = nullptr;
}
