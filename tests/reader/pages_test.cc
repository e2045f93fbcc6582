// Page addressing through the page map, the 4096-byte adjustment, and the
// page directory built by the two scans.
#include <gtest/gtest.h>

#include <algorithm>

#include "reader/page_directory.h"
#include "reader/page_header.h"
#include "reader/page_map.h"
#include "tests/reader/reader_test_util.h"

using namespace readertest;
using fixture::PutPageHeader;

namespace {

constexpr uint32_t kNoPage = 0xFFFFFF;

}  // namespace

// --- Page map ------------------------------------------------------------------

TEST(PageMap, EntriesOfPairZeroAndPairOneWith512BytePages) {
  // E = 126: logical 126 is the last entry of the pair at pages 2 and 3,
  // logical 127 the first entry of the pair at pages 130 and 131.
  RawFile f(0x0600, 512, 140, 16, 16, 0);
  f.PutMapPage(2, 1, {{126, 111}});
  f.PutMapPage(3, 2, {{126, 112}, {1, 7}});
  f.PutMapPage(130, 1, {{1, 221}});
  f.PutMapPage(131, 2, {{1, 222}});
  for (ReaderVariant v : kBothVariants) {
    DataFile df;
    ASSERT_EQ(OpenBytes(f.bytes, v, &df), kReaderOk);
    EXPECT_EQ(PageOffset(&df, 126), 112 * 512);
    EXPECT_EQ(PageOffset(&df, 127), 222 * 512);
    EXPECT_EQ(PageOffset(&df, 1), 7 * 512);
    EXPECT_EQ(PageOffset(&df, 2), 0);  // entry 0: physical page 0
    EXPECT_EQ(PageOffset(&df, 0), -1);
    EXPECT_EQ(PageOffset(&df, -3), -1);
    CloseDataFile(&df, kReaderOk);
  }
}

TEST(PageMap, CopyCountersChooseTheCopy) {
  struct Case { uint16_t first, second; int64_t expect; } cases[] = {
      {3, 3, 20 * 512},       // equal: the second copy
      {4, 3, 10 * 512},       // first greater
      {0xFFFF, 0, 10 * 512},  // unsigned, no wrap-around
      {0, 1, 20 * 512},
  };
  for (const Case& c : cases) {
    RawFile f(0x0600, 512, 30, 16, 16, 0);
    f.PutMapPage(2, c.first, {{5, 10}});
    f.PutMapPage(3, c.second, {{5, 20}});
    DataFile df;
    ASSERT_EQ(OpenBytes(f.bytes, ReaderVariant::Console, &df), kReaderOk);
    EXPECT_EQ(PageOffset(&df, 5), c.expect) << c.first << " " << c.second;
    CloseDataFile(&df, kReaderOk);
  }
}

TEST(PageMap, MissingPagesAndMapsPastTheEnd) {
  RawFile f(0x0600, 512, 30, 16, 16, 0);
  f.PutMapPage(2, 1, {{4, kNoPage}, {5, 12}});
  f.PutMapPage(3, 1, {{4, kNoPage}, {5, 12}});
  DataFile df;
  ASSERT_EQ(OpenBytes(f.bytes, ReaderVariant::Console, &df), kReaderOk);
  EXPECT_EQ(PageOffset(&df, 4), -1);
  EXPECT_EQ(PageOffset(&df, 5), 12 * 512);
  EXPECT_EQ(PageOffset(&df, 127), -1);  // pair 1 at page 130: past the end
  EXPECT_EQ(PageOffset(&df, 2000000), -1);
  CloseDataFile(&df, kReaderOk);

  // A file cut inside the chosen map copy: entries before the cut are read,
  // entries after it count as missing.
  RawFile cut(0x0600, 512, 4, 16, 16, 0);
  cut.PutMapPage(2, 1, {});
  cut.PutMapPage(3, 2, {{1, 9}, {100, 9}});
  cut.bytes.resize(cut.Page(3) + 4 + 4 * 50);
  ASSERT_EQ(OpenBytes(cut.bytes, ReaderVariant::Console, &df), kReaderOk);
  EXPECT_EQ(PageOffset(&df, 1), 9 * 512);
  EXPECT_EQ(PageOffset(&df, 100), -1);
  CloseDataFile(&df, kReaderOk);
}

TEST(PageMap, WhichVersionsGoThroughTheMapInEachVariant) {
  // Logical page 5 is mapped to physical page 20 in every file; a version
  // that does not use the map answers 5 * pageSize.
  struct Case { uint16_t version; bool console; bool wizard; } cases[] = {
      {0x0400, false, false}, {0x0600, true, true}, {0x0610, true, true},
      {0x0700, true, false},
  };
  for (const Case& c : cases) {
    RawFile f(c.version, 512, 30, 16, 16, 0);
    f.PutMapPage(2, 1, {{5, 20}});
    f.PutMapPage(3, 1, {{5, 20}});
    for (ReaderVariant v : kBothVariants) {
      DataFile df;
      ASSERT_EQ(OpenBytes(f.bytes, v, &df), kReaderOk);
      const bool mapped = v == ReaderVariant::Console ? c.console : c.wizard;
      EXPECT_EQ(PageOffset(&df, 5), mapped ? 20 * 512 : 5 * 512)
          << std::hex << c.version << " " << VariantName(v);
      CloseDataFile(&df, kReaderOk);
    }
  }
}

