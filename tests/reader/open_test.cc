// Opening a data file: statuses, the control page copy choice, the fields
// taken at open, and what each variant reads.
#include <gtest/gtest.h>

#include "reader/format.h"
#include "tests/reader/reader_test_util.h"

using namespace readertest;
using fixture::BuildDataFile;
using fixture::FixtureOptions;
using fixture::MakeRecords;
using fixture::PutLE16;
using fixture::PutSwappedCount;
using fixture::ScopedTempFile;

namespace {

ReaderStatus OpenStatus(const std::vector<uint8_t>& bytes, ReaderVariant variant,
                        DataFile* out = nullptr) {
  ScopedTempFile file(bytes);
  DataFile df = {};
  ReaderStatus s = OpenDataFile(file.path().c_str(), &df, variant);
  if (out != nullptr && s == kReaderOk) {
    *out = df;
    out->file = nullptr;  // fields only; released below
  }
  CloseDataFile(&df, s);
  return s;
}

std::vector<uint8_t> SmallFile(uint16_t version, uint16_t pageSize = 512) {
  FixtureOptions o;
  o.version = version;
  o.pageSize = pageSize;
  o.recordLength = 10;
  return BuildDataFile(o, MakeRecords(3, 10, 0, 1)).bytes;
}

}  // namespace

// --- Statuses ---------------------------------------------------------------

TEST(Open, NoDataFileIsStatus4) {
  EXPECT_EQ(OpenDataFile("whatever", nullptr, ReaderVariant::Console), kReaderNoDataFile);
  EXPECT_EQ(CloseDataFile(nullptr, kReaderNoDataFile), kReaderNoDataFile);
}

TEST(Open, MissingFileIsStatus2AndLeavesNothingOpen) {
  DataFile df = {};
  EXPECT_EQ(OpenDataFile("/nonexistent/dir/file.btr", &df, ReaderVariant::Console),
            kReaderUnusable);
  EXPECT_EQ(df.file, nullptr);
  EXPECT_EQ(df.pageBuffer, nullptr);
  // Closing after a failed open, and closing twice, do nothing.
  EXPECT_EQ(CloseDataFile(&df, kReaderUnusable), kReaderUnusable);
  EXPECT_EQ(CloseDataFile(&df, kReaderEnd), kReaderEnd);
}

TEST(Open, UnknownSignatureIsStatus2) {
  for (uint32_t signature : {0x4346u | (1u << 16), 0x12345678u, 0x00004300u}) {
    auto bytes = SmallFile(0x0600);
    fixture::PutLE32(bytes, 0, signature);
    for (ReaderVariant v : kBothVariants) {
      EXPECT_EQ(OpenStatus(bytes, v), kReaderUnusable) << std::hex << signature;
    }
  }
}

TEST(Open, UnsupportedVersionsAreStatus7) {
  for (uint16_t word : {0x0620, 0x0000, 0x8000 /* -32768 */, 0x0100, 0x0A00}) {
    auto bytes = SmallFile(0x0600);
    PutLE16(bytes, kControlVersionPlainOffset, word);
    for (ReaderVariant v : kBothVariants) {
      EXPECT_EQ(OpenStatus(bytes, v), kReaderBadVersion) << std::hex << word;
    }
  }
}

TEST(Open, ShortFilesAreStatus2ByVariant) {
  // A 0x0500 file of 300 bytes: the console reads 264 control page bytes and
  // opens it with no pages; the wizard needs 404 and refuses it.
  FixtureOptions o;
  o.version = 0x0500;
  auto bytes = BuildDataFile(o, {}).bytes;
  bytes.resize(300);
  DataFile df = {};
  EXPECT_EQ(OpenStatus(bytes, ReaderVariant::Console, &df), kReaderOk);
  EXPECT_EQ(df.pageCount, 0);
  EXPECT_EQ(OpenStatus(bytes, ReaderVariant::Wizard), kReaderUnusable);
  bytes.resize(263);
  EXPECT_EQ(OpenStatus(bytes, ReaderVariant::Console), kReaderUnusable);
}

