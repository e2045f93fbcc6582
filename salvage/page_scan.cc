#include "salvage/page_scan.h"

#include <algorithm>
#include <cstdio>

#include "reader/chain.h"
#include "reader/copy_choice.h"
#include "reader/format.h"
#include "reader/page_geometry.h"
#include "reader/page_header.h"
#include "reader/slots.h"
#include "reader/v8_layout.h"
#include "salvage/geometry_score.h"
#include "salvage/page_rules.h"
#include "salvage/slot_profile.h"
#include "salvage/zeroed_sectors.h"

namespace {

// Map entry states besides a physical page number.
constexpr uint32_t kMapUnused = 0xFFFFFFFE;   // the map says: not in use
constexpr uint32_t kNotMapped = 0xFFFFFFFF;   // no readable map covers it
constexpr uint8_t kIndexKind = 0x80;          // a table entry of an index page

struct Candidate {
  uint32_t logical;
  uint32_t physical;
  uint16_t usage;
  HeaderKind kind;
};

// The reserved areas and the map of one file.
PageGeometry PlanOf(const Geometry& g) {
  return PageGeometryOf(*g.layout, g.pageSize, g.controlCopyBytes);
}

// Index pages keep a key number where data pages keep their kind: 0x80 +
// key at byte 1 (0x0600-0x0700), the key at 4 and 0x80 at 5 (from 0x0800),
// and a page number like any other page.  0x0300-0x0500 headers do not
// tell an index page from a free one.
bool IsIndexPage(const VersionRules& rules, const uint8_t* page, uint32_t number,
                 uint64_t bound) {
  if (number == 0 || number >= bound) return false;
  if (rules.kind == KindRule::ByteAtOffset1) return (page[1] & 0x80) != 0;
  if (rules.kind == KindRule::ByteAtOffset4NotIndex) return page[kV8PageKindHighOffset] == 0x80;
  return false;
}

// An alternate collating sequence page: kind 'A' where data pages keep
// 'D', and a page number like any other page.
bool IsCollatingPage(const VersionRules& rules, const uint8_t* page, uint32_t number,
                     uint64_t bound) {
  if (number == 0 || number >= bound) return false;
  if (rules.kind == KindRule::ByteAtOffset1) return page[1] == 'A';
  if (rules.kind == KindRule::ByteAtOffset4NotIndex) {
    return page[4] == 'A' && page[kV8PageKindHighOffset] == 0;
  }
  return false;
}

uint64_t CountPhysicalPages(const Geometry& g, int64_t fileSize) {
  // Whole pages and a cut last one; with the 4096-byte gap the offsets
  // are not a plain multiple.
  uint64_t lo = 0;
  uint64_t hi = static_cast<uint64_t>(fileSize) / g.pageSize + 2;
  while (lo < hi) {  // first page that starts at or beyond the end
    const uint64_t mid = (lo + hi) / 2;
    if (PhysicalPageOffset(g, mid) < fileSize) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

struct MapState {
  std::vector<uint32_t> entries;  // per logical page
  std::vector<uint8_t> kinds;     // the entry's kind: 0x0800-0x0900 byte 4
                                  // (kIndexKind where byte 5 marks an index
                                  // page), 0x0600-0x0700 byte 1 ('D', 'V',
                                  // 0x80 + key; 0 for a logical page not in
                                  // use, or a writer that leaves it out)
  std::vector<bool> tableValid;   // per map pair / table: a copy was readable
  std::vector<bool> oneCopyOnly;  // per table: the other copy was damaged
  // Tables whose copy of the greater usage was passed over as a change
  // never committed (0x0950: newer than the control page).
  uint32_t newerPassedOver = 0;
};

// 0x0600-0x0700: of the two copies of a pair the one with the greater
// counter (equal: the second) holds the entries.
void ReadPageMap(InputFile* input, const Geometry& g, const PageGeometry& plan,
                 uint64_t physicalPages, MapState* map) {
  map->entries.assign(1, kNotMapped);
  std::vector<uint8_t> copies(2 * static_cast<size_t>(g.pageSize));
  for (uint64_t pair = 0;; ++pair) {
    const uint64_t first = MapPairFirstPage(g.pageSize, pair);
    if (first >= physicalPages) break;
    uint32_t got[2];
    for (int c = 0; c < 2; ++c) {
      got[c] = ReadInputAt(input, PhysicalPageOffset(g, first + c),
                           copies.data() + c * g.pageSize, g.pageSize);
    }
    const size_t base = map->entries.size();
    map->entries.resize(base + plan.entriesPerMap, kNotMapped);
    map->kinds.resize(base + plan.entriesPerMap, 0);
    // A copy that is all zeros was wiped (or never written): it maps
    // nothing, and the other one may be older than the pages, so their
    // counters decide too.
    bool blank[2] = {true, true};
    for (int c = 0; c < 2; ++c) {
      for (uint32_t i = 0; i < got[c] && blank[c]; ++i) blank[c] = copies[c * g.pageSize + i] == 0;
    }
    const bool readable0 = got[0] >= kMapCounterOffset + 2 && !blank[0];
    const bool readable1 = got[1] >= kMapCounterOffset + 2 && !blank[1];
    map->tableValid.push_back(readable0 || readable1);
    if (!readable0 && !readable1) {
      map->oneCopyOnly.push_back(false);
      continue;
    }
    const int use = ChooseMapPairCopy(
        readable0, readable0 ? DecodeLE16(copies.data() + kMapCounterOffset) : 0, readable1,
        readable1 ? DecodeLE16(copies.data() + g.pageSize + kMapCounterOffset) : 0);
    map->oneCopyOnly.push_back(blank[0] != blank[1]);
    const uint8_t* chosen = copies.data() + use * g.pageSize;
    for (uint32_t j = 1; j <= plan.entriesPerMap; ++j) {
      const uint32_t at = kMapCounterOffset + kMapEntrySize * j;
      if (at + kMapEntrySize > got[use]) break;
      const uint32_t physical = DecodePageNumber24(chosen + at);
      map->entries[base + j - 1] = physical == kMapNoPage ? kMapUnused : physical;
      map->kinds[base + j - 1] = chosen[at + 1];
    }
  }
}

// 0x0800-0x0950: a table copy counts only when it names itself (table k,
// kind 'P'); of two such copies the row's rule chooses (reader/copy_choice.h).
void ReadAllocationTables(InputFile* input, const Geometry& g, const PageGeometry& plan,
                          uint64_t physicalPages, MapState* map) {
  map->entries.assign(1, kNotMapped);
  const uint32_t copyBytes = g.controlCopyBytes;
  std::vector<uint8_t> copies(2 * static_cast<size_t>(copyBytes));
  for (uint64_t k = 1;; ++k) {
    const uint64_t first = plan.tables.firstTable + (k - 1) * plan.tables.extentPages;
    if (first >= physicalPages) break;
    const AllocationTableRules& rules = g.layout->tables;
    const uint8_t* current = nullptr;
    uint32_t currentUsage = 0;
    uint32_t highestUsage = 0;
    int validCopies = 0;
    for (int c = 0; c < 2; ++c) {
      uint8_t* copy = copies.data() + c * static_cast<size_t>(copyBytes);
      const int64_t offset = PhysicalPageOffset(g, first + c * plan.tables.copyPages);
      if (ReadInputAt(input, offset, copy, copyBytes) != copyBytes) continue;
      if (!TableCopyNamesItself(copy, k)) continue;
      ++validCopies;
      const uint32_t usage = TableCopyUsage(rules, copy);
      highestUsage = std::max(highestUsage, usage);
      if (current == nullptr || PreferTableCopy(rules, g.controlUsage, usage, currentUsage)) {
        current = copy;
        currentUsage = usage;
      }
    }
    map->oneCopyOnly.push_back(validCopies == 1);
    if (current != nullptr && currentUsage < highestUsage) ++map->newerPassedOver;
    const size_t base = map->entries.size();
    map->entries.resize(base + plan.entriesPerMap, kNotMapped);
    map->kinds.resize(base + plan.entriesPerMap, 0);
    map->tableValid.push_back(current != nullptr);
    if (current == nullptr) continue;
    for (uint32_t j = 0; j < plan.entriesPerMap; ++j) {
      const uint8_t* e = current + rules.entriesOffset + rules.entrySize * j;
      const uint32_t physical = DecodeLE32(e);
      map->entries[base + j] = physical == kV8TableUnused ? kMapUnused : physical;
      map->kinds[base + j] = e[5] == 0 ? e[4] : kIndexKind;
    }
  }
}

// Skipped pages listed one by one; beyond this (a file of noise) only
// counted, so memory stays small whatever the file holds.
constexpr size_t kMaxListedPages = 10000;

void Skip(ScanResult* result, SkippedPage page) {
  if (result->skipped.size() < kMaxListedPages) result->skipped.push_back(std::move(page));
  else ++result->skippedNotListed;
}

std::string PageReason(const char* format, unsigned a, unsigned b = 0) {
  char text[160];
  snprintf(text, sizeof text, format, a, b);
  return text;
}

// The copy of logical page `first->logical` that lies where the map places
// another logical page, where the map places that page where the copy's
// own entry points: two pages that traded places (0x0600-0x0700), each
// still carrying its own number.  A page freed and reused under another
// number leaves no such pair: the other page's entry names the reused page
// itself.  `numberAt` gives per physical page the number its header
// carries, of whatever kind (0 for none).
const Candidate* CrossedCopy(const MapState& map, const std::vector<uint32_t>& numberAt,
                             uint32_t entry, const Candidate* first, const Candidate* end) {
  if (entry >= numberAt.size()) return nullptr;
  const uint32_t other = numberAt[entry];
  if (other == 0 || other == first->logical || other >= map.entries.size()) return nullptr;
  const uint32_t otherEntry = map.entries[other];
  if (otherEntry == entry || otherEntry >= numberAt.size() ||
      numberAt[otherEntry] != first->logical) {
    return nullptr;
  }
  for (const Candidate* c = first; c != end; ++c) {
    if (c->physical == otherEntry) return c;
  }
  return nullptr;
}

// Of the copies [first, end) that carry one logical number (highest usage
// first), the current one, or null.  The map decides where it is sound and
// not older than the pages: a copy that the map confirms is current; an
// entry that says "unused", or (0x0600-0x0700) names another page, makes
// the copies stale, unless the two pages traded places (*crossed: the copy
// is taken by its number).  Where the map's other copy was wiped, the one left may
// be older than the pages it names, and a copy with a higher counter than
// the one it names (or any copy, where it names none) is newer.
const Candidate* ChooseOne(const PageGeometry& plan, const MapState& map,
                           const std::vector<bool>& confirmed,
                           const std::vector<uint32_t>& numberAt, const Candidate* first,
                           const Candidate* end, bool* crossed) {
  const uint32_t logical = first->logical;
  const uint32_t entry = logical < map.entries.size() ? map.entries[logical] : kNotMapped;
  const size_t table = (logical - 1) / (plan.entriesPerMap == 0 ? 1 : plan.entriesPerMap);
  const bool olderMap = table < map.oneCopyOnly.size() && map.oneCopyOnly[table];
  if (logical < confirmed.size() && confirmed[logical] && entry != kNotMapped) {
    const Candidate* named = nullptr;
    for (const Candidate* c = first; c != end; ++c) {
      if (c->physical == entry) named = c;
    }
    if (named != nullptr && olderMap && first->usage > named->usage) return first;
    return named;
  }
  if (entry == kMapUnused) return olderMap ? first : nullptr;
  if (KeepsMapPairs(plan.pageMap) && entry != kNotMapped) {
    if (olderMap) return first;
    const Candidate* moved = CrossedCopy(map, numberAt, entry, first, end);
    *crossed = moved != nullptr;
    return moved;
  }
  // No map covers the page, or its entry names a page that does not carry
  // it: the copy written last is the best guess.
  return first;
}

// Fills the page directory with the current copy of every logical page.
void ChooseCurrentCopies(const PageGeometry& plan, const MapState& map,
                         const std::vector<bool>& confirmed,
                         const std::vector<uint32_t>& numberAt,
                         std::vector<Candidate>* candidates, ScanResult* result) {
  if (plan.pageMap == PageMapRule::None) return;  // named by the pass (AddCandidate)
  // Per logical page, highest usage first, then file order: of two equal
  // copies the earlier is taken.  Sorted in place: a stable sort would
  // want a second array as large as the list.  A file written in one go
  // has its pages in that order already, and a look costs a tenth of a sort.
  std::vector<Candidate>& list = *candidates;
  const auto order = [](const Candidate& a, const Candidate& b) {
    if (a.logical != b.logical) return a.logical < b.logical;
    if (a.usage != b.usage) return a.usage > b.usage;
    return a.physical < b.physical;
  };
  if (!std::is_sorted(list.begin(), list.end(), order)) std::sort(list.begin(), list.end(), order);
  PageDirectory& dir = result->directory;
  // The variable list is as long as its highest page needs: a file of
  // fixed records keeps none, and two million pages would cost 8 MiB.
  uint32_t highest = 0;
  uint32_t highestVariable = 0;
  bool anyVariable = false;
  for (const Candidate& c : list) {
    highest = std::max(highest, c.logical);
    if (c.kind == HeaderKind::Variable) {
      highestVariable = std::max(highestVariable, c.logical);
      anyVariable = true;
    }
  }
  dir.data.assign(list.empty() ? 0 : highest + 1, kNoPhysicalPage);
  dir.variable.assign(anyVariable ? highestVariable + 1 : 0, kNoPhysicalPage);
  for (size_t i = 0; i < list.size();) {
    size_t end = i;
    while (end < list.size() && list[end].logical == list[i].logical) ++end;
    bool crossed = false;
    const Candidate* chosen =
        ChooseOne(plan, map, confirmed, numberAt, &list[i], list.data() + end, &crossed);
    result->counts.crossed += crossed;
    for (size_t k = i; k < end; ++k) {
      const Candidate& c = list[k];
      if (&c != chosen) {
        result->superseded.push_back(
            PageCopy{c.logical, c.physical, c.usage, c.kind == HeaderKind::Variable});
      }
    }
    if (chosen != nullptr && chosen->kind == HeaderKind::Data) {
      dir.data[chosen->logical] = chosen->physical;
      ++result->counts.currentData;
    } else if (chosen != nullptr) {
      dir.variable[chosen->logical] = chosen->physical;
      ++result->counts.currentVariable;
    }
    i = end;
  }
}

// Names `physical` as the current copy of `logical` in the data or (with
// `variable`) the variable directory.  The data list always reaches the
// highest logical page named; the variable list only its own highest.
void PlaceInDirectory(uint32_t logical, uint32_t physical, bool variable, ScanResult* result) {
  PageDirectory& dir = result->directory;
  if (dir.data.size() <= logical) dir.data.resize(logical + 1, kNoPhysicalPage);
  if (variable && dir.variable.size() <= logical) {
    dir.variable.resize(logical + 1, kNoPhysicalPage);
  }
  (variable ? dir.variable : dir.data)[logical] = physical;
}

// What the page pass learns besides the candidates.
struct PassState {
  std::vector<bool> confirmed;      // per logical page: the map's entry holds it
  std::vector<bool> carriesNumber;  // per physical page: its header has a number
  std::vector<uint32_t> numberAt;   // 0x0600-0x0700, per physical page: that
                                    // number, whatever the page's kind (0: none)
  // 0x0300-0x0500: data pages whose number is another place, where their
  // header and slots would fit, as (physical, number); at most
  // kMostMisplacedPages.
  std::vector<std::pair<uint32_t, uint32_t>> misplaced;
  std::vector<Candidate> candidates;
  // The proven-page sink's pages (per physical page: given), how many,
  // the last logical number given, and whether the proof was given up.
  const ProvenPageSink* proven = nullptr;
  std::vector<bool> given;
  uint64_t givenCount = 0;
  uint32_t provenThrough = 0;
  bool proofStopped = false;
};

// Cuts the data list, made as long as the file has pages, after the
// highest logical page named, as a list grown page by page would end.
void TrimDirectory(PageDirectory* dir) {
  size_t size = dir->data.size();
  while (size > 0 && dir->data[size - 1] == kNoPhysicalPage) --size;
  dir->data.resize(std::max(size, dir->variable.size()));
}

// A plausible data or variable page found by the pass.  Without a page map
// a page's number is its place (ClassifyPageHeader takes no other), so no
// logical page has two copies: the page is named current at once, and two
// million pages of 512 bytes keep no list of candidates (24 MiB).
void AddCandidate(const PageGeometry& plan, const Candidate& c, PassState* pass,
                  ScanResult* result) {
  if (plan.pageMap != PageMapRule::None) {
    pass->candidates.push_back(c);
    return;
  }
  std::vector<uint32_t>& data = result->directory.data;
  if (c.kind == HeaderKind::Data) ++result->counts.currentData;
  else ++result->counts.currentVariable;
  // The data list has an entry for every physical page (ScanDataFile).
  if (c.kind == HeaderKind::Data && c.logical < data.size()) {
    data[c.logical] = c.physical;
    return;
  }
  PlaceInDirectory(c.logical, c.physical, c.kind == HeaderKind::Variable, result);
}

// Whether the data page `physical`, just read and carrying `logical`, is
// proven current with nothing lower still to come (ProvenPageSink).  The
// first page that cannot be proven ends the proof: pages after it could be
// given out of order.
bool ProvenNow(const PageGeometry& plan, const MapState& map, uint32_t logical,
               uint32_t physical, PassState* pass) {
  if (pass->proofStopped || logical <= pass->provenThrough) return false;
  if (plan.pageMap != PageMapRule::None) {
    const size_t table = (logical - 1) / plan.entriesPerMap;
    const bool named = logical < map.entries.size() && map.entries[logical] == physical &&
                       table < map.tableValid.size() && map.tableValid[table] &&
                       !map.oneCopyOnly[table];
    // A lower logical page that the map does not cover, or that it names
    // further on without saying it holds no data, may still bring records
    // that come first.
    for (uint32_t l = pass->provenThrough + 1; named && l < logical; ++l) {
      const uint32_t entry = map.entries[l];
      const bool maybeData = map.kinds[l] == 'D' || map.kinds[l] == 0;
      if (entry == kNotMapped || (entry != kMapUnused && entry > physical && maybeData)) {
        pass->proofStopped = true;
      }
    }
    if (!named) pass->proofStopped = true;
    if (pass->proofStopped) return false;
  }
  pass->provenThrough = logical;
  pass->given[physical] = true;
  ++pass->givenCount;
  return true;
}

// The proof holds when the directory names, up to the last logical page
// proven, the pages proven and no other.  A page given carries one number
// and was given for it, and the directory names a page only for the number
// it carries (a headerless page carries none, and none was given): the
// same pages are then the same pairs, in the same logical order.
bool ProofHolds(const PassState& pass, const PageDirectory& dir) {
  uint64_t named = 0;
  for (size_t l = 1; l <= pass.provenThrough && l < dir.data.size(); ++l) {
    const uint32_t physical = dir.data[l];
    if (physical == kNoPhysicalPage) continue;
    if (physical >= pass.given.size() || !pass.given[physical]) return false;
    ++named;
  }
  return named == pass.givenCount;
}

// The last page of a file cut short, `got` of its bytes read into `page`:
// where they hold a data page header and at least one whole slot, the page
// is a candidate like any other, its missing bytes read as zeros (they hold
// no record: the walk takes only the slots that lie whole in what is
// there), and it is listed as cut.  Never given to the proven-page sink.
// Bytes lost inside the page cut it short too, and move its later slots:
// only where every slot starts with a slot word (from 0x0800) do the moved
// slots show it; before, a cut page is not read.  And only where the
// allocation table names it: a cut page may be an older copy whose
// current one lay past the cut.
bool TakeCutDataPage(const Geometry& g, const MapState& map, uint64_t physical, int64_t offset,
                     uint32_t got, uint64_t bound, std::vector<uint8_t>* page, PassState* pass,
                     ScanResult* result) {
  const uint32_t header = g.layout->dataPageHeaderSize;
  if (!g.layout->slotWords || got < kPageHeaderBytes || got < header + g.slotLength) {
    return false;
  }
  std::fill(page->begin() + got, page->end(), 0);
  const uint8_t* bytes = page->data();
  const PageHeaderInfo info = ClassifyPageHeader(*g.layout, bytes, physical, bound);
  if (info.kind != HeaderKind::Data || !DataPageSlotsPlausible(g, bytes)) return false;
  if (info.logical >= map.entries.size() || map.entries[info.logical] != physical) return false;
  pass->confirmed[info.logical] = true;
  ++result->counts.unreadable;  // a damaged page, though part of it is read
  pass->carriesNumber[physical] = true;
  AddCandidate(PlanOf(g),
               Candidate{info.logical, static_cast<uint32_t>(physical), info.usage, info.kind},
               pass, result);
  result->partPages.push_back(PartPage{static_cast<uint32_t>(physical), got});
  Skip(result, SkippedPage{offset, info.logical,
                           PageReason("cut short: %u of %u bytes; its slots that lie whole in "
                                      "them are read", got, g.pageSize)});
  return true;
}

constexpr size_t kMostMisplacedPages = 4096;

// Before 0x0600 a page's number is its place, and a data page found at
// another place is no page of this file there; it is kept in mind when its
// header and slots would fit at the place its number gives (see
// TakeCrossedPages).
void NoteMisplacedPage(const Geometry& g, const uint8_t* bytes, uint64_t physical,
                       uint32_t number, uint64_t bound, PassState* pass) {
  if (g.layout->pageMap != PageMapRule::None || number == physical || number == 0 ||
      pass->misplaced.size() >= kMostMisplacedPages ||
      ClassifyPageHeader(*g.layout, bytes, number, bound).kind != HeaderKind::Data ||
      !DataPageSlotsPlausible(g, bytes)) {
    return;
  }
  pass->misplaced.emplace_back(static_cast<uint32_t>(physical), number);
}

// Two data pages before 0x0600 that traded places: the page at a carries
// b's number and the page at b carries a's.  Each is taken where its number
// puts it; a page found elsewhere alone is not (noise or a page of another
// file may carry any number).
void TakeCrossedPages(const PassState& pass, ScanResult* result) {
  std::vector<uint32_t>& data = result->directory.data;
  for (const auto& [physical, number] : pass.misplaced) {
    const bool crossed =
        std::find(pass.misplaced.begin(), pass.misplaced.end(),
                  std::make_pair(number, physical)) != pass.misplaced.end();
    if (!crossed || number >= data.size() || data[number] != kNoPhysicalPage) continue;
    data[number] = physical;
    ++result->counts.crossed;
    ++result->counts.currentData;
    ++result->counts.data;
    --result->counts.other;
  }
}

// Reads every physical page once, classifies and checks it.
void PagePass(InputFile* input, const Geometry& g, const PageGeometry& plan, const MapState& map,
              ProgressFunction progress, void* progressContext, PassState* pass,
              ScanResult* result) {
  PageCounts& counts = result->counts;
  const uint64_t bound = LogicalBound(input->size / g.pageSize);
  std::vector<uint8_t> page(g.pageSize);
  for (uint64_t physical = 0; physical < counts.physical; ++physical) {
    const int64_t offset = PhysicalPageOffset(g, physical);
    // The pass is the first half of the work, the record walk the second.
    if ((physical & 1023) == 0 && progress != nullptr) progress(progressContext, offset / 2);
    if (IsReservedPage(plan, physical)) {
      ++counts.reserved;
      continue;
    }
    const uint8_t* bytes = ViewInputAt(input, offset, g.pageSize);
    const uint32_t got =
        bytes != nullptr ? g.pageSize : ReadInputAt(input, offset, page.data(), g.pageSize);
    if (got < g.pageSize) {
      if (!TakeCutDataPage(g, map, physical, offset, got, bound, &page, pass, result)) {
        ++counts.unreadable;
        Skip(result, SkippedPage{
            offset, -1, PageReason("cut short: %u of %u bytes", got, g.pageSize)});
      }
      continue;
    }
    if (bytes == nullptr) bytes = page.data();
    const PageHeaderInfo info = ClassifyPageHeader(*g.layout, bytes, physical, bound);
    // A page confirms its map entry when it sits where the entry says and
    // carries the entry's logical number, whatever kind of page it is.
    const uint32_t number = RawPageNumber(*g.layout, bytes);
    pass->carriesNumber[physical] = number != 0 && number < bound;
    if (!pass->numberAt.empty() && pass->carriesNumber[physical]) pass->numberAt[physical] = number;
    if (plan.pageMap != PageMapRule::None && number < map.entries.size() &&
        map.entries[number] == physical) {
      pass->confirmed[number] = true;
    }
    if (info.kind == HeaderKind::Other) {
      ++counts.other;
      if (IsIndexPage(*g.layout, bytes, number, bound)) ++counts.index;
      NoteMisplacedPage(g, bytes, physical, number, bound, pass);
      continue;
    }
    if (info.kind == HeaderKind::Data && !DataPageSlotsPlausible(g, bytes)) {
      ++counts.implausible;
      Skip(result, SkippedPage{
          offset, info.logical,
          PageReason("data page header, but its slots do not fit slot length %u",
                     g.slotLength)});
      continue;
    }
    if (info.kind == HeaderKind::Data) ++counts.data;
    else ++counts.variable;
    AddCandidate(plan,
                 Candidate{info.logical, static_cast<uint32_t>(physical), info.usage, info.kind},
                 pass, result);
    if (pass->proven != nullptr && info.kind == HeaderKind::Data &&
        ProvenNow(plan, map, info.logical, static_cast<uint32_t>(physical), pass)) {
      pass->proven->page(pass->proven->context, info.logical, offset, bytes);
    }
  }
  if (progress != nullptr) progress(progressContext, input->size / 2);
}

// A map none of whose entries names a page that carries it is not
// believed at all for its range (zeroed, or noise).  Healthy maps of
// 0x0600-0x0700 do name pages that were freed and reused under another
// number, so a few such entries say nothing.
void DistrustUnconfirmedMaps(const PageGeometry& plan, const std::vector<bool>& confirmed,
                             MapState* map) {
  const uint32_t perTable = plan.entriesPerMap;
  std::vector<uint32_t> agree(map->tableValid.size(), 0);
  std::vector<uint32_t> disagree(map->tableValid.size(), 0);
  for (size_t logical = 1; logical < map->entries.size(); ++logical) {
    const uint32_t entry = map->entries[logical];
    if (entry == kMapUnused || entry == kNotMapped) continue;
    const size_t table = (logical - 1) / perTable;
    if (confirmed[logical]) ++agree[table];
    else ++disagree[table];
  }
  for (size_t t = 0; t < map->tableValid.size(); ++t) {
    if (map->tableValid[t] && agree[t] == 0 && disagree[t] > 0) {
      map->tableValid[t] = false;
      for (size_t j = 0; j < perTable; ++j) {
        const size_t logical = t * perTable + j + 1;
        if (logical < map->entries.size()) map->entries[logical] = kNotMapped;
      }
    }
  }
}

// Reads physical page `physical` into `page` where its first `headerBytes`
// bytes are zeros (a wiped header, not something else) and bytes are left
// behind them (a page zeroed whole is lost, not read).
bool ReadWipedPage(InputFile* input, const Geometry& g, const PageGeometry& plan,
                   uint32_t physical, uint32_t headerBytes, std::vector<uint8_t>* page) {
  if (IsReservedPage(plan, physical)) return false;
  page->assign(g.pageSize, 0);
  if (ReadInputAt(input, PhysicalPageOffset(g, physical), page->data(), g.pageSize) !=
      g.pageSize) {
    return false;
  }
  const std::vector<uint8_t>& bytes = *page;
  for (uint32_t i = 0; i < headerBytes; ++i) {
    if (bytes[i] != 0) return false;
  }
  bool left = false;
  for (uint32_t i = headerBytes; i < g.pageSize && !left; ++i) left = bytes[i] != 0;
  return left;
}

// A data page whose header was destroyed (zeroed sectors) but which a sound
// map or allocation table names as a data page: read slot by slot, when
// every slot word (from 0x0800) still has a value the engine writes.  The
// entry's kind is the only word for it; the oldest class keeps none.
bool TakeHeaderlessPage(InputFile* input, const Geometry& g, const PageGeometry& plan,
                        uint32_t logical, uint32_t physical, ScanResult* result) {
  std::vector<uint8_t> page;
  if (!ReadWipedPage(input, g, plan, physical, g.layout->dataPageHeaderSize, &page)) return false;
  ++result->counts.wipedHeaders;
  if (!DataPageSlotsPlausible(g, page.data())) return false;
  PlaceInDirectory(logical, physical, false, result);
  ++result->counts.currentData;
  ++result->counts.headerless;
  return true;
}

// A variable page whose header was destroyed but which a sound allocation
// table names as one (0x0800 on): taken where its header alone is blank and
// bytes are left behind it.  The chain walker restores its fragment count
// from the table at the page's end and reads no fragment over a sector of
// zeros (salvage/chain.h).
bool TakeHeaderlessVariablePage(InputFile* input, const Geometry& g, const PageGeometry& plan,
                                uint32_t logical, uint32_t physical, ScanResult* result) {
  std::vector<uint8_t> page;
  if (!ReadWipedPage(input, g, plan, physical, g.layout->firstFragmentOffset, &page)) {
    return false;
  }
  ++result->counts.wipedHeaders;
  PlaceInDirectory(logical, physical, true, result);
  ++result->counts.currentVariable;
  ++result->counts.headerlessVariable;
  return true;
}

// --- Data pages of the oldest class whose header was wiped ---------------------
//
// Before 0x0600 a data page is found by the number in its header, which is
// its own position: a page whose first sector was lost is still known by
// its place, but not known to be a data page (these headers do not tell an
// index page from a free one).  Its records tell it: the slots behind the
// zeros, where records of one file share their field layout, recur at the
// slot length as on no index page (entries of another length) and no
// variable page.

// At most this many headerless pages are looked at: a file of noise has
// one at every page.
constexpr uint32_t kMostWipedDataPages = 4096;
// Whole slots behind the zeros that the evidence needs.
constexpr uint32_t kWipedPageSlots = 3;
// The least share of recurring changes at the slot length.
constexpr double kWipedPageScore = 0.02;

// True when the byte changes of `page` from `start` on recur at the slot
// length more than at any spacing up to twice it that is no multiple of
// the slot length and no divisor of it (by half as much again), and the
// slot length scores best or a multiple of it does.
bool SlotsRecurBehind(const Geometry& g, const uint8_t* page, uint32_t start) {
  const uint32_t slot = g.slotLength;
  const uint32_t longest = std::min<uint32_t>(2 * slot, (g.pageSize - start) / 2);
  if (slot < 4 || longest < slot) return false;
  std::vector<const uint8_t*> one{page + start};
  const uint32_t size = g.pageSize - start;
  double atSlot = 0, bestOther = 0, best = 0;
  uint32_t bestLength = 0;
  for (uint32_t length = 4; length <= longest; ++length) {
    const double score = RecurringChangesScore(one, 0, size, length);
    if (score > best) {
      best = score;
      bestLength = length;
    }
    if (length == slot) atSlot = score;
    if (length % slot != 0 && slot % length != 0 && score > bestOther) bestOther = score;
  }
  return bestLength % slot == 0 && atSlot >= kWipedPageScore && atSlot >= 1.5 * bestOther;
}

void TakeWipedDataPages(InputFile* input, const Geometry& g, const PageGeometry& plan,
                        const PassState& pass, ScanResult* result) {
  if (plan.pageMap != PageMapRule::None || g.slotLength == 0 || g.compressed ||
      g.pageSize <= kSectorBytes) {
    return;
  }
  const uint32_t header = g.layout->dataPageHeaderSize;
  uint32_t looked = 0;
  std::vector<uint8_t> page;
  for (uint64_t p = 1; p < result->counts.physical && looked < kMostWipedDataPages; ++p) {
    if (pass.carriesNumber[p]) continue;
    const std::vector<uint32_t>& data = result->directory.data;
    if (p < data.size() && data[p] != kNoPhysicalPage) continue;
    // The page that bytes went into or out of holds the start of the next
    // page or bytes moved from it, at record spacing but off the slots.
    const bool beforeShift = std::any_of(g.gridShifts.begin(), g.gridShifts.end(),
                                         [p](const GridShift& s) { return s.fromPage == p + 1; });
    if (beforeShift) continue;
    // A lost sector: the page's first one reads as zeros.
    if (!ReadWipedPage(input, g, plan, static_cast<uint32_t>(p), kSectorBytes, &page)) {
      continue;
    }
    ++looked;
    uint32_t zeros = kSectorBytes;
    while (zeros < g.pageSize && page[zeros] == 0) ++zeros;
    const uint32_t first = zeros <= header ? 0 : (zeros - header + g.slotLength - 1) / g.slotLength;
    const uint32_t start = header + first * g.slotLength;
    if (first + kWipedPageSlots > SlotsPerPage(g) || !SlotsRecurBehind(g, page.data(), start)) {
      continue;
    }
    ++result->counts.wipedHeaders;
    PlaceInDirectory(static_cast<uint32_t>(p), static_cast<uint32_t>(p), false, result);
    ++result->counts.currentData;
    ++result->counts.headerless;
  }
}

// 0x0600 and 0x0610 find variable pages through the map as it stands;
// where the map's other copy was wiped, the copy left may name older copies
// of them, and where no readable map covers a logical page at all, the
// current copies the page headers chose are taken instead.
void FollowNewerVariablePages(const PageGeometry& plan, const MapState& map, ScanResult* result) {
  const std::vector<uint32_t>& current = result->directory.variable;
  std::vector<uint32_t>& mapped = result->mapped;
  if (mapped.empty()) return;  // no page map in this version
  if (mapped.size() < current.size()) mapped.resize(current.size(), kNoPhysicalPage);
  for (size_t logical = 1; logical < current.size(); ++logical) {
    if (current[logical] == kNoPhysicalPage) continue;
    const size_t table = (logical - 1) / plan.entriesPerMap;
    const bool olderMap = table < map.oneCopyOnly.size() && map.oneCopyOnly[table];
    const bool unmapped =
        logical >= map.entries.size() || map.entries[logical] == kNotMapped;
    if (olderMap || unmapped) mapped[logical] = current[logical];
  }
}

// Map entries that name a page which is not there, and for which no other
// copy was found: that logical page is lost, unless its place is known and
// its slots still read.
void ReportLostPages(InputFile* input, const Geometry& g, const PageGeometry& plan,
                     const MapState& map, const PassState& pass, ScanResult* result) {
  std::vector<bool> hasCandidate(map.entries.size(), false);
  for (const Candidate& c : pass.candidates) {
    if (c.logical < hasCandidate.size()) hasCandidate[c.logical] = true;
  }
  const uint64_t physicalPages = result->counts.physical;
  for (size_t logical = 1; logical < map.entries.size(); ++logical) {
    const uint32_t entry = map.entries[logical];
    if (entry == kMapUnused || entry == kNotMapped || pass.confirmed[logical]) continue;
    if (hasCandidate[logical]) continue;
    // Entries may name pages that were freed and reused under another
    // number; only a page that carries no number at all is a lost one, and
    // only when the table says it was a data or variable page.  Healthy
    // files of 0x0600-0x0700 have entries naming empty pages and pages past
    // the end: there a lost page is not reported (it shows in the record
    // count), but a data page whose header alone was wiped is still read.
    if (entry < physicalPages && pass.carriesNumber[entry]) continue;
    if (KeepsMapPairs(plan.pageMap)) {
      if (entry < physicalPages && map.kinds[logical] == 'D') {
        TakeHeaderlessPage(input, g, plan, static_cast<uint32_t>(logical), entry, result);
      }
      continue;
    }
    if (plan.pageMap == PageMapRule::AllocationTables && map.kinds[logical] != 'D' && map.kinds[logical] != 'V') {
      continue;
    }
    const int64_t offset = PhysicalPageOffset(g, entry);
    if (entry >= physicalPages) {
      Skip(result, SkippedPage{
          offset, static_cast<int64_t>(logical),
          PageReason("the page map places logical page %u at physical page %u, beyond the end of the file",
                     static_cast<unsigned>(logical), entry)});
    } else if (map.kinds[logical] == 'D' &&
               TakeHeaderlessPage(input, g, plan, static_cast<uint32_t>(logical), entry, result)) {
      continue;
    } else if (map.kinds[logical] == 'V' &&
               TakeHeaderlessVariablePage(input, g, plan, static_cast<uint32_t>(logical), entry,
                                          result)) {
      continue;
    } else if (!IsReservedPage(plan, entry)) {
      Skip(result, SkippedPage{
          offset, static_cast<int64_t>(logical),
          PageReason("the page map places logical page %u at physical page %u, which does not hold it",
                     static_cast<unsigned>(logical), entry)});
    }
  }
}

// --- The page grid ---------------------------------------------------------------
//
// Bytes inserted into a file or lost from it move every later page off the
// grid of page-size steps: the headers the grid points at are record bytes.
// Where two pages hold headers that fit nothing, with no page that fits
// between them (blank ones aside), every shift, byte
// by byte, is tried on the next pages; one that makes clearly more of them
// fit than any other moves the grid from the first page it fits.  Without a
// page map a header carries its own position, so shifts of up to two pages
// either way are told apart.  With one, a header fits at any page's place,
// and a shift by whole pages looks like no shift: only shifts within half a
// page either way are tried, and a page found a whole page away from its
// place is still taken by its header (the current copy is chosen by the
// numbers the headers carry).

constexpr uint32_t kGridProbePages = 8;
// Bytes of a header the grid looks at: the longest header (0x0950's), which
// the page number decoders read.
constexpr uint32_t kGridHeaderBytes = kPageHeaderBytes;
constexpr uint32_t kMostGridShifts = 64;
constexpr uint32_t kMostGridSearches = 256;

// The header at `header` is one of physical page `physical`: without a page
// map every page carries its own number; with one, a data, variable or
// index page with a number the file can hold.
bool HeaderFits(const Geometry& g, const uint8_t* header, uint64_t physical, uint64_t bound) {
  const uint32_t number = RawPageNumber(*g.layout, header);
  if (g.layout->pageMap == PageMapRule::None) return number != 0 && number == physical;
  if (ClassifyPageHeader(*g.layout, header, physical, bound).kind != HeaderKind::Other) {
    return true;
  }
  return IsIndexPage(*g.layout, header, number, bound) ||
         IsCollatingPage(*g.layout, header, number, bound);
}

bool Blank(const uint8_t* bytes, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

// The page after the kGridProbePages pages from `first` on that a shift is
// probed on: reserved pages (control copies, map pages, tables) do not
// count, so a probe that starts just before the tables still looks at as
// many pages behind them.
uint64_t ProbeEnd(const PageGeometry& plan, uint64_t first, uint64_t pages) {
  uint64_t p = first;
  for (uint32_t counted = 0; p < pages && counted < kGridProbePages; ++p) {
    counted += !IsReservedPage(plan, p);
  }
  return p;
}

// The probe pages `first` .. end - 1 (ProbeEnd) whose headers fit when they
// lie `delta` bytes away from where the grid now puts them, as data or
// variable pages (without a map: any page) carrying numbers not met twice;
// `block` holds the file from `blockStart` on.  *probed counts the pages
// looked at (those whose header lies inside the file at that shift).
uint32_t CountFits(const Geometry& g, const PageGeometry& plan, const std::vector<uint8_t>& block,
                   int64_t blockStart, uint64_t first, uint64_t end, int64_t delta,
                   uint64_t bound, const std::vector<uint32_t>& logicalOf, uint64_t* firstFit,
                   uint32_t* named, uint32_t* probed) {
  uint32_t fits = 0;
  *named = 0;
  *probed = 0;
  uint32_t numbers[kGridProbePages];
  for (uint64_t p = first; p < end; ++p) {
    if (IsReservedPage(plan, p)) continue;
    const int64_t at = PhysicalPageOffset(g, p) + delta - blockStart;
    if (at < 0 || at + kGridHeaderBytes > static_cast<int64_t>(block.size())) continue;
    ++*probed;
    const uint8_t* header = block.data() + at;
    if (Blank(header, kGridHeaderBytes) || !HeaderFits(g, header, p, bound)) continue;
    // Index pages count for the walk, not here: record bytes mimic their
    // header too easily; unless the map names this very page with the
    // number it carries.  Nor does a number met already in the probe.
    const uint32_t number = RawPageNumber(*g.layout, header);
    const bool mapNamesIt = p < logicalOf.size() && logicalOf[p] == number;
    if (g.layout->pageMap != PageMapRule::None && !mapNamesIt &&
        ClassifyPageHeader(*g.layout, header, p, bound).kind == HeaderKind::Other) {
      continue;
    }
    if (std::find(numbers, numbers + fits, number) != numbers + fits) continue;
    // Where the map names the page, its header must carry that number.
    if (p < logicalOf.size() && logicalOf[p] != kNotMapped && logicalOf[p] != number) continue;
    if (p < logicalOf.size() && logicalOf[p] == number) ++*named;
    numbers[fits] = number;
    if (fits++ == 0) *firstFit = p;
  }
  return fits;
}

// Per physical page the logical number the map or tables give it, or
// kNotMapped: read as the file stands before any shift is known, so the
// entries that lie before the first damage are the ones to go by.
std::vector<uint32_t> LogicalNumbers(InputFile* input, const Geometry& g, const PageGeometry& plan,
                                     uint64_t pages) {
  std::vector<uint32_t> logicalOf;
  if (g.layout->pageMap == PageMapRule::None) return logicalOf;
  MapState map;
  if (g.layout->pageMap == PageMapRule::AllocationTables) {
    ReadAllocationTables(input, g, plan, pages, &map);
  } else {
    ReadPageMap(input, g, plan, pages, &map);
  }
  logicalOf.assign(pages, kNotMapped);
  for (size_t logical = 1; logical < map.entries.size(); ++logical) {
    const uint32_t physical = map.entries[logical];
    if (physical < pages) logicalOf[physical] = static_cast<uint32_t>(logical);
  }
  return logicalOf;
}

// True when the map names any of the probe pages from `first` on.
bool MapNamesProbe(const PageGeometry& plan, const std::vector<uint32_t>& logicalOf,
                   uint64_t first) {
  const uint64_t end = ProbeEnd(plan, first, logicalOf.size());
  for (uint64_t p = first; p < end; ++p) {
    if (logicalOf[p] != kNotMapped) return true;
  }
  return false;
}

// True when a file of `fileSize` bytes ends on the page grid once the
// total shift `total` is taken off.
bool EndsOnGrid(const Geometry& g, int64_t fileSize, int64_t total) {
  const int64_t end = fileSize - total;
  if (end <= 0) return false;
  const bool adjusted = HasAdjustment(g.layout->pageMap);
  const uint64_t near = static_cast<uint64_t>(end) / g.pageSize;
  for (uint64_t n = near > 2 ? near - 2 : 0; n <= near; ++n) {
    if (PhysicalPageStart(g.pageSize, adjusted, n) == static_cast<uint64_t>(end)) return true;
  }
  return false;
}

// Two shifts that fit the probe pages alike: without a map, pointers at the
// start of fragments carry page numbers too and can fit one shift as well
// as the headers fit the true one.  Bytes inserted or lost by a count that
// is no multiple of the page size also move the end of the file off the
// grid: where exactly one of the two puts it back, that one is taken (into
// *delta, *firstFit).  False when the end does not tell them apart.
bool EndDecidesTie(const Geometry& g, int64_t fileSize, int64_t* delta, uint64_t* firstFit,
                   int64_t otherDelta, uint64_t otherFirst) {
  const int64_t before = g.gridShifts.empty() ? 0 : g.gridShifts.back().shift;
  const bool mine = EndsOnGrid(g, fileSize, before + *delta);
  const bool other = EndsOnGrid(g, fileSize, before + otherDelta);
  if (mine == other) return false;
  if (other) {
    *delta = otherDelta;
    *firstFit = otherFirst;
  }
  return true;
}

// A shift that fits pages: by how much, how many, how many of them the map
// names, and how many pages it looked at.
struct ShiftFit {
  int64_t delta;
  uint32_t fits;
  uint32_t named;
  uint32_t probed;
  uint64_t firstFit;
};

// Near the end of a small file fewer than three pages may be left after
// the damage, and record bytes mimic a header at some shift or other.
// Bytes inserted or lost move the end of the file off the grid by as much
// as the pages after them: the one shift among those that fit a page which
// puts the end back on the grid is taken when it fits as many pages as any
// shift fits and either it is the only shift that fits any page at all, or
// it fits every page it looks at (but the first, which the damage may have
// run through) and, a single page fitting, one the map (or, without one,
// its own position) names.  Into *taken.
bool FitsWhatIsLeft(const Geometry& g, int64_t fileSize, int64_t before, uint64_t first,
                    uint32_t best, const std::vector<ShiftFit>& fitting, ShiftFit* taken) {
  const ShiftFit* onGrid = nullptr;
  for (const ShiftFit& f : fitting) {
    if (!EndsOnGrid(g, fileSize, before + f.delta)) continue;
    if (onGrid != nullptr) return false;
    onGrid = &f;
  }
  if (onGrid == nullptr || onGrid->fits < best) return false;
  // The first page looked at may be the one the damage ran through.
  const uint32_t spared = onGrid->firstFit > first ? 1 : 0;
  const bool fitsAll = onGrid->probed < 3 && onGrid->fits + spared >= onGrid->probed;
  const bool alone = fitting.size() == 1;
  if (!fitsAll && !alone) return false;
  if (onGrid->fits == 1 && g.layout->pageMap != PageMapRule::None && onGrid->named == 0 &&
      !alone) {
    return false;
  }
  *taken = *onGrid;
  return true;
}

// Looks for the shift that puts pages `first` on back on a grid.  True,
// with the shift added to g->gridShifts, when one is clearly best.
bool FindShiftAt(InputFile* input, Geometry* g, const PageGeometry& plan, uint64_t first,
                 uint64_t pages, uint64_t bound, const std::vector<uint32_t>& logicalOf) {
  // Whole-page shifts can be told apart where the pages carry their own
  // position or the map names them.
  const bool ownNumbers =
      g->layout->pageMap == PageMapRule::None || MapNamesProbe(plan, logicalOf, first);
  const int64_t reach = static_cast<int64_t>(g->pageSize) * 2;
  const int64_t lowest = ownNumbers ? -reach : -static_cast<int64_t>(g->pageSize) / 2 + 1;
  const int64_t highest = ownNumbers ? reach : static_cast<int64_t>(g->pageSize) / 2;
  const int64_t start = std::max<int64_t>(0, PhysicalPageOffset(*g, first) - reach);
  const uint64_t probeEnd = ProbeEnd(plan, first, pages);
  const int64_t end = PhysicalPageOffset(*g, probeEnd) + reach + kGridHeaderBytes;
  std::vector<uint8_t> block(static_cast<size_t>(std::min(end, input->size) - start));
  block.resize(ReadInputAt(input, start, block.data(), static_cast<uint32_t>(block.size())));
  uint32_t best = 0, second = 0, bestNamed = 0, secondNamed = 0, ties = 0;
  int64_t bestDelta = 0, tieDelta = 0;
  uint64_t bestFirst = first, tieFirst = first;
  std::vector<ShiftFit> fitting;  // every shift that fits a page
  for (int64_t delta = lowest; delta <= highest; ++delta) {
    uint64_t firstFit = first;
    uint32_t named = 0, probed = 0;
    const uint32_t fits =
        delta == 0 ? 0
                   : CountFits(*g, plan, block, start, first, probeEnd, delta, bound, logicalOf,
                               &firstFit, &named, &probed);
    if (fits > 0) fitting.push_back(ShiftFit{delta, fits, named, probed, firstFit});
    if (fits > best) {
      second = best;
      secondNamed = bestNamed;
      best = fits;
      bestNamed = named;
      bestDelta = delta;
      bestFirst = firstFit;
      ties = 0;
    } else if (fits > second) {
      second = fits;
      secondNamed = named;
    }
    if (fits == best && delta != bestDelta) {
      ++ties;
      tieDelta = delta;
      tieFirst = firstFit;
    }
  }
  if (ties == 1 && EndDecidesTie(*g, input->size, &bestDelta, &bestFirst, tieDelta, tieFirst)) {
    second = 0;
  }
  uint64_t ignored;
  uint32_t hereNamed, hereProbed;
  const uint32_t here = CountFits(*g, plan, block, start, first, probeEnd, 0, bound, logicalOf,
                                  &ignored, &hereNamed, &hereProbed);
  // A shift one page off the true one reads the same headers at the places
  // of their neighbours: where the map names pages, only the true one finds
  // them where the map says, and that tells the two apart.
  const bool mapDecides = best > second && bestNamed >= 2 && secondNamed == 0;
  const int64_t before = g->gridShifts.empty() ? 0 : g->gridShifts.back().shift;
  const bool clear = best >= 3 && (best >= 2 * second + 1 || mapDecides);
  ShiftFit taken{};
  if (!clear) {
    if (!FitsWhatIsLeft(*g, input->size, before, first, best, fitting, &taken)) return false;
    bestDelta = taken.delta;
    bestFirst = taken.firstFit;
  }
  if (best <= 2 * here) return false;
  // Pages between the first miss and the first data page that fits, whose
  // headers fit the new shift too (index pages, which do not count above),
  // moved with it.
  while (bestFirst > first) {
    const uint64_t p = bestFirst - 1;
    const int64_t at = PhysicalPageOffset(*g, p) + bestDelta - start;
    if (!IsReservedPage(plan, p) &&
        (at < 0 || at + kGridHeaderBytes > static_cast<int64_t>(block.size()) ||
         Blank(block.data() + at, kGridHeaderBytes) ||
         !HeaderFits(*g, block.data() + at, p, bound))) {
      break;
    }
    bestFirst = p;
  }
  g->gridShifts.push_back(GridShift{bestFirst, before + bestDelta});
  return true;
}

// --- The page a shift runs through --------------------------------------------
//
// Bytes inserted into a page or lost from it leave its header in place and
// move the slots behind them: those slots read as record bytes moved by the
// shift.  That page is the last before the shift whose header fits the grid
// before it.  What shows where the move begins: a used slot whose
// duplicate pointers are no pointers; else, where the file's records share
// a layout, the first used slot unlike them (salvage/slot_profile.h).  The
// slots before that one, but one, are read and the rest held back.  A last
// used slot whose pointers all fit, or a page whose every slot is like the
// others, lies where it was written (the bytes went in at its end) and is
// walked whole.  Where nothing shows either, its records are held back:
// bytes inserted at its end cannot be told from bytes inserted inside it.

// How the duplicate pointer words that end the slot at `at` read.
struct SlotPointers {
  bool other = false;  // a word that is no pointer
  bool zero = false;   // a zero word
};
SlotPointers ReadSlotPointers(const Geometry& g, const uint8_t* page, uint32_t at,
                              int64_t fileSize, uint32_t pairs) {
  SlotPointers read;
  for (uint32_t w = 0; w < 2 * pairs; ++w) {
    const uint8_t* word = page + at + g.slotLength - 8u * pairs + 4u * w;
    const DuplicatePointer kind = LookAtDuplicatePointer(*g.layout, word, g.pageSize,
                                                         g.slotLength, SlotsPerPage(g), fileSize);
    read.other |= kind == DuplicatePointer::Other;
    read.zero |= kind == DuplicatePointer::Zero;
  }
  return read;
}

// The first used slot of `page` that holds a duplicate pointer word that
// is no pointer, or kNoSlot.  Zero words are let pass: a free slot the rule
// takes for used keeps them.
constexpr uint32_t kNoSlot = UINT32_MAX;
uint32_t FirstMovedSlot(const Geometry& g, const uint8_t* page, int64_t fileSize, uint32_t pairs) {
  uint32_t moved = kNoSlot;
  if (8u * pairs >= g.slotLength) return moved;
  ForEachUsedSlot(g, page, [&](uint32_t s, uint32_t at) {
    if (ReadSlotPointers(g, page, at, fileSize, pairs).other) moved = s;
    return moved == kNoSlot;
  });
  return moved;
}

// Data pages to draw a record profile from: up to kProfilePages of the
// directory's, spread over it, none within two pages of a shift.
constexpr size_t kProfilePages = 64;
std::vector<int64_t> ProfilePageOffsets(const Geometry& g, const ScanResult& result) {
  std::vector<uint32_t> pages;
  for (uint32_t physical : result.directory.data) {
    if (physical == kNoPhysicalPage) continue;
    bool nearShift = false;
    for (const GridShift& shift : g.gridShifts) {
      nearShift |= physical + 2 >= shift.fromPage && physical <= shift.fromPage + 2;
    }
    if (!nearShift) pages.push_back(physical);
  }
  std::vector<int64_t> offsets;
  const size_t step = std::max<size_t>(1, pages.size() / kProfilePages);
  for (size_t i = 0; i < pages.size() && offsets.size() < kProfilePages; i += step) {
    offsets.push_back(PhysicalPageOffset(g, pages[i]));
  }
  return offsets;
}

// The first used slot of `page` that does not fit the profile, or kNoSlot.
uint32_t FirstUnfittingSlot(const Geometry& g, const SlotProfile& profile, const uint8_t* page) {
  uint32_t unlike = kNoSlot;
  ForEachUsedSlot(g, page, [&](uint32_t s, uint32_t at) {
    if (!SlotFitsProfile(profile, page + at)) unlike = s;
    return unlike == kNoSlot;
  });
  return unlike;
}

// True when the last used slot of `page` keeps duplicate pointer words
// that are all "none" or name a slot: it lies where it was written, and so
// do the slots before it (bytes inserted or lost behind it moved none).
// Without used slots nothing moved.
bool LastUsedSlotInPlace(const Geometry& g, const uint8_t* page, int64_t fileSize,
                         uint32_t pairs) {
  if (pairs == 0 || 8u * pairs >= g.slotLength) return false;
  uint32_t last = 0;
  bool any = false;
  ForEachUsedSlot(g, page, [&](uint32_t, uint32_t at) {
    last = at;
    any = true;
    return true;
  });
  if (!any) return true;
  const SlotPointers read = ReadSlotPointers(g, page, last, fileSize, pairs);
  return !read.other && !read.zero;
}

// The last page before `fromPage` (and from `lowest` on) whose header fits
// the grid before the shift, or kNoPhysicalPage.
uint64_t PageBeforeShift(InputFile* input, const Geometry& g, const PageGeometry& plan,
                         uint64_t lowest, uint64_t fromPage) {
  const uint64_t bound = LogicalBound(input->size / g.pageSize);
  for (uint64_t q = fromPage; q > lowest && fromPage - q < kGridProbePages;) {
    --q;
    if (IsReservedPage(plan, q)) continue;
    uint8_t header[kGridHeaderBytes];
    if (ReadInputAt(input, PhysicalPageOffset(g, q), header, kGridHeaderBytes) !=
        kGridHeaderBytes) {
      continue;
    }
    if (!Blank(header, kGridHeaderBytes) && HeaderFits(g, header, q, bound)) return q;
  }
  return kNoPhysicalPage;
}

}  // namespace

// Bytes inserted or lost inside the variable page just before the shift
// (its header is still in place, so the page the bytes went into or out
// of, unless they went in at its end) moved its later fragments and its
// fragment table: no chain is read through it.
void DropVariablePageBeforeShift(const Geometry& g, const GridShift& shift, uint64_t q,
                                 ScanResult* result) {
  if (!g.variable || q + 1 != shift.fromPage) return;
  if (g.layout->pageMap == PageMapRule::None) {
    const std::vector<uint32_t>& data = result->directory.data;
    if (std::find(data.begin(), data.end(), static_cast<uint32_t>(q)) == data.end()) {
      result->directory.movedVariable.push_back(static_cast<uint32_t>(q));
    }
    return;
  }
  std::vector<uint32_t>& variable = result->directory.variable;
  const auto current = std::find(variable.begin(), variable.end(), static_cast<uint32_t>(q));
  if (current == variable.end()) return;
  *current = kNoPhysicalPage;
  --result->counts.currentVariable;
  std::replace(result->mapped.begin(), result->mapped.end(), static_cast<uint32_t>(q),
               kNoPhysicalPage);
  Skip(result, SkippedPage{PhysicalPageOffset(g, q), current - variable.begin(),
                           "bytes inserted or lost inside the page moved its later fragments"});
}

void DropPagesAcrossShifts(InputFile* input, const Geometry& g, ScanResult* result) {
  if (g.gridShifts.empty() || g.slotLength == 0) return;
  // The pairs end the slot, behind the record and its tail pointer.
  const uint32_t kept = g.slotDataOffset + g.recordLength +
                        (g.variable ? ChainPointerSize(g.layout->chain) : 0);
  const uint32_t pairs =
      g.slotLength > kept && !g.compressed ? (g.slotLength - kept) / 8 : 0;
  const PageGeometry plan = PlanOf(g);
  std::vector<uint8_t> page(g.pageSize);
  std::vector<uint32_t>& data = result->directory.data;
  for (size_t i = 0; i < g.gridShifts.size(); ++i) {
    const uint64_t lowest = i == 0 ? 0 : g.gridShifts[i - 1].fromPage;
    const uint64_t q = PageBeforeShift(input, g, plan, lowest, g.gridShifts[i].fromPage);
    if (q == kNoPhysicalPage) continue;
    DropVariablePageBeforeShift(g, g.gridShifts[i], q, result);
    const auto current = std::find(data.begin(), data.end(), static_cast<uint32_t>(q));
    if (current == data.end()) continue;
    const int64_t offset = PhysicalPageOffset(g, q);
    if (ReadInputAt(input, offset, page.data(), g.pageSize) != g.pageSize) continue;
    uint32_t moved = pairs == 0 ? kNoSlot : FirstMovedSlot(g, page.data(), input->size, pairs);
    const char* shows = "a used slot's duplicate pointer is none";
    if (moved == kNoSlot && LastUsedSlotInPlace(g, page.data(), input->size, pairs)) continue;
    if (moved == kNoSlot) {
      // No pointer shows the move: the records themselves may, where the
      // file's other records agree on enough of their bytes.  Where they
      // do not, nothing tells the slots the bytes moved from those they
      // left in place (bytes inserted at the page's end move none): the
      // page's records are held back, not handed out on a guess.
      const int64_t delta = g.gridShifts[i].shift - (i == 0 ? 0 : g.gridShifts[i - 1].shift);
      const SlotProfile profile =
          BuildSlotProfile(input, g, ProfilePageOffsets(g, *result), delta);
      if (!profile.tells) {
        result->partPages.push_back(
            PartPage{static_cast<uint32_t>(q), g.layout->dataPageHeaderSize, true});
        Skip(result, SkippedPage{offset, current - data.begin(),
                                 "bytes were inserted or lost inside the page or at its end, "
                                 "and nothing shows which of its slots they moved: its records "
                                 "are held back (--keep-doubtful writes them out)"});
        continue;
      }
      moved = FirstUnfittingSlot(g, profile, page.data());
      if (moved == kNoSlot) continue;  // every slot fits: the bytes went in at its end
      shows = "a used slot is unlike the file's other records";
    }
    // The bytes went in or out somewhere in the slot before the first that
    // shows it (which may fit by chance) or in that one: the slots before
    // those two lie where they were written, and the rest are held back.
    const uint32_t keep = moved >= 2 ? moved - 1 : 0;
    result->partPages.push_back(PartPage{static_cast<uint32_t>(q),
                                         g.layout->dataPageHeaderSize + keep * g.slotLength, true});
    Skip(result, SkippedPage{offset, current - data.begin(),
                             std::string("bytes inserted or lost inside the page moved its "
                                         "slots (") + shows + "): its first " +
                                 std::to_string(keep) + " slots are read, the rest held back"});
  }
}

const PartPage* FindPartPage(const ScanResult& scan, uint32_t physical) {
  for (const PartPage& part : scan.partPages) {
    if (part.physical == physical) return &part;
  }
  return nullptr;
}

void FindGridShifts(InputFile* input, Geometry* g) {
  // Only called on a file whose page pass found damage: the walk reads a
  // header of every page once more.
  g->gridShifts.clear();
  if (!g->usable) return;
  const PageGeometry plan = PlanOf(*g);
  const uint64_t bound = LogicalBound(input->size / g->pageSize);
  uint64_t pages = CountPhysicalPages(*g, input->size);
  uint32_t searches = 0;
  std::vector<uint8_t> page;
  const std::vector<uint32_t> logicalOf = LogicalNumbers(input, *g, plan, pages);
  uint64_t firstMiss = 0;
  uint32_t misses = 0;
  for (uint64_t p = 0; p < pages; ++p) {
    if (IsReservedPage(plan, p)) continue;
    uint8_t header[kGridHeaderBytes];
    if (ReadInputAt(input, PhysicalPageOffset(*g, p), header, kGridHeaderBytes) !=
        kGridHeaderBytes) {
      break;
    }
    // A blank page says nothing either way: free pages are zero.  A blank
    // header over bytes that are not is what a moved grid points at where
    // the end of a page was zero (the slack after the last slot).
    if (Blank(header, kGridHeaderBytes)) {
      if (page.empty()) page.resize(g->pageSize);
      const uint32_t got = ReadInputAt(input, PhysicalPageOffset(*g, p), page.data(), g->pageSize);
      if (Blank(page.data(), got)) continue;
    } else if (HeaderFits(*g, header, p, bound) &&
               (p >= logicalOf.size() || logicalOf[p] == kNotMapped ||
                logicalOf[p] == RawPageNumber(*g->layout, header))) {
      misses = 0;
      continue;
    }
    if (misses++ == 0) firstMiss = p;
    if (misses < 2) continue;
    misses = 0;
    if (searches++ >= kMostGridSearches || g->gridShifts.size() >= kMostGridShifts) break;
    if (FindShiftAt(input, g, plan, firstMiss, pages, bound, logicalOf)) {
      p = g->gridShifts.back().fromPage;
      pages = CountPhysicalPages(*g, input->size);
    }
  }
  // One page that fits nothing at the end: the last page of a file whose
  // bytes moved near its end.
  if (misses == 1 && searches < kMostGridSearches && g->gridShifts.size() < kMostGridShifts) {
    FindShiftAt(input, g, plan, firstMiss, pages, bound, logicalOf);
  }
}

bool ScanFoundDamage(const Geometry& g, const ScanResult& result) {
  // Fewer current data pages than the records the header counts need: a
  // page out of place passes as no page at all before 0x0600.
  const uint64_t slots = SlotsPerPage(g);
  const bool tooFewPages =
      g.recordCountKnown && result.counts.currentData * slots < g.recordCount;
  return tooFewPages || !result.skipped.empty() || result.skippedNotListed > 0 ||
         result.counts.implausible > 0 || result.counts.unreadable > 0;
}

int64_t PhysicalPageOffset(const Geometry& g, uint64_t physical) {
  const uint64_t offset =
      PhysicalPageStart(g.pageSize, HasAdjustment(g.layout->pageMap), physical);
  for (size_t i = g.gridShifts.size(); i > 0; --i) {
    if (g.gridShifts[i - 1].fromPage <= physical) {
      return static_cast<int64_t>(offset) + g.gridShifts[i - 1].shift;
    }
  }
  return static_cast<int64_t>(offset);
}

bool DataPageSlotsPlausible(const Geometry& g, const uint8_t* page) {
  if (!g.layout->slotWords) return true;
  const uint32_t header = g.layout->dataPageHeaderSize;
  const uint32_t slots = SlotsPerPage(g);
  for (uint32_t i = 0; i < slots; ++i) {
    const uint8_t* slot = page + header + i * g.slotLength;
    if (g.compressed) {
      // 01 01 00 (0x0950: 01 02 00) in a used slot, 00 00 00 in a free one.
      const uint8_t* m = slot + kV8UsedMarkerOffset;
      const bool used = m[0] == 1 && (m[1] == 1 || m[1] == 2) && m[2] == 0;
      const bool free = m[0] == 0 && m[1] == 0 && m[2] == 0;
      if (!used && !free) return false;
    } else if (slot[1] != 0) {
      // Slot words are small: 0 free, 1 (3, 5, 9 seen) used.
      return false;
    }
  }
  return true;
}

void ScanDataFile(InputFile* input, const Geometry& g, ProgressFunction progress,
                  void* progressContext, const ProvenPageSink* proven, ScanResult* result) {
  *result = ScanResult{};
  const PageGeometry plan = PlanOf(g);
  result->counts.physical = CountPhysicalPages(g, input->size);
  MapState map;
  if (KeepsMapPairs(plan.pageMap)) ReadPageMap(input, g, plan, result->counts.physical, &map);
  if (plan.pageMap == PageMapRule::AllocationTables) {
    ReadAllocationTables(input, g, plan, result->counts.physical, &map);
    result->newerTablesPassedOver = map.newerPassedOver;
  }
  if (KeepsMapPairs(plan.pageMap)) {
    result->mapped.assign(map.entries.size(), kNoPhysicalPage);
    for (size_t i = 0; i < map.entries.size(); ++i) {
      const uint32_t e = map.entries[i];
      if (e != kMapUnused && e != kNotMapped) result->mapped[i] = e;
    }
  }
  PassState pass;
  pass.confirmed.assign(map.entries.size(), false);
  pass.carriesNumber.assign(result->counts.physical, false);
  if (KeepsMapPairs(plan.pageMap)) pass.numberAt.assign(result->counts.physical, 0);
  // At most one candidate per physical page: reserved once, the list is
  // never copied as it grows, and memory the pass does not fill is never
  // touched.  Without a map the pass fills the data list itself, one entry
  // per physical page, trimmed after it.
  if (plan.pageMap != PageMapRule::None) {
    pass.candidates.reserve(result->counts.physical);
  } else {
    result->directory.data.assign(result->counts.physical, kNoPhysicalPage);
  }
  pass.proven = proven;
  if (proven != nullptr) pass.given.assign(result->counts.physical, false);
  PagePass(input, g, plan, map, progress, progressContext, &pass, result);
  TakeCrossedPages(pass, result);
  if (plan.pageMap == PageMapRule::None) TrimDirectory(&result->directory);
  DistrustUnconfirmedMaps(plan, pass.confirmed, &map);
  ChooseCurrentCopies(plan, map, pass.confirmed, pass.numberAt, &pass.candidates, result);
  FollowNewerVariablePages(plan, map, result);
  ReportLostPages(input, g, plan, map, pass, result);
  TakeWipedDataPages(input, g, plan, pass, result);
  DropPagesAcrossShifts(input, g, result);
  result->provenPages = pass.givenCount;
  result->provenThrough = pass.provenThrough;
  result->provenHolds = ProofHolds(pass, result->directory);
  std::stable_sort(result->skipped.begin(), result->skipped.end(),
                   [](const SkippedPage& a, const SkippedPage& b) { return a.offset < b.offset; });
}
