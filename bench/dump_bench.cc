// In-process benchmarks of the console dump writer: 100-byte records (the
// records of the v0600 benchmark file) written in each console format to a
// stream on the null device with the buffer pagrove gives its dump file, so
// only the writer and the runtime's stream are measured, not the disk.
//
//   Dump/N      WriteDumpRecord in console format N
//   Dump/copy   the same records copied into a buffer: what moving the bytes
//               costs at all
//   Hex/scalar/N, Hex/fast/N   EncodeHexScalar (the table encoder the writer
//               used before) and EncodeHex on N-byte pieces of the same
//               records, in one run; "ns/byte" is per data byte
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "dump/dump_writer.h"
#include "dump/hex_encode.h"

namespace {

constexpr uint32_t kRecordLength = 100;
constexpr int kRecords = 10000;
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
  for (auto _ : state) {
    for (int i = 0; i < kRecords; ++i) {
      WriteDumpRecord(&output, kRecordLength, records.data() + static_cast<size_t>(i) * kRecordLength);
    }
  }
  fclose(file);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(records.size()));
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
  // Inverted rate of bytes / 1e9: nanoseconds per data byte.
  state.counters["ns/byte"] = benchmark::Counter(
      bytes * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK_CAPTURE(Dump, 1, '1');
BENCHMARK_CAPTURE(Dump, 2, '2');
BENCHMARK_CAPTURE(Dump, 3, '3');
BENCHMARK_CAPTURE(Dump, 4, '4');
BENCHMARK(Copy)->Name("Dump/copy");
BENCHMARK_CAPTURE(Hex, scalar, EncodeHexScalar)->Arg(17)->Arg(100)->Arg(4000)->Arg(1000000);
BENCHMARK_CAPTURE(Hex, fast, EncodeHex)->Arg(17)->Arg(100)->Arg(4000)->Arg(1000000);

BENCHMARK_MAIN();
