#include "reader/read_ahead.h"

#include <cstdlib>

#include "reader/file_io.h"

void OpenReadAheadWindow(ReadAheadWindow* window, const char* path, int64_t fileSize) {
  *window = ReadAheadWindow{};
  window->fileSize = fileSize;
  window->file = fopen(path, "rb");
  if (window->file == nullptr) return;
  setvbuf(window->file, nullptr, _IONBF, 0);
  SkipStreamLocking(window->file);
}

void CloseReadAheadWindow(ReadAheadWindow* window) {
  if (window->file != nullptr) fclose(window->file);
  free(window->bytes);
  *window = ReadAheadWindow{};
}

namespace {

// Fills `fillBytes` of the window from `offset` on, as far as the file goes;
// returns how many bytes it holds, 0 when the read failed.
uint32_t Fill(ReadAheadWindow* w, int64_t offset, uint32_t fillBytes) {
  if (offset < 0 || offset >= w->fileSize) return 0;
  const int64_t available = w->fileSize - offset;
  const uint32_t want =
      available < fillBytes ? static_cast<uint32_t>(available) : fillBytes;
  if (w->filePosition != offset && !SeekFile(w->file, offset)) {
    w->filePosition = -1;
    return 0;
  }
  const size_t got = fread(w->bytes, 1, want, w->file);
  if (got != want) {
    clearerr(w->file);
    w->filePosition = -1;
    return 0;
  }
  w->filePosition = offset + want;
  return want;
}

}  // namespace

const uint8_t* ViewWindow(ReadAheadWindow* w, int64_t offset, uint32_t length) {
  return ViewWindowFilling(w, offset, length, kReadAheadBytes);
}

const uint8_t* ViewWindowFilling(ReadAheadWindow* w, int64_t offset, uint32_t length,
                                 uint32_t fillBytes) {
  if (w->bytes != nullptr && offset >= w->start &&
      offset - w->start <= static_cast<int64_t>(w->held) - length) {
    return w->bytes + (offset - w->start);
  }
  if (fillBytes > kReadAheadBytes) fillBytes = kReadAheadBytes;
  if (w->file == nullptr || length > fillBytes) return nullptr;
  if (w->bytes == nullptr) w->bytes = static_cast<uint8_t*>(malloc(kReadAheadBytes));
  if (w->bytes == nullptr) return nullptr;
  w->start = offset;
  w->held = Fill(w, offset, fillBytes);
  if (w->held >= length) return w->bytes;
  w->held = 0;
  return nullptr;
}
