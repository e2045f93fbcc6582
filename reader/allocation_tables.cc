// Versions 0x0800 to 0x0950: the page directory through the page allocation
// tables (reader/v8_layout.h), checked against the pages themselves.  Their
// layout and the choice of copy are the plan's (AllocationTableRules).
//
// Every page is read before the first record, even where the tables are
// sound: the directory lists a page by the number it carries, and a page
// the tables name as a data page may carry a number that no table settles
// (0, which sorts before every other; one beyond the tables; that of a
// page whose own entry does not hold).  Such a page takes that number's
// place in the order, so a walk that confirmed each page only as it loaded
// it would meet it after handing out records the pass puts after it.
#include <algorithm>
#include <vector>

#include "reader/copy_choice.h"
#include "reader/format.h"
#include "reader/page_directory.h"
#include "reader/page_geometry.h"
#include "reader/page_header.h"
#include "reader/page_scan.h"
#include "reader/reader_state.h"
#include "reader/stream.h"
#include "reader/v8_layout.h"

namespace {

TableGeometry GeometryOf(const DataFile* dataFile) {
  return TableGeometryOf(dataFile->state->plan.tables, dataFile->pageSize,
                         dataFile->state->copyBytes);
}

// Control page copies at the start, and both copies of every table.  No
// logical page lives there, whatever its bytes look like: the second half of
// a table copy can hold a header-like 'D' page.
bool IsReservedPage(const TableGeometry& g, int64_t physical) {
  return physical < 0 || IsReservedTablePage(g, static_cast<uint64_t>(physical));
}

// Mapping of one logical page as the tables give it.
constexpr uint32_t kNotMapped = 0xFFFFFFFF;  // no readable table covers it

struct TableMap {
  std::vector<uint32_t> physical;  // per logical page; kV8TableUnused, kNotMapped
  std::vector<uint8_t> kind;       // the page kind the entry records, or 0
};

struct Candidate {
  uint32_t logical;  // the number the table entries are looked up by
  uint32_t number;   // the page number the header gives
  int64_t physical;
  uint16_t usage;
  PageKindResult kind;
};

// The table copy to trust of table k: one that names itself (table k, kind
// 'P'), chosen by the plan's rule.  Null when neither does.
const uint8_t* CurrentTableCopy(DataFile* dataFile, const TableGeometry& g, uint64_t k,
                                int64_t first, std::vector<uint8_t>& copies) {
  const uint32_t copyBytes = dataFile->state->copyBytes;
  const AllocationTableRules& rules = dataFile->state->plan.tables;
  const uint8_t* current = nullptr;
  uint32_t currentUsage = 0;
  for (uint32_t c = 0; c < 2; ++c) {
    uint8_t* copy = copies.data() + c * static_cast<size_t>(copyBytes);
    const int64_t offset =
        (first + static_cast<int64_t>(c) * g.copyPages) * dataFile->pageSize;
    if (!ReadFileAt(dataFile, offset, copy, copyBytes)) continue;
    if (!TableCopyNamesItself(copy, k)) continue;
    const uint32_t usage = TableCopyUsage(rules, copy);
    if (current == nullptr ||
        PreferTableCopy(rules, dataFile->state->controlUsage, usage, currentUsage)) {
      current = copy;
      currentUsage = usage;
    }
  }
  return current;
}

// Reads every table that lies inside the file.  Index 0 is never mapped.
TableMap ReadAllocationTables(DataFile* dataFile, const TableGeometry& g) {
  TableMap map;
  map.physical.assign(1, kNotMapped);
  map.kind.assign(1, 0);
  std::vector<uint8_t> copies(2 * static_cast<size_t>(dataFile->state->copyBytes));
  // One table per extent; the loop ends with the file.
  for (uint64_t k = 1;; ++k) {
    const int64_t first = g.firstTable + static_cast<int64_t>(k - 1) * g.extentPages;
    if (first >= dataFile->pageCount) break;
    const uint8_t* current = CurrentTableCopy(dataFile, g, k, first, copies);
    map.physical.resize(map.physical.size() + g.entriesPerTable, kNotMapped);
    map.kind.resize(map.physical.size(), 0);
    if (current == nullptr) {
      // The pages decide for this extent.
      ReportEvent(dataFile, ReaderEventKind::MapDamaged, first * dataFile->pageSize, -1);
      continue;
    }
    const size_t base = map.physical.size() - g.entriesPerTable;
    for (uint32_t j = 0; j < g.entriesPerTable; ++j) {
      // An entry is only believed once the pass finds the page it names
      // carrying its logical number: one past the end of the file, or in a
      // reserved area, never is.
      const AllocationTableRules& rules = dataFile->state->plan.tables;
      const uint8_t* entry = current + rules.entriesOffset + rules.entrySize * j;
      map.physical[base + j] = DecodeLE32(entry);
      map.kind[base + j] = entry[5] == 0 ? entry[4] : 0;
    }
  }
  return map;
}

bool ListsKind(uint8_t kind) { return kind == 'D' || kind == 'V'; }

// Entries of data and variable pages that no page confirmed: the table is
// wrong about them, and the copy written last (if any) stands in.
void ReportUnconfirmed(DataFile* dataFile, const TableMap& map,
                       const std::vector<bool>& confirmed) {
  const int64_t pageSize = dataFile->pageSize;
  for (size_t logical = 1; logical < map.physical.size(); ++logical) {
    const uint32_t entry = map.physical[logical];
    if (confirmed[logical] || entry == kNotMapped || entry == kV8TableUnused ||
        !ListsKind(map.kind[logical])) {
      continue;
    }
    const int64_t offset = static_cast<int64_t>(entry) * pageSize;
    ReportEvent(dataFile,
                entry >= dataFile->pageCount ? ReaderEventKind::PageOutsideFile
                                             : ReaderEventKind::PageWrongNumber,
                offset, static_cast<int64_t>(logical));
  }
}

// The pass reads the file into the read-ahead window in pieces of this
// size, smaller than the cursor's: it looks at each page's header only, and
// with 1 MiB pieces the whole run took longer (the runtime's copy into a
// piece larger than the core's cache).
constexpr uint32_t kPassFillBytes = 256 << 10;

// One page of the pass.  A page confirms its table entry when it sits where
// the entry says and carries the entry's logical number; data and variable
// pages become candidates.
void PassOverPage(DataFile* dataFile, const TableMap& map, const uint8_t* page,
                  int64_t physical, std::vector<bool>& confirmed,
                  std::vector<Candidate>& candidates) {
  const ReadPlan& plan = dataFile->state->plan;
  const int64_t offset = physical * dataFile->pageSize;
  const uint32_t logical = DecodeLE32(page);
  const PageKindResult kind = ClassifyPage(plan.kind, page);
  if (logical < map.physical.size() && map.physical[logical] == physical) {
    confirmed[logical] = true;
    const uint8_t said = map.kind[logical];
    if (ListsKind(said) && kind != (said == 'D' ? PageKindResult::Data
                                                : PageKindResult::Variable)) {
      ReportEvent(dataFile, ReaderEventKind::PageNotData, offset, logical);
    }
  }
  if (kind == PageKindResult::Neither) return;
  const PageHeader header = DecodePageHeader(plan.pageNumber, page);
  candidates.push_back(Candidate{logical, header.number, physical, header.usage, kind});
}

// Every physical page outside the reserved areas, once, in file order,
// viewed in the read-ahead window; one that cannot be read is reported and
// skipped.
std::vector<Candidate> PassOverPages(DataFile* dataFile, const TableGeometry& g,
                                     const TableMap& map, std::vector<bool>& confirmed) {
  std::vector<Candidate> candidates;
  candidates.reserve(static_cast<size_t>(dataFile->pageCount));
  const uint32_t pageSize = dataFile->pageSize;
  for (int64_t physical = 0; physical < dataFile->pageCount; ++physical) {
    if (IsReservedPage(g, physical)) continue;
    const int64_t offset = physical * pageSize;
    const uint8_t* page = ViewPassPage(dataFile, offset, kPassFillBytes);
    if (page == nullptr) {
      ReportEvent(dataFile, ReaderEventKind::PageUnreadable, offset, -1);
      continue;
    }
    PassOverPage(dataFile, map, page, physical, confirmed, candidates);
  }
  return candidates;
}

// Of the copies [first, end) of one logical page, the current one: the one
// the table names where a page confirmed the table, none where the table
// says the page is not in use, else the copy written last.
const Candidate* ChooseCopy(DataFile* dataFile, const Candidate* first,
                            const Candidate* end, const TableMap& map,
                            const std::vector<bool>& confirmed) {
  const uint32_t logical = first->logical;
  const uint32_t entry = logical < map.physical.size() ? map.physical[logical] : kNotMapped;
  const Candidate* chosen = nullptr;
  ReaderEventKind passedOver = ReaderEventKind::PageStaleCopy;
  if (logical < confirmed.size() && confirmed[logical]) {
    for (const Candidate* c = first; c != end; ++c) {
      if (c->physical == entry) chosen = c;
    }
  } else if (entry == kV8TableUnused) {
    passedOver = ReaderEventKind::PageFreed;  // what is left of freed pages
  } else {
    chosen = first;  // highest usage: the stable sort put it first
  }
  const int64_t pageSize = dataFile->pageSize;
  for (const Candidate* c = first; c != end; ++c) {
    if (c != chosen) ReportEvent(dataFile, passedOver, c->physical * pageSize, logical);
  }
  return chosen;
}

}  // namespace

