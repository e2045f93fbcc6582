// Streams benchmark data files page by page.  The page order, the page map,
// the packing of variable parts into fragments and every header follow the
// fixture writer, so a streamed file is byte for byte the file that
// fixture::BuildDataFile would build from the same records (the benchmark
// data test compares the two).
#include "bench/bench_data.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "tests/fixture/fixture_v8.h"

namespace benchdata {
namespace {

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

int VersionClass(uint16_t version) {
  if (version >= 0x0800) return 3;
  if (version >= 0x0600) return 2;
  return 1;
}

bool HasPageMap(uint16_t version) {
  return version == 0x0600 || version == 0x0610 || version == 0x0700 ||
         version == 0x0800;
}

uint32_t SlotDataOffset(const fixture::FixtureOptions& o) { return o.fcLayout ? 2 : 0; }

// Where fragments begin on a variable page, and the bytes of the next
// pointer ahead of a fragment's data.
constexpr uint32_t kVariableHeader = 8;
constexpr uint32_t kFragmentPointer = 4;

// Printable bytes: the first eight name the record, the rest are letters, so
// no empty-slot test of any version takes a record for a free slot.
void FillFixed(const BenchFilePlan& plan, uint64_t index, uint8_t* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const uint32_t length = plan.options.recordLength;
  const uint64_t number = index + 1;
  uint64_t random = 0;
  for (uint32_t b = 0; b < length; ++b) {
    if (b == 0) {
      out[b] = 'R';
    } else if (b < 8) {
      out[b] = static_cast<uint8_t>(kHex[(number >> (4 * (7 - b))) & 0xF]);
    } else {
      if ((b & 7) == 0) random = Mix((static_cast<uint64_t>(plan.seed) << 40) ^ index ^ b);
      out[b] = static_cast<uint8_t>('a' + (random & 0xFF) % 26);
      random >>= 8;
    }
  }
}

uint32_t VariableLength(const BenchFilePlan& plan, uint64_t index) {
  if (!plan.options.variableLength || plan.maxVariableBytes == 0) return 0;
  return static_cast<uint32_t>(
      Mix(index * 0x100000001B3ull ^ (static_cast<uint64_t>(plan.seed) << 48) ^ 0x5EEDull) %
      (plan.maxVariableBytes + 1ull));
}

void FillVariable(const BenchFilePlan& plan, uint64_t index, uint32_t length,
                  uint8_t* out) {
  uint64_t random = 0;
  for (uint32_t b = 0; b < length; ++b) {
    if ((b & 7) == 0) random = Mix((static_cast<uint64_t>(plan.seed) << 36) ^ (index << 20) ^ b ^ 0xABCDull);
    out[b] = static_cast<uint8_t>(random);
    random >>= 8;
  }
}

// Geometry shared by the data pages, the variable pages and the page map.
struct Geometry {
  int versionClass = 1;
  bool mapped = false;
  uint32_t pageSize = 0;
  uint16_t slotLength = 0;
  uint32_t headerSize = 0;
  uint32_t slotsPerPage = 0;
  uint32_t slotDataOffset = 0;
  uint32_t mapStride = 0;   // pageSize / 4
  uint32_t mapEntries = 0;  // pageSize / 4 - 2
  uint64_t dataPages = 0;
};

Geometry GeometryOf(const BenchFilePlan& plan) {
  const fixture::FixtureOptions& o = plan.options;
  Geometry g;
  g.versionClass = VersionClass(o.version);
  g.mapped = HasPageMap(o.version);
  g.pageSize = o.pageSize;
  g.slotLength = o.slotLength ? o.slotLength : fixture::DefaultSlotLength(o);
  g.headerSize = fixture::DataPageHeaderSize(o.version);
  g.slotsPerPage = (g.pageSize - g.headerSize) / g.slotLength;
  g.slotDataOffset = SlotDataOffset(o);
  g.mapStride = g.pageSize / 4;
  g.mapEntries = g.pageSize / 4 - 2;
  g.dataPages = (plan.recordCount + g.slotsPerPage - 1) / g.slotsPerPage;
  return g;
}

// Control pages and map pages: no logical page is put there.
bool IsReserved(const Geometry& g, uint64_t physical) {
  if (physical == 0) return true;
  if (g.versionClass >= 2 && physical == 1) return true;
  return g.mapped && physical >= 2 && (physical - 2) % g.mapStride < 2;
}

struct Fragment {
  uint64_t page;    // index among the variable pages
  uint32_t number;  // fragment number on that page
  uint32_t offset;  // start in the page
  uint32_t length;  // data bytes
  uint32_t source;  // start in the record's variable part
};

// Cuts variable parts into fragments and packs them onto variable pages in
// record order, the way the fixture writer does: a fragment takes what room
// the open page has left (data, pointer, its table entry and the entry that
// closes it), at most maxFragmentData bytes.
struct Packer {
  const BenchFilePlan* plan = nullptr;
  uint32_t pageSize = 0;
  bool open = false;
  uint64_t page = 0;  // index of the open page; meaningful once open
  uint64_t pagesOpened = 0;
  uint32_t used = 0;
  uint32_t fragments = 0;

