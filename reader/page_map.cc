#include "reader/page_map.h"

#include "reader/copy_choice.h"
#include "reader/format.h"
#include "reader/page_directory.h"
#include "reader/page_geometry.h"
#include "reader/reader_state.h"
#include "reader/stream.h"

namespace {

// Decodes map pair `pair` once: of its two copies the one with the greater
// counter (equal: the second) gives the entries.  An entry that lies beyond
// the end of a file cut short counts as no page, as does the whole pair when
// a counter cannot be read.
const uint32_t* MapPairEntries(DataFile* dataFile, uint32_t pair) {
  ReaderState* state = dataFile->state;
  const uint32_t pageSize = dataFile->pageSize;
  const uint32_t entriesPerPage = MapEntriesPerPage(pageSize);
  if (state->mapPairStart.size() <= pair) state->mapPairStart.resize(pair + 1, -1);
  if (state->mapPairStart[pair] >= 0) {
    return state->mapEntries.data() + state->mapPairStart[pair];
  }

  const int64_t first = PhysicalPageOffset(dataFile, MapPairFirstPage(pageSize, pair));
  state->mapPageBytes.resize(2 * static_cast<size_t>(pageSize));
  uint8_t* copy1 = state->mapPageBytes.data();
  uint8_t* copy2 = copy1 + pageSize;
  const uint32_t got1 = ReadFileUpTo(dataFile, first, copy1, pageSize);
  const uint32_t got2 = ReadFileUpTo(dataFile, first + pageSize, copy2, pageSize);

  const size_t start = state->mapEntries.size();
  state->mapEntries.resize(start + entriesPerPage + 1, kMapNoPage);
  state->mapPairStart[pair] = static_cast<int64_t>(start);
  uint32_t* entries = state->mapEntries.data() + start;  // index j = 1..E

  const uint32_t counterEnd = kMapCounterOffset + 2;
  if (got1 < counterEnd || got2 < counterEnd) {
    // A pair wholly beyond the end maps nothing; one the end cuts through
    // is a file cut short.
    if (first < state->fileSize) {
      ReportEvent(dataFile, ReaderEventKind::MapDamaged, first, -1);
    }
    return entries;
  }
  const bool useFirst = ChooseMapPairCopy(true, DecodeLE16(copy1 + kMapCounterOffset), true,
                                          DecodeLE16(copy2 + kMapCounterOffset)) == 0;
  const uint8_t* chosen = useFirst ? copy1 : copy2;
  const uint32_t got = useFirst ? got1 : got2;
  for (uint32_t j = 1; j <= entriesPerPage; ++j) {
    const uint32_t at = kMapCounterOffset + kMapEntrySize * j;
    if (at + kMapEntrySize > got) break;
    entries[j] = DecodePageNumber24(chosen + at);
  }
  return entries;
}

// Map pairs whose first copy can lie inside the file.
int64_t PairCount(const DataFile* dataFile) {
  const int64_t stride = MapPairStride(dataFile->pageSize);
  return dataFile->pageCount / stride + 2;
}

}  // namespace

int64_t PhysicalPageOffset(const DataFile* dataFile, uint64_t physicalPage) {
  return static_cast<int64_t>(
      PhysicalPageStart(dataFile->pageSize, dataFile->state->plan.adjust4096, physicalPage));
}

int64_t PageOffset(DataFile* dataFile, int32_t logicalPage) {
  // Entry 0 of a map page would be its counter word: page numbers below 1
  // have no page.
  if (logicalPage <= 0) return -1;
  const ReadPlan& plan = dataFile->state->plan;
  if (plan.tableDirectory) {
    // The allocation tables were resolved into the directory at open; the
    // data and variable pages are all that the reader addresses.
    const uint32_t number = static_cast<uint32_t>(logicalPage);
    int64_t offset = FindListedPage(dataFile, PageKindResult::Data, number);
    if (offset < 0) offset = FindListedPage(dataFile, PageKindResult::Variable, number);
    return offset;
  }
  uint32_t physical = static_cast<uint32_t>(logicalPage);
  if (plan.walksMap) {
    const uint32_t entriesPerPage = MapEntriesPerPage(dataFile->pageSize);
    const uint32_t pair = (physical - 1) / entriesPerPage;
    const uint32_t j = physical - pair * entriesPerPage;
    // A pair whose first copy lies beyond the end of the file cannot be
    // read; answer without touching the stream or the cache.
    if (pair >= PairCount(dataFile)) return -1;
    physical = MapPairEntries(dataFile, pair)[j];
  }
  if (physical == kMapNoPage || physical == 0xFFFFFFFFu) return -1;
  return PhysicalPageOffset(dataFile, physical);
}
