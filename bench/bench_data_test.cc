// The streamed benchmark files must be the files the fixture writer builds,
// or the benchmarks would measure a layout that no test checks.
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

benchdata::BenchFilePlan Plan(uint16_t version, uint16_t pageSize, uint64_t records) {
  benchdata::BenchFilePlan plan;
  plan.options.version = version;
  plan.options.pageSize = pageSize;
  plan.options.recordLength = 100;
  plan.recordCount = records;
  return plan;
}

benchdata::BenchFilePlan VariablePlan(uint16_t version, uint16_t pageSize,
                                      uint64_t records, uint32_t maxBytes,
                                      uint32_t maxFragment) {
  benchdata::BenchFilePlan plan = Plan(version, pageSize, records);
  plan.options.recordLength = 40;
  plan.options.variableLength = true;
  plan.options.maxFragmentData = maxFragment;
  plan.maxVariableBytes = maxBytes;
  return plan;
}

void ExpectSameAsFixture(const benchdata::BenchFilePlan& plan, const char* what) {
  SCOPED_TRACE(what);
  ASSERT_TRUE(benchdata::CanStream(plan));
  const std::vector<uint8_t> streamed = Streamed(plan);
  const std::vector<uint8_t> built = benchdata::BuildBenchFileInMemory(plan);
  ASSERT_EQ(streamed.size(), built.size());
  size_t firstDifference = 0;
  while (firstDifference < built.size() && streamed[firstDifference] == built[firstDifference]) {
    ++firstDifference;
  }
  EXPECT_EQ(firstDifference, built.size()) << "first difference at byte " << firstDifference;
}

// --- Streamed files equal the fixture writer's ------------------------------

TEST(BenchDataTest, FixedLengthFilesMatchTheFixtureWriter) {
  ExpectSameAsFixture(Plan(0x0500, 512, 0), "0x0500 without records");
  ExpectSameAsFixture(Plan(0x0500, 512, 257), "0x0500, 512-byte pages");
  ExpectSameAsFixture(Plan(0x0300, 1024, 99), "0x0300");
  ExpectSameAsFixture(Plan(0x0600, 4096, 0), "0x0600 without records");
  ExpectSameAsFixture(Plan(0x0600, 4096, 45000), "0x0600, 4096-byte pages, two map pairs");
  // 512-byte pages put the 4096-byte gap at page 3842, about 2 MB in.
  ExpectSameAsFixture(Plan(0x0600, 512, 21000), "0x0600 across the 4096-byte gap");
  benchdata::BenchFilePlan fc = Plan(0x0610, 512, 20000);
  fc.options.fcLayout = true;
  ExpectSameAsFixture(fc, "0x0610, FC layout, across the gap");
  benchdata::BenchFilePlan counts = Plan(0x0700, 1024, 500);
  counts.options.copy1Counter = 9;
  counts.options.copy1RecordCount = 12;
  ExpectSameAsFixture(counts, "0x0700 with copy 1 current");
}

TEST(BenchDataTest, Version8And9FilesMatchTheFixtureWriter) {
  ExpectSameAsFixture(Plan(0x0900, 4096, 0), "0x0900 without records");
  ExpectSameAsFixture(Plan(0x0900, 4096, 41 * 10), "0x0900, last data page full");
  // 512-byte pages: a table maps 312 pages, so 2000 pages need seven.
  ExpectSameAsFixture(Plan(0x0900, 512, 4 * 2000 + 3), "0x0900, seven tables, free slots");
  benchdata::BenchFilePlan v8 = Plan(0x0800, 1024, 3000);
  v8.options.currentTableCopy = 0;
  v8.options.negativeVersion = true;
  v8.options.copy2RecordCount = 7;
  ExpectSameAsFixture(v8, "0x0800 stored negative, table copy A current");
}

TEST(BenchDataTest, VariableLengthFilesMatchTheFixtureWriter) {
  ExpectSameAsFixture(VariablePlan(0x0700, 1024, 400, 2000, 100),
                      "0x0700, chains of up to 20 fragments, several map pairs");
  ExpectSameAsFixture(VariablePlan(0x0600, 4096, 300, 16000, 700), "0x0600, 4096-byte pages");
  ExpectSameAsFixture(VariablePlan(0x0610, 512, 3000, 900, 0), "0x0610 across the gap");
  ExpectSameAsFixture(VariablePlan(0x0500, 512, 300, 1500, 0),
                      "0x0500, pointers marked by bit 15");
  ExpectSameAsFixture(VariablePlan(0x0400, 1024, 200, 3000, 333), "0x0400, short fragments");
  ExpectSameAsFixture(VariablePlan(0x0700, 4096, 50, 0, 0), "0x0700, no variable parts");
}

// --- The named kinds ----------------------------------------------------------

TEST(BenchDataTest, KindsHaveTheirVersionAndAboutTheRequestedSize) {
  struct Row {
    const char* kind;
    uint16_t version;
    uint16_t pageSize;
    bool streamed;
  };
  const Row rows[] = {{"v0600", 0x0600, 4096, true},
                      {"v0900", 0x0900, 4096, true},
                      {"v0500", 0x0500, 512, true},
                      {"v0700var", 0x0700, 4096, true}};
  const uint64_t requested = 6u << 20;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.kind);
    benchdata::BenchFilePlan plan;
    ASSERT_TRUE(benchdata::PlanForKind(row.kind, requested, &plan));
    EXPECT_EQ(plan.options.version, row.version);
    EXPECT_EQ(plan.options.pageSize, row.pageSize);
    EXPECT_EQ(benchdata::CanStream(plan), row.streamed);
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
  fixture::ScopedTempFile file(built.bytes);
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