TEST(Open, SecondCopyPastTheEndIsStatus2FromVersion0600) {
  for (uint16_t version : {0x0600, 0x0610, 0x0700}) {
    auto bytes = SmallFile(version);
    bytes.resize(512 + 100);  // copy 2 at 512 is cut short
    for (ReaderVariant v : kBothVariants) {
      EXPECT_EQ(OpenStatus(bytes, v), kReaderUnusable) << std::hex << version;
    }
  }
  // Versions below 0x0600 never read copy 2.
  auto bytes = SmallFile(0x0500);
  bytes.resize(600);
  EXPECT_EQ(OpenStatus(bytes, ReaderVariant::Wizard), kReaderOk);
}

TEST(Open, DamagedGeometryIsStatus2) {
  for (uint16_t pageSize : {0, 8, 11}) {
    auto bytes = SmallFile(0x0600);
    PutLE16(bytes, kControlPageSizeOffset, pageSize);
    EXPECT_EQ(OpenStatus(bytes, ReaderVariant::Console), kReaderUnusable) << pageSize;
  }
  auto bytes = SmallFile(0x0400);
  PutLE16(bytes, kControlSlotLengthOffset, 0);
  for (ReaderVariant v : kBothVariants) EXPECT_EQ(OpenStatus(bytes, v), kReaderUnusable);
  // 12 is the smallest page size taken.
  auto tiny = SmallFile(0x0400);
  PutLE16(tiny, kControlPageSizeOffset, 12);
  PutLE16(tiny, kControlSlotLengthOffset, 2);
  EXPECT_EQ(OpenStatus(tiny, ReaderVariant::Console), kReaderOk);
}

// --- Fields and the copy choice ------------------------------------------------

TEST(Open, FieldsComeFromCopyOneAndTheCountFromTheCurrentCopy) {
  struct Case { uint16_t c1, c2; uint32_t expect; } cases[] = {
      {5, 5, 222},        // equal counters: copy 2
      {6, 5, 111},        // copy 1 greater
      {0xFFFF, 0, 111},   // plain unsigned comparison, no wrap-around
      {0, 0xFFFF, 222},
  };
  for (const Case& c : cases) {
    FixtureOptions o;
    o.version = 0x0610;
    o.copy1Counter = c.c1;
    o.copy2Counter = c.c2;
    o.copy1RecordCount = 111;
    o.copy2RecordCount = 222;
    auto bytes = BuildDataFile(o, MakeRecords(2, 16, 0, 1)).bytes;
    for (ReaderVariant v : kBothVariants) {
      DataFile df = {};
      ASSERT_EQ(OpenStatus(bytes, v, &df), kReaderOk);
      EXPECT_EQ(df.recordCount, c.expect) << c.c1 << " " << c.c2;
      EXPECT_EQ(df.version, 0x0610);
      EXPECT_EQ(df.pageSize, 512);
      EXPECT_EQ(df.recordLength, 16);
    }
  }
}

TEST(Open, OldVersionsTakeTheCountFromCopyOne) {
  FixtureOptions o;
  o.version = 0x0400;
  o.copy1RecordCount = 7;
  auto bytes = BuildDataFile(o, MakeRecords(2, 16, 0, 1)).bytes;
  // Garbage where a second copy would be is never looked at.
  for (size_t i = 512; i < 1024 && i < bytes.size(); ++i) bytes[i] = 0xAB;
  DataFile df = {};
  ASSERT_EQ(OpenStatus(bytes, ReaderVariant::Wizard, &df), kReaderOk);
  EXPECT_EQ(df.recordCount, 7u);
}

