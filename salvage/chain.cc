#include "salvage/chain.h"

#include <cstring>

#include "reader/format.h"
#include "reader/v8_layout.h"

namespace {

struct Pointer {
  bool end = false;       // no (further) fragment
  uint32_t page = 0;      // logical page, or physical for 0x0300-0x0500
  uint32_t fragment = 0;
};

// 0x0300-0x0700: page bits 16-23, 0-7, 8-15, then the fragment; FF FF FF ends.
Pointer DecodeOldPointer(const uint8_t* p) {
  Pointer pointer;
  pointer.end = p[0] == 0xFF && p[1] == 0xFF && p[2] == 0xFF;
  pointer.page = (static_cast<uint32_t>(p[0]) << 16) | p[1] | (static_cast<uint32_t>(p[2]) << 8);
  pointer.fragment = p[3];
  return pointer;
}

Pointer DecodeV8Pointer(const uint8_t* p) {
  Pointer pointer;
  pointer.page = DecodeLE32(p);
  pointer.fragment = DecodeLE16(p + 4);
  pointer.end = pointer.page == kV8NoPage;
  return pointer;
}

// File offset of a variable page, -1 when there is none.  Without a page
// map a page's number is its position; otherwise the current copy.
int64_t LocatePage(const ChainWalker* w, uint32_t page) {
  const Geometry& g = *w->geometry;
  if (g.layout->versionClass == 1) {
    if (page == 0 || page == kMapNoPage) return -1;
    return static_cast<int64_t>(page) * g.pageSize;
  }
  // 0x0600 and 0x0610 go through the page map as it stands; 0x0700 on by
  // the page's own number.
  const std::vector<uint32_t>& pages =
      g.layout->variableViaPageOffset ? *w->mapped : w->directory->variable;
  if (page >= pages.size()) return -1;
  const uint32_t physical = pages[page];
  return physical == kNoPhysicalPage ? -1 : PhysicalPageOffset(g, physical);
}

bool LoadPage(ChainWalker* w, int64_t offset) {
  if (w->pageOffset == offset) return true;
  w->pageOffset = -1;
  const uint32_t pageSize = w->geometry->pageSize;
  if (ReadInputAt(w->input, offset, w->page.data(), pageSize) != pageSize) return false;
  w->pageOffset = offset;
  return true;
}

// Fragment `fragment` of a 0x0800 variable page: its start (the pointer to
// the next fragment) and the end of its data, inside the area between the
// page header and the fragment table.
bool V8FragmentBounds(const uint8_t* page, uint32_t pageSize, uint32_t fragment,
                      uint32_t* start, uint32_t* end) {
  const uint32_t count = DecodeLE16(page + kV8FragmentCountOffset);
  if (fragment >= count) return false;
  if (2 * (count + 1) > pageSize - kV8FirstFragmentOffset) return false;
  const uint32_t tableStart = pageSize - 2 * (count + 1);
  auto entry = [&](uint32_t f) { return DecodeLE16(page + pageSize - 2 - 2 * f); };
  const uint16_t first = entry(fragment);
  if (first == kV8NoFragment || first < kV8FirstFragmentOffset) return false;
  uint32_t limit = tableStart;
  for (uint32_t f = 0; f <= count; ++f) {
    const uint16_t e = entry(f);
    if (e != kV8NoFragment && e > first && e < limit) limit = e;
  }
  if (first + kV8PointerSize > limit) return false;
  *start = first;
  *end = limit;
  return true;
}

}  // namespace

