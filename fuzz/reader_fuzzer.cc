// libFuzzer target: the fuzzer's bytes are a data file.  Each input is opened
// in both reader variants and walked record by record with a large, a small
// and a zero capacity, and every record handed out goes through the four
// console and six wizard dump formats; then the salvage walk goes over it,
// with its geometry inferred when the control pages do not give it.  Destinations and the writers' text
// buffer are heap blocks of exactly their size, so a copy one byte too long
// is an AddressSanitizer report.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "dump/crc32.h"
#include "dump/dump_writer.h"
#include "reader/datafile.h"
#include "salvage/salvage.h"

namespace {

constexpr uint32_t kCapacities[] = {64000, 9, 0};
constexpr ReaderVariant kVariants[] = {ReaderVariant::Console,
                                       ReaderVariant::Wizard};

// A walk hands out at most one record per slot of every logical page, and
// the page map may show one data page under hundreds of logical numbers, so
// a crafted file of a few kilobytes can announce millions of records.  That
// is work in proportion to what the file describes, not a hang; the fuzzer
// stops such a walk early to keep its pace.
constexpr uint32_t kMaxRecordsPerWalk = 100000;

// The hex formats write two characters per record byte: a walk of thousands
// of 64000-byte records would spend the fuzzer's time there.  Records go to the writers until this many record bytes have been
// dumped in a walk; the walk itself goes on.
constexpr uint64_t kDumpBytesPerWalk = 16 * 1024;

std::string g_path;
FILE* g_dump = nullptr;     // the dump entries go nowhere
char* g_textBuffer = nullptr;

// Every record as both programs would write it, in every format.  A record
// that did not fit is written as far as it was copied.
void DumpRecord(const uint8_t* bytes, uint32_t length) {
  for (char format = '1'; format <= '4'; ++format) {
    DumpOutput output = {g_dump, g_textBuffer, format};
    WriteDumpRecord(&output, length, bytes);
  }
  for (uint8_t format = 1; format <= 6; ++format) {
    WriteDumpRecord(format, length, bytes, g_dump);
  }
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
  uint64_t dumped = 0;
  for (;;) {
    RecordBuffer rb = {};
    rb.length = capacity;
    s = ReadNextRecord(&df, &rb, area);
    // Status 6 may come with a length below the capacity: a variable-length
    // record's length is reported in 16 bits.
    if (s == kReaderOk) {
      if (rb.length > capacity) Fail("status 0 for a record that does not fit", rb.length);
    } else if (s != kReaderTooSmall) {
      break;
    }
    const uint32_t copied = rb.length < capacity ? rb.length : capacity;
    if (dumped < kDumpBytesPerWalk) {
      DumpRecord(area, copied);
      dumped += copied;
    }
    if (++handedOut == kMaxRecordsPerWalk) break;
  }
  // A walk ends with "no more records" or with a page that could not be
  // read; any other status is not one the cursor gives.
  if (handedOut < kMaxRecordsPerWalk && s != kReaderEnd && s != kReaderUnusable) {
    Fail("walk status", s);
  }
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
  g_dump = std::fopen("/dev/null", "wb");
  g_textBuffer = new char[kDumpTextBufferSize];
  if (g_dump == nullptr) Fail("cannot open /dev/null", 0);
  BuildCrcTable();
  return 0;
}

// What a salvage run handed out: the records and the sum of their bytes.
struct SalvageSum {
  uint64_t records = 0;
  uint64_t sum = 0;
};

// Salvages the file; with `takeBack` the sink can take records back, so
// records of fixed length go out during the page pass.
SalvageSum SalvageOnce(bool takeBack) {
  RecordSinkFunction sink;
  SalvageSum total;
  sink.context = &total;
  sink.write = [](void* context, const uint8_t* bytes, uint32_t length) {
    SalvageSum* t = static_cast<SalvageSum*>(context);
    ++t->records;
    for (uint32_t i = 0; i < length; ++i) t->sum += bytes[i];
  };
  if (takeBack) {
    sink.restart = [](void* context) {
      *static_cast<SalvageSum*>(context) = SalvageSum{};
      return true;
    };
    sink.restartContext = &total;
  }
  SalvageReport report;
  const SalvageStatus status = SalvageFile(g_path.c_str(), GeometryOverrides{}, sink, &report);
  if (status != kSalvageHealthy && status != kSalvageDamaged && status != kSalvageNothing) {
    Fail("salvage status outside its table", status);
  }
  if (report.recordsSalvaged != total.records) Fail("salvage counted other records", static_cast<unsigned>(total.records));
  return total;
}

// The salvage walk hands every record to a sink that touches every byte,
// so a record whose length says more than its bytes hold is a report; the
// records given during the page pass must be the walk's own.
void Salvage() {
  const SalvageSum early = SalvageOnce(true);
  const SalvageSum late = SalvageOnce(false);
  if (early.records != late.records || early.sum != late.sum) {
    Fail("records given during the page pass differ from the walk's", static_cast<unsigned>(early.records));
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!WriteInput(data, size)) Fail("cannot write the input file", 0);
  for (ReaderVariant variant : kVariants) {
    for (uint32_t capacity : kCapacities) Walk(variant, capacity);
  }
  Salvage();
  // A console run writes the trailer after the last record.
  for (char format = '1'; format <= '4'; ++format) {
    DumpOutput output = {g_dump, g_textBuffer, format};
    WriteDumpTrailer(&output);
  }
  return 0;
}
