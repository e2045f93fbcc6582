#include "reader/chain.h"

#include <cstring>

#include "reader/format.h"
#include "reader/v8_layout.h"

namespace {

// A chain this short is searched for repeats by looking at every fragment;
// longer ones get the hash index.
constexpr size_t kLinearVisited = 16;

// The 4-byte pointer of versions below 0x0800: page bits 16-23, 0-7, 8-15,
// then the fragment number.  FF FF FF is the end marker.
ChainPointer DecodeOldPointer(const uint8_t* p) {
  ChainPointer pointer;
  pointer.end = p[0] == 0xFF && p[1] == 0xFF && p[2] == 0xFF;
  pointer.page = (static_cast<uint32_t>(p[0]) << 16) | p[1] |
                 (static_cast<uint32_t>(p[2]) << 8);
  pointer.fragment = p[3];
  return pointer;
}

ChainPointer DecodeCountedPointer(const uint8_t* p) {
  const uint32_t page = DecodeLE32(p);
  return ChainPointer{page == kV8NoPage, page, DecodeLE16(p + 4)};
}

// Fragment tables of versions below 0x0800 (see chain.h).  A fragment runs
// to the offset of the next used entry; every bound is checked against the
// page, and a length of zero or beyond twice the page size is damage.
bool LocateOldFragment(ChainRule rule, uint8_t headerSize, const uint8_t* page,
                       uint32_t pageSize, uint32_t fragment, Fragment* out) {
  const uint32_t tableTop = (pageSize - 1) >> 1;  // word index of fragment 0
  if (fragment > tableTop) return false;
  const uint32_t index = tableTop - fragment;
  if (2u * index + 2 > pageSize) return false;
  const uint16_t entry = DecodeLE16(page + 2 * index);
  const uint32_t start = entry & kFragmentOffsetMask;
  uint32_t k = index;
  while (k > 0 && DecodeLE16(page + 2 * (k - 1)) == kFragmentUnused) --k;
  if (k == 0) return false;
  const uint32_t end = DecodeLE16(page + 2 * (k - 1)) & kFragmentOffsetMask;

  uint32_t length = static_cast<uint16_t>(end - headerSize - start);
  if (length == 0 || length > 2u * pageSize) return false;
  uint32_t dataStart = start + headerSize;
  ChainPointer next{true, 0, 0};
  const bool startsWithPointer =
      rule == ChainRule::Pointer24Header4 || (entry & kFragmentHasPointer) != 0;
  if (startsWithPointer) {
    if (start + kOldFragmentPointerSize > pageSize) return false;
    next = DecodeOldPointer(page + start);
    if (rule == ChainRule::Pointer24Bit15) {
      // The pointer is part of the fragment's own bytes in this class.
      if (length < kOldFragmentPointerSize) return false;
      dataStart += kOldFragmentPointerSize;
      length -= kOldFragmentPointerSize;
    }
  }
  if (dataStart + length > pageSize) return false;
  *out = Fragment{dataStart, length, next};
  return true;
}

// Where a counted fragment table keeps its count and its first fragment,
// and which bits of an entry are the offset.
struct CountedTable {
  uint32_t countOffset;
  uint32_t firstFragment;
  uint16_t offsetMask;
};

constexpr CountedTable kOldTable = {kOldFragmentCountOffset, kOldFirstFragmentOffset,
                                    kFragmentOffsetMask};

uint16_t CountedEntry(const uint8_t* page, uint32_t pageSize, uint32_t fragment) {
  return DecodeLE16(page + pageSize - 2 - 2 * fragment);
}

// Counted fragment tables: n + 1 entries, the last one marking the free
// space, must leave room for the page header and the count.  A fragment ends
// where the next larger offset of the table begins; the table rises with
// the fragment number, but a deleted fragment (0xFFFF) leaves a gap, so all
// entries are looked at.  Gives the fragment's bounds and its table entry.
bool CountedBounds(const CountedTable& table, const uint8_t* page, uint32_t pageSize,
                   uint32_t fragment, uint32_t* start, uint32_t* end, uint16_t* entry) {
  if (pageSize < table.firstFragment + 2) return false;
  const uint32_t count = DecodeLE16(page + table.countOffset);
  if (fragment >= count) return false;
  if (2 * (count + 1) > pageSize - table.firstFragment) return false;
  const uint32_t tableStart = pageSize - 2 * (count + 1);
  *entry = CountedEntry(page, pageSize, fragment);
  if (*entry == kV8NoFragment) return false;
  const uint32_t first = *entry & table.offsetMask;
  if (first < table.firstFragment) return false;
  uint32_t limit = tableStart;
  for (uint32_t f = 0; f <= count; ++f) {
    const uint16_t other = CountedEntry(page, pageSize, f);
    if (other == kV8NoFragment) continue;
    const uint32_t at = other & table.offsetMask;
    if (at > first && at < limit) limit = at;
  }
  // An entry at or above the table's start names no bytes of the page.
  if (first >= limit) return false;
  *start = first;
  *end = limit;
  return true;
}

// The fragment of 0x0800 to 0x0950: the 6-byte next pointer, then data.  The
// count and fragment 0 lie where the layout says.
bool LocateCountedFragment(const ChainLayout& layout, const uint8_t* page, uint32_t pageSize,
                           uint32_t fragment, Fragment* out) {
  const CountedTable table = {layout.countOffset, layout.firstFragment, 0xFFFF};
  if (table.countOffset + 2 > table.firstFragment) return false;
  uint32_t start, end;
  uint16_t entry;
  if (!CountedBounds(table, page, pageSize, fragment, &start, &end, &entry)) return false;
  if (start + kV8PointerSize > end) return false;
  *out = Fragment{start + static_cast<uint32_t>(kV8PointerSize),
                  end - start - static_cast<uint32_t>(kV8PointerSize),
                  DecodeCountedPointer(page + start)};
  return true;
}

// A compressed record's fragment before 0x0800: a 4-byte next pointer first
// on every fragment of the middle class, and on those of the oldest class
// whose entry has bit 15 (without it the fragment is the chain's last).
bool LocateOldCountedFragment(ChainRule rule, const uint8_t* page, uint32_t pageSize,
                              uint32_t fragment, Fragment* out) {
  uint32_t start, end;
  uint16_t entry;
  if (!CountedBounds(kOldTable, page, pageSize, fragment, &start, &end, &entry)) return false;
  const bool pointer =
      rule == ChainRule::Pointer24Header4Counted || (entry & kFragmentHasPointer) != 0;
  ChainPointer next{true, 0, 0};
  uint32_t dataStart = start;
  if (pointer) {
    if (start + kOldFragmentPointerSize > end) return false;
    next = DecodeOldPointer(page + start);
    dataStart += kOldFragmentPointerSize;
  }
  *out = Fragment{dataStart, end - dataStart, next};
  return true;
}

uint64_t VisitKey(const ChainPointer& pointer) {
  return ((static_cast<uint64_t>(pointer.page) & 0xFFFFFFFFull) << 16) |
         (pointer.fragment & 0xFFFF);
}

// Adds the key; true when it was there already.
bool AlreadyVisited(VisitedFragments* visited, uint64_t key) {
  std::vector<uint64_t>& keys = visited->keys;
  auto keyAt = [&keys](uint32_t position) { return keys[position]; };
  if (keys.size() < kLinearVisited) {
    for (uint64_t seen : keys) {
      if (seen == key) return true;
    }
  } else if (FindPosition(visited->index, key, keyAt) >= 0) {
    return true;
  }
  keys.push_back(key);
  if (keys.size() == kLinearVisited) {
    for (uint32_t i = 0; i < keys.size(); ++i) InsertPosition(visited->index, i, keyAt);
  } else if (keys.size() > kLinearVisited) {
    InsertPosition(visited->index, static_cast<uint32_t>(keys.size() - 1), keyAt);
  }
  return false;
}

}  // namespace