TEST(PageMap, The4096ByteAdjustmentOf0610With512BytePages) {
  // T = (126 * 30 + 62) * 512: physical page 3842 and every later page lie
  // 4096 bytes further on; so do the copies of map pair 30 (3842 and 3843).
  const uint32_t t = 126 * 30 + 62;
  RawFile f(0x0610, 512, t + 10, 16, 16, 0);
  ASSERT_EQ(f.Page(t - 1), static_cast<size_t>(t - 1) * 512);
  ASSERT_EQ(f.Page(t), static_cast<size_t>(t) * 512 + 4096);
  f.PutMapPage(2, 1, {{1, t - 1}, {2, t}, {3, t + 5}});
  f.PutMapPage(3, 1, {{1, t - 1}, {2, t}, {3, t + 5}});
  f.PutMapPage(t, 1, {{1, 40}});       // pair 30, read at T + 4096
  f.PutMapPage(t + 1, 1, {{1, 41}});
  // Where pair 30 would lie without the adjustment: must not be read.
  f.bytes[static_cast<size_t>(t) * 512 + 4 + 4] = 0x55;
  for (ReaderVariant v : kBothVariants) {
    DataFile df;
    ASSERT_EQ(OpenBytes(f.bytes, v, &df), kReaderOk);
    EXPECT_EQ(PageOffset(&df, 1), int64_t{t - 1} * 512);
    EXPECT_EQ(PageOffset(&df, 2), int64_t{t} * 512 + 4096);
    EXPECT_EQ(PageOffset(&df, 3), int64_t{t + 5} * 512 + 4096);
    EXPECT_EQ(PageOffset(&df, 126 * 30 + 1), 41 * 512);
    CloseDataFile(&df, kReaderOk);
  }
}

// --- Page directory --------------------------------------------------------------

TEST(PageDirectory, KeepsTheCopyWithTheHigherUsageCounter) {
  // Version 0x0400: the wizard's scan reads every logical (here physical)
  // page.  Page number 5 is written three times; the list holds it once,
  // and the reporter hears of the two copies passed over.
  struct Case { uint16_t usages[3]; uint32_t winner; } cases[] = {
      {{5, 7, 6}, 2}, {{7, 5, 6}, 1}, {{6, 6, 6}, 1}, {{1, 2, 3}, 3},
  };
  for (const Case& c : cases) {
    RawFile f(0x0400, 512, 5, 16, 16, 1);
    for (uint32_t p = 1; p <= 3; ++p) {
      PutPageHeader(f.bytes, f.Page(p), 0x0400, 'D', 5, c.usages[p - 1]);
    }
    PutPageHeader(f.bytes, f.Page(4), 0x0400, 'D', 9, 1);
    DataFile df;
    EventLog log;
    ASSERT_EQ(OpenBytes(f.bytes, ReaderVariant::Wizard, &df, nullptr, &log.reporter),
              kReaderOk);
    ASSERT_EQ(df.dataPageCount, 2u);
    EXPECT_EQ(df.dataPages[0].pageNumber, 5u);
    EXPECT_EQ(df.dataPages[0].offset, int64_t{c.winner} * 512);
    EXPECT_EQ(df.dataPages[0].usage, c.usages[c.winner - 1] | 0x8000);
    EXPECT_EQ(df.variablePageCount, 0u);  // no variable page kind here
    std::vector<int64_t> stale;
    for (const ReaderEvent& e : log.events) {
      EXPECT_EQ(e.kind, ReaderEventKind::PageStaleCopy);
      EXPECT_EQ(e.logicalPage, 5);
      stale.push_back(e.offset / 512);
    }
    std::sort(stale.begin(), stale.end());
    std::vector<int64_t> losers;
    for (int64_t p = 1; p <= 3; ++p) {
      if (p != c.winner) losers.push_back(p);
    }
    EXPECT_EQ(stale, losers);
    CloseDataFile(&df, kReaderOk);
    // The console walks logical pages and builds no directory at open.
    ASSERT_EQ(OpenBytes(f.bytes, ReaderVariant::Console, &df), kReaderOk);
    EXPECT_EQ(df.dataPageCount, 0u);
    CloseDataFile(&df, kReaderOk);
  }
}

TEST(PageDirectory, DataPagesSortedFromVersion0600Only) {
  for (uint16_t version : {0x0500, 0x0700}) {
    RawFile f(version, 512, 6, 16, 16, 1);
    const uint32_t numbers[] = {9, 3, 0x010007, 4};
    for (uint32_t i = 0; i < 4; ++i) {
      PutPageHeader(f.bytes, f.Page(2 + i), version, 'D', numbers[i], 1);
    }
    DataFile df;
    ASSERT_EQ(OpenBytes(f.bytes, ReaderVariant::Wizard, &df), kReaderOk);
    ASSERT_EQ(df.dataPageCount, 4u);
    std::vector<uint32_t> got;
    for (uint32_t i = 0; i < 4; ++i) got.push_back(df.dataPages[i].pageNumber);
    if (version == 0x0500) {
      EXPECT_EQ(got, (std::vector<uint32_t>{9, 3, 0x010007, 4}));
    } else {
      EXPECT_EQ(got, (std::vector<uint32_t>{3, 4, 9, 0x010007}));
    }
    CloseDataFile(&df, kReaderOk);
  }
}

