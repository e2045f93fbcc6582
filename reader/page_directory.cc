#include "reader/page_directory.h"

#include <algorithm>
#include <cstdlib>

#include "reader/page_header.h"
#include "reader/reader_state.h"
#include "reader/stream.h"

namespace {

struct List {
  PageEntry** entries;
  uint32_t* count;
  uint32_t* capacity;
  bool* indexed;
  PositionIndex* index;
};

bool ListOf(DataFile* dataFile, PageKindResult kind, List* list) {
  ReaderState* state = dataFile->state;
  if (kind == PageKindResult::Data) {
    *list = List{&dataFile->dataPages, &dataFile->dataPageCount, &state->dataCapacity,
                 &state->dataIndexed, &state->dataIndex};
  } else if (kind == PageKindResult::Variable) {
    *list = List{&dataFile->variablePages, &dataFile->variablePageCount,
                 &state->variableCapacity, &state->variableIndexed, &state->variableIndex};
  } else {
    return false;
  }
  return true;
}

auto NumberAt(const PageEntry* entries) {
  return [entries](uint32_t position) -> uint64_t { return entries[position].pageNumber; };
}

// Position of `pageNumber` among `count` entries, or -1: through the index
// where the list has one, else by halves.
int64_t FindIn(const PageEntry* entries, uint32_t count, bool indexed,
               const PositionIndex& index, uint32_t pageNumber) {
  if (indexed) return FindPosition(index, pageNumber, NumberAt(entries));
  const PageEntry* end = entries + count;
  const PageEntry* at = std::lower_bound(
      entries, end, pageNumber,
      [](const PageEntry& e, uint32_t number) { return e.pageNumber < number; });
  return at != end && at->pageNumber == pageNumber ? at - entries : -1;
}

int64_t FindInList(const List& list, uint32_t pageNumber) {
  return FindIn(*list.entries, *list.count, *list.indexed, *list.index, pageNumber);
}

// Indexes every entry of a list whose numbers no longer ascend.
void IndexList(const List& list) {
  ResetIndex(*list.index);
  for (uint32_t i = 0; i < *list.count; ++i) {
    InsertPosition(*list.index, i, NumberAt(*list.entries));
  }
  *list.indexed = true;
}

}  // namespace

int64_t FindListedPage(const DataFile* dataFile, PageKindResult kind,
                       uint32_t pageNumber) {
  const ReaderState* state = dataFile->state;
  const bool data = kind == PageKindResult::Data;
  const PageEntry* entries = data ? dataFile->dataPages : dataFile->variablePages;
  const int64_t at =
      data ? FindIn(entries, dataFile->dataPageCount, state->dataIndexed, state->dataIndex,
                    pageNumber)
           : FindIn(entries, dataFile->variablePageCount, state->variableIndexed,
                    state->variableIndex, pageNumber);
  return at < 0 ? -1 : entries[at].offset;
}

ReaderStatus AddListedPage(DataFile* dataFile, PageKindResult kind,
                           uint32_t pageNumber, uint16_t usage, int64_t offset) {
  List list;
  if (!ListOf(dataFile, kind, &list)) return kReaderOk;

  // An older copy of the same page: keep the one written last, which has the
  // higher usage counter.  With equal counters the page read first stays.
  const uint32_t count = *list.count;
  const bool ascends = count == 0 || (*list.entries)[count - 1].pageNumber < pageNumber;
  const int64_t found = ascends ? -1 : FindInList(list, pageNumber);
  if (found >= 0) {
    PageEntry& entry = (*list.entries)[found];
    if (entry.usage < usage) {
      ReportEvent(dataFile, ReaderEventKind::PageStaleCopy, entry.offset, pageNumber);
      entry.offset = offset;
      entry.usage = usage;
    } else {
      ReportEvent(dataFile, ReaderEventKind::PageStaleCopy, offset, pageNumber);
    }
    return kReaderOk;
  }

  if (*list.count == *list.capacity) {
    const uint32_t grown = *list.capacity == 0 ? 64 : *list.capacity * 2;
    void* larger = grown <= *list.capacity
                       ? nullptr
                       : realloc(*list.entries, static_cast<size_t>(grown) * sizeof(PageEntry));
    if (larger == nullptr) {
      ReportEvent(dataFile, ReaderEventKind::DirectoryFull, offset, pageNumber);
      return kReaderDirectoryFull;
    }
    *list.entries = static_cast<PageEntry*>(larger);
    *list.capacity = grown;
  }
  (*list.entries)[*list.count] = PageEntry{pageNumber, offset, usage};
  if (*list.indexed) {
    InsertPosition(*list.index, *list.count, NumberAt(*list.entries));
    ++*list.count;
  } else {
    ++*list.count;
    if (!ascends) IndexList(list);
  }
  return kReaderOk;
}

ReaderStatus AddPageEntry(DataFile* dataFile, const uint8_t* page,
                          PageKindResult kind, int64_t offset) {
  if (kind == PageKindResult::Neither) return kReaderOk;
  const PageHeader header = DecodePageHeader(dataFile->state->plan.pageNumber, page);
  return AddListedPage(dataFile, kind, header.number, header.usage, offset);
}

void SortDataPages(DataFile* dataFile) {
  // Page numbers are unique within the list, so any correct sort gives the
  // one order: ascending, compared as unsigned 32-bit values.  A list filled
  // in that order already (the 0x0800/0x0900 pass adds its pages so) keeps
  // its positions, and its index with them.
  const auto byNumber = [](const PageEntry& a, const PageEntry& b) {
    return a.pageNumber < b.pageNumber;
  };
  PageEntry* const end = dataFile->dataPages + dataFile->dataPageCount;
  if (std::is_sorted(dataFile->dataPages, end, byNumber)) return;
  std::sort(dataFile->dataPages, end, byNumber);
  // The numbers ascend now: the list is searched by halves again.
  ResetIndex(dataFile->state->dataIndex);
  dataFile->state->dataIndexed = false;
}

ReaderStatus ReadNextDataPage(DataFile* dataFile) {
  if (dataFile->pageCursor < 0 ||
      static_cast<uint32_t>(dataFile->pageCursor) >= dataFile->dataPageCount) {
    return kReaderEnd;
  }
  const PageEntry& entry = dataFile->dataPages[dataFile->pageCursor];
  ++dataFile->pageCursor;
  if (!LoadPage(dataFile, entry.offset)) {
    ReportEvent(dataFile, ReaderEventKind::PageUnreadable, entry.offset, entry.pageNumber);
    return kReaderUnusable;
  }
  return kReaderOk;
}
