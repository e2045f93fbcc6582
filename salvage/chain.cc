#include "salvage/chain.h"

#include <algorithm>

#include "reader/format.h"
#include "reader/v8_layout.h"
#include "salvage/page_rules.h"

namespace {

// Header bytes that are zero on a page whose header was wiped.
constexpr uint32_t kPageHeaderProbe = 8;

// File offset of a variable page, -1 when there is none.  0x0300-0x0500:
// the page's number is its position (where the grid puts it); 0x0600 and 0x0610: the page map as it
// stands; 0x0700 on: the current copy that carries the number.
int64_t LocatePage(const ChainWalker* w, int64_t page) {
  const Geometry& g = *w->geometry;
  if (page <= 0 || page >= kMapNoPage) return -1;
  if (g.layout->pageMap == PageMapRule::None) {
    return PhysicalPageOffset(g, static_cast<uint64_t>(page));
  }
  const std::vector<uint32_t>& pages =
      g.layout->variableViaPageOffset ? *w->mapped : w->directory->variable;
  if (static_cast<uint64_t>(page) >= pages.size()) return -1;
  const uint32_t physical = pages[static_cast<size_t>(page)];
  return physical == kNoPhysicalPage ? -1 : PhysicalPageOffset(g, physical);
}

bool LoadPage(ChainWalker* w, int64_t offset) {
  if (w->pageOffset == offset) return true;
  w->pageOffset = -1;
  const uint32_t pageSize = w->geometry->pageSize;
  if (ReadInputAt(w->input, offset, w->page.data(), pageSize) != pageSize) return false;
  w->pageOffset = offset;
  w->zeroed = FindZeroedSectors(w->page.data(), pageSize, offset, w->lostSectors);
  return true;
}

// True when the data of the fragment the walk reads next touches a sector
// of zeros: the page's table still names it, but its bytes are gone.  On a
// page whose header was wiped (`headerless`) a fragment its table does not
// hold is lost too: the walk would take it for the chain's own end.
bool NextFragmentLost(const ChainWalker* w, const ChainWalk& walk, bool headerless) {
  if (w->zeroed.bits == 0 && !headerless) return false;
  Fragment fragment;
  if (!LocateFragment(walk.layout, w->page.data(), walk.pageSize, walk.pointer.fragment,
                      &fragment)) {
    return headerless;  // else the walk itself finds the table damaged
  }
  return TouchesZeroedSector(w->zeroed, w->pageOffset, fragment.dataStart, fragment.dataLength);
}

// Found by its position (0x0300-0x0500) a page may hold anything after
// damage, and its table would hand out noise: it must carry its number and
// no data page mark.  Found through the map or the tables, it must be a
// variable page carrying the number the chain names: a page of another kind
// there (a data page copied over it, a page the map was not updated for)
// has a table that ends the chain at once, and the record would come out
// without its tail.  No chain of a healthy corpus file meets such a page.
bool LooksLikeVariablePage(const ChainWalker* w, const uint8_t* page, int64_t number) {
  const Geometry& g = *w->geometry;
  if (g.layout->pageMap == PageMapRule::None) {
    return (DecodeLE16(page + 4) & 0x8000) == 0 && DecodePageNumber24(page) == number;
  }
  const uint64_t bound = LogicalBound(w->input->size / g.pageSize);
  const PageHeaderInfo header = ClassifyPageHeader(*g.layout, page, 0, bound);
  return header.kind == HeaderKind::Variable && header.logical == number;
}

// Writes back the fragment count of a counted table whose header was
// wiped: the table at the page's end still rises from fragment 0's place to
// the start of the free space, and the last entry of that rise is entry n.
// False when no table rises there.
bool RestoreFragmentCount(uint8_t* page, uint32_t pageSize, uint32_t countAt, uint32_t first) {
  uint32_t count = 0;
  uint32_t last = 0;
  for (uint32_t k = 0; 2 * k + 2 <= pageSize - first; ++k) {
    const uint32_t at = pageSize - 2 - 2 * k;
    const uint16_t entry = DecodeLE16(page + at);
    if (entry == kV8NoFragment) continue;  // a deleted fragment
    if (entry < first || entry > at || (last != 0 && entry <= last)) break;
    last = entry;
    count = k;
  }
  if (count == 0) return false;
  page[countAt] = static_cast<uint8_t>(count & 0xFF);
  page[countAt + 1] = static_cast<uint8_t>(count >> 8);
  return true;
}

// A variable page whose header was wiped: from 0x0800 one a sound
// allocation table names (salvage/page_scan.h), before 0x0600 the page a
// chain's pointer names by its position.  Its table at the end is read as
// it stands (from 0x0800 with its count restored), and from then on every
// sector of zeros in the page counts as lost.  The middle class is not
// read so: its map leads healthy chains to pages of other kinds.
bool TakeHeaderlessVariablePage(ChainWalker* w) {
  const Geometry& g = *w->geometry;
  const PageMapRule map = g.layout->pageMap;
  if (map != PageMapRule::AllocationTables && map != PageMapRule::None) return false;
  uint8_t* page = w->page.data();
  for (uint32_t i = 0; i < kPageHeaderProbe; ++i) {
    if (page[i] != 0) return false;  // a header of another page, not a wiped one
  }
  const ChainRule rule = g.compressed ? g.layout->compressedChain : g.layout->chain;
  if (map == PageMapRule::AllocationTables &&
      !RestoreFragmentCount(page, g.pageSize, g.layout->fragmentCountOffset,
                            g.layout->firstFragmentOffset)) {
    return false;
  }
  // The counted tables of compressed files before 0x0800 need not rise
  // with the fragment number: their count cannot be restored so.
  if (map == PageMapRule::None && (rule == ChainRule::Pointer24Bit15Counted ||
                                   rule == ChainRule::Pointer24Header4Counted)) {
    return false;
  }
  w->zeroed = FindZeroedSectors(page, g.pageSize, w->pageOffset, true);
  return true;
}

// Locates, reads and checks the page of the walk's next fragment; false,
// with the walk ended and `reason` set, when the chain breaks there.
bool ReadyChainPage(ChainWalker* w, ChainWalk* walk, int64_t page, std::string* reason) {
  const int64_t offset = LocatePage(w, page);
  if (offset < 0) {
    *reason = "variable page " + std::to_string(page) + " not found";
    EndChain(walk, ChainEnd::MissingPage);
    return false;
  }
  const std::vector<uint32_t>& moved = w->directory->movedVariable;
  if (std::find(moved.begin(), moved.end(), static_cast<uint32_t>(page)) != moved.end()) {
    *reason = "variable page " + std::to_string(page) +
              " took bytes inserted or lost inside it: its fragments may have moved";
    EndChain(walk, ChainEnd::MissingPage);
    return false;
  }
  if (!LoadPage(w, offset)) {
    *reason = "variable page " + std::to_string(page) + " cannot be read";
    EndChain(walk, ChainEnd::Unreadable);
    return false;
  }
  const bool headerless =
      !LooksLikeVariablePage(w, w->page.data(), page) && TakeHeaderlessVariablePage(w);
  if (!headerless && !LooksLikeVariablePage(w, w->page.data(), page)) {
    *reason = "page " + std::to_string(page) + " is not a variable page";
    EndChain(walk, ChainEnd::MissingPage);
    return false;
  }
  if (NextFragmentLost(w, *walk, headerless)) {
    *reason = "fragment " + std::to_string(walk->pointer.fragment) + " of variable page " +
              std::to_string(page) +
              (headerless ? ", whose header was wiped, is not in its table or lies over a "
                            "sector of zeros"
                          : " lies over a sector of zeros");
    EndChain(walk, ChainEnd::MissingPage);
    return false;
  }
  return true;
}

}  // namespace