uint32_t ChainPointerSize(ChainRule rule) {
  return rule == ChainRule::Pointer32Counted ? kV8PointerSize : kOldFragmentPointerSize;
}

ChainPointer DecodeChainPointer(ChainRule rule, const uint8_t* bytes) {
  return rule == ChainRule::Pointer32Counted ? DecodeCountedPointer(bytes)
                                             : DecodeOldPointer(bytes);
}

void SinkAppend(ByteSink* sink, const uint8_t* data, uint32_t length) {
  if (sink->length >= sink->limit) return;
  if (sink->limit - sink->length < length) {
    length = static_cast<uint32_t>(sink->limit - sink->length);
  }
  if (sink->collect != nullptr) {
    sink->collect->insert(sink->collect->end(), data, data + length);
    sink->length += length;
    return;
  }
  if (sink->decoder != nullptr) {
    FeedRunLength(sink->decoder, data, length, sink->destination, sink->capacity);
    sink->length = sink->decoder->produced;
    return;
  }
  if (sink->destination != nullptr && sink->length < sink->capacity) {
    const uint64_t room = sink->capacity - sink->length;
    memcpy(sink->destination + sink->length, data,
           room < length ? static_cast<size_t>(room) : length);
  }
  sink->length += length;
}

bool LocateFragment(const ChainLayout& layout, const uint8_t* page,
                    uint32_t pageSize, uint32_t fragment, Fragment* out) {
  switch (layout.rule) {
    case ChainRule::Pointer32Counted:
      return LocateCountedFragment(layout, page, pageSize, fragment, out);
    case ChainRule::Pointer24Bit15Counted:
    case ChainRule::Pointer24Header4Counted:
      return LocateOldCountedFragment(layout.rule, page, pageSize, fragment, out);
    default:
      return LocateOldFragment(layout.rule, layout.fragmentHeaderSize, page, pageSize,
                               fragment, out);
  }
}

