// The record cursor: empty-slot tests, the two ways from data page to data
// page, the end test and the capacity rules.
#include <gtest/gtest.h>

#include <cstring>

#include "reader/page_directory.h"
#include "reader/slots.h"
#include "tests/reader/reader_test_util.h"

using namespace readertest;
using fixture::BuildDataFile;
using fixture::FixtureOptions;
using fixture::MakeRecords;
using fixture::PutPageHeader;
using fixture::ScopedTempFile;

namespace {

// One data page at physical page 1 (logical 1) holding the given slot
// contents, each slot `slotLength` bytes, for an unmapped version.
RawFile OnePage(uint16_t version, uint16_t slotLength,
                const std::vector<std::vector<uint8_t>>& slots, uint32_t recordCount) {
  RawFile f(version, 512, 2, slotLength, slotLength, recordCount);
  PutPageHeader(f.bytes, f.Page(1), version, 'D', 1, 1);
  for (size_t i = 0; i < slots.size(); ++i) {
    std::copy(slots[i].begin(), slots[i].end(),
              f.bytes.begin() + f.Page(1) + 6 + i * slotLength);
  }
  return f;
}

std::vector<uint8_t> Slot(uint16_t length, std::initializer_list<std::pair<int, uint8_t>> set) {
  std::vector<uint8_t> s(length, 0);
  for (auto [at, value] : set) s[at] = value;
  return s;
}

// Indexes (into the slot list) of the slots handed out as records.
std::vector<int> HandedOut(const RawFile& f, ReaderVariant v,
                           const std::vector<std::vector<uint8_t>>& slots) {
  ScopedTempFile file(f.bytes);
  ReadResult r = ReadAll(file.path(), v);
  EXPECT_EQ(r.openStatus, kReaderOk);
  std::vector<int> which;
  for (const auto& rec : r.records) {
    for (size_t i = 0; i < slots.size(); ++i) {
      if (rec == slots[i]) { which.push_back(static_cast<int>(i)); break; }
    }
  }
  return which;
}

}  // namespace

// --- Empty slots ---------------------------------------------------------------

TEST(EmptySlots, Version0300DiffersBetweenVariants) {
  const std::vector<std::vector<uint8_t>> slots = {
      Slot(12, {{0, 'A'}, {5, 'x'}}),   // 0: ordinary record
      Slot(12, {{6, 'y'}}),             // 1: first word zero, bytes later
      Slot(12, {{1, 'z'}, {3, 'w'}}),   // 2: only bytes 0 to 3
      Slot(12, {}),                     // 3: all zero
      Slot(12, {{2, 'q'}, {11, 'r'}}),  // 4: first word zero, last byte set
  };
  RawFile f = OnePage(0x0300, 12, slots, 100);
  EXPECT_EQ(HandedOut(f, ReaderVariant::Console, slots), (std::vector<int>{0}));
  EXPECT_EQ(HandedOut(f, ReaderVariant::Wizard, slots), (std::vector<int>{0, 1, 2, 4}));
}

TEST(EmptySlots, Versions0400And0500ScanFromOffsetFour) {
  // A freed slot keeps the 4-byte link of the free-slot chain, then zeros;
  // a live 10-byte record may well have zero bytes 8 and 9.
  const std::vector<std::vector<uint8_t>> slots = {
      Slot(10, {{0, 0x12}, {1, 0x34}, {2, 0x01}}),             // 0: freed
      Slot(10, {{0, 'K'}, {4, 'a'}, {7, 'b'}}),                // 1: record, zero 8 and 9
      Slot(10, {{5, 1}}),                                      // 2: record
      Slot(10, {{0, 'Z'}, {1, 'Z'}, {2, 'Z'}, {3, 'Z'}}),      // 3: freed
      Slot(10, {{9, 1}}),                                      // 4: record
  };
  for (uint16_t version : {0x0400, 0x0500}) {
    RawFile f = OnePage(version, 10, slots, 100);
    for (ReaderVariant v : kBothVariants) {
      EXPECT_EQ(HandedOut(f, v, slots), (std::vector<int>{1, 2, 4}))
          << std::hex << version << " " << VariantName(v);
    }
  }
}

