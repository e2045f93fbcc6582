// Where pages lie and which copy is current: the pure functions every reader
// of the format shares (reader/page_geometry.h, reader/copy_choice.h), checked
// against layouts walked out independently, rule by rule.
#include <gtest/gtest.h>

#include <vector>

#include "reader/copy_choice.h"
#include "reader/format.h"
#include "reader/page_geometry.h"
#include "reader/v8_layout.h"
#include "reader/version_rules.h"

namespace {

// Reserved pages of a file of `pages` pages, marked by walking the areas
// one after another as the format lays them out.
std::vector<bool> WalkReserved(const VersionRules& rules, uint32_t pageSize, uint32_t copyBytes,
                               uint64_t pages) {
  std::vector<bool> reserved(pages, false);
  auto mark = [&](uint64_t from, uint64_t count) {
    for (uint64_t p = from; p < from + count && p < pages; ++p) reserved[p] = true;
  };
  if (rules.pageMap == PageMapRule::None) {
    mark(0, 1);
  } else if (rules.pageMap == PageMapRule::AllocationTables) {
    const uint64_t copyPages = copyBytes / pageSize;
    const uint64_t extent = rules.tables.extentPagesPer2048 * copyBytes / 2048;
    mark(0, 2 * copyPages);
    for (uint64_t table = 4 * copyPages; table < pages; table += extent) mark(table, 2 * copyPages);
  } else {
    mark(0, 2);
    for (uint64_t pair = 2; pair < pages; pair += pageSize / 4) mark(pair, 2);
  }
  return reserved;
}

// --- Reserved pages and map strides ----------------------------------------------

TEST(PageGeometryTest, ReservedPagesAreTheControlCopiesMapPairsAndTablesOfEveryRow) {
  for (uint16_t version : {0x0300, 0x0400, 0x0500, 0x0600, 0x0610, 0x0700, 0x0800, 0x0900,
                           0x0950}) {
    const VersionRules& rules = *FindVersionRules(version);
    for (uint32_t pageSize = 512; pageSize <= 4096; pageSize *= 2) {
      SCOPED_TRACE("version " + std::to_string(version) + " page size " +
                   std::to_string(pageSize));
      const uint32_t copyBytes = V8ControlCopyBytes(pageSize);
      const PageGeometry g = PageGeometryOf(rules, pageSize, copyBytes);
      const uint64_t pages = 9000;
      const std::vector<bool> walked = WalkReserved(rules, pageSize, copyBytes, pages);
      uint64_t mismatches = 0;
      for (uint64_t p = 0; p < pages; ++p) mismatches += IsReservedPage(g, p) != walked[p];
      EXPECT_EQ(mismatches, 0u);
      // Every logical page a map pair or table describes has one entry.
      if (KeepsMapPairs(rules.pageMap)) {
        EXPECT_EQ(g.entriesPerMap, pageSize / 4 - 2);
        EXPECT_EQ(MapPairFirstPage(pageSize, 1) - MapPairFirstPage(pageSize, 0), pageSize / 4);
      } else if (rules.pageMap == PageMapRule::AllocationTables) {
        EXPECT_EQ(g.entriesPerMap + 2 * g.tables.copyPages, g.tables.extentPages);
        EXPECT_EQ(ControlCopyPages(g), 2ull * copyBytes / pageSize);
      } else {
        EXPECT_EQ(g.entriesPerMap, 0u);
        EXPECT_EQ(ControlCopyPages(g), 1u);
      }
    }
  }
}

// Page sizes step by 512: up to 4096 before 0x0800, up to 16384 from it.
TEST(PageGeometryTest, PageSizesAllowedStepBy512UpToTheRowsLargest) {
  for (uint16_t version : {0x0300, 0x0500, 0x0600, 0x0700, 0x0800, 0x0900, 0x0950}) {
    const VersionRules& rules = *FindVersionRules(version);
    const uint32_t most = version >= 0x0800 ? 16384 : 4096;
    for (uint32_t pageSize = 0; pageSize <= 20000; pageSize += 256) {
      SCOPED_TRACE("version " + std::to_string(version) + " page size " +
                   std::to_string(pageSize));
      const bool allowed = pageSize != 0 && pageSize % 512 == 0 && pageSize <= most;
      EXPECT_EQ(PageSizeAllowed(rules, pageSize), allowed);
      EXPECT_EQ(PageSizeAllowedByAnyRow(pageSize),
                pageSize != 0 && pageSize % 512 == 0 && pageSize <= 16384);
    }
  }
}

// The 4096 bytes are inserted before the first copy of map pair 30, only in
// the rows that have them; every page before it stays where its number puts it.
TEST(PageGeometryTest, TheAdjustmentMovesPagesFromMapPairThirtyOn) {
  for (uint32_t pageSize = 512; pageSize <= 4096; pageSize += 512) {
    SCOPED_TRACE("page size " + std::to_string(pageSize));
    const uint64_t first = 2 + 30ull * (pageSize / 4);
    EXPECT_EQ(AdjustmentFirstPage(pageSize), first);
    EXPECT_EQ(PhysicalPageStart(pageSize, true, first - 1), (first - 1) * pageSize);
    EXPECT_EQ(PhysicalPageStart(pageSize, true, first), first * pageSize + 4096);
    EXPECT_EQ(PhysicalPageStart(pageSize, true, first + 7), (first + 7) * pageSize + 4096);
    EXPECT_EQ(PhysicalPageStart(pageSize, false, first), first * pageSize);
  }
  EXPECT_TRUE(HasAdjustment(FindVersionRules(0x0600)->pageMap));
  EXPECT_TRUE(HasAdjustment(FindVersionRules(0x0610)->pageMap));
  EXPECT_FALSE(HasAdjustment(FindVersionRules(0x0700)->pageMap));
  EXPECT_FALSE(HasAdjustment(FindVersionRules(0x0800)->pageMap));
}

// --- Copy choice -----------------------------------------------------------------

TEST(CopyChoiceTest, ControlCopiesGoByCounterAndTheRowBreaksATie) {
  for (uint16_t version : {0x0300, 0x0600, 0x0610, 0x0700, 0x0800, 0x0900, 0x0950}) {
    SCOPED_TRACE("version " + std::to_string(version));
    const VersionRules& rules = *FindVersionRules(version);
    EXPECT_EQ(ChooseControlCopyOnCounters(rules, 7, 6), 1);
    EXPECT_EQ(ChooseControlCopyOnCounters(rules, 6, 7), 2);
    EXPECT_EQ(ChooseControlCopyOnCounters(rules, 0x10000, 0xFFFF), 1);  // 0x0950's u32
    EXPECT_EQ(ChooseControlCopyOnCounters(rules, 7, 7), version >= 0x0800 ? 1 : 2);
  }
}

TEST(CopyChoiceTest, MapPairCopiesGoByCounterTheSecondOnATieAndNeverAnUnreadableOne) {
  EXPECT_EQ(ChooseMapPairCopy(true, 9, true, 8), 0);
  EXPECT_EQ(ChooseMapPairCopy(true, 8, true, 9), 1);
  EXPECT_EQ(ChooseMapPairCopy(true, 8, true, 8), 1);
  EXPECT_EQ(ChooseMapPairCopy(true, 9, false, 0), 0);
  EXPECT_EQ(ChooseMapPairCopy(false, 0, true, 0), 1);
}

TEST(CopyChoiceTest, ATableCopyCountsWhenItNamesItselfAndItsUsageIsTheRows) {
  uint8_t copy[32] = {0x03, 0x00, 0x00, 0x50, 'P', 0, 0x34, 0x12, 0x78, 0x56, 0x02, 0x00};
  EXPECT_TRUE(TableCopyNamesItself(copy, 3));
  EXPECT_FALSE(TableCopyNamesItself(copy, 4));
  copy[4] = 'D';
  EXPECT_FALSE(TableCopyNamesItself(copy, 3));
  EXPECT_EQ(TableCopyUsage(FindVersionRules(0x0800)->tables, copy), 0x1234u);
  EXPECT_EQ(TableCopyUsage(FindVersionRules(0x0950)->tables, copy), 0x00025678u);
}

TEST(CopyChoiceTest, TableCopiesTakeTheGreaterUsageOrTheNewestCommittedOne) {
  const AllocationTableRules greater = FindVersionRules(0x0800)->tables;
  EXPECT_TRUE(PreferTableCopy(greater, 3, 9, 8));
  EXPECT_FALSE(PreferTableCopy(greater, 3, 8, 9));
  EXPECT_FALSE(PreferTableCopy(greater, 3, 8, 8));
  const AllocationTableRules committed = FindVersionRules(0x0950)->tables;
  struct Case {
    uint32_t control, usage, chosen;
    bool prefer;
  };
  const Case cases[] = {
      {10, 9, 8, true},    // both committed: the newer
      {10, 8, 9, false},
      {10, 10, 9, true},   // equal to the control page's counter: committed
      {10, 11, 9, false},  // written after the control page: never committed
      {10, 9, 11, true},
      {10, 12, 11, false},  // both uncommitted: the older is the nearer
      {10, 11, 12, true},
      {10, 9, 9, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.usage) + " over " + std::to_string(c.chosen));
    EXPECT_EQ(PreferTableCopy(committed, c.control, c.usage, c.chosen), c.prefer);
  }
}

}  // namespace