void AppendToSink(ByteSink* sink, const uint8_t* data, uint32_t length) {
  if (sink->decoder != nullptr) {
    FeedRunLength(sink->decoder, data, length, sink->destination, sink->capacity);
    sink->length = sink->decoder->produced;
    return;
  }
  if (sink->destination != nullptr && sink->length < sink->capacity) {
    const uint64_t room = sink->capacity - sink->length;
    memcpy(sink->destination + sink->length, data, room < length ? room : length);
  }
  sink->length += length;
}

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
  const bool v8 = g.layout->versionClass == 3;
  const uint32_t pageSize = g.pageSize;
  const uint8_t* page = w->page.data();
  Pointer pointer = v8 ? DecodeV8Pointer(pointerBytes) : DecodeOldPointer(pointerBytes);
  w->visited.clear();
  for (uint32_t step = 0; step < kMaxChainSteps; ++step) {
    if (pointer.end) return true;
    const uint64_t key = (static_cast<uint64_t>(pointer.page) << 16) | (pointer.fragment & 0xFFFF);
    if (!w->visited.insert(key).second) {
      *reason = "the chain comes back to a fragment it has read";
      return false;
    }
    const int64_t offset = LocatePage(w, pointer.page);
    if (offset < 0) {
      *reason = "variable page " + std::to_string(pointer.page) + " not found";
      return false;
    }
    if (!LoadPage(w, offset)) {
      *reason = "variable page " + std::to_string(pointer.page) + " cannot be read";
      return false;
    }
    if (v8) {
      uint32_t start;
      uint32_t end;
      if (!V8FragmentBounds(page, pageSize, pointer.fragment, &start, &end)) {
        *reason = "fragment " + std::to_string(pointer.fragment) + " of variable page " +
                  std::to_string(pointer.page) + " is not in its table";
        return false;
      }
      const Pointer next = DecodeV8Pointer(page + start);
      AppendToSink(sink, page + start + kV8PointerSize, end - start - kV8PointerSize);
      pointer = next;
      continue;
    }
    // Versions below 0x0800: the fragment table grows down from the end of
    // the page; a fragment runs to the next used entry.
    const uint32_t tableTop = (pageSize - 1) >> 1;
    const std::string where = "fragment " + std::to_string(pointer.fragment) +
                              " of variable page " + std::to_string(pointer.page);
    // The page must be one: found by its position (0x0300-0x0500) it may
    // hold anything after damage, and its table would hand out noise.  The
    // page map of 0x0600 and 0x0610 does lead healthy files' chains to pages
    // of other kinds, whose tables end them at once; only a blank page there
    // is a lost one.
    bool isVariablePage;
    if (g.layout->versionClass == 1) {
      isVariablePage =
          (DecodeLE16(page + 4) & 0x8000) == 0 && DecodePageNumber24(page) == pointer.page;
    } else {
      isVariablePage = false;
      for (uint32_t i = 0; i < 8; ++i) isVariablePage = isVariablePage || page[i] != 0;
    }
    if (!isVariablePage) {
      *reason = "variable page " + std::to_string(pointer.page) + " is not a variable page";
      return false;
    }
    if (pointer.fragment > tableTop) {
      *reason = where + " lies outside the table";
      return false;
    }
    const uint32_t index = tableTop - pointer.fragment;
    const uint16_t entry = DecodeLE16(page + 2 * index);
    const uint32_t start = entry & kFragmentOffsetMask;
    bool haveNext = false;
    uint32_t end = 0;
    for (uint32_t k = index; k-- > 0;) {
      const uint16_t word = DecodeLE16(page + 2 * k);
      if (word != kFragmentUnused) {
        end = word & kFragmentOffsetMask;
        haveNext = true;
        break;
      }
    }
    const uint32_t header = g.layout->fragmentHeaderSize;
    uint32_t length = static_cast<uint16_t>(end - header - start);
    // The engine leaves chains of these versions ending in fragments
    // without a length (seen in healthy files): the end, not a break.
    if (!haveNext || length == 0 || length > 2u * pageSize) return true;
    uint32_t dataStart = start + header;
    Pointer next;
    if (g.layout->fragmentBit15Pointer) {
      if (entry & kFragmentHasPointer) {
        if (length < kOldFragmentPointerSize || start + kOldFragmentPointerSize > pageSize) {
          *reason = where + " is too short for its pointer";
          return false;
        }
        next = DecodeOldPointer(page + start);
        dataStart += kOldFragmentPointerSize;
        length -= kOldFragmentPointerSize;
      } else {
        next.end = true;  // the last fragment of the chain
      }
    } else {
      if (start + 4 > pageSize) {
        *reason = where + " runs past the page";
        return false;
      }
      next = DecodeOldPointer(page + start);
    }
    if (dataStart + length > pageSize) {
      *reason = where + " runs past the page";
      return false;
    }
    AppendToSink(sink, page + dataStart, length);
    pointer = next;
  }
  *reason = "the chain has more fragments than a record can";
  return false;
}