void BeginChain(ChainWalk* walk, const ChainLayout& layout, uint32_t pageSize,
                ChainPointer first, VisitedFragments* visited) {
  walk->layout = layout;
  walk->pageSize = pageSize;
  walk->pointer = first;
  walk->steps = 0;
  walk->end = first.end ? ChainEnd::Finished : ChainEnd::Running;
  walk->visited = visited;
  if (visited->keys.size() >= kLinearVisited) ResetIndex(visited->index);
  visited->keys.clear();
}

bool NextChainPage(ChainWalk* walk, const ByteSink& sink, int64_t* page) {
  if (walk->end != ChainEnd::Running) return false;
  // A chunk of known length ends with its last byte.
  if (sink.length >= sink.limit) {
    walk->end = ChainEnd::Finished;
    return false;
  }
  // Every fragment holds at least one byte and a record of the older
  // versions is at most 65535 bytes long: a longer chain has lost its way.
  if (walk->steps >= kMaxChainSteps) {
    walk->end = ChainEnd::Bound;
    return false;
  }
  // A chain that returns to a fragment it has been through is damaged: it
  // ends with what has been gathered.
  if (AlreadyVisited(walk->visited, VisitKey(walk->pointer))) {
    walk->end = ChainEnd::Loop;
    return false;
  }
  *page = walk->pointer.page;
  return true;
}

void TakeChainPage(ChainWalk* walk, const uint8_t* page, ByteSink* sink) {
  ++walk->steps;
  Fragment fragment;
  if (!LocateFragment(walk->layout, page, walk->pageSize, walk->pointer.fragment,
                      &fragment)) {
    walk->end = ChainEnd::DamagedTable;
    return;
  }
  SinkAppend(sink, page + fragment.dataStart, fragment.dataLength);
  walk->pointer = fragment.next;
  if (fragment.next.end) walk->end = ChainEnd::Finished;
}

void EndChain(ChainWalk* walk, ChainEnd reason) { walk->end = reason; }
