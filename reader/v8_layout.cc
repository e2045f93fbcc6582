// Versions 0x0800 and 0x0900 at open: the active control page copy, and the
// page directory through the page allocation tables.
#include "reader/v8_layout.h"

#include <algorithm>
#include <vector>

#include "reader/format.h"
#include "reader/scratch.h"
#include "reader/version_layout.h"

namespace {

bool IsV8Version(uint16_t storedWord) {
  const int16_t word = static_cast<int16_t>(storedWord);
  const int32_t absolute = word < 0 ? -static_cast<int32_t>(word) : word;
  const VersionLayout* layout = FindVersionLayout(static_cast<uint16_t>(absolute));
  return layout != nullptr && layout->controlRule == ControlRule::ActiveCopyByWord6;
}

// A copy that the engine has written carries the signature, its kind byte
// and the page size that located it.  A copy 2 that was never written is
// zeros and never wins.
bool ControlCopyIsSound(const uint8_t* copy, uint8_t pageSizeBy256) {
  return DecodeLE32(copy + kControlSignatureOffset) == kSignatureFc &&
         copy[kV8ControlKindOffset] == kV8ControlKind &&
         copy[kV8PageSizeBy256Offset] == pageSizeBy256;
}

// Physical page geometry of the control page and table areas, in pages.
struct Geometry {
  uint32_t copyPages = 0;     // F / pageSize: one control page or table copy
  uint32_t firstTable = 0;    // physical page of table 1, copy A
  uint32_t extentPages = 0;   // X: the distance between two tables
  uint32_t entriesPerTable = 0;  // E: logical pages one table maps
};

Geometry GeometryOf(const DataFile* dataFile) {
  Geometry g;
  const uint32_t copyBytes = dataFile->scratch->v8.controlCopyBytes;
  g.copyPages = copyBytes / dataFile->pageSize;
  g.firstTable = 4 * g.copyPages;
  g.extentPages = kV8ExtentPagesPer2048 * copyBytes / 2048;
  g.entriesPerTable = g.extentPages - 2 * g.copyPages;
  return g;
}

// Control page copies at the start, and both copies of every table.  No
// logical page lives there, whatever its bytes look like: the second half of
// a table copy can hold a header-like 'D' page.
bool IsReservedPage(const Geometry& g, int64_t physical) {
  if (physical < 2 * g.copyPages) return true;
  if (physical < g.firstTable) return false;
  return (physical - g.firstTable) % g.extentPages < 2 * g.copyPages;
}

// Mapping of one logical page as the tables give it.
enum : uint32_t {
  kNotMapped = 0xFFFFFFFF,  // no readable table covers the page
};

struct Candidate {
  uint32_t logical;
  uint16_t usage;
  int64_t physical;
  PageKindResult kind;
  uint8_t header[kV8PageHeaderSize];
};

// Reads every table that lies inside the file and returns, per logical page,
// the physical page of its current copy: kV8TableUnused for a page not in
// use, kNotMapped where no table copy is sound.  Index 0 is never mapped.
std::vector<uint32_t> ReadAllocationTables(DataFile* dataFile, const Geometry& g) {
  std::vector<uint32_t> mapped(1, kNotMapped);
  const uint32_t copyBytes = dataFile->scratch->v8.controlCopyBytes;
  std::vector<uint8_t> copies(2 * static_cast<size_t>(copyBytes));
  const int64_t pageCount = dataFile->pageCount;
  // One table per extent; the loop ends with the file.
  for (uint64_t k = 1;; ++k) {
    const int64_t first = g.firstTable + static_cast<int64_t>(k - 1) * g.extentPages;
    if (first >= pageCount) break;
    const uint8_t* current = nullptr;
    uint16_t currentUsage = 0;
    for (uint32_t c = 0; c < 2; ++c) {
      uint8_t* copy = copies.data() + c * static_cast<size_t>(copyBytes);
      const int64_t offset =
          (first + static_cast<int64_t>(c) * g.copyPages) * dataFile->pageSize;
      if (!ReadFileAt(dataFile, offset, copy, copyBytes)) continue;
      // A copy is the table's only when it names itself: table k, kind 'P'.
      if (DecodeLE32(copy) != (kV8TableSignature | static_cast<uint32_t>(k)) ||
          copy[kV8TableKindOffset] != kV8TableKind) {
        continue;
      }
      const uint16_t usage = DecodeLE16(copy + kV8TableUsageOffset);
      if (current == nullptr || usage > currentUsage) {
        current = copy;
        currentUsage = usage;
      }
    }
    mapped.resize(mapped.size() + g.entriesPerTable, kNotMapped);
    if (current == nullptr) continue;  // the scan decides for this extent
    uint32_t* entries = mapped.data() + mapped.size() - g.entriesPerTable;
    for (uint32_t j = 0; j < g.entriesPerTable; ++j) {
      // An entry is only believed once the scan finds the page it names
      // carrying its logical number (ScanV8Pages): one past the end of the
      // file, or in a reserved area, never is.
      entries[j] = DecodeLE32(current + kV8TableEntriesOffset + kV8TableEntrySize * j);
    }
  }
  return mapped;
}

}  // namespace