  void Cut(uint32_t length, std::vector<Fragment>* chain) {
    chain->clear();
    const int versionClass = VersionClass(plan->options.version);
    uint32_t position = 0;
    while (position < length) {
      const uint32_t header = kFragmentPointer;
      auto room = [&]() -> int64_t {
        return static_cast<int64_t>(pageSize) - kVariableHeader - used -
               2 * (fragments + 2) - header;
      };
      if (!open || room() < 1) {
        page = pagesOpened++;
        used = 0;
        fragments = 0;
        open = true;
      }
      int64_t take = std::min<int64_t>(room(), length - position);
      if (plan->options.maxFragmentData) {
        take = std::min<int64_t>(take, plan->options.maxFragmentData);
      }
      const bool last = position + take == length;
      // The oldest versions mark a fragment that starts with a pointer; the
      // last one of a chain has none.
      const uint32_t actualHeader = (versionClass == 1 && last) ? 0 : header;
      chain->push_back(Fragment{page, fragments++, kVariableHeader + used,
                                static_cast<uint32_t>(take), position});
      used += actualHeader + static_cast<uint32_t>(take);
      position += static_cast<uint32_t>(take);
    }
  }
};

void PutOldPointer(uint8_t* at, uint32_t page, uint8_t fragment) {
  at[0] = static_cast<uint8_t>(page >> 16);
  at[1] = static_cast<uint8_t>(page);
  at[2] = static_cast<uint8_t>(page >> 8);
  at[3] = fragment;
}

// Hands out the variable pages in order, filling each from the records'
// chains as the packing reaches it.
class VariablePages {
 public:
  VariablePages(const BenchFilePlan& plan, const Geometry& g)
      : plan_(plan), g_(g) {
    packer_.plan = &plan;
    packer_.pageSize = g.pageSize;
  }

  // The next variable page; its bytes stay valid until the next call.
  const std::vector<uint8_t>& Next() {
    while (pending_.size() < 2 && record_ < plan_.recordCount) PackRecord(record_++);
    // The last page is complete once every record is packed; before that
    // the open page may still take fragments.
    if (pending_.size() >= 2 || record_ >= plan_.recordCount) {
      if (!pending_.empty()) {
        current_ = std::move(pending_.front());
        pending_.pop_front();
        ++firstPending_;
        return current_;
      }
    }
    current_.assign(g_.pageSize, 0);  // padding: more pages asked than made
    return current_;
  }

 private:
  std::vector<uint8_t>& PageBytes(uint64_t page) {
    while (firstPending_ + pending_.size() <= page) {
      const uint64_t index = firstPending_ + pending_.size();
      pending_.emplace_back(g_.pageSize, 0);
      fixture::PutPageHeader(pending_.back(), 0, plan_.options.version, 'V',
                             LogicalOf(index), 1);
    }
    return pending_[page - firstPending_];
  }

