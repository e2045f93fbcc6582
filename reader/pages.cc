// Page addressing (logical page to file offset through the page map) and the
// page directory built at open.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "reader/datafile.h"
#include "reader/format.h"
#include "reader/scratch.h"
#include "reader/version_layout.h"

namespace {

// --- Page number index -------------------------------------------------------

uint32_t HashPageNumber(uint32_t pageNumber) {
  return pageNumber * 2654435761u;
}

void IndexInsert(PageIndex& index, const PageEntry* entries, uint32_t position);

void IndexGrow(PageIndex& index, const PageEntry* entries) {
  std::vector<uint32_t> old;
  old.swap(index.slots);
  index.slots.assign(old.empty() ? 1024 : old.size() * 2, 0);
  index.used = 0;
  for (uint32_t slot : old) {
    if (slot != 0) IndexInsert(index, entries, slot - 1);
  }
}

void IndexInsert(PageIndex& index, const PageEntry* entries, uint32_t position) {
  // Filled to three quarters at most.  At half, a file of two million
  // 512-byte pages needed 32 MiB of slots for its data pages, on top of the
  // 48 MiB of the list itself.
  if ((static_cast<size_t>(index.used) + 1) * 4 > index.slots.size() * 3) {
    IndexGrow(index, entries);
  }
  const size_t mask = index.slots.size() - 1;
  size_t i = HashPageNumber(entries[position].pageNumber) & mask;
  while (index.slots[i] != 0) i = (i + 1) & mask;
  index.slots[i] = position + 1;
  ++index.used;
}

// --- Page map ----------------------------------------------------------------

// Offset of a physical page, with the 4096-byte adjustment where the
// version has it: from the first copy of map pair 30 on, every page lies
// 4096 bytes further into the file than page number times page size.
int64_t AdjustedOffset(const DataFile* dataFile, uint64_t physicalPage) {
  const uint64_t offset = physicalPage * dataFile->pageSize;
  if (dataFile->layout->adjust4096) {
    const uint64_t threshold =
        (static_cast<uint64_t>(dataFile->mapEntriesPerPage) * kAdjustmentPair + 62) *
        dataFile->pageSize;
    if (offset >= threshold) return static_cast<int64_t>(offset + kAdjustmentBytes);
  }
  return static_cast<int64_t>(offset);
}

// Reads up to `length` bytes at `offset`; returns how many were there.  Map
// pages of a file cut short are read as far as they go.
uint32_t ReadPartial(DataFile* dataFile, int64_t offset, uint8_t* buffer,
                     uint32_t length) {
  const int64_t size = dataFile->scratch->fileSize;
  if (offset < 0 || offset >= size) return 0;
  const int64_t available = size - offset;
  const uint32_t want = available < length ? static_cast<uint32_t>(available) : length;
  return ReadFileAt(dataFile, offset, buffer, want) ? want : 0;
}

// Decodes map pair `pair` once: of its two copies the one with the greater
// counter (equal: the second) gives the entries.  An entry that lies beyond
// the end of a file cut short counts as no page, as does the whole pair when
// a counter cannot be read.
const uint32_t* MapPairEntries(DataFile* dataFile, uint32_t pair) {
  ReaderScratch* scratch = dataFile->scratch;
  const uint32_t pageSize = dataFile->pageSize;
  const uint32_t entriesPerPage = pageSize / 4 - 2;
  if (scratch->mapPairStart.size() <= pair) {
    scratch->mapPairStart.resize(pair + 1, -1);
  }
  if (scratch->mapPairStart[pair] >= 0) {
    return scratch->mapEntries.data() + scratch->mapPairStart[pair];
  }

  const int64_t first =
      AdjustedOffset(dataFile, 2 + static_cast<uint64_t>(pair) * (pageSize / 4));
  const int64_t second = first + pageSize;
  scratch->mapPageBytes.resize(2 * static_cast<size_t>(pageSize));
  uint8_t* copy1 = scratch->mapPageBytes.data();
  uint8_t* copy2 = copy1 + pageSize;
  const uint32_t got1 = ReadPartial(dataFile, first, copy1, pageSize);
  const uint32_t got2 = ReadPartial(dataFile, second, copy2, pageSize);

  const size_t start = scratch->mapEntries.size();
  scratch->mapEntries.resize(start + entriesPerPage + 1, kMapNoPage);
  scratch->mapPairStart[pair] = static_cast<int64_t>(start);
  uint32_t* entries = scratch->mapEntries.data() + start;  // index j = 1..E

  const uint32_t counterEnd = kMapCounterOffset + 2;
  if (got1 < counterEnd || got2 < counterEnd) return entries;
  const bool useFirst = DecodeLE16(copy1 + kMapCounterOffset) >
                        DecodeLE16(copy2 + kMapCounterOffset);
  const uint8_t* chosen = useFirst ? copy1 : copy2;
  const uint32_t got = useFirst ? got1 : got2;
  for (uint32_t j = 1; j <= entriesPerPage; ++j) {
    const uint32_t at = kMapCounterOffset + kMapEntrySize * j;
    if (at + kMapEntrySize > got) break;
    entries[j] = DecodePageNumber24(chosen + at);
  }
  return entries;
}

// The console's scan reads pages in batches of up to this many bytes, into
// a buffer at least as large as the stream's: the runtime then reads them
// straight into it, and no page is copied out of the stream's buffer only
// for its header to be looked at.
constexpr uint32_t kScanBatchBytes = 1 << 20;

// Classifies physical pages from 0 on, a batch of pages that lie back to
// back in the file at a time, as far as whole pages are there.  Returns the
// first physical page not scanned: the end of the file, or a batch that
// could not be read, which the page by page scan then takes over.
uint64_t ScanPhysicalBatches(DataFile* dataFile, uint8_t* batch) {
  const uint32_t pageSize = dataFile->pageSize;
  const int64_t fileSize = dataFile->scratch->fileSize;
  const uint64_t batchPages = kScanBatchBytes / pageSize;
  uint64_t physical = 0;
  for (;;) {
    const int64_t start = AdjustedOffset(dataFile, physical);
    if (start < 0 || start > fileSize - static_cast<int64_t>(pageSize)) return physical;
    const uint64_t whole = static_cast<uint64_t>(fileSize - start) / pageSize;
    uint64_t pages = 1;
    // Not across the 4096-byte gap.
    while (pages < batchPages && pages < whole &&
           AdjustedOffset(dataFile, physical + pages) ==
               start + static_cast<int64_t>(pages * pageSize)) {
      ++pages;
    }
    // A read shorter than the stream's buffer goes through the buffer and
    // leaves part of it unread, and every later batch would then be copied
    // through it too.  Before the gap and at the end of the file the batch
    // reaches back over pages already scanned instead, so that it is whole.
    uint64_t back = 0;
    while (pages + back < batchPages && back < physical &&
           AdjustedOffset(dataFile, physical - back - 1) ==
               start - static_cast<int64_t>((back + 1) * pageSize)) {
      ++back;
    }
    const int64_t from = start - static_cast<int64_t>(back * pageSize);
    if (!ReadFileAt(dataFile, from, batch, static_cast<uint32_t>((back + pages) * pageSize))) {
      return physical;
    }
    for (uint64_t i = back; i < back + pages; ++i) {
      const uint8_t* page = batch + i * pageSize;
      AddPageEntry(dataFile, page, PageKind(dataFile, page),
                   from + static_cast<int64_t>(i * pageSize));
    }
    physical += pages;
  }
}

int64_t PairCount(const DataFile* dataFile) {
  const int64_t stride = dataFile->pageSize / 4;
  return dataFile->pageCount / stride + 2;
}

}  // namespace