void ScanAllocationTables(DataFile* dataFile) {
  const TableGeometry g = GeometryOf(dataFile);
  const TableMap map = ReadAllocationTables(dataFile, g);
  std::vector<bool> confirmed(map.physical.size(), false);
  std::vector<Candidate> candidates = PassOverPages(dataFile, g, map, confirmed);
  ReportUnconfirmed(dataFile, map, confirmed);

  // Per logical page, highest usage first; a stable sort keeps the physical
  // order among equals, so that of two equal copies the earlier is taken.
  // Where the pages lie in logical order (most files), nothing moves.
  const auto before = [](const Candidate& a, const Candidate& b) {
    if (a.logical != b.logical) return a.logical < b.logical;
    return a.usage > b.usage;
  };
  if (!std::is_sorted(candidates.begin(), candidates.end(), before)) {
    std::stable_sort(candidates.begin(), candidates.end(), before);
  }
  const int64_t pageSize = dataFile->pageSize;
  for (size_t i = 0; i < candidates.size();) {
    size_t end = i;
    while (end < candidates.size() && candidates[end].logical == candidates[i].logical) {
      ++end;
    }
    const Candidate* chosen = ChooseCopy(dataFile, &candidates[i],
                                         candidates.data() + end, map, confirmed);
    if (chosen != nullptr) {
      AddListedPage(dataFile, chosen->kind, chosen->number, chosen->usage,
                    chosen->physical * pageSize);
    }
    i = end;
  }
}