  uint32_t LogicalOf(uint64_t variablePage) const {
    return static_cast<uint32_t>(g_.dataPages + 1 + variablePage);
  }

  void PackRecord(uint64_t index) {
    const uint32_t length = VariableLength(plan_, index);
    data_.resize(length);
    FillVariable(plan_, index, length, data_.data());
    packer_.Cut(length, &chain_);
    for (size_t k = 0; k < chain_.size(); ++k) {
      const Fragment& f = chain_[k];
      std::vector<uint8_t>& bytes = PageBytes(f.page);
      const bool last = k + 1 == chain_.size();
      uint16_t entry = static_cast<uint16_t>(f.offset);
      uint32_t dataAt = f.offset;
      if (g_.versionClass == 2 || !last) {
        PutOldPointer(&bytes[f.offset], last ? 0xFFFFFF : LogicalOf(chain_[k + 1].page),
                      static_cast<uint8_t>(last ? 0 : chain_[k + 1].number));
        dataAt += kFragmentPointer;
        if (g_.versionClass == 1) entry |= 0x8000;
      }
      memcpy(&bytes[dataAt], data_.data() + f.source, f.length);
      const size_t tableWord = ((g_.pageSize - 1) >> 1) - f.number;
      fixture::PutLE16(bytes, 2 * tableWord, entry);
      fixture::PutLE16(bytes, 2 * (tableWord - 1),
                       static_cast<uint16_t>(dataAt + f.length));
    }
  }

  const BenchFilePlan& plan_;
  const Geometry& g_;
  Packer packer_;
  uint64_t record_ = 0;
  std::deque<std::vector<uint8_t>> pending_;  // pages firstPending_, ...
  uint64_t firstPending_ = 0;
  std::vector<uint8_t> current_;
  std::vector<Fragment> chain_;
  std::vector<uint8_t> data_;
};

bool WriteZeros(FILE* out, uint64_t count) {
  static const uint8_t kZeros[4096] = {};
  while (count > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, sizeof kZeros));
    if (fwrite(kZeros, 1, n, out) != n) return false;
    count -= n;
  }
  return true;
}

