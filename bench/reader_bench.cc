// In-process benchmarks of the reader on data files named on the command
// line (made by make_bench_file):
//
//   reader_bench [--benchmark_... flags] FILE...
//
// Per file, named after the file's base name:
//   Open/NAME/console   OpenDataFile + CloseDataFile, console variant: the
//   Open/NAME/wizard    control pages, the page scan and the directory
//   Records/NAME        open, every record into a 64000-byte area, close
//   ReadFile/NAME       fread of the whole file in 1 MiB pieces: what
//                       reading the bytes costs at all, the floor for Records
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "reader/datafile.h"

namespace {

constexpr uint32_t kRecordArea = 64000;

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void Open(benchmark::State& state, const std::string& path, ReaderVariant variant) {
  for (auto _ : state) {
    DataFile dataFile = {};
    const ReaderStatus status = OpenDataFile(path.c_str(), &dataFile, variant);
    if (status != kReaderOk) {
      state.SkipWithError("the file does not open");
      break;
    }
    benchmark::DoNotOptimize(dataFile.dataPageCount);
    state.counters["pages"] = static_cast<double>(dataFile.pageCount);
    CloseDataFile(&dataFile, status);
  }
}

void Records(benchmark::State& state, const std::string& path) {
  std::vector<uint8_t> area(kRecordArea);
  uint64_t records = 0;
  uint64_t bytes = 0;
  for (auto _ : state) {
    DataFile dataFile = {};
    ReaderStatus status = OpenDataFile(path.c_str(), &dataFile, ReaderVariant::Console);
    records = 0;
    bytes = 0;
    while (status == kReaderOk) {
      RecordBuffer record = {};
      record.length = kRecordArea;
      status = ReadNextRecord(&dataFile, &record, area.data());
      if (status == kReaderOk) {
        ++records;
        bytes += record.length;
      }
    }
    benchmark::DoNotOptimize(area.data());
    CloseDataFile(&dataFile, status);
    if (status != kReaderEnd) {
      state.SkipWithError("the record walk did not end with status 5");
      break;
    }
  }
  state.counters["records"] = static_cast<double>(records);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void ReadFile(benchmark::State& state, const std::string& path) {
  std::vector<char> chunk(1 << 20);
  int64_t total = 0;
  for (auto _ : state) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
      state.SkipWithError("the file does not open");
      break;
    }
    setvbuf(file, nullptr, _IONBF, 0);
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), file)) > 0) total += static_cast<int64_t>(n);
    benchmark::DoNotOptimize(chunk.data());
    fclose(file);
  }
  state.SetBytesProcessed(total);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string path = argv[i];
    const std::string name = BaseName(path);
    benchmark::RegisterBenchmark(("Open/" + name + "/console").c_str(), Open, path,
                                 ReaderVariant::Console)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark(("Open/" + name + "/wizard").c_str(), Open, path,
                                 ReaderVariant::Wizard)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark(("Records/" + name).c_str(), Records, path)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark(("ReadFile/" + name).c_str(), ReadFile, path)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
