// libFuzzer target: the fuzzer's bytes are a data file.  Each input is opened
// in both reader variants and walked record by record with a large, a small
// and a zero capacity.  Destinations are heap blocks of exactly the capacity,
// so a copy one byte too long is an AddressSanitizer report.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "reader/datafile.h"

namespace {

constexpr uint32_t kCapacities[] = {64000, 9, 0};
constexpr ReaderVariant kVariants[] = {ReaderVariant::Console,
                                       ReaderVariant::Wizard};

// A file can hold at most one record per slot; a walk that hands out more
// than this for an input of a few kilobytes has lost its way.
constexpr uint32_t kMaxRecordsPerWalk = 1u << 22;

std::string g_path;

bool KnownStatus(ReaderStatus s) {
  return s == kReaderOk || s == kReaderUnusable || s == kReaderDirectoryFull ||
         s == kReaderNoDataFile || s == kReaderEnd || s == kReaderTooSmall ||
         s == kReaderBadVersion;
}

void Fail(const char* what, unsigned value) {
  std::fprintf(stderr, "reader_fuzzer: %s (%u)\n", what, value);
  std::abort();
}

void Walk(ReaderVariant variant, uint32_t capacity) {
  DataFile df = {};
  ReaderStatus s = OpenDataFile(g_path.c_str(), &df, variant);
  if (s != kReaderOk) {
    if (s != kReaderUnusable && s != kReaderBadVersion) Fail("open status", s);
    if (df.file != nullptr || df.pageBuffer != nullptr) Fail("failed open kept state", s);
    return;
  }
  uint8_t* area = new uint8_t[capacity];
  uint32_t handedOut = 0;
  for (;;) {
    RecordBuffer rb = {};
    rb.length = capacity;
    s = ReadNextRecord(&df, &rb, area);
    if (s == kReaderTooSmall) {
      if (capacity != 0 && rb.length <= capacity) Fail("status 6 for a record that fits", rb.length);
    } else if (s == kReaderOk) {
      if (rb.length > capacity) Fail("status 0 for a record that does not fit", rb.length);
    } else {
      break;
    }
    if (++handedOut > kMaxRecordsPerWalk) Fail("walk does not end", handedOut);
  }
  if (!KnownStatus(s)) Fail("walk status", s);
  CloseDataFile(&df, s);
  if (df.file != nullptr || df.pageBuffer != nullptr) Fail("close kept state", 0);
  delete[] area;
}

bool WriteInput(const uint8_t* data, size_t size) {
  FILE* f = std::fopen(g_path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* dir = std::getenv("FUZZ_TMPDIR");
  if (dir == nullptr) dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  g_path = std::string(dir) + "/reader_fuzzer." + std::to_string(getpid()) + ".btr";
  std::atexit([] { std::remove(g_path.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!WriteInput(data, size)) Fail("cannot write the input file", 0);
  for (ReaderVariant variant : kVariants) {
    for (uint32_t capacity : kCapacities) Walk(variant, capacity);
  }
  return 0;
}
