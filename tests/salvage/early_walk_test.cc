// Records of fixed length go out during the page pass when the sink can take
// them back (the salvage command's dump can).  Whatever the file, the records
// and the report are those of the walk after the pass: on healthy files, on
// pages out of logical order, and on damage the pass meets only after it
// gave pages out.
#include <gtest/gtest.h>

#include <cstring>

#include "reader/format.h"
#include "reader/page_geometry.h"
#include "tests/console/process_runner.h"
#include "tests/fixture/fixture_v8.h"
#include "tests/salvage/salvage_test_util.h"

namespace {

using fixture::BuiltFile;
using fixture::FixtureOptions;
using fixture::ScopedTempFile;

struct Run {
  Records records;
  SalvageReport report;
};

Run Salvage(const std::vector<uint8_t>& bytes, bool takeBack) {
  ScopedTempFile file(bytes);
  Run run;
  run.records = SalvageRecords(file.path(), &run.report, {}, takeBack);
  return run;
}

// Salvages `bytes` both ways; true when the sink had to take records back.
bool ExpectSameBothWays(const std::vector<uint8_t>& bytes) {
  const Run early = Salvage(bytes, true);
  const Run late = Salvage(bytes, false);
  EXPECT_TRUE(SameRecords(early.records, late.records));
  EXPECT_EQ(early.report.recordsSalvaged, late.report.recordsSalvaged);
  EXPECT_EQ(early.report.dataPagesWalked, late.report.dataPagesWalked);
  EXPECT_EQ(early.report.status, late.report.status);
  EXPECT_EQ(early.report.skippedPages.size(), late.report.skippedPages.size());
  EXPECT_FALSE(late.report.restarted);
  return early.report.restarted;
}

FixtureOptions Options(uint16_t version, uint16_t pageSize) {
  FixtureOptions o;
  o.version = version;
  o.pageSize = pageSize;
  o.recordLength = 60;
  return o;
}

TEST(EarlyWalkTest, HealthyFilesTakeNothingBack) {
  for (const NamedOptions& row : HealthyFileTable()) {
    SCOPED_TRACE(std::string(row.name) + " version " + std::to_string(row.options.version));
    const BuiltFile built = BuildFixtureFile(row.options, 150, 90, 7);
    EXPECT_FALSE(ExpectSameBothWays(built.bytes));
  }
}

TEST(EarlyWalkTest, DamageMetLateGivesTheWalksRecords) {
  for (uint16_t version : {0x0400, 0x0600, 0x0800, 0x0950}) {
    for (uint16_t pageSize : {1024, 4096}) {
      SCOPED_TRACE(std::to_string(version) + " page size " + std::to_string(pageSize));
      const FixtureOptions o = Options(version, pageSize);
      const BuiltFile built = BuildFixtureFile(o, pageSize == 1024 ? 900 : 3000, 0, 7);
      const size_t middle = built.dataPages[built.dataPages.size() / 2];
      // Bytes inserted mid-file: the grid moves after pages were given out.
      std::vector<uint8_t> bytes = built.bytes;
      bytes.insert(bytes.begin() + middle * pageSize + 300, 37, 0x5A);
      EXPECT_TRUE(ExpectSameBothWays(bytes));
      // A data page header wiped, mid-file and at the last data page; a
      // data page of noise; the file cut inside the last data page.
      for (size_t page : {middle, size_t{built.dataPages.back()}}) {
        bytes = built.bytes;
        memset(bytes.data() + fixture::PhysicalPageOffset(o, static_cast<uint32_t>(page)), 0, 16);
        ExpectSameBothWays(bytes);
        bytes = built.bytes;
        for (size_t i = 0; i < pageSize; ++i) {
          bytes[fixture::PhysicalPageOffset(o, static_cast<uint32_t>(page)) + i] =
              static_cast<uint8_t>(i * 37 + 11);
        }
        ExpectSameBothWays(bytes);
      }
      bytes = built.bytes;
      bytes.resize(fixture::PhysicalPageOffset(o, built.dataPages.back()) + pageSize / 2);
      ExpectSameBothWays(bytes);
    }
  }
}

// File offset of the entry for `logical` in copy `copy` of its map pair
// (0x0600-0x0700) or allocation table (0x0800 on).
size_t EntryOffset(const FixtureOptions& o, uint32_t logical, int copy) {
  if (o.version >= 0x0800) return fixture::V8TableEntryOffset(o.pageSize, logical, copy, o.version);
  const uint32_t perPair = MapEntriesPerPage(o.pageSize);
  const uint64_t pair = (logical - 1) / perPair;
  const uint32_t page = static_cast<uint32_t>(MapPairFirstPage(o.pageSize, pair)) + copy;
  return fixture::PhysicalPageOffset(o, page) + kMapCounterOffset +
         kMapEntrySize * ((logical - 1) % perPair + 1);
}

TEST(EarlyWalkTest, PagesOutOfLogicalOrderAreGivenInOrder) {
  // The first and last data pages trade places on disk, the map or tables
  // following them: the pass meets the last logical page first.
  for (uint16_t version : {0x0600, 0x0800}) {
    SCOPED_TRACE(version);
    const FixtureOptions o = Options(version, 1024);
    const BuiltFile built = BuildFixtureFile(o, 900, 0, 7);
    const uint32_t a = built.dataPages.front();
    const uint32_t b = built.dataPages.back();
    std::vector<uint8_t> bytes = built.bytes;
    const size_t at = fixture::PhysicalPageOffset(o, a);
    const size_t bt = fixture::PhysicalPageOffset(o, b);
    std::swap_ranges(bytes.begin() + at, bytes.begin() + at + o.pageSize, bytes.begin() + bt);
    // The logical numbers the two pages carry.
    const uint32_t la = version >= 0x0800 ? built.dataPageNumbers.front()
                                          : DecodePageNumber24(built.bytes.data() + at);
    const uint32_t lb = version >= 0x0800 ? built.dataPageNumbers.back()
                                          : DecodePageNumber24(built.bytes.data() + bt);
    for (int copy = 0; copy < 2; ++copy) {
      std::swap_ranges(bytes.begin() + EntryOffset(o, la, copy),
                       bytes.begin() + EntryOffset(o, la, copy) + 4,
                       bytes.begin() + EntryOffset(o, lb, copy));
    }
    EXPECT_FALSE(ExpectSameBothWays(bytes));
    ScopedTempFile file(bytes);
    SalvageReport report;
    EXPECT_EQ(SalvageRecords(file.path(), &report).size(), 900u);
  }
}

bool CannotTakeBack(void*) { return false; }

// A file of `count` fixed-length records with 37 zeros inserted inside its
// middle data page: the pass meets the moved grid after it gave pages out.
std::vector<uint8_t> ShiftedFile(uint16_t version, uint32_t count = 900) {
  const FixtureOptions o = Options(version, 1024);
  const BuiltFile built = BuildFixtureFile(o, count, 0, 7);
  std::vector<uint8_t> bytes = built.bytes;
  bytes.insert(bytes.begin() + built.dataPages[built.dataPages.size() / 2] * 1024 + 300, 37, 0);
  return bytes;
}

TEST(EarlyWalkTest, ASinkThatCannotTakeBackEndsTheRunWithAReason) {
  ScopedTempFile file(ShiftedFile(0x0600));
  RecordSinkFunction sink;
  sink.restart = CannotTakeBack;
  SalvageReport report;
  EXPECT_EQ(SalvageFile(file.path().c_str(), {}, sink, &report), kSalvageNothing);
  EXPECT_NE(report.error.find("could not be taken back"), std::string::npos) << report.error;
}

// Large enough that whole blocks went to the dump's writer thread before
// the dump is emptied.
TEST(EarlyWalkTest, TheCommandsDumpIsStartedAfresh) {
  ScopedTempDir dir;
  ScopedTempFile file(ShiftedFile(0x0500, 40000));
  SalvageReport report;
  const Records expected = SalvageRecords(file.path(), &report, {}, false);
  const std::string dump = dir.File("shift.dump");
  const ProcessResult r = RunProcess(GANDREL_PATH, {"salvage", file.path(), "-o", dump, "-q",
                                                    "--keep-doubtful", dir.File("d.dump")});
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_EQ(fixture::ReadFileBytes(dump), ButilDump(expected, dir.File("x")));
}

}  // namespace
