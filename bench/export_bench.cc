// In-process benchmark of gandrel export on data files named on the command
// line (make_bench_file v0600 or v0900: 100-byte records), typed through a
// small dictionary written here that matches bench/bench_data.cc's records:
//
//   export_bench [--benchmark_... flags] FILE...
//
// Per file, named after the file's base name:
//   Export/NAME/csv     the salvage walk, every field decoded, one CSV file
//   Export/NAME/jsonl   the same into JSON Lines
// Output goes to a folder under the system's temporary folder, removed at
// the end.  "bytes_per_second" counts bytes of the data file.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "export/export.h"
#include "gandrel/export_command.h"

namespace {

namespace fs = std::filesystem;

// Fixed part of BenchRecord: 'R', seven hex digits of the record number,
// then 92 lower-case letters; every field decodes.
TableDef BenchTable() {
  TableDef t = {};
  t.id = 10;
  t.name = "Bench";
  t.fields = {
      {.id = 1, .name = "Id", .dataType = kDdfString, .offset = 0, .size = 8, .decimals = 0, .flags = 0},
      {.id = 2, .name = "Code", .dataType = kDdfZstring, .offset = 8, .size = 12, .decimals = 0, .flags = 0},
      {.id = 3, .name = "Count", .dataType = kDdfInteger, .offset = 20, .size = 4, .decimals = 0, .flags = 0},
      {.id = 4, .name = "Small", .dataType = kDdfUnsignedBinary, .offset = 24, .size = 2, .decimals = 0, .flags = 0},
      {.id = 5, .name = "Flag", .dataType = kDdfLogical, .offset = 26, .size = 1, .decimals = 0, .flags = 0},
      {.id = 6, .name = "Amount", .dataType = kDdfFloat, .offset = 32, .size = 8, .decimals = 0, .flags = 0},
      {.id = 7, .name = "Note", .dataType = kDdfString, .offset = 40, .size = 60, .decimals = 0, .flags = 0},
  };
  t.keys = {{.number = 0, .name = "", .segments = {{.fieldId = 1, .fieldIndex = 0, .segment = 0, .flags = 0}}}};
  return t;
}

void Export(benchmark::State& state, const std::string& path, ExportFormat format) {
  const Codepage* codepage = nullptr;
  FindCodepage(kDefaultCodepage, &codepage);
  const fs::path out = fs::temp_directory_path() / "gandrel-export-bench";
  const TableDef table = BenchTable();
  std::error_code ec;
  int64_t rows = 0;
  for (auto _ : state) {
    fs::remove_all(out, ec);
    ExportWriter writer = {};
    if (OpenExport(format, out.string(), *codepage, &writer) != kExportOk) {
      state.SkipWithError("cannot create the output folder");
      break;
    }
    TableExport result;
    ExportTableFile(&writer, &table, path, false, &result);
    CloseExport(&writer);
    if (result.status != kSalvageHealthy || result.exportStatus != kExportOk ||
        result.counts.nullFields != 0) {
      state.SkipWithError("the export was not whole");
      break;
    }
    rows = result.counts.rows;
  }
  fs::remove_all(out, ec);
  state.counters["rows"] = static_cast<double>(rows);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(fs::file_size(path, ec)));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string path = argv[i];
    const std::string name = fs::path(path).filename().string();
    benchmark::RegisterBenchmark(("Export/" + name + "/csv").c_str(), Export, path,
                                 ExportFormat::Csv)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark(("Export/" + name + "/jsonl").c_str(), Export, path,
                                 ExportFormat::Jsonl)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
