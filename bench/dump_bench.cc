// In-process benchmarks of the console dump writer: 100-byte records (the
// records of the v0600 benchmark file) written in each console format to a
// stream on the null device with the buffer pagrove gives its dump file, so
// only the writer and the runtime's stream are measured, not the disk.
//
//   Dump/N/L    WriteDumpRecord in console format N, records of L bytes
//   Dump/copy   the same records copied into a buffer: what moving the bytes
//               costs at all
//   Hex/E/N     each hex encoder E this processor runs (avx2, sse2, scalar:
//               the table encoder the writer used first) on N-byte pieces of
//               the same records, in one run; "per_byte" is the time per
//               data byte
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dump/dump_writer.h"
#include "dump/hex_encode.h"

namespace {

constexpr uint32_t kRecordLength = 100;
constexpr int kRecords = 10000;  // of kRecordLength bytes; longer records are fewer
constexpr size_t kStreamBuffer = 1 << 18;

std::vector<uint8_t> Records() {
  std::vector<uint8_t> bytes(static_cast<size_t>(kRecordLength) * kRecords);
  uint32_t state = 12345;
  for (uint8_t& b : bytes) {
    state = state * 1103515245u + 12345u;
    b = static_cast<uint8_t>(state >> 16);
  }
  return bytes;
}

void Dump(benchmark::State& state, char format) {
  const std::vector<uint8_t> records = Records();
  FILE* file = fopen("/dev/null", "wb");
  if (file == nullptr) {
    state.SkipWithError("cannot open the null device");
    return;
  }
  std::vector<char> streamBuffer(kStreamBuffer);
  setvbuf(file, streamBuffer.data(), _IOFBF, streamBuffer.size());
  std::vector<char> text(kDumpTextBufferSize);
  DumpOutput output = {file, text.data(), format};
  const uint32_t length = static_cast<uint32_t>(state.range(0));
  const size_t count = records.size() / length;
  for (auto _ : state) {
    for (size_t i = 0; i < count; ++i) {
      WriteDumpRecord(&output, length, records.data() + i * length);
    }
  }
  fclose(file);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(count * length));
}

void Copy(benchmark::State& state) {
  const std::vector<uint8_t> records = Records();
  std::vector<uint8_t> out(records.size());
  for (auto _ : state) {
    memcpy(out.data(), records.data(), records.size());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(records.size()));
}

// The hex text of the records in pieces of state.range(0) bytes, the piece
// length a writer hands the encoder for records of that length.
void Hex(benchmark::State& state, void (*encode)(const uint8_t*, size_t, char*)) {
  const std::vector<uint8_t> records = Records();
  const size_t piece = static_cast<size_t>(state.range(0));
  std::vector<char> text(2 * records.size());
  for (auto _ : state) {
    for (size_t at = 0; at + piece <= records.size(); at += piece) {
      encode(records.data() + at, piece, text.data() + 2 * at);
    }
    benchmark::DoNotOptimize(text.data());
    benchmark::ClobberMemory();
  }
  const double bytes = static_cast<double>(records.size() / piece * piece);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
  // The inverted byte rate: time per data byte (printed as, say, 105p, 105 ps).
  state.counters["per_byte"] = benchmark::Counter(
      bytes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// One Hex row per encoder, registered before main runs them.
const int kHexRows = [] {
  NamedHexEncoder encoders[kMostHexEncoders];
  const int count = AvailableHexEncoders(encoders);
  for (int e = 0; e < count; ++e) {
    benchmark::RegisterBenchmark((std::string("Hex/") + encoders[e].name).c_str(), Hex,
                                 encoders[e].encode)
        ->Arg(17)->Arg(100)->Arg(4000)->Arg(1000000);
  }
  return count;
}();

}  // namespace

BENCHMARK_CAPTURE(Dump, 1, '1')->Arg(kRecordLength);
BENCHMARK_CAPTURE(Dump, 2, '2')->Arg(kRecordLength);
BENCHMARK_CAPTURE(Dump, 3, '3')->Arg(kRecordLength)->Arg(4000);
BENCHMARK_CAPTURE(Dump, 4, '4')->Arg(kRecordLength)->Arg(4000);
BENCHMARK(Copy)->Name("Dump/copy");

BENCHMARK_MAIN();