int64_t FindPageEntry(const PageIndex& index, const PageEntry* entries,
                      uint32_t pageNumber) {
  if (index.slots.empty()) return -1;
  const size_t mask = index.slots.size() - 1;
  size_t i = HashPageNumber(pageNumber) & mask;
  while (index.slots[i] != 0) {
    const uint32_t position = index.slots[i] - 1;
    if (entries[position].pageNumber == pageNumber) return position;
    i = (i + 1) & mask;
  }
  return -1;
}

int64_t PageOffset(DataFile* dataFile, int32_t logicalPage) {
  // Entry 0 of a map page would be its counter word: page numbers below 1
  // have no page.
  if (logicalPage <= 0) return -1;
  if (dataFile->layout->directoryRule == DirectoryRule::AllocationTables) {
    // The allocation tables were resolved into the directory at open; the
    // data and variable pages are all that the reader addresses.
    const uint32_t number = static_cast<uint32_t>(logicalPage);
    ReaderScratch* scratch = dataFile->scratch;
    int64_t at = FindPageEntry(scratch->dataIndex, dataFile->dataPages, number);
    if (at >= 0) return dataFile->dataPages[at].offset;
    at = FindPageEntry(scratch->variableIndex, dataFile->variablePages, number);
    return at < 0 ? -1 : dataFile->variablePages[at].offset;
  }
  uint32_t physical = static_cast<uint32_t>(logicalPage);
  if (UsesPageMap(dataFile)) {
    const uint32_t entriesPerPage = dataFile->pageSize / 4 - 2;
    const uint32_t pair = (physical - 1) / entriesPerPage;
    const uint32_t j = physical - pair * entriesPerPage;
    // A pair whose first copy lies beyond the end of the file cannot be
    // read; answer without touching the stream or the cache.
    if (pair >= PairCount(dataFile)) return -1;
    physical = MapPairEntries(dataFile, pair)[j];
  }
  if (physical == kMapNoPage || physical == 0xFFFFFFFFu) return -1;
  return AdjustedOffset(dataFile, physical);
}

