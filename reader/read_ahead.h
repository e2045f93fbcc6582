// The read-ahead window: pages read straight from the file into one large
// block through an unbuffered stream of its own, and handed out as pointers
// into it where they lie whole there.  The reader's cursor and salvage's
// page pass read a file's pages this way, each page copied once, by the
// runtime, from the file into the window.  Nothing here ever writes.
#ifndef GANDREL_READER_READ_AHEAD_H_
#define GANDREL_READER_READ_AHEAD_H_

#include <cstdint>
#include <cstdio>

// Large enough that pages read in file order reach the disk in big pieces.
// Sanitizer builds ask for less: their allocator maps and unmaps a block
// this large on every open, some milliseconds each, and the damage tests and
// the fuzzer open files by the ten thousand.  Only the size of the reads
// changes.
#ifndef GANDREL_STREAM_BUFFER_SIZE
#define GANDREL_STREAM_BUFFER_SIZE (1 << 20)
#endif
constexpr uint32_t kReadAheadBytes = GANDREL_STREAM_BUFFER_SIZE;

struct ReadAheadWindow {
  FILE* file = nullptr;      // null: no window, every view fails
  int64_t fileSize = 0;
  uint8_t* bytes = nullptr;  // kReadAheadBytes (malloc), on first use
  int64_t start = 0;         // file offset of bytes[0]
  uint32_t held = 0;         // bytes of the file in the window
  int64_t filePosition = -1; // where `file` stands, -1 unknown
};

// Opens `path` for the window ("rb", unbuffered, without the runtime's
// locking: one thread reads it).  Without the stream the window stays
// closed and its callers read another way.
void OpenReadAheadWindow(ReadAheadWindow* window, const char* path, int64_t fileSize);
void CloseReadAheadWindow(ReadAheadWindow* window);

// The `length` bytes at `offset`, inside the window, which is read afresh
// from `offset` on (as far as the file goes) when they do not lie whole in
// it.  Valid until the next call.  Null when the file does not hold them
// whole, the window is closed or its memory or read failed.
const uint8_t* ViewWindow(ReadAheadWindow* window, int64_t offset, uint32_t length);
// The same, with the window read afresh `fillBytes` at a time (at most
// kReadAheadBytes): the passes at open, which only look at each page's
// header, go faster with smaller pieces than the cursor's.
const uint8_t* ViewWindowFilling(ReadAheadWindow* window, int64_t offset, uint32_t length,
                                 uint32_t fillBytes);

#endif  // GANDREL_READER_READ_AHEAD_H_
