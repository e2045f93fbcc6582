#include "reader/stream.h"

#include <cstdlib>
#include <cstring>

#include "reader/file_io.h"
#include "reader/reader_state.h"

namespace {

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
  if (fseek(dataFile->file, 0, SEEK_END) != 0) return false;
  state->fileSize = TellFile(dataFile->file);
  state->streamPosition = -1;
  if (state->fileSize < 0) return false;
  OpenReadAheadWindow(&state->window, path, state->fileSize);
  return true;
}

void CloseStream(DataFile* dataFile) {
  if (dataFile->file != nullptr) fclose(dataFile->file);
  dataFile->file = nullptr;
  if (dataFile->state != nullptr) {
    CloseReadAheadWindow(&dataFile->state->window);
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

const uint8_t* ViewPassPage(DataFile* dataFile, int64_t offset, uint32_t fillBytes) {
  ReaderState* state = dataFile->state;
  const uint8_t* view = ViewWindowFilling(&state->window, offset, dataFile->pageSize, fillBytes);
  if (view != nullptr) return view;
  if (ReadFileAt(dataFile, offset, state->pageBytes, dataFile->pageSize)) return state->pageBytes;
  return nullptr;
}

bool LoadPage(DataFile* dataFile, int64_t offset) {
  // In the window the page is the file's bytes; only WritablePage's copy is
  // changed.  Without the window the page was read alone, as a copy.
  const uint8_t* page = ViewPassPage(dataFile, offset, kReadAheadBytes);
  if (page != nullptr) {
    dataFile->pageBuffer = const_cast<uint8_t*>(page);
    return true;
  }
  ReaderState* state = dataFile->state;
  dataFile->pageBuffer = state->pageBytes;
  memset(state->pageBytes, 0, dataFile->pageSize);
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
  free(dataFile->state->pageBytes);
  dataFile->state->pageBytes = nullptr;
}
