// Variable-length records: pointers, fragment tables with gaps, the bit-15
// rule of the oldest versions, unlocatable pages, capacities and loops.
#include <gtest/gtest.h>

#include "tests/reader/reader_test_util.h"

using namespace readertest;
using fixture::BuildDataFile;
using fixture::FixtureOptions;
using fixture::FixtureRecord;
using fixture::PutLE16;
using fixture::PutPageHeader;
using fixture::ScopedTempFile;

namespace {

constexpr uint16_t kRecordLength = 10;

// Options for a file of kRecordLength-byte fixed parts with variable tails.
FixtureOptions VariableOptions(uint16_t version, uint16_t pageSize = FixtureOptions{}.pageSize) {
  FixtureOptions o;
  o.version = version;
  o.pageSize = pageSize;
  o.variableLength = true;
  o.recordLength = kRecordLength;
  return o;
}

// Fragment table entry `fragment` of the page starting at `page`.
void PutEntry(RawFile& f, size_t page, uint32_t fragment, uint16_t value) {
  const size_t word = ((f.options.pageSize - 1) >> 1) - fragment;
  PutLE16(f.bytes, page + 2 * word, value);
}

void PutOldPointer(RawFile& f, size_t at, uint32_t page, uint8_t fragment) {
  f.bytes[at] = static_cast<uint8_t>(page >> 16);
  f.bytes[at + 1] = static_cast<uint8_t>(page);
  f.bytes[at + 2] = static_cast<uint8_t>(page >> 8);
  f.bytes[at + 3] = fragment;
}

void Fill(RawFile& f, size_t from, size_t to, uint8_t first) {
  for (size_t i = from; i < to; ++i) f.bytes[i] = static_cast<uint8_t>(first + (i - from));
}

std::vector<uint8_t> Range(const RawFile& f, size_t from, size_t to) {
  return std::vector<uint8_t>(f.bytes.begin() + from, f.bytes.begin() + to);
}

// A variable-length file with one record at the start of the data page at
// physical `dataPage`: ten 'F' bytes, then the pointer.
RawFile VariableFile(uint16_t version, uint32_t pages, uint32_t dataPage,
                     uint32_t pointerPage, uint8_t fragment) {
  RawFile f(version, 512, pages, kRecordLength, kRecordLength + 4, 1);
  f.bytes[56] = 1;
  if (version >= 0x0600) f.bytes[512 + 56] = 1;
  PutPageHeader(f.bytes, f.Page(dataPage), version, 'D', 1, 1);
  const size_t slot = f.Page(dataPage) + 6;
  std::fill(f.bytes.begin() + slot, f.bytes.begin() + slot + kRecordLength, 'F');
  PutOldPointer(f, slot + kRecordLength, pointerPage, fragment);
  return f;
}

std::vector<uint8_t> Fixed() { return std::vector<uint8_t>(kRecordLength, 'F'); }

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

ReadResult ReadOne(const RawFile& f, ReaderVariant v, uint32_t capacity = 64000) {
  ScopedTempFile file(f.bytes);
  return ReadAll(file.path(), v, capacity);
}

}  // namespace

// --- Versions 0x0300 to 0x0500: bit 15 says "a pointer comes first" ---------

TEST(VariableOld, Bit15FragmentsCarryTheNextPointer) {
  // Data page 1; variable pages 2 and 3 (unmapped: logical = physical).
  RawFile f = VariableFile(0x0500, 4, 1, 2, 0);
  const size_t v2 = f.Page(2), v3 = f.Page(3);
  PutEntry(f, v2, 0, 0x8100);  // pointer first
  PutEntry(f, v2, 1, 0x0180);
  PutOldPointer(f, v2 + 0x100, 3, 2);
  Fill(f, v2 + 0x104, v2 + 0x180, 1);
  // Page 3: fragment 2, then an unused entry, then fragment 4's start.
  PutEntry(f, v3, 2, 0x0020);
  PutEntry(f, v3, 3, 0xFFFF);
  PutEntry(f, v3, 4, 0x0050);
  Fill(f, v3 + 0x20, v3 + 0x50, 0x90);
  const auto expected = Concat(Concat(Fixed(), Range(f, v2 + 0x104, v2 + 0x180)),
                               Range(f, v3 + 0x20, v3 + 0x50));
  for (ReaderVariant v : kBothVariants) {
    ReadResult r = ReadOne(f, v);
    ASSERT_EQ(r.records.size(), 1u) << VariantName(v);
    EXPECT_EQ(r.records[0].size(), 10u + 124 + 48);
    EXPECT_EQ(r.records[0], expected);
  }
}

