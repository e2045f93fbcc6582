// Benchmark data files: large Btrieve data files laid out exactly as the
// fixture writer lays them out, written page by page so that a file of a
// gigabyte needs a few pages of memory, not the whole file.
//
// Streamed: versions 0x0300 to 0x0700 with or without variable-length parts,
// in either control page layout, and versions 0x0800 and 0x0900 with plain
// fixed-length records, all with the records packed from slot 0.  Any other
// combination goes through fixture::BuildDataFile in memory, so every file
// the fixture writer can make can be generated; only the streamed ones are
// cheap at a gigabyte.
//
// Record contents depend only on the seed and the record's index, so the same
// plan always gives the same bytes.
#ifndef GANDREL_BENCH_BENCH_DATA_H_
#define GANDREL_BENCH_BENCH_DATA_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/fixture/fixture_writer.h"

namespace benchdata {

struct BenchFilePlan {
  // Version, page size, record length, variable-length flag and fragment
  // size; skipPages and emptySlotsBefore must stay 0 for streaming.
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

// True when WriteBenchFile streams this plan page by page.
bool CanStream(const BenchFilePlan& plan);

// Writes the whole data file to `out`, byte for byte what
// fixture::BuildDataFile makes of the records BenchRecord(plan, 0 ..
// recordCount - 1).  False when a write fails.
bool WriteBenchFile(const BenchFilePlan& plan, FILE* out);

// The same file in memory, through fixture::BuildDataFile; for comparison.
std::vector<uint8_t> BuildBenchFileInMemory(const BenchFilePlan& plan);

}  // namespace benchdata

#endif  // GANDREL_BENCH_BENCH_DATA_H_