TEST(EmptySlots, FromVersion0600TheFirstWordDecides) {
  const std::vector<std::vector<uint8_t>> slots = {
      Slot(10, {{2, 'x'}, {9, 'y'}}),  // first word zero: empty
      Slot(10, {{1, 1}}),              // first word only: a record
      Slot(10, {{0, 'R'}, {5, 'e'}}),
  };
  // Logical page 1 is physical page 4 (pages 2 and 3 hold the map).
  RawFile f(0x0700, 512, 5, 10, 10, 100);
  f.PutMapPage(2, 1, {{1, 4}});
  f.PutMapPage(3, 1, {{1, 4}});
  PutPageHeader(f.bytes, f.Page(4), 0x0700, 'D', 1, 1);
  for (size_t i = 0; i < slots.size(); ++i) {
    std::copy(slots[i].begin(), slots[i].end(), f.bytes.begin() + f.Page(4) + 6 + i * 10);
  }
  for (ReaderVariant v : kBothVariants) {
    EXPECT_EQ(HandedOut(f, v, slots), (std::vector<int>{1, 2})) << VariantName(v);
  }
}

// Slots in a row: for every rule, on pages whose slots are empty, used, or
// used only in the bytes one rule looks at, the count is what SlotIsEmpty
// calls slot by slot give, the last slot reaching past the page included.
TEST(EmptySlots, UsedSlotsInRowCountsWhatSlotIsEmptyFinds) {
  const EmptySlotRule rules[] = {
      EmptySlotRule::FirstWordThenScanFrom4, EmptySlotRule::ScanFrom0,
      EmptySlotRule::ScanFrom4,              EmptySlotRule::FirstWord,
      EmptySlotRule::UsedByteAt4,            EmptySlotRule::UsedMarkerAt4,
      EmptySlotRule::UsedMarkerAt6};
  const uint32_t pageSize = 512;
  const uint32_t slotLength = 14;
  const uint32_t slots = pageSize / slotLength + 1;  // the last one is cut by the page end
  uint32_t state = 20261211;
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<uint8_t> page(pageSize, 0);
    for (uint32_t i = 0; i < pageSize; ++i) {
      state = state * 1103515245u + 12345u;
      // Mostly zeros, so that every rule sees empty and used slots.
      if ((state >> 16) % 5 == 0) page[i] = static_cast<uint8_t>(state >> 24);
    }
    for (EmptySlotRule rule : rules) {
      for (uint32_t first = 0; first < slots; ++first) {
        uint32_t expected = 0;
        while (first + expected < slots &&
               !SlotIsEmpty(rule, page.data(), pageSize, (first + expected) * slotLength,
                            slotLength)) {
          ++expected;
        }
        ASSERT_EQ(UsedSlotsInRow(rule, page.data(), pageSize, first * slotLength, slotLength,
                                 slots - first),
                  expected)
            << "rule " << static_cast<int>(rule) << ", trial " << trial << ", slot " << first;
      }
      EXPECT_EQ(UsedSlotsInRow(rule, page.data(), pageSize, 0, slotLength, 0), 0u);
    }
  }
}

// --- Walking the pages ---------------------------------------------------------

TEST(Cursor, RecordCountEndsTheWalk) {
  FixtureOptions o;
  o.version = 0x0500;
  o.recordLength = 20;
  auto records = MakeRecords(10, 20, 0, 3);
  for (int64_t announced : {0, 1, 4}) {
    o.copy1RecordCount = announced;
    auto built = BuildDataFile(o, records);
    ScopedTempFile file(built.bytes);
    for (ReaderVariant v : kBothVariants) {
      ReadResult r = ReadAll(file.path(), v);
      ASSERT_EQ(r.records.size(), static_cast<size_t>(announced));
      EXPECT_EQ(r.endStatus, kReaderEnd);
    }
  }
}

TEST(Cursor, RecordCountZeroReadsNoPage) {
  FixtureOptions o;
  o.version = 0x0600;
  o.copy2RecordCount = 0;
  auto built = BuildDataFile(o, MakeRecords(3, 16, 0, 3));
  ScopedTempFile file(built.bytes);
  DataFile df = {};
  ASSERT_EQ(OpenDataFile(file.path().c_str(), &df, ReaderVariant::Console), kReaderOk);
  RecordBuffer rb = {64000, 0};
  EXPECT_EQ(ReadNextRecord(&df, &rb, nullptr), kReaderEnd);
  EXPECT_EQ(rb.length, 64000u);
  EXPECT_EQ(df.pageCursor, 1);  // no page was looked for
  EXPECT_EQ(ReadNextRecord(nullptr, &rb, nullptr), kReaderNoDataFile);
  CloseDataFile(&df, kReaderOk);
}

