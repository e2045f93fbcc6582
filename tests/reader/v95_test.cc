// Version 0x0950 files built in code, and the real ones of corpus-2/actianui
// read against the dictionaries beside them.  Plain round trips of 0x0950
// run with every other version's in roundtrip_test.cc.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "reader/format.h"
#include "tests/reader/reader_test_util.h"

using namespace readertest;
using fixture::BuildDataFile;
using fixture::BuiltFile;
using fixture::FixtureOptions;

namespace {

constexpr uint32_t kLargeArea = 1 << 20;

FixtureOptions V95Options() {
  FixtureOptions o;
  o.version = 0x0950;
  o.pageSize = 4096;
  o.recordLength = 40;
  o.systemData = true;
  o.staleCopies = true;
  o.uncommittedTable = true;  // larger-wins would read the stale pages
  return o;
}

void ExpectRecords(const BuiltFile& built, const std::vector<std::vector<uint8_t>>& expected) {
  fixture::ScopedTempFile file(built.bytes);
  for (ReaderVariant variant : kBothVariants) {
    const ReadResult r = ReadAll(file.path(), variant, kLargeArea);
    ASSERT_EQ(r.openStatus, kReaderOk) << VariantName(variant);
    EXPECT_EQ(r.endStatus, kReaderEnd);
    EXPECT_EQ(r.records, expected) << VariantName(variant);
  }
}

std::vector<std::vector<uint8_t>> ExpectedOf(const BuiltFile& built) {
  std::vector<std::vector<uint8_t>> expected(built.records.size());
  std::transform(built.records.begin(), built.records.end(), expected.begin(), Expected);
  return expected;
}

}  // namespace

TEST(V95, EachCopyActiveInTurnByItsUsageAtEightWithCompressedRecords) {
  for (bool copy1Active : {false, true}) {
    SCOPED_TRACE(copy1Active ? "copy 1 active" : "copy 2 active");
    FixtureOptions o = V95Options();
    o.compressed = copy1Active;
    o.negativeVersion = copy1Active;
    o.copy1Counter = copy1Active ? 9 : 4;
    o.copy2Counter = copy1Active ? 8 : 5;
    (copy1Active ? o.copy2RecordCount : o.copy1RecordCount) = 3;
    BuiltFile built = BuildDataFile(o, fixture::MakeRecords(200, 40, 3000, 5));
    // The 0x0800 counter place would choose the stale copy.
    fixture::PutLE16(built.bytes, copy1Active ? built.controlCopyBytes + 6 : 6, 0xFFFF);
    ExpectRecords(built, ExpectedOf(built));
  }
}

TEST(V95, ChunkedTailsLongerThan64KiBAndAChunkCutShort) {
  FixtureOptions o = V95Options();
  o.variableLength = true;
  o.chunkedTails = true;
  o.chunkBytes = 5000;
  auto records = fixture::MakeRecords(12, 40, 60000, 9);
  records[0].variable.resize(90000, 0xA5);
  BuiltFile built = BuildDataFile(o, records);
  std::vector<std::vector<uint8_t>> expected = ExpectedOf(built);
  ExpectRecords(built, expected);
  // The table of record 0 says its chunk 1 is 10 bytes shorter: exactly
  // those bytes are lost, and chunk 2 still follows.
  const size_t entry1 = built.recordFragments[0][0] + 6 + 10;
  fixture::PutLE32(built.bytes, entry1 + 6, 4990);
  expected[0].erase(expected[0].begin() + 40 + 9990, expected[0].begin() + 40 + 10000);
  ExpectRecords(built, expected);
  // Said to be longer than its chain: the whole chain is read, and reported.
  fixture::PutLE32(built.bytes, entry1 + 6, 5010);
  ExpectRecords(built, ExpectedOf(built));
  EventLog log;
  DataFile df = {};
  ASSERT_EQ(OpenBytes(built.bytes, ReaderVariant::Console, &df, nullptr, &log.reporter), kReaderOk);
  RecordBuffer rb = {kLargeArea, 0};
  std::vector<uint8_t> area(kLargeArea);
  EXPECT_EQ(ReadNextRecord(&df, &rb, area.data()), kReaderOk);
  CloseDataFile(&df, kReaderOk);
  ASSERT_FALSE(log.events.empty());
  EXPECT_EQ(log.events.back().kind, ReaderEventKind::ChainChunkShort);
  EXPECT_EQ(log.events.back().record, 0);
}

