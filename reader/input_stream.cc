#include "reader/input_stream.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "reader/file_io.h"

namespace {

// Pages read in file order go through the read-ahead window (ViewInputAt).
// What the stream serves is read a page or so at a time away from it: the
// variable pages a chain jumps to, control copies, headers looked at for a
// moved grid.  Every read outside its buffer refills the whole buffer, so
// it is kept to a sixteenth of the window, as the reader's stream is: with
// 1 MiB, each jump of a chain to another variable page read 1 MiB.
constexpr size_t kStreamBufferSize = kReadAheadBytes / 16;

}  // namespace

bool OpenInputFile(const char* path, InputFile* input, std::string* error) {
  *input = InputFile{};
  input->file = fopen(path, "rb");
  if (input->file == nullptr) {
    *error = std::string("cannot open: ") + strerror(errno);
    return false;
  }
  input->streamBuffer = static_cast<char*>(malloc(kStreamBufferSize));
  if (input->streamBuffer != nullptr) {
    setvbuf(input->file, input->streamBuffer, _IOFBF, kStreamBufferSize);
  }
  SkipStreamLocking(input->file);  // one thread reads an InputFile
  if (fseek(input->file, 0, SEEK_END) != 0) {
    *error = "cannot seek (not a regular file?)";
    CloseInputFile(input);
    return false;
  }
  input->size = TellFile(input->file);
  if (input->size < 0) {
    *error = "cannot measure the file";
    CloseInputFile(input);
    return false;
  }
  OpenReadAheadWindow(&input->window, path, input->size);
  return true;
}

void CloseInputFile(InputFile* input) {
  CloseReadAheadWindow(&input->window);
  if (input->file != nullptr) fclose(input->file);
  free(input->streamBuffer);  // only after the stream is closed
  *input = InputFile{};
}

uint32_t ReadInputAt(InputFile* input, int64_t offset, uint8_t* buffer,
                     uint32_t length) {
  if (input->file == nullptr || offset < 0 || offset >= input->size) return 0;
  const int64_t available = input->size - offset;
  const uint32_t want = available < length ? static_cast<uint32_t>(available) : length;
  if (input->position != offset) {
    if (!SeekFile(input->file, offset)) {
      input->position = -1;
      return 0;
    }
  }
  const size_t got = fread(buffer, 1, want, input->file);
  if (got != want) {
    clearerr(input->file);
    input->position = -1;
  } else {
    input->position = offset + static_cast<int64_t>(got);
  }
  return static_cast<uint32_t>(got);
}

const uint8_t* ViewInputAt(InputFile* input, int64_t offset, uint32_t length) {
  return ViewWindow(&input->window, offset, length);
}
