// Large files: many pages, logical pages beyond 65535, offsets beyond 2 GiB,
// and the data file left untouched by a whole walk.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>

#include "reader/page_map.h"
#include "tests/reader/reader_test_util.h"

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace readertest;
using fixture::BuildDataFile;
using fixture::FixtureOptions;
using fixture::MakeRecords;
using fixture::PutPageHeader;
using fixture::ScopedTempFile;

TEST(Scale, HundredsOfThousandsOfPagesOpenQuickly) {
  // 250 000 data pages of 256 bytes, one record each, written in descending
  // page number order so that the sort has work to do.  A directory built by
  // linear search would take hours here; ctest's timeout catches that.
  constexpr uint32_t kPages = 250000;
  for (uint16_t version : {0x0500, 0x0700}) {
    RawFile f(version, 256, 2, 8, 8, kPages);
    f.bytes.resize(static_cast<size_t>(kPages + 2) * 256, 0);
    for (uint32_t i = 0; i < kPages; ++i) {
      const size_t page = f.Page(2 + i);
      PutPageHeader(f.bytes, page, version, 'D', kPages - i, 1);
      std::snprintf(reinterpret_cast<char*>(&f.bytes[page + 6]), 8, "%07u", kPages - i);
    }
    ScopedTempFile file(f.bytes);
    DataFile df = {};
    ASSERT_EQ(OpenDataFile(file.path().c_str(), &df, ReaderVariant::Wizard), kReaderOk);
    ASSERT_EQ(df.dataPageCount, kPages);
    if (version == 0x0700) {
      EXPECT_EQ(df.dataPages[0].pageNumber, 1u);
      EXPECT_EQ(df.dataPages[kPages - 1].pageNumber, kPages);
    }
    uint32_t n = 0;
    std::vector<uint8_t> area(64000);
    RecordBuffer rb = {64000, 0};
    while (ReadNextRecord(&df, &rb, area.data()) == kReaderOk) {
      if (n == 0) {
        const char* first = version == 0x0700 ? "0000001" : "0250000";
        EXPECT_EQ(std::string(reinterpret_cast<char*>(area.data()), 7), first);
      }
      ++n;
      rb.length = 64000;
    }
    EXPECT_EQ(n, kPages);
    CloseDataFile(&df, kReaderOk);
  }
}

TEST(LargeFiles, Version0600DataPagesOnBothSidesOfLogicalPage65536) {
  // 512-byte pages: logical page 65536 lies past 32 MiB, and the 4096-byte
  // adjustment is crossed on the way.
  FixtureOptions o;
  o.version = 0x0600;
  o.pageSize = 512;
  o.recordLength = 200;
  o.skipPages = 65533;  // the first data pages get logical 65534, 65535, ...
  auto built = BuildDataFile(o, MakeRecords(10, 200, 0, 4));
  ScopedTempFile file(built.bytes);
  for (ReaderVariant v : kBothVariants) {
    ReadResult r = ReadAll(file.path(), v);
    ASSERT_EQ(r.records.size(), 10u) << VariantName(v);
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(r.records[i], built.records[i].fixed);
  }
}

TEST(LargeFiles, PointersThatWouldWrapIn32BitsFailInsteadOfReadingAnotherPage) {
  // A 0x0500 record pointing at page 0x100001 of a 4096-byte-page file:
  // 0x100001 * 4096 = 4 GiB + 4096, which a 32-bit offset would turn into
  // the offset of page 1.  The page lies far past the end: status 2.
  RawFile f(0x0500, 4096, 3, 10, 14, 1);
  f.bytes[56] = 1;
  PutPageHeader(f.bytes, f.Page(1), 0x0500, 'D', 1, 1);
  const size_t slot = f.Page(1) + 6;
  std::fill(f.bytes.begin() + slot, f.bytes.begin() + slot + 10, 'W');
  f.bytes[slot + 10] = 0x10;  // page bits 16-23
  f.bytes[slot + 11] = 0x01;  // bits 0-7
  f.bytes[slot + 12] = 0x00;  // bits 8-15
  f.bytes[slot + 13] = 0;
  DataFile df;
  ASSERT_EQ(OpenBytes(f.bytes, ReaderVariant::Console, &df), kReaderOk);
  EXPECT_EQ(PageOffset(&df, 0x100001), int64_t{0x100001} * 4096);
  std::vector<uint8_t> area(64000);
  RecordBuffer rb = {64000, 0};
  EXPECT_EQ(ReadNextRecord(&df, &rb, area.data()), kReaderUnusable);
  CloseDataFile(&df, kReaderOk);
}

#ifndef _WIN32
TEST(LargeFiles, RecordsBeyondTwoGibibytesOfASparseFile) {
  // A 0x0400 file of 4096-byte pages with its only data page at physical
  // page 524290, just past 2 GiB; the pages before it are holes.
  constexpr uint32_t kPage = 524290;
  RawFile f(0x0400, 4096, 1, 16, 16, 1);
  std::vector<uint8_t> page(4096, 0);
  PutPageHeader(page, 0, 0x0400, 'D', kPage, 1);
  std::fill(page.begin() + 6, page.begin() + 22, 'G');
  ScopedTempFile file(f.bytes);
  FILE* out = fopen(file.path().c_str(), "r+b");
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(fseeko(out, static_cast<off_t>(kPage) * 4096, SEEK_SET), 0);
  ASSERT_EQ(fwrite(page.data(), 1, page.size(), out), page.size());
  ASSERT_EQ(fclose(out), 0);
  for (ReaderVariant v : kBothVariants) {
    DataFile df = {};
    ASSERT_EQ(OpenDataFile(file.path().c_str(), &df, v), kReaderOk);
    if (v == ReaderVariant::Wizard) {
      ASSERT_EQ(df.dataPageCount, 1u);
      EXPECT_EQ(df.dataPages[0].offset, int64_t{kPage} * 4096);
    }
    std::vector<uint8_t> area(64000);
    RecordBuffer rb = {64000, 0};
    ASSERT_EQ(ReadNextRecord(&df, &rb, area.data()), kReaderOk) << VariantName(v);
    EXPECT_EQ(std::vector<uint8_t>(area.begin(), area.begin() + rb.length),
              std::vector<uint8_t>(16, 'G'));
    CloseDataFile(&df, kReaderOk);
  }
}
#endif

TEST(ReadOnly, WalkingAWholeFileChangesNeitherBytesNorModificationTime) {
  FixtureOptions o;
  o.version = 0x0610;
  o.variableLength = true;
  o.maxFragmentData = 100;
  auto built = BuildDataFile(o, MakeRecords(60, 16, 400, 8));
  ScopedTempFile file(built.bytes);
#ifndef _WIN32
  ASSERT_EQ(chmod(file.path().c_str(), 0444), 0);
#endif
  struct stat before = {};
  ASSERT_EQ(stat(file.path().c_str(), &before), 0);
  for (ReaderVariant v : kBothVariants) {
    ReadResult r = ReadAll(file.path(), v);
    EXPECT_EQ(r.records.size(), 60u);
  }
  struct stat after = {};
  ASSERT_EQ(stat(file.path().c_str(), &after), 0);
  EXPECT_EQ(fixture::ReadFileBytes(file.path()), built.bytes);
  EXPECT_EQ(before.st_mtime, after.st_mtime);
  EXPECT_EQ(before.st_size, after.st_size);
#ifndef _WIN32
  chmod(file.path().c_str(), 0644);
#endif
}
