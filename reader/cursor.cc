// The record cursor: data page to data page, slot to slot, skipping the
// slots that hold no record.
#include "reader/cursor.h"

#include <cstring>

#include "reader/format.h"
#include "reader/page_directory.h"
#include "reader/page_map.h"
#include "reader/page_header.h"
#include "reader/reader_state.h"
#include "reader/record.h"
#include "reader/slots.h"
#include "reader/stream.h"

namespace {

void PointAtSlot(DataFile* dataFile, uint32_t slot) {
  const uint64_t offset = dataFile->state->plan.dataPageHeaderSize +
                          static_cast<uint64_t>(slot) * dataFile->slotLength;
  // The slot count admits a last slot that starts inside the page; clamp
  // anyway so the pointer never leaves the buffer.
  dataFile->currentRecord =
      dataFile->pageBuffer + (offset < dataFile->pageSize ? offset : dataFile->pageSize);
}

bool CurrentSlotIsEmpty(const DataFile* dataFile) {
  const uint32_t slotOffset =
      static_cast<uint32_t>(dataFile->currentRecord - dataFile->pageBuffer);
  return SlotIsEmpty(dataFile->state->plan.emptySlot, dataFile->pageBuffer,
                     dataFile->pageSize, slotOffset, dataFile->slotLength);
}

// A data page read by logical number `logical` that carries another.  When
// the map puts the number it carries on a page that carries that number
// too, with a usage counter not below this one's, the entry looked up is
// one the map keeps for a logical page not in use, pointing at a superseded
// copy or at the page itself: the engine leaves such entries in healthy
// files.  Anything else is a misplaced page: damage.
void ReportWrongNumber(DataFile* dataFile, int64_t offset, int64_t logical) {
  if (dataFile->state->reporter.report == nullptr) return;
  const PageHeader here = DecodePageHeader(dataFile->state->plan.pageNumber,
                                           dataFile->pageBuffer);
  bool leftover = false;
  if (here.number >= 1 && here.number <= INT32_MAX) {
    const int64_t current = PageOffset(dataFile, static_cast<int32_t>(here.number));
    uint8_t header[kPageHeaderBytes];
    if (current == offset) {
      leftover = true;
    } else if (current >= 0 && ReadFileAt(dataFile, current, header, sizeof header)) {
      const PageHeader there = DecodePageHeader(dataFile->state->plan.pageNumber, header);
      leftover = there.number == here.number && there.usage >= here.usage;
    }
  }
  ReportEventAs(dataFile, ReaderEvent{ReaderEventKind::PageWrongNumber, offset, logical, -1,
                                      !leftover});
}

// The console's checks on a page it has read by logical number `logical`;
// a page that fails them has its header cleared, so that it does not count
// as a data page.
void CheckLoadedPage(DataFile* dataFile, int64_t offset, int64_t logical) {
  const ReadPlan& plan = dataFile->state->plan;
  uint8_t* page = dataFile->pageBuffer;
  if (plan.checkPageNumber && DecodePageNumber24(page) != static_cast<uint64_t>(logical)) {
    // A data page that does not carry the logical number it was looked up
    // by is a stale copy.  The whole 24-bit number is compared, so pages
    // from logical 65536 on are found too.
    if (ClassifyPage(plan.kind, page) == PageKindResult::Data) {
      ReportWrongNumber(dataFile, offset, logical);
    }
    page = WritablePage(dataFile);
    memset(page, 0, 4);
  }
  if (plan.checkZeroHeader && page[4] == 0 && page[6] == 0 && page[7] == 0) {
    page = WritablePage(dataFile);
    if (ClassifyPage(plan.kind, page) == PageKindResult::Data) {
      ReportEvent(dataFile, ReaderEventKind::PageZeroHeader, offset, logical);
    }
    memset(page, 0, 10);
  }
}

}  // namespace

