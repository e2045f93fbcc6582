// The benchmark files: each named kind has its version and about the size
// asked for, and what it holds reads back as the records it was made from.
#include "bench/bench_data.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "reader/datafile.h"

namespace {

std::vector<uint8_t> Streamed(const benchdata::BenchFilePlan& plan) {
  std::vector<uint8_t> bytes;
  FILE* f = tmpfile();
  if (f == nullptr) return bytes;
  if (benchdata::WriteBenchFile(plan, f)) {
    bytes.resize(static_cast<size_t>(ftell(f)));
    rewind(f);
    if (fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
  }
  fclose(f);
  return bytes;
}

// --- The named kinds ----------------------------------------------------------

TEST(BenchDataTest, KindsHaveTheirVersionAndAboutTheRequestedSize) {
  struct Row {
    const char* kind;
    uint16_t version;
    uint16_t pageSize;
  };
  const Row rows[] = {{"v0600", 0x0600, 4096},
                      {"v0900", 0x0900, 4096},
                      {"v0500", 0x0500, 512},
                      {"v0700var", 0x0700, 4096}};
  const uint64_t requested = 6u << 20;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.kind);
    benchdata::BenchFilePlan plan;
    ASSERT_TRUE(benchdata::PlanForKind(row.kind, requested, &plan));
    EXPECT_EQ(plan.options.version, row.version);
    EXPECT_EQ(plan.options.pageSize, row.pageSize);
    const size_t size = Streamed(plan).size();
    EXPECT_GT(size, requested * 8 / 10);
    EXPECT_LT(size, requested * 12 / 10);
  }
  benchdata::BenchFilePlan plan;
  EXPECT_FALSE(benchdata::PlanForKind("v0800", requested, &plan));
}

TEST(BenchDataTest, VariableKindHasChainsOverSeveralPagesAndReadsBack) {
  benchdata::BenchFilePlan plan;
  ASSERT_TRUE(benchdata::PlanForKind("v0700var", 3u << 20, &plan));
  std::vector<fixture::FixtureRecord> records;
  for (uint64_t i = 0; i < plan.recordCount; ++i) records.push_back(benchdata::BenchRecord(plan, i));
  const fixture::BuiltFile built = fixture::BuildDataFile(plan.options, records);
  size_t longestChainPages = 0;
  for (const std::vector<uint32_t>& pages : built.recordPages) {
    longestChainPages = std::max(longestChainPages,
                                 std::set<uint32_t>(pages.begin() + 1, pages.end()).size());
  }
  EXPECT_GE(longestChainPages, 4u);

  // What pagrove reads is what was written: fixed part, then variable part.
  // The file as the benchmarks get it: written through the FILE sink.
  fixture::ScopedTempFile file(Streamed(plan));
  DataFile dataFile = {};
  ASSERT_EQ(OpenDataFile(file.path().c_str(), &dataFile, ReaderVariant::Console), kReaderOk);
  std::vector<uint8_t> area(64000);
  size_t read = 0;
  for (;; ++read) {
    RecordBuffer record = {};
    record.length = static_cast<uint32_t>(area.size());
    const ReaderStatus status = ReadNextRecord(&dataFile, &record, area.data());
    if (status != kReaderOk) {
      EXPECT_EQ(status, kReaderEnd);
      break;
    }
    ASSERT_LT(read, records.size());
    std::vector<uint8_t> expected = records[read].fixed;
    expected.insert(expected.end(), records[read].variable.begin(), records[read].variable.end());
    ASSERT_EQ(std::vector<uint8_t>(area.begin(), area.begin() + record.length), expected)
        << "record " << read;
  }
  EXPECT_EQ(read, records.size());
  CloseDataFile(&dataFile, kReaderOk);
}

}  // namespace
