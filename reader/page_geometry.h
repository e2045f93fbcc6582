// Where the pages of a data file lie, as pure functions of the version row,
// the page size and (from 0x0800) the control page copy length F: the
// reserved areas that never hold a logical page, the strides of the page
// map pairs and allocation tables, and the physical offset of a page.  The
// reader, salvage and gandrel info all place pages through this module.
//
//   0x0300-0x0500  page 0 is the control page; no map
//   0x0600-0x0700  pages 0, 1: control page copies; map pair k at physical
//                  page 2 + k * S, S = pageSize / 4, mapping E = S - 2
//                  logical pages; 0x0600 and 0x0610 place every page from
//                  the first copy of pair 30 on 4096 bytes further in
//   0x0800-0x0950  two control copies of F bytes (C = F / pageSize pages
//                  each); table k, two copies C pages apart, at physical
//                  page 4C + (k - 1) * X, X = rows.tables.extentPagesPer2048
//                  x F / 2048, mapping X - 2C logical pages
#ifndef GANDREL_READER_PAGE_GEOMETRY_H_
#define GANDREL_READER_PAGE_GEOMETRY_H_

#include <cstdint>

#include "reader/version_rules.h"

// --- Page sizes --------------------------------------------------------------------
// A multiple of 512 up to 4096, up to 16384 for the rows with allocation
// tables.
bool PageSizeAllowed(const VersionRules& rules, uint32_t pageSize);
// Allowed for one row at least.
bool PageSizeAllowedByAnyRow(uint32_t pageSize);

// --- Page map pairs (0x0600-0x0700) ------------------------------------------
// Physical pages from one map pair to the next.
uint32_t MapPairStride(uint32_t pageSize);
// Logical pages one map pair describes (entries 1 .. E of a map page).
uint32_t MapEntriesPerPage(uint32_t pageSize);
// Physical page of the first copy of map pair `pair`.
uint64_t MapPairFirstPage(uint32_t pageSize, uint64_t pair);
// First physical page that the 4096-byte adjustment moves: the first copy
// of map pair kAdjustmentPair.
uint64_t AdjustmentFirstPage(uint32_t pageSize);

// --- Allocation tables (0x0800-0x0950) -----------------------------------------
struct TableGeometry {
  uint32_t copyPages = 0;        // C = F / pageSize: one control page or table copy
  uint32_t firstTable = 0;       // physical page of table 1, first copy
  uint32_t extentPages = 0;      // X: the distance between two tables
  uint32_t entriesPerTable = 0;  // logical pages one table maps
};
// `copyBytes` is F; requires pageSize > 0.
TableGeometry TableGeometryOf(const AllocationTableRules& rules, uint32_t pageSize,
                              uint32_t copyBytes);
// The control page copies and both copies of every table.
bool IsReservedTablePage(const TableGeometry& tables, uint64_t physical);

// --- Any version ----------------------------------------------------------------
struct PageGeometry {
  PageMapRule pageMap = PageMapRule::None;
  uint32_t pageSize = 0;
  uint32_t stride = 0;         // map pairs: MapPairStride
  uint32_t entriesPerMap = 0;  // logical pages per map pair or table; 0 without
  TableGeometry tables;        // allocation tables only
};
// `copyBytes` (F) is read for the rows with allocation tables only.
PageGeometry PageGeometryOf(const VersionRules& rules, uint32_t pageSize, uint32_t copyBytes);

// Physical pages at the front of the file that hold the control page
// copies: 1 without a map, 2 with map pairs, 2C with allocation tables.
uint64_t ControlCopyPages(const PageGeometry& geometry);

// Control page copies, map pages and table copies never hold a logical page,
// whatever their bytes look like (the second half of a table copy can look
// like a data page).
bool IsReservedPage(const PageGeometry& geometry, uint64_t physical);

// True for the rows that keep map pairs (with or without the adjustment).
bool KeepsMapPairs(PageMapRule pageMap);
// True for the rows that move pages by the 4096-byte adjustment.
bool HasAdjustment(PageMapRule pageMap);
// File offset of physical page `physical`: the page number times the page
// size, 4096 bytes further from AdjustmentFirstPage on when `adjusted`.
// Grid shifts found on a damaged file are salvage's to add.
uint64_t PhysicalPageStart(uint32_t pageSize, bool adjusted, uint64_t physical);

#endif  // GANDREL_READER_PAGE_GEOMETRY_H_
