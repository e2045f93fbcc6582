#include "reader/page_geometry.h"

#include "reader/format.h"

namespace {

constexpr uint32_t kPageSizeStep = 512;
constexpr uint32_t kMostPageSizeBefore0800 = 4096;
constexpr uint32_t kMostPageSize = 16384;  // with allocation tables

bool PageSizeUpTo(uint32_t most, uint32_t pageSize) {
  return pageSize != 0 && pageSize % kPageSizeStep == 0 && pageSize <= most;
}

}  // namespace

bool PageSizeAllowed(const VersionRules& rules, uint32_t pageSize) {
  return PageSizeUpTo(
      rules.pageMap == PageMapRule::AllocationTables ? kMostPageSize : kMostPageSizeBefore0800,
      pageSize);
}

bool PageSizeAllowedByAnyRow(uint32_t pageSize) { return PageSizeUpTo(kMostPageSize, pageSize); }

uint32_t MapPairStride(uint32_t pageSize) { return pageSize / 4; }

uint32_t MapEntriesPerPage(uint32_t pageSize) {
  // Entry 0 would be the copy's own counter word, the last its page number.
  return MapPairStride(pageSize) - 2;
}

uint64_t MapPairFirstPage(uint32_t pageSize, uint64_t pair) {
  // The two control page copies come first.
  return 2 + pair * MapPairStride(pageSize);
}

uint64_t AdjustmentFirstPage(uint32_t pageSize) {
  return MapPairFirstPage(pageSize, kAdjustmentPair);
}

TableGeometry TableGeometryOf(const AllocationTableRules& rules, uint32_t pageSize,
                              uint32_t copyBytes) {
  TableGeometry g;
  g.copyPages = copyBytes / pageSize;
  // Two control page copies, then two copies of table 1.
  g.firstTable = 4 * g.copyPages;
  g.extentPages = rules.extentPagesPer2048 * copyBytes / 2048;
  g.entriesPerTable = g.extentPages - 2 * g.copyPages;
  return g;
}

bool IsReservedTablePage(const TableGeometry& tables, uint64_t physical) {
  if (physical < 2ull * tables.copyPages) return true;
  if (physical < tables.firstTable) return false;
  return (physical - tables.firstTable) % tables.extentPages < 2ull * tables.copyPages;
}

PageGeometry PageGeometryOf(const VersionRules& rules, uint32_t pageSize, uint32_t copyBytes) {
  PageGeometry g;
  g.pageMap = rules.pageMap;
  g.pageSize = pageSize;
  if (KeepsMapPairs(rules.pageMap)) {
    g.stride = MapPairStride(pageSize);
    g.entriesPerMap = MapEntriesPerPage(pageSize);
  } else if (rules.pageMap == PageMapRule::AllocationTables) {
    g.tables = TableGeometryOf(rules.tables, pageSize, copyBytes);
    g.entriesPerMap = g.tables.entriesPerTable;
  }
  return g;
}

uint64_t ControlCopyPages(const PageGeometry& geometry) {
  switch (geometry.pageMap) {
    case PageMapRule::None: return 1;
    case PageMapRule::Pairs:
    case PageMapRule::PairsAdjusted: return 2;
    case PageMapRule::AllocationTables: return 2ull * geometry.tables.copyPages;
  }
  return 1;
}

bool IsReservedPage(const PageGeometry& geometry, uint64_t physical) {
  if (physical < ControlCopyPages(geometry)) return true;
  if (geometry.pageMap == PageMapRule::None) return false;
  if (geometry.pageMap != PageMapRule::AllocationTables) {
    return (physical - 2) % geometry.stride < 2;
  }
  return IsReservedTablePage(geometry.tables, physical);
}

bool KeepsMapPairs(PageMapRule pageMap) {
  return pageMap == PageMapRule::Pairs || pageMap == PageMapRule::PairsAdjusted;
}

bool HasAdjustment(PageMapRule pageMap) { return pageMap == PageMapRule::PairsAdjusted; }

uint64_t PhysicalPageStart(uint32_t pageSize, bool adjusted, uint64_t physical) {
  const uint64_t offset = physical * pageSize;
  if (adjusted && physical >= AdjustmentFirstPage(pageSize)) return offset + kAdjustmentBytes;
  return offset;
}