ReaderStatus FindNextDataPage(DataFile* dataFile) {
  ReaderState* state = dataFile->state;
  const ReadPlan& plan = state->plan;
  const uint32_t pageSize = dataFile->pageSize;
  const int64_t fileEnd = static_cast<int64_t>(pageSize) * dataFile->pageCount;
  // The walk tests the buffer before it has read anything, and a page
  // beyond the end of the file leaves it as it is: a cleared page header
  // makes both fail the test.  The kind is read from the first eight bytes
  // in every version; the rest of the buffer is never looked at before a
  // page has been read into it.
  dataFile->pageBuffer = state->pageBytes;
  memset(state->pageBytes, 0, pageSize < kPageHeaderBytes ? pageSize : kPageHeaderBytes);
  int64_t n = dataFile->pageCursor;
  for (;;) {
    if (ClassifyPage(plan.kind, dataFile->pageBuffer) == PageKindResult::Data) {
      dataFile->pageCursor = static_cast<int32_t>(n);
      state->dataPageNumber = n - 1;
      return kReaderOk;
    }
    if (n > INT32_MAX) return kReaderEnd;
    const int64_t offset = PageOffset(dataFile, static_cast<int32_t>(n));
    ++n;
    if (offset < 0) return kReaderEnd;
    // Beyond the end of the file: pass over without reading.  The buffer
    // still holds a page that failed the test.
    if (offset > fileEnd) {
      // Without a page map the offset grows with the page number, so every
      // later page lies beyond the end too.  Stepping through them would end
      // at page 0xFFFFFF, which PageOffset reports as no page, after some
      // sixteen million empty turns (a file shorter than one page): give the
      // same answer now.
      if (!plan.walksMap) return kReaderEnd;
      ReportMappedOutsideFile(dataFile, offset, n - 1);
      continue;
    }
    if (!LoadPage(dataFile, offset)) {
      ReportEvent(dataFile, ReaderEventKind::PageUnreadable, offset, n - 1);
      return kReaderUnusable;
    }
    state->dataPageOffset = offset;
    CheckLoadedPage(dataFile, offset, n - 1);
  }
}

namespace {

// The step past a page's last slot: the first slot of the next data page.
// Kept out of AdvanceSlot, so that the step to the next slot of the same
// page, nearly every step, is small enough to go inline into the record loop.
[[gnu::noinline]] ReaderStatus AdvancePage(DataFile* dataFile) {
  ReaderState* state = dataFile->state;
  ReaderStatus status;
  if (state->plan.pageSource == PageSource::DirectoryList) {
    status = ReadNextDataPage(dataFile);
    if (status == kReaderOk) {
      const PageEntry& entry = dataFile->dataPages[dataFile->pageCursor - 1];
      state->dataPageOffset = entry.offset;
      state->dataPageNumber = entry.pageNumber;
    }
  } else {
    status = FindNextDataPage(dataFile);
  }
  if (status != kReaderOk) return status;
  dataFile->nextSlot = 1;
  PointAtSlot(dataFile, 0);
  return kReaderOk;
}

}  // namespace

ReaderStatus AdvanceSlot(DataFile* dataFile) {
  if (dataFile->recordIndex != -1 &&
      static_cast<uint32_t>(dataFile->recordIndex) >= dataFile->recordCount - 1u) {
    return kReaderEnd;
  }
  if (dataFile->nextSlot < dataFile->state->plan.slotsPerPage) {
    PointAtSlot(dataFile, dataFile->nextSlot);
    ++dataFile->nextSlot;
    return kReaderOk;
  }
  return AdvancePage(dataFile);
}

namespace {

// Moves the cursor to the next slot that holds a record.  0, 5 or 2.
ReaderStatus StepToNextRecord(DataFile* dataFile) {
  if (dataFile->recordCount == 0 || dataFile->pageBuffer == nullptr) {
    return kReaderEnd;
  }
  ReaderStatus status = AdvanceSlot(dataFile);
  if (status != kReaderOk) return status;
  while (CurrentSlotIsEmpty(dataFile)) {
    status = AdvanceSlot(dataFile);
    if (status != kReaderOk) return status;
  }
  ++dataFile->recordIndex;
  return kReaderOk;
}

}  // namespace

ReaderStatus ReadNextRecordInPlace(DataFile* dataFile, RecordBuffer* record,
                                   uint8_t* destination, const uint8_t** data) {
  if (dataFile == nullptr) return kReaderNoDataFile;
  const ReaderStatus status = StepToNextRecord(dataFile);
  if (status != kReaderOk) return status;
  *data = destination;
  if (dataFile->variableLength != 0) {
    return AssembleVariableRecord(dataFile->currentRecord, dataFile, destination, record);
  }
  const uint32_t capacity = record->length;
  const uint64_t start = static_cast<uint64_t>(dataFile->currentRecord - dataFile->pageBuffer) +
                         dataFile->slotDataOffset;
  if (capacity >= dataFile->recordLength && start + dataFile->recordLength <= dataFile->pageSize) {
    *data = dataFile->pageBuffer + start;
  } else {
    CopyFixedPart(dataFile, dataFile->currentRecord, destination, capacity);
  }
  return FinishRecord(dataFile, record, dataFile->recordLength, capacity);
}

ReaderStatus ReadNextRecord(DataFile* dataFile, RecordBuffer* record,
                            uint8_t* destination) {
  const uint8_t* data = destination;
  const ReaderStatus status = ReadNextRecordInPlace(dataFile, record, destination, &data);
  // In place only when the whole record fits the destination.
  if (status == kReaderOk && data != destination && destination != nullptr) {
    memcpy(destination, data, record->length);
  }
  return status;
}