void PrepareChainWalker(ChainWalker* walker, InputFile* input, const Geometry* geometry,
                        const PageDirectory* directory, const std::vector<uint32_t>* mapped) {
  walker->input = input;
  walker->geometry = geometry;
  walker->directory = directory;
  walker->mapped = mapped;
  walker->page.assign(geometry->pageSize, 0);
  walker->pageOffset = -1;
}

bool WalkChain(ChainWalker* w, const uint8_t* pointerBytes, ByteSink* sink,
               std::string* reason) {
  const Geometry& g = *w->geometry;
  const ChainRule rule = g.compressed ? g.layout->compressedChain : g.layout->chain;
  const ChainLayout layout{rule, g.layout->fragmentHeaderSize, g.layout->fragmentCountOffset,
                           g.layout->firstFragmentOffset};
  ChainWalk walk;
  BeginChain(&walk, layout, g.pageSize, DecodeChainPointer(rule, pointerBytes), &w->visited);
  int64_t page = 0;
  while (NextChainPage(&walk, *sink, &page)) {
    if (!ReadyChainPage(w, &walk, page, reason)) break;
    // Every fragment the chain layer locates lies inside the page
    // (tests/reader/fragment_bounds_test.cc): the walker copies it as it is.
    TakeChainPage(&walk, w->page.data(), sink);
  }
  w->lastEnd = walk.end;
  switch (walk.end) {
    case ChainEnd::Running:
    case ChainEnd::Finished:
      return true;
    case ChainEnd::DamagedTable:
      // The uncounted fragment tables below 0x0800 end chains with fragments
      // of no length (seen in healthy files): their end, not a break.
      if (rule == ChainRule::Pointer24Bit15 || rule == ChainRule::Pointer24Header4) return true;
      *reason = "fragment " + std::to_string(walk.pointer.fragment) + " of variable page " +
                std::to_string(walk.pointer.page) + " is not in its table";
      return false;
    case ChainEnd::Loop:
      *reason = "the chain comes back to a fragment it has read";
      return false;
    case ChainEnd::Bound:
      *reason = "the chain has more fragments than a record can";
      return false;
    case ChainEnd::MissingPage:
    case ChainEnd::Unreadable:
      return false;
  }
  return false;
}

bool WalkChunkedTail(ChainWalker* w, const uint8_t* pointer, ByteSink* sink,
                     std::string* reason) {
  w->chunkTable.clear();
  ByteSink tableSink;
  tableSink.collect = &w->chunkTable;
  if (!WalkChain(w, pointer, &tableSink, reason)) {
    *reason = "chunk table: " + *reason;
    return false;
  }
  // The table is copied: the walks below reuse the walker.
  const std::vector<uint8_t> table = w->chunkTable;
  bool whole = true;
  for (size_t at = 0; at + kChunkEntrySize <= table.size(); at += kChunkEntrySize) {
    const uint64_t before = sink->length;
    sink->limit = before + DecodeLE32(table.data() + at + kChunkLengthOffset);
    std::string why;
    const bool ended = WalkChain(w, table.data() + at, sink, &why);
    if (whole && (!ended || sink->length < sink->limit)) {
      *reason = "chunk " + std::to_string(at / kChunkEntrySize) + " gave " +
                std::to_string(sink->length - before) + " of " +
                std::to_string(sink->limit - before) + " bytes" +
                (why.empty() ? std::string() : ": " + why);
      whole = false;
    }
  }
  sink->limit = UINT64_MAX;
  return whole;
}
