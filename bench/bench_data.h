// Benchmark data files: large Btrieve data files written by the fixture's
// one data-file writer (tests/fixture/data_file_writer.h) page by page into
// a file, so that a file of a gigabyte needs a few pages of memory and a few
// bytes per record, not the whole file.  Every layout the fixture writer
// makes can be generated.
//
// Record contents depend only on the seed and the record's index, so the same
// plan always gives the same bytes.
#ifndef GANDREL_BENCH_BENCH_DATA_H_
#define GANDREL_BENCH_BENCH_DATA_H_

#include <cstdint>
#include <cstdio>
#include <string>

#include "tests/fixture/fixture_writer.h"

namespace benchdata {

struct BenchFilePlan {
  // Version, page size, record length, variable-length flag, fragment size
  // and any other layout option of the fixture writer.
  fixture::FixtureOptions options;
  uint64_t recordCount = 0;
  uint32_t maxVariableBytes = 0;  // variable parts of 0 to this many bytes
  uint32_t seed = 1;
};

// The named kinds the benchmark suite uses ("v0600", "v0900", "v0500",
// "v0700var"), sized to about `bytes`.  False for an unknown name.
bool PlanForKind(const std::string& kind, uint64_t bytes, BenchFilePlan* plan);

// Record `index` of `plan`: fixed part of recordLength bytes, never an empty
// slot for any version, and a variable part when the file has them.
fixture::FixtureRecord BenchRecord(const BenchFilePlan& plan, uint64_t index);

// Writes the whole data file to `out`, byte for byte what
// fixture::BuildDataFile makes of the records BenchRecord(plan, 0 ..
// recordCount - 1).  False when a write fails.
bool WriteBenchFile(const BenchFilePlan& plan, FILE* out);

}  // namespace benchdata

#endif  // GANDREL_BENCH_BENCH_DATA_H_