TEST(Cursor, EmptyFirstPageMovesOnWithinOneCall) {
  FixtureOptions o;
  o.version = 0x0610;
  o.recordLength = 100;
  auto built = BuildDataFile(o, MakeRecords(8, 100, 0, 3));
  // Clear every slot of the first data page.
  const size_t first = built.bytes.size() > 0
                           ? static_cast<size_t>(fixture::PhysicalPageOffset(o, built.dataPages[0]))
                           : 0;
  std::fill(built.bytes.begin() + first + 6, built.bytes.begin() + first + 512, 0);
  ScopedTempFile file(built.bytes);
  const uint32_t perPage = (512 - 6) / built.slotLength;
  for (ReaderVariant v : kBothVariants) {
    ReadResult r = ReadAll(file.path(), v);
    ASSERT_FALSE(r.records.empty());
    EXPECT_EQ(r.records[0], Expected(built.records[perPage]));
    EXPECT_EQ(r.records.size(), built.records.size() - perPage);
  }
}

TEST(Cursor, CapacityZeroAndShortCapacity) {
  FixtureOptions o;
  o.version = 0x0400;
  o.recordLength = 30;
  auto built = BuildDataFile(o, MakeRecords(3, 30, 0, 5));
  ScopedTempFile file(built.bytes);
  DataFile df = {};
  ASSERT_EQ(OpenDataFile(file.path().c_str(), &df, ReaderVariant::Console), kReaderOk);
  std::vector<uint8_t> area(64, 0xEE);
  RecordBuffer rb = {0, 0};
  EXPECT_EQ(ReadNextRecord(&df, &rb, area.data()), kReaderTooSmall);
  EXPECT_EQ(rb.length, 30u);
  EXPECT_EQ(area[0], 0xEE);  // nothing copied
  rb.length = 7;
  EXPECT_EQ(ReadNextRecord(&df, &rb, area.data()), kReaderTooSmall);
  EXPECT_EQ(rb.length, 30u);
  EXPECT_TRUE(std::equal(area.begin(), area.begin() + 7, built.records[1].fixed.begin()));
  EXPECT_EQ(area[7], 0xEE);
  rb.length = 30;  // exact fit
  EXPECT_EQ(ReadNextRecord(&df, &rb, area.data()), kReaderOk);
  EXPECT_TRUE(std::equal(area.begin(), area.begin() + 30, built.records[2].fixed.begin()));
  rb.length = 64000;
  EXPECT_EQ(ReadNextRecord(&df, &rb, area.data()), kReaderEnd);
  EXPECT_EQ(rb.length, 64000u);
  CloseDataFile(&df, kReaderOk);
}

TEST(Cursor, SlotPositionsAndSlotDataOffset) {
  // 4096-byte pages with 100-byte slots: 40 slots, the last at 6 + 39 * 100;
  // in the "FC" layout record data starts 2 bytes into the slot.
  FixtureOptions o;
  o.version = 0x0600;
  o.pageSize = 4096;
  o.fcLayout = true;
  o.recordLength = 98;
  o.slotLength = 100;
  auto built = BuildDataFile(o, MakeRecords(45, 98, 0, 9));
  const size_t page = static_cast<size_t>(fixture::PhysicalPageOffset(o, built.dataPages[0]));
  EXPECT_EQ(built.bytes[page + 6 + 2], 'R');
  EXPECT_EQ(built.bytes[page + 6 + 39 * 100 + 2 + 7], '0');  // "R0000040"
  ScopedTempFile file(built.bytes);
  for (ReaderVariant v : kBothVariants) {
    ReadResult r = ReadAll(file.path(), v);
    ASSERT_EQ(r.records.size(), 45u);
    EXPECT_EQ(r.records[39], built.records[39].fixed);
    EXPECT_EQ(r.records[40], built.records[40].fixed);
  }
}