TEST(PageDirectory, VariablePagesListedInScanOrder) {
  RawFile f(0x0700, 512, 6, 16, 16, 1);
  PutPageHeader(f.bytes, f.Page(2), 0x0700, 'V', 8, 1);
  PutPageHeader(f.bytes, f.Page(3), 0x0700, 'D', 1, 1);
  PutPageHeader(f.bytes, f.Page(4), 0x0700, 'V', 2, 1);
  PutPageHeader(f.bytes, f.Page(5), 0x0700, 'X', 3, 1);  // neither kind
  DataFile df;
  ASSERT_EQ(OpenBytes(f.bytes, ReaderVariant::Wizard, &df), kReaderOk);
  ASSERT_EQ(df.variablePageCount, 2u);
  EXPECT_EQ(df.variablePages[0].pageNumber, 8u);
  EXPECT_EQ(df.variablePages[1].pageNumber, 2u);
  EXPECT_EQ(df.dataPageCount, 1u);
  CloseDataFile(&df, kReaderOk);
}

TEST(PageDirectory, WizardScanSkipsAndReportsUnreadablePages) {
  // Logical pages 1..3 map to physical 4, a page past the end, and 5.
  RawFile f(0x0600, 512, 7, 16, 16, 1);
  f.PutMapPage(2, 1, {{1, 4}, {2, 1000}, {3, 5}});
  f.PutMapPage(3, 1, {{1, 4}, {2, 1000}, {3, 5}});
  PutPageHeader(f.bytes, f.Page(4), 0x0600, 'D', 1, 1);
  PutPageHeader(f.bytes, f.Page(5), 0x0600, 'D', 3, 1);
  PutPageHeader(f.bytes, f.Page(6), 0x0600, 'D', 6, 1);
  f.bytes.resize(f.Page(6) + 300);  // page 6 cut in the middle
  DataFile df;
  EventLog log;
  ASSERT_EQ(OpenBytes(f.bytes, ReaderVariant::Wizard, &df, nullptr, &log.reporter),
            kReaderOk);
  EXPECT_EQ(df.dataPageCount, 2u);  // logical 2 skipped, logical 3 found
  ASSERT_EQ(log.events.size(), 1u);
  // Past the end; a file that ends inside a page was cut: damage.
  EXPECT_EQ(log.events[0].kind, ReaderEventKind::PageOutsideFile);
  EXPECT_TRUE(log.events[0].damage);
  EXPECT_EQ(log.events[0].logicalPage, 2);
  EXPECT_EQ(log.events[0].offset, 1000 * 512);
  CloseDataFile(&df, kReaderOk);
  // The console walks the map instead and builds no directory at open.
  ASSERT_EQ(OpenBytes(f.bytes, ReaderVariant::Console, &df), kReaderOk);
  EXPECT_EQ(df.dataPageCount, 0u);
  CloseDataFile(&df, kReaderOk);
}

TEST(PageDirectory, WizardWithOnePageScansNothing) {
  RawFile f(0x0400, 512, 1, 16, 16, 3);
  DataFile df;
  ASSERT_EQ(OpenBytes(f.bytes, ReaderVariant::Wizard, &df), kReaderOk);
  EXPECT_EQ(df.pageCount, 1);
  EXPECT_EQ(df.dataPageCount, 0u);
  EXPECT_EQ(ReadNextDataPage(&df), kReaderEnd);
  RecordBuffer rb = {64000, 0};
  std::vector<uint8_t> area(64000);
  EXPECT_EQ(ReadNextRecord(&df, &rb, area.data()), kReaderEnd);
  CloseDataFile(&df, kReaderOk);
}

TEST(PageDirectory, AddPageEntryIgnoresOtherKinds) {
  RawFile f(0x0600, 512, 4, 16, 16, 0);
  DataFile df;
  ASSERT_EQ(OpenBytes(f.bytes, ReaderVariant::Console, &df), kReaderOk);
  std::vector<uint8_t> page(512, 0);
  PutPageHeader(page, 0, 0x0600, 'D', 0x123456, 4);
  EXPECT_EQ(AddPageEntry(&df, page.data(), PageKindResult::Neither, 0), kReaderOk);
  EXPECT_EQ(df.dataPageCount, 0u);
  EXPECT_EQ(PageKind(&df, page.data()), PageKindResult::Data);
  EXPECT_EQ(AddPageEntry(&df, page.data(), PageKindResult::Data, 4096), kReaderOk);
  ASSERT_EQ(df.dataPageCount, 1u);
  EXPECT_EQ(df.dataPages[0].pageNumber, 0x123456u);
  EXPECT_EQ(df.dataPages[0].usage, 4);
  CloseDataFile(&df, kReaderOk);
}