bool StreamFile(const BenchFilePlan& plan, FILE* out) {
  const fixture::FixtureOptions& o = plan.options;
  const Geometry g = GeometryOf(plan);

  // First pass over the variable parts: where each record's chain starts,
  // which its fixed part points at, and how many variable pages there are.
  std::vector<uint32_t> firstPage;  // variable page index + 1; 0: no chain
  std::vector<uint8_t> firstFragment;
  uint64_t variablePages = 0;
  if (o.variableLength) {
    firstPage.assign(plan.recordCount, 0);
    firstFragment.assign(plan.recordCount, 0);
    Packer packer;
    packer.plan = &plan;
    packer.pageSize = g.pageSize;
    std::vector<Fragment> chain;
    for (uint64_t i = 0; i < plan.recordCount; ++i) {
      packer.Cut(VariableLength(plan, i), &chain);
      if (!chain.empty()) {
        firstPage[i] = static_cast<uint32_t>(chain[0].page + 1);
        firstFragment[i] = static_cast<uint8_t>(chain[0].number);
      }
    }
    variablePages = packer.pagesOpened;
  }

  // Physical place of every logical page: used pages in file order, around
  // the control and map pages.
  const uint64_t usedPages = g.dataPages + variablePages;
  std::vector<uint32_t> logicalToPhysical(1, 0);
  logicalToPhysical.reserve(usedPages + 1);
  uint64_t nextPhysical = 1;
  while (logicalToPhysical.size() <= usedPages) {
    while (IsReserved(g, nextPhysical)) ++nextPhysical;
    logicalToPhysical.push_back(static_cast<uint32_t>(nextPhysical++));
  }
  uint64_t pages = nextPhysical;
  if (g.mapped) {
    if (usedPages > 0) {
      const uint64_t lastPair = (usedPages - 1) / g.mapEntries;
      pages = std::max<uint64_t>(pages, 2 + lastPair * g.mapStride + 2);
    }
    pages = std::max<uint64_t>(pages, 4);
  }
  pages = std::max<uint64_t>(pages, g.versionClass == 1 ? 1 : 2);

  const uint32_t count = static_cast<uint32_t>(plan.recordCount);
  const uint32_t count1 = o.copy1RecordCount >= 0 ? static_cast<uint32_t>(o.copy1RecordCount) : count;
  const uint32_t count2 = o.copy2RecordCount >= 0 ? static_cast<uint32_t>(o.copy2RecordCount) : count;
  auto controlPage = [&](uint16_t counter, uint32_t records) {
    std::vector<uint8_t> bytes(g.pageSize, 0);
    fixture::PutControlPage(bytes, 0, o, counter, records, g.slotLength);
    bytes.resize(g.pageSize);
    return bytes;
  };

  VariablePages variable(plan, g);
  std::vector<uint8_t> page(g.pageSize);
  std::vector<uint8_t> fixed(o.recordLength);
  uint64_t written = 0;
  uint64_t logical = 0;  // last logical page placed
  for (uint64_t physical = 0; physical < pages; ++physical) {
    // The 4096-byte gap of versions 0x0600 and 0x0610 is left as zeros.
    const uint64_t offset =
        static_cast<uint64_t>(fixture::PhysicalPageOffset(o, static_cast<uint32_t>(physical)));
    if (offset > written) {
      if (!WriteZeros(out, offset - written)) return false;
      written = offset;
    }

    const std::vector<uint8_t>* bytes = &page;
    std::fill(page.begin(), page.end(), 0);
    if (physical == 0) {
      page = controlPage(o.copy1Counter, count1);
    } else if (g.versionClass >= 2 && physical == 1) {
      page = controlPage(o.copy2Counter, count2);
    } else if (IsReserved(g, physical)) {
      // A map page: the second copy of each pair (counter 1) is current.
      const uint64_t pair = (physical - 2) / g.mapStride;
      const uint64_t copy = (physical - 2) % g.mapStride;
      if (2 + pair * g.mapStride + 1 < pages) {
        fixture::PutLE16(page, 4, static_cast<uint16_t>(copy == 0 ? 0 : 1));
        for (uint32_t j = 1; j <= g.mapEntries; ++j) {
          const uint64_t mapLogical = pair * g.mapEntries + j;
          const uint32_t target = mapLogical < logicalToPhysical.size()
                                      ? logicalToPhysical[mapLogical] : 0xFFFFFF;
          page[4 + 4 * j] = static_cast<uint8_t>(target >> 16);
          fixture::PutLE16(page, 4 + 4 * j + 2, static_cast<uint16_t>(target));
        }
      }
    } else if (++logical <= g.dataPages) {
      const uint64_t dataPage = logical - 1;
      fixture::PutPageHeader(page, 0, o.version, 'D', static_cast<uint32_t>(logical), 1);
      const uint64_t first = dataPage * g.slotsPerPage;
      const uint64_t end = std::min<uint64_t>(first + g.slotsPerPage, plan.recordCount);
      const size_t room = std::min<size_t>(
          o.recordLength, g.slotLength > g.slotDataOffset ? g.slotLength - g.slotDataOffset : 0);
      for (uint64_t r = first; r < end; ++r) {
        const size_t at = g.headerSize + static_cast<size_t>(r - first) * g.slotLength;
        if (o.fcLayout) page[at] = 1;  // a used slot's first word is non-zero
        FillFixed(plan, r, fixed.data());
        memcpy(&page[at + g.slotDataOffset], fixed.data(), room);
        if (o.variableLength) {
          const uint32_t target = firstPage[r] == 0
                                      ? 0xFFFFFF
                                      : static_cast<uint32_t>(g.dataPages + firstPage[r]);
          PutOldPointer(&page[at + g.slotDataOffset + o.recordLength], target,
                        firstPage[r] == 0 ? 0 : firstFragment[r]);
        }
      }
    } else if (logical <= usedPages) {
      bytes = &variable.Next();
    }
    if (fwrite(bytes->data(), 1, g.pageSize, out) != g.pageSize) return false;
    written += g.pageSize;
  }
  return true;
}