TEST(Cursor, RecordRunningPastItsSlotAndPageReadsZeros) {
  // The control page claims 40-byte records in 10-byte slots: a record's
  // bytes past its slot are the page's next bytes, and past the page zeros.
  // The slot count (512 - 2) / 10 admits a last slot that ends 4 bytes
  // beyond the page.
  RawFile f(0x0400, 512, 2, 40, 10, 100);
  PutPageHeader(f.bytes, f.Page(1), 0x0400, 'D', 1, 1);
  for (size_t i = f.Page(1) + 6; i < f.Page(1) + 512; ++i) f.bytes[i] = 0x11;
  ScopedTempFile file(f.bytes);
  ReadResult r = ReadAll(file.path(), ReaderVariant::Console);
  ASSERT_EQ(r.records.size(), 51u);
  EXPECT_EQ(r.records[0], std::vector<uint8_t>(40, 0x11));
  std::vector<uint8_t> tail(40, 0);
  std::fill(tail.begin(), tail.begin() + 6, 0x11);  // slot 50 starts at 506
  EXPECT_EQ(r.records.back(), tail);
}

TEST(Cursor, ConsoleRejectsStaleCopiesOf0600PagesWizardReadsThem) {
  FixtureOptions o;
  o.version = 0x0600;
  o.recordLength = 200;
  auto built = BuildDataFile(o, MakeRecords(6, 200, 0, 2));  // 2 per page
  ASSERT_EQ(built.dataPages.size(), 3u);
  // The second data page claims to be logical page 0x010002 instead of 2.
  const size_t second = static_cast<size_t>(fixture::PhysicalPageOffset(o, built.dataPages[1]));
  built.bytes[second] = 0x01;
  ScopedTempFile file(built.bytes);
  ReadResult console = ReadAll(file.path(), ReaderVariant::Console);
  ASSERT_EQ(console.records.size(), 4u);
  EXPECT_EQ(console.records[2], built.records[4].fixed);
  ReadResult wizard = ReadAll(file.path(), ReaderVariant::Wizard);
  ASSERT_EQ(wizard.records.size(), 6u);  // sorted: page 0x010002 comes last
  EXPECT_EQ(wizard.records[4], built.records[2].fixed);
}

TEST(Cursor, ConsoleRejects0300PagesWithZeroHeaderBytes) {
  const std::vector<std::vector<uint8_t>> slots = {Slot(12, {{2, 'A'}, {5, 'B'}})};
  RawFile f = OnePage(0x0300, 12, {}, 100);
  // Bit 15 of the word at 4 set, bytes 4, 6 and 7 zero; slot 0 begins at 6
  // and its first word is zero, so the wizard sees bytes 2 and 5.
  f.bytes[f.Page(1) + 4] = 0;
  f.bytes[f.Page(1) + 5] = 0x80;
  std::copy(slots[0].begin(), slots[0].end(), f.bytes.begin() + f.Page(1) + 6);
  EXPECT_TRUE(HandedOut(f, ReaderVariant::Console, slots).empty());
  EXPECT_EQ(HandedOut(f, ReaderVariant::Wizard, slots), (std::vector<int>{0}));
}

TEST(Cursor, ConsolePassesOverPagesBeyondTheEndAndFailsOnThePageAtTheEnd) {
  // 0x0600: logical 1 -> page past pageSize * pageCount (skipped without a
  // read), logical 2 -> a data page, logical 3 -> exactly the end of file.
  RawFile f(0x0600, 512, 6, 16, 16, 100);
  f.PutMapPage(2, 1, {{1, 900}, {2, 5}, {3, 6}});
  f.PutMapPage(3, 1, {{1, 900}, {2, 5}, {3, 6}});
  PutPageHeader(f.bytes, f.Page(5), 0x0600, 'D', 2, 1);
  f.bytes[f.Page(5) + 6] = 'x';
  ScopedTempFile file(f.bytes);
  ReadResult r = ReadAll(file.path(), ReaderVariant::Console);
  EXPECT_EQ(r.records.size(), 1u);
  EXPECT_EQ(r.endStatus, kReaderUnusable);
  // The wizard has a list: it ends with 5 when the list is used up.
  ReadResult w = ReadAll(file.path(), ReaderVariant::Wizard);
  EXPECT_EQ(w.records.size(), 1u);
  EXPECT_EQ(w.endStatus, kReaderEnd);
}