PageKindResult PageKind(const DataFile* dataFile, const uint8_t* page) {
  switch (dataFile->layout->kindRule) {
    case KindRule::Bit15AtOffset4:
      return (DecodeLE16(page + 4) & 0x8000) ? PageKindResult::Data
                                             : PageKindResult::Neither;
    case KindRule::ByteAtOffset1:
    case KindRule::ByteAtOffset4:
    case KindRule::ByteAtOffset4NotIndex: {
      // An index page keeps its key number at 4 and 0x80 at 5: key 68 would
      // read as 'D'.
      if (dataFile->layout->kindRule == KindRule::ByteAtOffset4NotIndex &&
          page[5] != 0) {
        return PageKindResult::Neither;
      }
      const uint8_t kind =
          page[dataFile->layout->kindRule == KindRule::ByteAtOffset1 ? 1 : 4];
      if (kind == 'D') return PageKindResult::Data;
      if (kind == 'V') return PageKindResult::Variable;
      return PageKindResult::Neither;
    }
  }
  return PageKindResult::Neither;
}

// Page number and usage counter of a page header.
static void DecodePageHeader(const DataFile* dataFile, const uint8_t* page,
                             uint32_t* pageNumber, uint16_t* usage) {
  if (dataFile->layout->pageNumberRule == PageNumberRule::Number24UsageWord4) {
    *pageNumber = DecodePageNumber24(page);
    *usage = DecodeLE16(page + 4);
  } else if (dataFile->layout->pageNumberRule == PageNumberRule::Number32UsageWord6) {
    // Bit 15 of the usage word marks data pages; it is not part of the count.
    *pageNumber = DecodeLE32(page);
    *usage = DecodeLE16(page + 6) & kV8UsageMask;
  } else {
    *pageNumber = static_cast<uint32_t>(
        static_cast<int32_t>(static_cast<int16_t>(DecodeLE16(page))));
    *usage = page[6];
  }
}