// --- Versions 0x0800 and 0x0900: fixed-length, uncompressed records ---------

// The fixture's v8 constants (tests/fixture/fixture_v8.cc).
constexpr uint32_t kV8PageHeader = 8;
constexpr uint32_t kV8NoPage = 0xFFFFFFFF;
constexpr uint32_t kV8UnusedEntry = 0xFFFFFFFE;
constexpr uint16_t kV8CurrentUsage = 6;
constexpr uint8_t kV8FreeFill = 0x5A;
constexpr uint32_t kV8IndexLogical = 1;
constexpr uint32_t kV8FirstData = 2;

// Record addresses are the logical page shifted left by the bit length of
// the highest slot number (at least 4), then the slot.
uint32_t V8AddressShift(uint32_t slotsPerPage) {
  uint32_t shift = 4;
  while ((1u << shift) < slotsPerPage) ++shift;
  return shift;
}

bool IsV8Reserved(const fixture::V8Geometry& g, uint64_t physical) {
  if (physical < 2ull * g.copyPages) return true;
  if (physical < g.firstTable) return false;
  return (physical - g.firstTable) % g.extentPages < 2ull * g.copyPages;
}

// Control page copies, an index page (logical 1), the data pages (logical 2
// on), the free slots of the last data page on the free-slot chain, and the
// allocation tables in both copies.
bool StreamV8File(const BenchFilePlan& plan, FILE* out) {
  const fixture::FixtureOptions& o = plan.options;
  const uint32_t pageSize = o.pageSize;
  const fixture::V8Geometry g = fixture::V8GeometryOf(o.pageSize);
  const uint16_t slotLength = o.slotLength ? o.slotLength : fixture::V8SlotLength(o);
  const uint32_t slotsPerPage = (pageSize - kV8PageHeader) / slotLength;
  const uint32_t shift = V8AddressShift(slotsPerPage);
  const uint32_t dataOffset = 2;  // after the slot word
  uint64_t dataPages = (plan.recordCount + slotsPerPage - 1) / slotsPerPage;
  if (dataPages == 0) dataPages = 1;  // an empty file has one data page
  const uint32_t lastLogical = static_cast<uint32_t>(kV8FirstData + dataPages - 1);

  std::vector<uint32_t> current(lastLogical + 1, kV8NoPage);
  uint64_t nextPhysical = 2ull * g.copyPages;
  for (uint32_t l = 1; l <= lastLogical; ++l) {
    while (IsV8Reserved(g, nextPhysical)) ++nextPhysical;
    current[l] = static_cast<uint32_t>(nextPhysical++);
  }
  uint32_t tables = (lastLogical + g.entriesPerTable - 1) / g.entriesPerTable;
  uint64_t pages = nextPhysical;
  for (;;) {
    pages = std::max<uint64_t>(pages, fixture::V8TablePage(g, tables, 1) + g.copyPages);
    if (fixture::V8TablePage(g, tables + 1, 0) >= pages) break;
    ++tables;
  }

  // Free slots: the rest of the last data page.  The data page of a file
  // without records has none; its slots are zeros.
  const uint64_t lastPage = dataPages - 1;
  const uint32_t firstFree =
      plan.recordCount == 0
          ? slotsPerPage
          : static_cast<uint32_t>(plan.recordCount - lastPage * slotsPerPage);
  auto address = [&](uint64_t dataPage, uint32_t slot) {
    return (static_cast<uint32_t>(kV8FirstData + dataPage) << shift) | slot;
  };
  const uint32_t freeHead = firstFree < slotsPerPage ? address(lastPage, firstFree) : kV8NoPage;

  const uint32_t count = static_cast<uint32_t>(plan.recordCount);
  auto controlBytes = [&](uint16_t usage, int64_t announced) {
    std::vector<uint8_t> bytes(pageSize, 0);
    fixture::PutV8ControlPage(bytes, 0, o, usage,
                              announced >= 0 ? static_cast<uint32_t>(announced) : count,
                              slotLength, lastLogical + 1, tables, freeHead);
    bytes.resize(pageSize);
    return bytes;
  };

  std::vector<uint8_t> page(pageSize);
  std::vector<uint8_t> table;  // the table copy being written, F bytes
  std::vector<uint8_t> fixed(o.recordLength);
  uint32_t logical = 0;
  for (uint64_t physical = 0; physical < pages; ++physical) {
    std::fill(page.begin(), page.end(), 0);
    const uint8_t* tablePart = nullptr;  // else the page
    if (physical == 0) {
      page = controlBytes(o.copy1Counter, o.copy1RecordCount);
    } else if (physical == g.copyPages) {
      page = controlBytes(o.copy2Counter, o.copy2RecordCount);
    } else if (physical >= g.firstTable && IsV8Reserved(g, physical)) {
      const uint64_t within = (physical - g.firstTable) % g.extentPages;
      const uint32_t k = static_cast<uint32_t>((physical - g.firstTable) / g.extentPages + 1);
      const int copy = static_cast<int>(within / g.copyPages);
      const uint64_t part = within % g.copyPages;
      if (part == 0) {
        const bool isCurrent = copy == o.currentTableCopy;
        table.assign(g.copyBytes, 0);
        fixture::PutLE32(table, 0, 0x50000000u | k);
        table[4] = 'P';
        fixture::PutLE16(table, 6, static_cast<uint16_t>(isCurrent ? 2 : 1));
        fixture::PutLE32(table, 8, 0xFFFF0000u);
        for (uint32_t j = 0; j < g.entriesPerTable; ++j) {
          const uint64_t l = static_cast<uint64_t>(k - 1) * g.entriesPerTable + j + 1;
          const size_t entry = 20 + 6 * static_cast<size_t>(j);
          if (l > lastLogical) {
            fixture::PutLE32(table, entry, kV8UnusedEntry);
            continue;
          }
          fixture::PutLE32(table, entry, current[l]);
          // Bytes 4 and 5 of the page: the index page's 0 and 0x80, a data
          // page's 'D' and 0.
          table[entry + 4] = l == kV8IndexLogical ? 0 : 'D';
          table[entry + 5] = l == kV8IndexLogical ? 0x80 : 0;
        }
      }
      tablePart = table.data() + part * pageSize;
    } else if (!IsV8Reserved(g, physical) && ++logical <= lastLogical) {
      fixture::PutLE32(page, 0, logical);
      if (logical == kV8IndexLogical) {
        page[5] = 0x80;
        fixture::PutLE16(page, 6, kV8CurrentUsage);
      } else {
        const uint64_t dataPage = logical - kV8FirstData;
        page[4] = 'D';
        fixture::PutLE16(page, 6, static_cast<uint16_t>(kV8CurrentUsage | 0x8000));
        const uint64_t first = dataPage * slotsPerPage;
        for (uint32_t slot = 0; slot < slotsPerPage; ++slot) {
          const size_t at = kV8PageHeader + static_cast<size_t>(slot) * slotLength;
          if (plan.recordCount == 0) break;
          if (first + slot < plan.recordCount) {
            fixture::PutLE16(page, at, 1);
            FillFixed(plan, first + slot, fixed.data());
            memcpy(&page[at + dataOffset], fixed.data(), o.recordLength);
          } else {
            std::fill(page.begin() + at, page.begin() + at + slotLength, kV8FreeFill);
            fixture::PutLE16(page, at, 0);
            fixture::PutLE32(page, at + 2,
                             slot + 1 < slotsPerPage ? address(dataPage, slot + 1) : kV8NoPage);
          }
        }
      }
    }
    const uint8_t* bytes = tablePart != nullptr ? tablePart : page.data();
    if (fwrite(bytes, 1, pageSize, out) != pageSize) return false;
  }
  return true;
}

}  // namespace