TEST(Cursor, MoreRecordsAnnouncedThanStoredInUnmappedVersions) {
  // Console: the walk reaches logical page pageCount, whose read fails.
  FixtureOptions o;
  o.version = 0x0500;
  o.copy1RecordCount = 50;
  auto built = BuildDataFile(o, MakeRecords(5, 16, 0, 1));
  ScopedTempFile file(built.bytes);
  ReadResult console = ReadAll(file.path(), ReaderVariant::Console);
  EXPECT_EQ(console.records.size(), 5u);
  EXPECT_EQ(console.endStatus, kReaderUnusable);
  ReadResult wizard = ReadAll(file.path(), ReaderVariant::Wizard);
  EXPECT_EQ(wizard.records.size(), 5u);
  EXPECT_EQ(wizard.endStatus, kReaderEnd);
}

TEST(Cursor, WizardPageThatCannotBeReadIsStatus2) {
  FixtureOptions o;
  o.version = 0x0400;
  auto built = BuildDataFile(o, MakeRecords(40, 16, 0, 1));
  ScopedTempFile file(built.bytes);
  DataFile df = {};
  ASSERT_EQ(OpenDataFile(file.path().c_str(), &df, ReaderVariant::Wizard), kReaderOk);
  ASSERT_EQ(df.dataPageCount, 2u);
  df.dataPages[0].offset = int64_t{1} << 40;  // as if the page had gone
  EXPECT_EQ(ReadNextDataPage(&df), kReaderUnusable);
  EXPECT_EQ(df.pageCursor, 1);  // stays advanced: the next call goes on
  EXPECT_EQ(ReadNextDataPage(&df), kReaderOk);
  EXPECT_EQ(ReadNextDataPage(&df), kReaderEnd);
  CloseDataFile(&df, kReaderOk);
}

// --- Records handed out in place ---------------------------------------------

// Files larger than the read-ahead window, with pages that straddle its end
// (1536 does not divide a power of two) and, in 0x0600, the 4096-byte
// adjustment: the records read in place are those ReadNextRecord copies, a
// record that must be assembled comes back in the caller's area, and a
// capacity too small gives the same status.
TEST(Cursor, RecordsInPlaceEqualTheCopiesAcrossTheWindow) {
  for (uint16_t version : {0x0500, 0x0600, 0x0800}) {
    for (bool variable : {false, true}) {
      FixtureOptions o;
      o.version = version;
      o.pageSize = 1536;
      o.recordLength = 100;
      o.variableLength = variable;
      const uint32_t count = variable ? 20000 : 40000;
      const auto built = BuildDataFile(o, MakeRecords(count, 100, variable ? 60 : 0, 9));
      ASSERT_GT(built.bytes.size(), 2u << 20) << version << " " << built.records.size();
      ScopedTempFile file(built.bytes);
      for (ReaderVariant v : kBothVariants) {
        SCOPED_TRACE(std::to_string(version) + (variable ? " variable " : " fixed ") +
                     VariantName(v));
        DataFile df;
        ReaderStatus s = OpenDataFile(file.path().c_str(), &df, v);
        ASSERT_EQ(s, kReaderOk);
        std::vector<uint8_t> area(64000);
        size_t n = 0;
        for (; s == kReaderOk; ++n) {
          RecordBuffer rb = {};
          rb.length = n % 97 == 5 ? 50 : static_cast<uint32_t>(area.size());
          const uint8_t* data = nullptr;
          s = ReadNextRecordInPlace(&df, &rb, area.data(), &data);
          if (s == kReaderTooSmall) {
            EXPECT_EQ(rb.length, Expected(built.records[n]).size());
            s = kReaderOk;
            continue;
          }
          if (s != kReaderOk) break;
          ASSERT_LT(n, built.records.size());
          EXPECT_EQ(std::vector<uint8_t>(data, data + rb.length), Expected(built.records[n]))
              << n;
          if (variable) {
            EXPECT_EQ(data, area.data());
          }
        }
        CloseDataFile(&df, s);
        EXPECT_EQ(s, kReaderEnd);
        EXPECT_EQ(n, built.records.size());
      }
    }
  }
}
