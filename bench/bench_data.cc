// Benchmark records and plans; the file itself is the fixture's writer's,
// with the records made as it asks for them and the pages going straight to
// the file.
#include "bench/bench_data.h"

#include "tests/fixture/data_file_writer.h"

namespace benchdata {
namespace {

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Printable bytes: the first eight name the record, the rest are letters, so
// no empty-slot test of any version takes a record for a free slot.
void FillFixed(const BenchFilePlan& plan, uint64_t index, uint8_t* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const uint32_t length = plan.options.recordLength;
  const uint64_t number = index + 1;
  uint64_t random = 0;
  for (uint32_t b = 0; b < length; ++b) {
    if (b == 0) {
      out[b] = 'R';
    } else if (b < 8) {
      out[b] = static_cast<uint8_t>(kHex[(number >> (4 * (7 - b))) & 0xF]);
    } else {
      if ((b & 7) == 0) random = Mix((static_cast<uint64_t>(plan.seed) << 40) ^ index ^ b);
      out[b] = static_cast<uint8_t>('a' + (random & 0xFF) % 26);
      random >>= 8;
    }
  }
}

uint32_t VariableLength(const BenchFilePlan& plan, uint64_t index) {
  if (!plan.options.variableLength || plan.maxVariableBytes == 0) return 0;
  return static_cast<uint32_t>(
      Mix(index * 0x100000001B3ull ^ (static_cast<uint64_t>(plan.seed) << 48) ^ 0x5EEDull) %
      (plan.maxVariableBytes + 1ull));
}

void FillVariable(const BenchFilePlan& plan, uint64_t index, uint32_t length,
                  uint8_t* out) {
  uint64_t random = 0;
  for (uint32_t b = 0; b < length; ++b) {
    if ((b & 7) == 0) random = Mix((static_cast<uint64_t>(plan.seed) << 36) ^ (index << 20) ^ b ^ 0xABCDull);
    out[b] = static_cast<uint8_t>(random);
    random >>= 8;
  }
}

// Fills `*record` in place, keeping the buffers of the record before it.
void FillRecord(const BenchFilePlan& plan, uint64_t index, fixture::FixtureRecord* record) {
  record->fixed.resize(plan.options.recordLength);
  FillFixed(plan, index, record->fixed.data());
  record->variable.resize(VariableLength(plan, index));
  FillVariable(plan, index, static_cast<uint32_t>(record->variable.size()),
               record->variable.data());
}

void ReadBenchRecord(const void* context, uint64_t index, fixture::FixtureRecord* record) {
  FillRecord(*static_cast<const BenchFilePlan*>(context), index, record);
}

}  // namespace

bool PlanForKind(const std::string& kind, uint64_t bytes, BenchFilePlan* plan) {
  BenchFilePlan s;
  fixture::FixtureOptions& o = s.options;
  o.recordLength = 100;
  o.pageSize = 4096;
  uint64_t perRecord = 0;  // file bytes per record, roughly
  if (kind == "v0600") {
    o.version = 0x0600;
  } else if (kind == "v0900") {
    o.version = 0x0900;
  } else if (kind == "v0500") {
    o.version = 0x0500;
    o.pageSize = 512;
  } else if (kind == "v0700var") {
    // Variable parts of up to 16000 bytes in fragments of at most 700: a
    // long chain crosses four or five variable pages.
    o.version = 0x0700;
    o.recordLength = 60;
    o.variableLength = true;
    o.maxFragmentData = 700;
    s.maxVariableBytes = 16000;
    perRecord = 64 + 8000 + 12 * 8 + 512;
  } else {
    return false;
  }
  if (perRecord == 0) {
    const uint32_t slot = fixture::DefaultSlotLength(o);
    const uint32_t slots = (o.pageSize - fixture::DataPageHeaderSize(o.version)) / slot;
    perRecord = o.pageSize / slots;
  }
  s.recordCount = bytes / perRecord;
  if (s.recordCount == 0) s.recordCount = 1;
  *plan = s;
  return true;
}

fixture::FixtureRecord BenchRecord(const BenchFilePlan& plan, uint64_t index) {
  fixture::FixtureRecord record;
  FillRecord(plan, index, &record);
  return record;
}

bool WriteBenchFile(const BenchFilePlan& plan, FILE* out) {
  fixture::RecordSource source;
  source.count = plan.recordCount;
  source.read = ReadBenchRecord;
  source.context = &plan;
  return fixture::WriteDataFile(plan.options, source, fixture::FileSink(out), nullptr);
}

}  // namespace benchdata
