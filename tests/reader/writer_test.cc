// The one data-file writer: a file written page by page into a FILE is the
// file BuildDataFile builds in memory, and the reader hands out its records,
// in every layout; a failing sink stops the file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/fixture/data_file_writer.h"
#include "tests/reader/reader_test_util.h"

namespace {

using fixture::FixtureOptions;
using fixture::FixtureRecord;

struct Layout {
  const char* name;
  FixtureOptions options;
  uint32_t variableBytes;
};

std::vector<Layout> Layouts() {
  std::vector<Layout> layouts;
  for (uint16_t version : readertest::kAllVersions) {
    for (int kind = 0; kind < 3; ++kind) {
      FixtureOptions o;
      o.version = version;
      o.pageSize = version >= 0x0800 ? 1024 : 512;
      o.recordLength = 40;
      o.variableLength = kind == 1;
      o.compressed = kind == 2;
      o.maxFragmentData = kind == 1 ? 90 : 0;
      layouts.push_back({kind == 0 ? "fixed" : kind == 1 ? "variable" : "compressed", o,
                         kind == 0 ? 0u : 700u});
    }
  }
  // From 0x0800: stale copies ahead of every page, chunk tables sharing
  // their pages with the chunks, free slots, duplicates and system data.
  for (uint16_t version : {0x0800, 0x0900, 0x0950}) {
    FixtureOptions o;
    o.version = version;
    o.pageSize = 1024;
    o.recordLength = 24;
    o.variableLength = true;
    o.staleCopies = true;
    o.emptySlotsBefore = 1;
    o.skipPages = 3;
    layouts.push_back({"stale copies, free slots, filler pages", o, 900});
    o.staleCopies = false;
    o.chunkedTails = version == 0x0950;  // the flag exists from 0x0950
    o.chunkBytes = 150;
    o.maxFragmentData = 60;
    o.systemData = true;
    o.duplicatePairs = 1;
    layouts.push_back({"chunked tails (0x0950), duplicates, system data", o, 900});
  }
  return layouts;
}

std::vector<uint8_t> WriteThroughFile(const FixtureOptions& o,
                                      const std::vector<FixtureRecord>& records,
                                      const std::string& path) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) return {};
  const fixture::RecordSource source = fixture::VectorSource(&records);
  const bool written = fixture::WriteDataFile(o, source, fixture::FileSink(file), nullptr);
  fclose(file);
  return written ? fixture::ReadFileBytes(path) : std::vector<uint8_t>{};
}

TEST(DataFileWriter, FilesWrittenPageByPageReadBackInEveryLayout) {
  for (const Layout& layout : Layouts()) {
    const FixtureOptions& o = layout.options;
    SCOPED_TRACE(testing::Message() << std::hex << "version " << o.version << ": " << layout.name);
    const std::vector<FixtureRecord> records = fixture::MakeRecords(150, o.recordLength,
                                                                    layout.variableBytes, o.version);
    const fixture::BuiltFile built = fixture::BuildDataFile(o, records);
    fixture::ScopedTempFile file(std::vector<uint8_t>{});
    const std::vector<uint8_t> bytes = WriteThroughFile(o, records, file.path());
    ASSERT_EQ(bytes.size(), built.bytes.size());
    EXPECT_TRUE(bytes == built.bytes);
    const readertest::ReadResult r = readertest::ReadAll(file.path(), ReaderVariant::Console);
    ASSERT_EQ(r.openStatus, kReaderOk);
    EXPECT_EQ(r.endStatus, kReaderEnd);
    ASSERT_EQ(r.records.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
      ASSERT_EQ(r.records[i], readertest::Expected(built.records[i])) << "record " << i;
    }
  }
}

// --- A sink that fails ----------------------------------------------------------

struct CountingSink {
  size_t calls = 0;
  size_t failAt = SIZE_MAX;  // the call that fails
  static bool Write(void* context, const uint8_t*, size_t) {
    auto* sink = static_cast<CountingSink*>(context);
    return sink->calls++ != sink->failAt;
  }
};

TEST(DataFileWriter, AFailedWriteStopsTheFileAndIsReported) {
  FixtureOptions o;
  o.version = 0x0610;  // control, map, data and variable pages
  o.pageSize = 512;
  o.variableLength = true;
  const std::vector<FixtureRecord> records = fixture::MakeRecords(300, 16, 400, 5);
  const fixture::RecordSource source = fixture::VectorSource(&records);
  CountingSink whole;
  ASSERT_TRUE(fixture::WriteDataFile(o, source, {&CountingSink::Write, &whole}, nullptr));
  ASSERT_GT(whole.calls, 10u);
  for (size_t failAt = 0; failAt < whole.calls; ++failAt) {
    CountingSink sink;
    sink.failAt = failAt;
    EXPECT_FALSE(fixture::WriteDataFile(o, source, {&CountingSink::Write, &sink}, nullptr))
        << "write " << failAt;
    EXPECT_EQ(sink.calls, failAt + 1) << "nothing is written after the failed write";
  }
}

TEST(DataFileWriter, RefusesMoreRecordsThanTheCountFieldHolds) {
  static size_t reads = 0;
  fixture::RecordSource source;
  source.count = 0x100000000ull;
  source.read = [](const void*, uint64_t, FixtureRecord*) { ++reads; };
  CountingSink sink;
  EXPECT_FALSE(fixture::WriteDataFile(FixtureOptions{}, source, {&CountingSink::Write, &sink}, nullptr));
  EXPECT_EQ(reads, 0u);
  EXPECT_EQ(sink.calls, 0u);
}

}  // namespace