ReaderStatus ReadV8ControlPage(DataFile* dataFile) {
  uint8_t copy1[kV8ControlBytes];
  uint8_t copy2[kV8ControlBytes];
  if (!ReadFileAt(dataFile, 0, copy1, kV8ControlBytes)) return kReaderUnusable;
  const uint8_t pageSizeBy256 = copy1[kV8PageSizeBy256Offset];
  const uint32_t pageSize = pageSizeBy256 * 256u;
  const uint32_t copyBytes = V8ControlCopyBytes(pageSize);
  // The control page and table areas are whole pages; a page size that does
  // not divide them (768) is not one the format has.
  if (pageSize == 0 || copyBytes % pageSize != 0) return kReaderUnusable;

  // Copy 2 wins only when it is sound and its usage counter is the greater;
  // a file cut short before it, or one whose copy 2 was never written, is
  // read by copy 1.
  const uint8_t* active = copy1;
  if (ReadFileAt(dataFile, copyBytes, copy2, kV8ControlBytes) &&
      ControlCopyIsSound(copy2, pageSizeBy256) &&
      (!ControlCopyIsSound(copy1, pageSizeBy256) ||
       DecodeLE16(copy2 + kV8ControlUsageOffset) >
           DecodeLE16(copy1 + kV8ControlUsageOffset))) {
    active = copy2;
  }

  // The copies may name the version differently (0x0800 and 0xF800); the
  // active one's word counts when it is a version read by these rules.
  const uint16_t activeVersion = DecodeLE16(active + kV8VersionOffset);
  if (IsV8Version(activeVersion)) {
    const int16_t word = static_cast<int16_t>(activeVersion);
    dataFile->version = static_cast<uint16_t>(word < 0 ? -word : word);
    dataFile->layout = FindVersionLayout(dataFile->version);
  }

  V8FileInfo& info = dataFile->scratch->v8;
  info.flags = DecodeLE16(active + kV8FlagsOffset);
  info.compressed = (info.flags & kV8FlagCompressed) != 0;
  info.variableTail = !info.compressed && (info.flags & kV8FlagVariable) != 0;
  info.duplicatePairs = DecodeLE16(active + kV8DuplicatePairsOffset);
  info.controlCopyBytes = copyBytes;
  const bool systemData = (info.flags & kV8FlagSystemData) != 0 &&
                          (info.flags & kV8FlagNoSystemData) == 0;

  dataFile->pageSize = static_cast<uint16_t>(pageSize);
  dataFile->slotLength = DecodeLE16(active + kV8SlotLengthOffset);
  dataFile->recordCount = DecodeSwappedCount(active + kV8RecordCountOffset);
  dataFile->fragmentHeaderSize = kV8PointerSize;
  dataFile->mapEntriesPerPage = 0;
  // A compressed file keeps no record bytes in its slots; its record length
  // word is 0 and the decoded length sits at 402.
  dataFile->recordLength = DecodeLE16(
      active + (info.compressed ? kV8DecodedLengthOffset : kV8RecordLengthOffset));
  dataFile->slotDataOffset = static_cast<uint8_t>(
      info.compressed ? 0 : kV8SlotWordSize + (systemData ? kV8SystemDataSize : 0));
  dataFile->variableLength = (info.compressed || info.variableTail) ? 1 : 0;
  // Both variants load data pages from the directory.
  dataFile->pageCursor = 0;

  // Not one slot fits into a page: the control page is damaged.
  if (dataFile->slotLength == 0 ||
      dataFile->slotLength > pageSize - dataFile->layout->slotCountReserve) {
    return kReaderUnusable;
  }
  return kReaderOk;
}

void ScanV8Pages(DataFile* dataFile) {
  const Geometry g = GeometryOf(dataFile);
  const std::vector<uint32_t> mapped = ReadAllocationTables(dataFile, g);
  std::vector<bool> confirmed(mapped.size(), false);
  std::vector<Candidate> candidates;

  // Every physical page outside the reserved areas, once.  A page confirms
  // its table entry when it sits where the entry says and carries the
  // entry's logical number; data and variable pages become candidates.
  uint8_t* page = dataFile->pageBuffer;
  const uint32_t pageSize = dataFile->pageSize;
  for (int64_t physical = 0; physical < dataFile->pageCount; ++physical) {
    if (IsReservedPage(g, physical)) continue;
    const int64_t offset = physical * pageSize;
    if (!ReadFileAt(dataFile, offset, page, pageSize)) continue;
    const uint32_t logical = DecodeLE32(page);
    if (logical < mapped.size() && mapped[logical] == physical) {
      confirmed[logical] = true;
    }
    const PageKindResult kind = PageKind(dataFile, page);
    if (kind == PageKindResult::Neither) continue;
    Candidate c;
    c.logical = logical;
    c.usage = DecodeLE16(page + 6) & kV8UsageMask;
    c.physical = physical;
    c.kind = kind;
    std::copy(page, page + kV8PageHeaderSize, c.header);
    candidates.push_back(c);
  }

  // Per logical page, highest usage first; a stable sort keeps the physical
  // order among equals, so that of two equal copies the earlier is taken.
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) {
                     if (a.logical != b.logical) return a.logical < b.logical;
                     return a.usage > b.usage;
                   });
  for (size_t i = 0; i < candidates.size();) {
    size_t end = i;
    while (end < candidates.size() && candidates[end].logical == candidates[i].logical) {
      ++end;
    }
    const uint32_t logical = candidates[i].logical;
    const uint32_t entry = logical < mapped.size() ? mapped[logical] : kNotMapped;
    const Candidate* chosen = nullptr;
    if (logical < confirmed.size() && confirmed[logical]) {
      // The table is right about this page: only the copy it names is
      // current, whatever the counters of the others say.
      for (size_t k = i; k < end; ++k) {
        if (candidates[k].physical == entry) chosen = &candidates[k];
      }
    } else if (entry == kV8TableUnused) {
      // The table says the page is not in use: what is left of it on disk
      // are old copies of freed pages.
      chosen = nullptr;
    } else {
      // No table covers the page, or its entry points at a page that is
      // not there: the copy written last is the best guess.
      chosen = &candidates[i];
    }
    if (chosen != nullptr) {
      AddPageEntry(dataFile, chosen->header, chosen->kind,
                   chosen->physical * static_cast<int64_t>(pageSize));
    }
    i = end;
  }
}