TEST(Open, RecordCountHalvesAreSwapped) {
  struct Case { uint8_t b[4]; uint32_t expect; } cases[] = {
      {{0, 0, 5, 0}, 5}, {{1, 0, 0, 0}, 65536}, {{1, 0, 2, 0}, 65538},
      {{0x34, 0x12, 0x78, 0x56}, 0x12345678},
  };
  for (const Case& c : cases) {
    auto bytes = SmallFile(0x0400);
    std::copy(c.b, c.b + 4, bytes.begin() + kControlRecordCountOffset);
    DataFile df = {};
    ASSERT_EQ(OpenStatus(bytes, ReaderVariant::Console, &df), kReaderOk);
    EXPECT_EQ(df.recordCount, c.expect);
  }
}

TEST(Open, LayoutDecidesVersionWordAndSlotDataOffset) {
  FixtureOptions o;
  o.version = 0x0700;
  o.fcLayout = true;
  o.negativeVersion = true;  // stored as minus 0x0700
  auto bytes = BuildDataFile(o, MakeRecords(1, 16, 0, 1)).bytes;
  EXPECT_EQ(bytes[kControlVersionFcOffset], 0x00);
  EXPECT_EQ(bytes[kControlVersionFcOffset + 1], 0xF9);
  DataFile df = {};
  ASSERT_EQ(OpenStatus(bytes, ReaderVariant::Console, &df), kReaderOk);
  EXPECT_EQ(df.version, 0x0700);
  EXPECT_EQ(df.slotDataOffset, 2);
  EXPECT_EQ(df.fragmentHeaderSize, 4);
}

TEST(Open, PageSizeAndFragmentHeaderByVersionClass) {
  struct Case { uint16_t version; uint8_t fragmentHeader; int32_t mapEntries; } cases[] = {
      {0x0300, 0, 0}, {0x0500, 0, 0}, {0x0600, 4, 1022}, {0x0610, 4, 1022},
      {0x0700, 4, 0}, {0x0800, 6, 0}, {0x0900, 6, 0},
  };
  for (const Case& c : cases) {
    auto bytes = SmallFile(c.version, 4096);
    if (c.version >= 0x0800) {
      // The word at 8 is not the page size for these versions.
      PutLE16(bytes, kControlPageSizeOffset, 1234);
    }
    DataFile df = {};
    ASSERT_EQ(OpenStatus(bytes, ReaderVariant::Console, &df), kReaderOk) << std::hex << c.version;
    EXPECT_EQ(df.pageSize, 4096);
    EXPECT_EQ(df.fragmentHeaderSize, c.fragmentHeader);
    EXPECT_EQ(df.mapEntriesPerPage, c.mapEntries);
  }
}

TEST(Open, InitialCursorStateByVariant) {
  auto bytes = SmallFile(0x0600);
  ScopedTempFile file(bytes);
  for (ReaderVariant v : kBothVariants) {
    DataFile df = {};
    ASSERT_EQ(OpenDataFile(file.path().c_str(), &df, v), kReaderOk);
    EXPECT_EQ(df.recordIndex, -1);
    EXPECT_EQ(df.nextSlot, 0xFFFFFFFFu);
    EXPECT_EQ(df.pageCursor, v == ReaderVariant::Console ? 1 : 0);
    EXPECT_EQ(df.variablePageBuffer, nullptr);  // fixed-length file
    EXPECT_EQ(df.pageCount, static_cast<int64_t>(bytes.size() / 512));
    CloseDataFile(&df, kReaderOk);
    EXPECT_EQ(df.file, nullptr);
    EXPECT_EQ(df.dataPages, nullptr);
    EXPECT_EQ(df.dataPageCount, 0u);
  }
}

TEST(Open, PageCountRoundsDown) {
  auto bytes = SmallFile(0x0400);
  bytes.resize(bytes.size() + 300, 0);
  DataFile df = {};
  ASSERT_EQ(OpenStatus(bytes, ReaderVariant::Console, &df), kReaderOk);
  EXPECT_EQ(df.pageCount, static_cast<int64_t>(bytes.size() / 512));
}