bool PlanForKind(const std::string& kind, uint64_t bytes, BenchFilePlan* plan) {
  BenchFilePlan s;
  fixture::FixtureOptions& o = s.options;
  o.recordLength = 100;
  o.pageSize = 4096;
  uint64_t perRecord = 0;  // file bytes per record, roughly
  if (kind == "v0600") {
    o.version = 0x0600;
  } else if (kind == "v0900") {
    o.version = 0x0900;
  } else if (kind == "v0500") {
    o.version = 0x0500;
    o.pageSize = 512;
  } else if (kind == "v0700var") {
    // Variable parts of up to 16000 bytes in fragments of at most 700: a
    // long chain crosses four or five variable pages.
    o.version = 0x0700;
    o.recordLength = 60;
    o.variableLength = true;
    o.maxFragmentData = 700;
    s.maxVariableBytes = 16000;
    perRecord = 64 + 8000 + 12 * 8 + 512;
  } else {
    return false;
  }
  if (perRecord == 0) {
    const uint32_t slot = fixture::DefaultSlotLength(o);
    const uint32_t slots = (o.pageSize - fixture::DataPageHeaderSize(o.version)) / slot;
    perRecord = o.pageSize / slots;
  }
  s.recordCount = bytes / perRecord;
  if (s.recordCount == 0) s.recordCount = 1;
  *plan = s;
  return true;
}