// --- The real files ---------------------------------------------------------------

namespace {

namespace fs = std::filesystem;
const fs::path kCorpus2 = fs::path(GANDREL_CORPUS2_DIR) / "actianui";

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](char c) { return std::tolower(c); });
  return s;
}

// A blank- or NUL-padded name, in lower case: the dictionaries and the
// folder do not agree on case.
std::string Text(const std::vector<uint8_t>& r, size_t at, size_t n) {
  const std::string s = Lower(std::string(r.begin() + at, r.begin() + at + n));
  return s.substr(0, s.find_last_not_of(std::string(" \0", 2)) + 1);
}

}  // namespace

TEST(V95Corpus, CountsOfTheActiveCopyAndStringFieldsOfTheDictionaries) {
  if (!fs::is_directory(kCorpus2)) GTEST_SKIP() << "no corpus at " << kCorpus2;
  std::map<fs::path, std::vector<std::vector<uint8_t>>> tables;
  size_t images = 0;
  for (const auto& entry : fs::recursive_directory_iterator(kCorpus2)) {
    if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
    SCOPED_TRACE(entry.path().string());
    const std::vector<uint8_t> bytes = fixture::ReadFileBytes(entry.path().string());
    ASSERT_GE(bytes.size(), 8192u + 404);
    const bool second = DecodeLE32(&bytes[8192 + 8]) > DecodeLE32(&bytes[8]);
    const uint32_t count = DecodeSwappedCount(&bytes[second ? 8192 + 26 : 26]);
    const ReadResult r = ReadAll(entry.path().string(), ReaderVariant::Console, kLargeArea);
    ASSERT_EQ(r.openStatus, kReaderOk);
    EXPECT_EQ(r.records.size(), count);
    // Records longer than any dictionary row (2053) hold a whole JPEG image.
    const uint8_t start[] = {0xFF, 0xD8, 0xFF};
    for (const auto& record : r.records) {
      if (record.size() <= 2053) continue;
      ++images;
      EXPECT_NE(std::search(record.begin(), record.end(), start, start + 3), record.end());
      EXPECT_TRUE(record.end()[-2] == 0xFF && record.end()[-1] == 0xD9);
    }
    tables[entry.path().parent_path() / Lower(entry.path().filename().string())] = r.records;
  }
  EXPECT_EQ(tables.size(), 31u);
  EXPECT_EQ(images, 40u);
  // FILE.DDF: id, name 20, location 64.  FIELD.DDF: id, file id, name 20,
  // type, offset, size.  Type 0 is a string: printable text, padded.
  size_t checked = 0;
  for (const auto& [path, files] : tables) {
    if (path.filename() != "file.ddf") continue;
    for (const auto& file : files) {
      const auto table = tables.find(path.parent_path() / Text(file, 22, 64));
      if (table == tables.end()) continue;
      for (const auto& field : tables[path.parent_path() / "field.ddf"]) {
        const size_t at = DecodeLE16(&field[25]), size = DecodeLE16(&field[27]);
        // Xf$Reserved holds reserved bytes, not text.
        if (field[24] != 0 || DecodeLE16(&field[2]) != DecodeLE16(&file[0]) ||
            Text(field, 4, 20) == "xf$reserved") {
          continue;
        }
        for (const auto& record : table->second) {
          if (at + size > record.size()) continue;
          ++checked;
          EXPECT_TRUE(std::all_of(record.begin() + at, record.begin() + at + size,
                                  [](uint8_t b) { return b == 0 || (b >= 32 && b < 127); }))
              << Text(field, 4, 20) << " in " << table->first;
        }
      }
    }
  }
  EXPECT_GT(checked, 300u);
}