TEST(VariableOld, WithoutBit15TheWholeFragmentIsDataAndTheChainEnds) {
  RawFile f = VariableFile(0x0500, 3, 1, 2, 0);
  const size_t v2 = f.Page(2);
  PutEntry(f, v2, 0, 0x0100);
  PutEntry(f, v2, 1, 0x0180);
  PutOldPointer(f, v2 + 0x100, 2, 0);  // looks like a pointer; it is data
  Fill(f, v2 + 0x104, v2 + 0x180, 1);
  ReadResult r = ReadOne(f, ReaderVariant::Console);
  ASSERT_EQ(r.records.size(), 1u);
  EXPECT_EQ(r.records[0], Concat(Fixed(), Range(f, v2 + 0x100, v2 + 0x180)));
}

TEST(VariableOld, EndMarkerMeansNoVariablePart) {
  for (uint8_t fragment : {0, 7, 255}) {
    RawFile f = VariableFile(0x0400, 2, 1, 0xFFFFFF, fragment);
    ReadResult r = ReadOne(f, ReaderVariant::Wizard);
    ASSERT_EQ(r.records.size(), 1u);
    EXPECT_EQ(r.records[0], Fixed());
    EXPECT_EQ(r.statuses[0], kReaderOk);
  }
}

// --- Versions 0x0600 to 0x0700: 4-byte fragment headers ----------------------

TEST(VariableMiddle, GapsInTheFragmentTable) {
  // Logical 1 -> physical 4 (data), logical 2 -> physical 5 (variable).
  RawFile f = VariableFile(0x0600, 6, 4, 2, 2);
  f.PutMapPage(2, 1, {{1, 4}, {2, 5}});
  f.PutMapPage(3, 1, {{1, 4}, {2, 5}});
  const size_t v = f.Page(5);
  PutPageHeader(f.bytes, v, 0x0600, 'V', 2, 1);
  PutEntry(f, v, 2, 0x0100);
  PutEntry(f, v, 3, 0xFFFF);
  PutEntry(f, v, 4, 0x0180);
  PutOldPointer(f, v + 0x100, 0xFFFFFF, 0);
  Fill(f, v + 0x104, v + 0x180, 0x40);
  for (ReaderVariant variant : kBothVariants) {
    ReadResult r = ReadOne(f, variant);
    ASSERT_EQ(r.records.size(), 1u);
    EXPECT_EQ(r.records[0], Concat(Fixed(), Range(f, v + 0x104, v + 0x180)));
  }
}

TEST(VariableMiddle, PointerBytesDecodeToPageAndFragment) {
  // 01 34 12 05: page 0x011234, fragment 5; 0x0700 finds it by header number.
  RawFile f = VariableFile(0x0700, 6, 4, 0x011234, 5);
  f.PutMapPage(2, 1, {{1, 4}});
  f.PutMapPage(3, 1, {{1, 4}});
  EXPECT_EQ(f.bytes[f.Page(4) + 6 + kRecordLength], 0x01);
  EXPECT_EQ(f.bytes[f.Page(4) + 6 + kRecordLength + 1], 0x34);
  EXPECT_EQ(f.bytes[f.Page(4) + 6 + kRecordLength + 2], 0x12);
  const size_t v = f.Page(5);
  PutPageHeader(f.bytes, v, 0x0700, 'V', 0x011234, 1);
  PutEntry(f, v, 5, 0x0040);
  PutEntry(f, v, 6, 0x0050);
  PutOldPointer(f, v + 0x40, 0xFFFFFF, 0);
  Fill(f, v + 0x44, v + 0x50, 0x70);
  for (ReaderVariant variant : kBothVariants) {
    ReadResult r = ReadOne(f, variant);
    ASSERT_EQ(r.records.size(), 1u);
    EXPECT_EQ(r.records[0], Concat(Fixed(), Range(f, v + 0x44, v + 0x50)));
  }
}