fixture::FixtureRecord BenchRecord(const BenchFilePlan& plan, uint64_t index) {
  fixture::FixtureRecord record;
  record.fixed.resize(plan.options.recordLength);
  FillFixed(plan, index, record.fixed.data());
  record.variable.resize(VariableLength(plan, index));
  FillVariable(plan, index, static_cast<uint32_t>(record.variable.size()),
               record.variable.data());
  return record;
}

bool CanStream(const BenchFilePlan& plan) {
  const fixture::FixtureOptions& o = plan.options;
  if (o.skipPages != 0 || o.emptySlotsBefore != 0) return false;
  if (o.pageSize < 512) return false;
  if (VersionClass(o.version) == 3) {
    // Plain fixed-length records only, in the fixture's default slots.
    return !o.variableLength && !o.compressed && !o.systemData &&
           o.duplicatePairs == 0 && !o.staleCopies && o.slotLength == 0 &&
           o.pageSize % 256 == 0 && plan.recordCount <= 0xFFFFFFFFull;
  }
  // A slot too short for its record makes the fixture writer spill into the
  // next slot or page; only the in-memory build does that faithfully.
  if (o.slotLength != 0 && o.slotLength < fixture::DefaultSlotLength(o)) return false;
  return plan.recordCount <= 0xFFFFFFFFull;  // the count field has 32 bits
}

std::vector<uint8_t> BuildBenchFileInMemory(const BenchFilePlan& plan) {
  std::vector<fixture::FixtureRecord> records;
  records.reserve(plan.recordCount);
  for (uint64_t i = 0; i < plan.recordCount; ++i) records.push_back(BenchRecord(plan, i));
  return fixture::BuildDataFile(plan.options, records).bytes;
}

bool WriteBenchFile(const BenchFilePlan& plan, FILE* out) {
  if (CanStream(plan)) {
    return VersionClass(plan.options.version) == 3 ? StreamV8File(plan, out)
                                                   : StreamFile(plan, out);
  }
  const std::vector<uint8_t> bytes = BuildBenchFileInMemory(plan);
  return fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
}

}  // namespace benchdata