ReaderStatus AddPageEntry(DataFile* dataFile, const uint8_t* page,
                          PageKindResult kind, int64_t offset) {
  PageEntry** list;
  uint32_t* count;
  uint32_t* capacity;
  PageIndex* index;
  ReaderScratch* scratch = dataFile->scratch;
  if (kind == PageKindResult::Data) {
    list = &dataFile->dataPages;
    count = &dataFile->dataPageCount;
    capacity = &scratch->dataCapacity;
    index = &scratch->dataIndex;
  } else if (kind == PageKindResult::Variable) {
    list = &dataFile->variablePages;
    count = &dataFile->variablePageCount;
    capacity = &scratch->variableCapacity;
    index = &scratch->variableIndex;
  } else {
    return kReaderOk;
  }

  uint32_t pageNumber;
  uint16_t usage;
  DecodePageHeader(dataFile, page, &pageNumber, &usage);

  // An older copy of the same page: keep the one written last, which has the
  // higher usage counter.  With equal counters the page read first stays.
  const int64_t found = FindPageEntry(*index, *list, pageNumber);
  if (found >= 0) {
    PageEntry& entry = (*list)[found];
    if (entry.usage < usage) {
      entry.offset = offset;
      entry.usage = usage;
    }
    return kReaderOk;
  }

  if (*count == *capacity) {
    const uint32_t grown = *capacity == 0 ? 64 : *capacity * 2;
    if (grown <= *capacity) return kReaderDirectoryFull;
    void* larger = realloc(*list, static_cast<size_t>(grown) * sizeof(PageEntry));
    if (larger == nullptr) return kReaderDirectoryFull;
    *list = static_cast<PageEntry*>(larger);
    *capacity = grown;
  }
  (*list)[*count] = PageEntry{pageNumber, offset, usage};
  IndexInsert(*index, *list, *count);
  ++*count;
  return kReaderOk;
}

void ScanPages(DataFile* dataFile) {
  if (dataFile->layout->directoryRule == DirectoryRule::AllocationTables) {
    ScanV8Pages(dataFile);
    return;
  }
  uint8_t* page = dataFile->pageBuffer;
  const uint32_t pageSize = dataFile->pageSize;
  if (dataFile->variant == ReaderVariant::Console) {
    // Every physical page in file order, control and map pages and stale
    // copies included, until a read fails at the end of the file.
    uint64_t physical = 0;
    if (uint8_t* batch = static_cast<uint8_t*>(malloc(kScanBatchBytes))) {
      physical = ScanPhysicalBatches(dataFile, batch);
      free(batch);
    }
    for (;; ++physical) {
      const int64_t offset = AdjustedOffset(dataFile, physical);
      if (!ReadFileAt(dataFile, offset, page, pageSize)) break;
      AddPageEntry(dataFile, page, PageKind(dataFile, page), offset);
    }
  } else {
    // Logical pages through the page map; a page that cannot be read is
    // skipped and the scan goes on.
    for (int64_t logical = 1; logical < dataFile->pageCount && logical <= INT32_MAX;
         ++logical) {
      const int64_t offset = PageOffset(dataFile, static_cast<int32_t>(logical));
      if (offset < 0) continue;
      if (!ReadFileAt(dataFile, offset, page, pageSize)) continue;
      AddPageEntry(dataFile, page, PageKind(dataFile, page), offset);
    }
  }
}

void SortDataPages(DataFile* dataFile) {
  // Page numbers are unique within the list, so any correct sort gives the
  // one order: ascending, compared as unsigned 32-bit values.
  std::sort(dataFile->dataPages, dataFile->dataPages + dataFile->dataPageCount,
            [](const PageEntry& a, const PageEntry& b) {
              return a.pageNumber < b.pageNumber;
            });
  // Positions moved: index them anew.
  PageIndex& index = dataFile->scratch->dataIndex;
  index = PageIndex{};
  for (uint32_t i = 0; i < dataFile->dataPageCount; ++i) {
    IndexInsert(index, dataFile->dataPages, i);
  }
}

ReaderStatus ReadNextDataPage(DataFile* dataFile) {
  if (dataFile->pageCursor < 0 ||
      static_cast<uint32_t>(dataFile->pageCursor) >= dataFile->dataPageCount) {
    return kReaderEnd;
  }
  const int64_t offset = dataFile->dataPages[dataFile->pageCursor].offset;
  ++dataFile->pageCursor;
  if (!ReadFileAt(dataFile, offset, dataFile->pageBuffer, dataFile->pageSize)) {
    return kReaderUnusable;
  }
  return kReaderOk;
}