TEST(VariableMiddle, UnlocatablePagesEndTheChainOrFailByFragmentNumber) {
  // 0x0700: page 77 is not in the list.  0x0600: the map has no page 2.
  for (uint16_t version : {0x0600, 0x0700}) {
    for (uint8_t fragment : {5, 254, 255}) {
      RawFile f = VariableFile(version, 5, 4, version == 0x0600 ? 2 : 77, fragment);
      f.PutMapPage(2, 1, {{1, 4}, {2, 0xFFFFFF}});
      f.PutMapPage(3, 1, {{1, 4}, {2, 0xFFFFFF}});
      ScopedTempFile file(f.bytes);
      DataFile df = {};
      ASSERT_EQ(OpenDataFile(file.path().c_str(), &df, ReaderVariant::Console), kReaderOk);
      std::vector<uint8_t> area(100, 0);
      RecordBuffer rb = {100, 0};
      const ReaderStatus s = ReadNextRecord(&df, &rb, area.data());
      if (fragment == 255) {
        EXPECT_EQ(s, kReaderUnusable);
        EXPECT_EQ(rb.length, 100u);  // unchanged
      } else {
        EXPECT_EQ(s, kReaderOk);
        EXPECT_EQ(rb.length, kRecordLength);
        EXPECT_TRUE(std::equal(area.begin(), area.begin() + kRecordLength, Fixed().begin()));
      }
      CloseDataFile(&df, kReaderOk);
    }
  }
}

// --- Capacities, long records, loops (fixture-built chains) -------------------

TEST(VariableChains, ExactFitOverflowAndCapacityZero) {
  for (uint16_t version : {0x0400, 0x0610, 0x0700}) {
    FixtureOptions o = VariableOptions(version);
    o.maxFragmentData = 30;
    FixtureRecord record;
    record.fixed.assign(kRecordLength, 'K');
    for (int i = 0; i < 90; ++i) record.variable.push_back(static_cast<uint8_t>(i + 1));
    auto built = BuildDataFile(o, {record, record});
    const auto whole = Expected(built.records[0]);
    ScopedTempFile file(built.bytes);
    DataFile df = {};
    ASSERT_EQ(OpenDataFile(file.path().c_str(), &df, ReaderVariant::Console), kReaderOk);
    std::vector<uint8_t> area(200, 0xEE);
    RecordBuffer rb = {100, 0};
    EXPECT_EQ(ReadNextRecord(&df, &rb, area.data()), kReaderOk);  // exactly 100
    EXPECT_EQ(rb.length, 100u);
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), area.begin()));
    std::fill(area.begin(), area.end(), 0xEE);
    rb.length = 99;
    EXPECT_EQ(ReadNextRecord(&df, &rb, area.data()), kReaderTooSmall);
    EXPECT_EQ(rb.length, 100u);
    EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + 99, area.begin()));
    EXPECT_EQ(area[99], 0xEE);
    CloseDataFile(&df, kReaderOk);

    ASSERT_EQ(OpenDataFile(file.path().c_str(), &df, ReaderVariant::Wizard), kReaderOk);
    rb.length = 0;
    EXPECT_EQ(ReadNextRecord(&df, &rb, area.data()), kReaderTooSmall);
    EXPECT_EQ(rb.length, 100u);
    CloseDataFile(&df, kReaderOk);
  }
}

