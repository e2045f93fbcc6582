// Single-byte and single-bit damage at every field the reader uses: the
// control page copies, the page map, page headers, slot headers, variable
// pointers and fragment tables.  Every damaged copy is walked in both
// variants; the records that the walk meets before the damage must come out
// unchanged.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/damage/damage_util.h"
#include "tests/fixture/fixture_v8.h"

namespace damage {
namespace {

constexpr size_t kNoRecord = static_cast<size_t>(-1);

// One damaged byte and what it may affect: records from `firstRecord` on,
// and records with a page at or after `firstPage`.
struct Spot {
  size_t offset;
  uint32_t firstPage = kNoDamagedPage;
  size_t firstRecord = kNoRecord;
};

// The lowest and the highest bit flipped, and the two extreme values.
std::vector<uint8_t> DamagedValues(uint8_t good) {
  const uint8_t candidates[] = {0x00, 0xFF, static_cast<uint8_t>(good ^ 0x01),
                                static_cast<uint8_t>(good ^ 0x80)};
  std::vector<uint8_t> values;
  for (uint8_t v : candidates) {
    if (v != good && std::find(values.begin(), values.end(), v) == values.end()) {
      values.push_back(v);
    }
  }
  return values;
}

// What damage at a spot touches: its page (and what that page maps or
// describes), and the record whose slot or pointer it is.
Touched TouchedBy(const Sample& sample, const Spot& spot) {
  const uint32_t page = static_cast<uint32_t>(spot.offset / sample.options.pageSize);
  Touched touched = TouchedByPage(sample, page);
  // The control page copies of the later versions describe the whole file
  // too: a damaged counter or count can send the walk anywhere.
  if (page <= 1 && sample.options.version >= 0x0600) touched.everything = true;
  if (spot.firstRecord != kNoRecord) touched.records.push_back(spot.firstRecord);
  return touched;
}

void Sweep(const std::string& group, const Sample& sample, const std::vector<Spot>& spots) {
  for (size_t n = 0; n < spots.size(); n += SweepStride()) {
    const Spot& spot = spots[n];
    if (spot.offset >= sample.built.bytes.size()) continue;
    Touched touched = TouchedBy(sample, spot);
    for (uint8_t value : DamagedValues(sample.built.bytes[spot.offset])) {
      std::vector<uint8_t> bytes = sample.built.bytes;
      bytes[spot.offset] = value;
      Touched damaged = touched;
      AddClaimedNumber(sample, bytes,
                       static_cast<uint32_t>(spot.offset / sample.options.pageSize), &damaged);
      for (ReaderVariant variant : kBothVariants) {
        std::vector<size_t> must = RecordsBefore(sample, spot.firstPage, bytes, variant);
        must.erase(std::remove_if(must.begin(), must.end(),
                                  [&](size_t i) { return i >= spot.firstRecord; }),
                   must.end());
        SCOPED_TRACE(sample.name + ": byte " + std::to_string(spot.offset) + " set to " +
                     std::to_string(value));
        ExpectSalvaged(group, sample, variant, WalkBytes(bytes, variant), must, damaged);
      }
    }
  }
}

bool HasPageMap(uint16_t version) { return version >= 0x0600 && version <= 0x0700; }
bool EngineLayout(uint16_t version) { return version >= 0x0800; }

// Fields of a control page copy that the reader reads, in every version,
// and those that only 0x0800 and 0x0900 read (usage, table count,
// duplicate pointers, free slot, flags, decoded length).
constexpr size_t kControlFields[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  22, 23,
                                     24, 25, 26, 27, 28, 29, 43, 56, 74, 75};
constexpr size_t kEngineControlFields[] = {76,  77,  116, 117, 160, 161,
                                           162, 163, 400, 401, 402, 403};

bool IsCountOrCounter(size_t at, uint16_t version) {
  const size_t counter = EngineLayout(version) ? 6 : 4;
  return at == counter || at == counter + 1 || (at >= 26 && at <= 29);
}

// --- Control page copies -------------------------------------------------------

TEST(ByteDamage, ControlPageCopies) {
  // Both copies announce the same records, so a damaged counter or record
  // count never loses the file: a wrong count only shortens the walk, and
  // RecordsBefore allows for it.  Up to 0x0700 every other field comes from
  // copy 1, which describes the whole file (nothing is owed when it is
  // damaged), and the rest of copy 2 is not read.  From 0x0800 every field
  // comes from the active copy, copy 2 in these files: a copy that is no
  // longer sound (signature, kind, page size) gives way to the other, equal
  // one; copy 1's signature, version word and page size say how the file
  // is read at all and where copy 2 lies.
  for (const Sample& sample : AllSamples()) {
    const uint16_t version = sample.options.version;
    const size_t pageSize = sample.options.pageSize;
    std::vector<size_t> fields(std::begin(kControlFields), std::end(kControlFields));
    if (EngineLayout(version)) {
      fields.insert(fields.end(), std::begin(kEngineControlFields),
                    std::end(kEngineControlFields));
    }
    fields.push_back(100);  // read by no version
    fields.push_back(300);
    std::vector<size_t> copies = {0};
    if (EngineLayout(version)) {
      copies.push_back(sample.built.controlCopyBytes);
    } else if (version >= 0x0600) {
      copies.push_back(pageSize);
    }
    std::vector<Spot> spots;
    for (size_t copy : copies) {
      for (size_t at : fields) {
        bool harmless = IsCountOrCounter(at, version) || at == 100 || at == 300;
        if (EngineLayout(version)) {
          const bool soundness = at <= 4 || at == 43;
          // Copy 1's signature and version word say which layout and
          // version the file has at all.
          const bool identity = at <= 3 || at == 43 || at == 74 || at == 75;
          harmless = harmless || (copy == 0 ? !identity : soundness);
        } else {
          harmless = harmless || copy != 0;
        }
        spots.push_back({copy + at, harmless ? kNoDamagedPage : 0u, kNoRecord});
      }
    }
    Sweep("control page copies", sample, spots);
  }
}

// --- Page map --------------------------------------------------------------------

TEST(ByteDamage, MapPagePair) {
  // Map pair 0 (physical pages 2 and 3).  The copies are identical, so a
  // damaged counter changes nothing whichever copy wins.  A damaged entry of
  // the current copy (the second) loses the logical page it described; the
  // first copy is not read.
  for (const Sample& sample : AllSamples()) {
    if (!HasPageMap(sample.options.version)) continue;
    const size_t pageSize = sample.options.pageSize;
    const size_t first = PageStart(sample, sample.built.mapPages.at(0));
    const auto& b = sample.built.bytes;
    std::vector<Spot> spots;
    for (size_t copy = 0; copy < 2; ++copy) {
      const size_t page = first + copy * pageSize;
      spots.push_back({page + 4});
      spots.push_back({page + 5});
      for (size_t j = 1; j <= 14; ++j) {
        const size_t entry = page + 4 + 4 * j;
        const uint32_t target = (b[entry] << 16) | b[entry + 2] | (b[entry + 3] << 8);
        const uint32_t firstPage =
            copy == 0 || target == 0xFFFFFF ? kNoDamagedPage : target;
        for (size_t k = 0; k < 4; ++k) spots.push_back({entry + k, firstPage, kNoRecord});
      }
    }
    Sweep("map page pair", sample, spots);
  }
}

TEST(ByteDamage, AllocationTables) {
  // 0x0800 and 0x0900: table 1, both copies.  A copy whose header no
  // longer names it gives way to the other, which maps the same pages; a
  // damaged entry of the current copy (B in these files) loses the logical
  // page it described, one of the other copy is not read.
  for (const Sample& sample : AllSamples()) {
    if (!EngineLayout(sample.options.version)) continue;
    const uint16_t pageSize = sample.options.pageSize;
    const auto& b = sample.built.bytes;
    std::vector<Spot> spots;
    for (int copy = 0; copy < 2; ++copy) {
      const size_t table = fixture::V8TableEntryOffset(pageSize, 1, copy) - 20;
      for (size_t k = 0; k < 8; ++k) spots.push_back({table + k});
      std::vector<uint32_t> logical = sample.built.dataPageNumbers;
      logical.insert(logical.end(), sample.built.variablePageNumbers.begin(),
                     sample.built.variablePageNumbers.end());
      for (uint32_t l : logical) {
        const size_t entry = fixture::V8TableEntryOffset(pageSize, l, copy);
        const uint32_t target = b[entry] | (b[entry + 1] << 8) | (b[entry + 2] << 16) |
                                (static_cast<uint32_t>(b[entry + 3]) << 24);
        const uint32_t firstPage = copy == sample.options.currentTableCopy ? target
                                                                          : kNoDamagedPage;
        for (size_t k = 0; k < 6; ++k) spots.push_back({entry + k, firstPage, kNoRecord});
      }
    }
    Sweep("allocation tables", sample, spots);
  }
}

// --- Pages and slots ---------------------------------------------------------------

TEST(ByteDamage, PageHeaders) {
  for (const Sample& sample : AllSamples()) {
    std::vector<Spot> spots;
    std::vector<uint32_t> pages = sample.built.dataPages;
    pages.insert(pages.end(), sample.built.variablePages.begin(),
                 sample.built.variablePages.end());
    for (uint32_t page : pages) {
      for (size_t k = 0; k < 8; ++k) spots.push_back({PageStart(sample, page) + k, page});
    }
    Sweep("page headers", sample, spots);
  }
}

TEST(ByteDamage, SlotHeadersAndVariablePointers) {
  // The first bytes of a slot (the used-slot word, and in the "FC" layout
  // the two bytes before the data) and the variable pointer behind the
  // fixed part.  Only the damaged record and what follows it may be lost.
  for (const Sample& sample : AllSamples()) {
    const fixture::FixtureOptions& o = sample.options;
    const size_t dataOffset = o.fcLayout ? 2 : 0;
    std::vector<Spot> spots;
    for (size_t i = 0; i < sample.built.records.size(); i += 5) {
      const size_t slot = SlotStart(sample, i);
      for (size_t k = 0; k < 4; ++k) spots.push_back({slot + k, kNoDamagedPage, i});
      if (!o.variableLength) continue;
      const size_t pointer = slot + dataOffset + o.recordLength;
      for (size_t k = 0; k < 4; ++k) spots.push_back({pointer + k, kNoDamagedPage, i});
      if (o.version >= 0x0800) {
        // The fragment word of these versions.
        spots.push_back({slot + o.recordLength + 10, kNoDamagedPage, i});
        spots.push_back({slot + o.recordLength + 11, kNoDamagedPage, i});
      }
    }
    Sweep("slot headers and variable pointers", sample, spots);
  }
}

TEST(ByteDamage, FragmentTablesAndNextPointers) {
  // The used words of every fragment table (at the end of the page) and the
  // first bytes of every fragment, where its next pointer lies.
  for (const Sample& sample : AllSamples()) {
    const size_t pageSize = sample.options.pageSize;
    const auto& b = sample.built.bytes;
    std::vector<Spot> spots;
    for (uint32_t page : sample.built.variablePages) {
      const size_t start = PageStart(sample, page);
      // The first four fragments of each page: their entries, the entries
      // that close them, and their starts.
      const size_t top = (pageSize - 1) >> 1;
      for (size_t word = top; word > 0 && word + 4 > top; --word) {
        const size_t at = start + 2 * word;
        const uint16_t entry = static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
        if (entry == 0 || entry == 0xFFFF) break;  // end of the used table
        spots.push_back({at, page});
        spots.push_back({at + 1, page});
        const size_t fragment = start + (entry & 0x7FFF);
        for (size_t k = 0; k < 6 && fragment + k < start + pageSize; ++k) {
          spots.push_back({fragment + k, page});
        }
      }
    }
    Sweep("fragment tables and next pointers", sample, spots);
  }
}

TEST(ByteDamage, ZeroedPages) {
  // A whole page of zeros, every page in turn.  Zeroed control page copy 1
  // leaves nothing; a zeroed copy 2 loses its counter and copy 1 wins; a
  // zeroed map page loses the pages it maps.
  for (const Sample& sample : AllSamples()) {
    const size_t pageSize = sample.options.pageSize;
    const size_t pages = sample.built.bytes.size() / pageSize;
    uint32_t firstUsed = kNoDamagedPage;
    for (const auto& recordPages : sample.built.recordPages) {
      firstUsed = std::min(firstUsed, recordPages[0]);
    }
    for (uint32_t page = 0; page < pages; page += static_cast<uint32_t>(SweepStride())) {
      std::vector<uint8_t> bytes = sample.built.bytes;
      const size_t start = PageStart(sample, page);
      std::fill(bytes.begin() + start, bytes.begin() + start + pageSize, 0);
      const bool isMap = std::find(sample.built.mapPages.begin(), sample.built.mapPages.end(),
                                   page) != sample.built.mapPages.end() ||
                         std::find(sample.built.mapPages.begin(), sample.built.mapPages.end(),
                                   page - 1) != sample.built.mapPages.end();
      const bool isControlCopy2 = page == 1 && HasPageMap(sample.options.version);
      // 0x0800 and 0x0900 keep two whole copies of the control page and of
      // every table: a zeroed page of one leaves the other.
      bool engineCopy = false;
      if (EngineLayout(sample.options.version)) {
        const fixture::V8Geometry g = fixture::V8GeometryOf(sample.options.pageSize);
        engineCopy = page < 2 * g.copyPages;
        for (uint32_t k = 1; k <= sample.built.mapPages.size(); ++k) {
          for (int copy = 0; copy < 2; ++copy) {
            const uint32_t first = fixture::V8TablePage(g, k, copy);
            engineCopy = engineCopy || (page >= first && page < first + g.copyPages);
          }
        }
      }
      const uint32_t firstPage = engineCopy ? kNoDamagedPage
                                 : page == 0 ? 0u
                                 : isMap ? firstUsed
                                 : isControlCopy2 ? kNoDamagedPage
                                                  : page;
      Touched touched = TouchedByPage(sample, page);
      if (page <= 1) touched.everything = true;
      for (ReaderVariant variant : kBothVariants) {
        SCOPED_TRACE(sample.name + ": page " + std::to_string(page) + " zeroed");
        ExpectSalvaged("zeroed pages", sample, variant, WalkBytes(bytes, variant),
                       RecordsBefore(sample, firstPage, bytes, variant), touched);
      }
    }
  }
}

}  // namespace
}  // namespace damage