TEST(VariableChains, LengthAbove65535IsReportedIn16Bits) {
  const FixtureOptions o = VariableOptions(0x0610, 4096);
  FixtureRecord record;
  record.fixed.assign(kRecordLength, 'L');
  for (int i = 0; i < 70000; ++i) record.variable.push_back(static_cast<uint8_t>(i * 7));
  auto built = BuildDataFile(o, {record});
  const auto whole = Expected(built.records[0]);
  ScopedTempFile file(built.bytes);
  for (ReaderVariant v : kBothVariants) {
    ReadResult r = ReadAll(file.path(), v, 64000);
    ASSERT_EQ(r.records.size(), 1u);
    EXPECT_EQ(r.statuses[0], kReaderTooSmall);
    EXPECT_EQ(r.records[0].size(), (70010u & 0xFFFF));  // what length reported
    DataFile df = {};
    ASSERT_EQ(OpenDataFile(file.path().c_str(), &df, v), kReaderOk);
    std::vector<uint8_t> area(64000);
    RecordBuffer rb = {64000, 0};
    EXPECT_EQ(ReadNextRecord(&df, &rb, area.data()), kReaderTooSmall);
    EXPECT_EQ(rb.length, 70010u & 0xFFFF);
    EXPECT_TRUE(std::equal(area.begin(), area.end(), whole.begin()));
    CloseDataFile(&df, kReaderOk);
  }
}

TEST(VariableChains, ChainLeadingBackEndsWithWhatWasAssembled) {
  FixtureOptions o = VariableOptions(0x0600);
  o.maxFragmentData = 20;
  FixtureRecord record;
  record.fixed.assign(kRecordLength, 'C');
  for (int i = 0; i < 60; ++i) record.variable.push_back(static_cast<uint8_t>(0x30 + i));
  auto built = BuildDataFile(o, {record});
  // Fragments 0, 1, 2 on the first variable page; make fragment 2 point
  // back to fragment 1 instead of ending.
  const size_t v = static_cast<size_t>(fixture::PhysicalPageOffset(o, built.variablePages[0]));
  const size_t tableWord = ((512 - 1) >> 1) - 2;
  const size_t frag2 = v + (built.bytes[v + 2 * tableWord] | (built.bytes[v + 2 * tableWord + 1] << 8));
  std::copy(built.bytes.begin() + frag2 - 24, built.bytes.begin() + frag2 - 21,
            built.bytes.begin() + frag2);  // fragment 1's own pointer to 2...
  built.bytes[frag2 + 3] = 1;               // ...now aimed at fragment 1
  ScopedTempFile file(built.bytes);
  for (ReaderVariant variant : kBothVariants) {
    ReadResult r = ReadAll(file.path(), variant);
    ASSERT_EQ(r.records.size(), 1u);
    EXPECT_EQ(r.statuses[0], kReaderOk);
    EXPECT_EQ(r.records[0], Expected(built.records[0]));
  }
}

// The physical pass lists variable pages by the number they carry.  Pages
// that lie out of order in the file must still be found: the list is
// searched by halves while its numbers ascend and indexed from the first
// number out of order on.
TEST(VariableChains, VariablePagesOutOfFileOrderAreStillFound) {
  FixtureOptions o = VariableOptions(0x0700, 1024);
  o.maxFragmentData = 40;
  std::vector<FixtureRecord> records(60);
  for (size_t i = 0; i < records.size(); ++i) {
    records[i].fixed.assign(kRecordLength, static_cast<uint8_t>('a' + i % 26));
    for (size_t k = 0; k < 300 + 7 * i; ++k) {
      records[i].variable.push_back(static_cast<uint8_t>(i * 31 + k));
    }
  }
  auto built = BuildDataFile(o, records);
  ASSERT_GE(built.variablePages.size(), 6u);
  const auto pageAt = [&](uint32_t physical) {
    return built.bytes.begin() + fixture::PhysicalPageOffset(o, physical);
  };
  // The last variable page swapped with the second: the pass meets the
  // highest number early, and every page after it out of order.
  const uint32_t second = built.variablePages[1];
  const uint32_t last = built.variablePages.back();
  std::swap_ranges(pageAt(second), pageAt(second) + o.pageSize, pageAt(last));
  ScopedTempFile swapped(built.bytes);
  ReadResult r = ReadAll(swapped.path(), ReaderVariant::Console);
  ASSERT_EQ(r.openStatus, kReaderOk);
  ASSERT_EQ(r.records.size(), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(r.records[i], Expected(built.records[i])) << "record " << i;
  }
}
