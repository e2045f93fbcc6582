// The record cursor: data page to data page, slot to slot, skipping the
// slots that hold no record.
#include <cstring>

#include "reader/datafile.h"
#include "reader/format.h"
#include "reader/scratch.h"
#include "reader/version_layout.h"

namespace {

// Page kinds are told by header bytes 1 and 4 to 5 (PageKind).
constexpr uint32_t kPageHeaderKindBytes = 8;

// True when any byte of the slot from `from` on is non-zero.  Only bytes
// inside the page are looked at: the last slot of a page may reach a few
// bytes beyond it, and those count as zero.
bool AnyByteSet(const DataFile* dataFile, uint32_t slotOffset, uint32_t from) {
  const uint32_t pageSize = dataFile->pageSize;
  uint64_t begin = static_cast<uint64_t>(slotOffset) + from;
  uint64_t end = static_cast<uint64_t>(slotOffset) + dataFile->slotLength;
  if (end > pageSize) end = pageSize;
  for (uint64_t i = begin; i < end; ++i) {
    if (dataFile->pageBuffer[i] != 0) return true;
  }
  return false;
}

uint16_t FirstWord(const DataFile* dataFile, uint32_t slotOffset) {
  if (slotOffset + 2 <= dataFile->pageSize) {
    return DecodeLE16(dataFile->pageBuffer + slotOffset);
  }
  uint8_t word[2];
  CopyPageBytes(dataFile->pageBuffer, dataFile->pageSize, slotOffset, 2, word);
  return DecodeLE16(word);
}

// The slot count and the empty-slot rule depend only on the file; they are
// worked out once, not for every record.
void PrepareCursor(DataFile* dataFile) {
  ReaderScratch* scratch = dataFile->scratch;
  scratch->slotsPerPage =
      (dataFile->pageSize - dataFile->layout->slotCountReserve) / dataFile->slotLength;
  scratch->emptySlotRule = EmptySlotRuleOf(dataFile);
  scratch->cursorReady = true;
}

bool SlotIsEmpty(const DataFile* dataFile) {
  const uint32_t slotOffset =
      static_cast<uint32_t>(dataFile->currentRecord - dataFile->pageBuffer);
  switch (dataFile->scratch->emptySlotRule) {
    case EmptySlotRule::FirstWordThenScanFrom4:
      return FirstWord(dataFile, slotOffset) == 0 ||
             !AnyByteSet(dataFile, slotOffset, 4);
    case EmptySlotRule::ScanFrom0:
      return !AnyByteSet(dataFile, slotOffset, 0);
    case EmptySlotRule::ScanFrom4:
      // A freed slot keeps the 4-byte link of the free-slot chain and is
      // zero after it.
      return !AnyByteSet(dataFile, slotOffset, 4);
    case EmptySlotRule::FirstWord:
      return FirstWord(dataFile, slotOffset) == 0;
    case EmptySlotRule::UsedMarkerAt6: {
      // The first bytes of a compressed slot are a page pointer, or the
      // free-slot chain's link in a free one: only the marker tells.
      uint8_t marker[kV8UsedMarkerSize];
      CopyPageBytes(dataFile->pageBuffer, dataFile->pageSize,
                    slotOffset + kV8UsedMarkerOffset, kV8UsedMarkerSize, marker);
      return marker[0] == 0 && marker[1] == 0 && marker[2] == 0;
    }
  }
  return true;
}

void PointAtSlot(DataFile* dataFile, uint32_t slot) {
  const uint64_t offset = dataFile->layout->dataPageHeaderSize +
                          static_cast<uint64_t>(slot) * dataFile->slotLength;
  // The slot count admits a last slot that starts inside the page; clamp
  // anyway so the pointer never leaves the buffer.
  dataFile->currentRecord =
      dataFile->pageBuffer + (offset < dataFile->pageSize ? offset : dataFile->pageSize);
}

}  // namespace

ReaderStatus FindNextDataPage(DataFile* dataFile) {
  const VersionLayout* layout = dataFile->layout;
  uint8_t* page = dataFile->pageBuffer;
  const uint32_t pageSize = dataFile->pageSize;
  const int64_t fileEnd = static_cast<int64_t>(pageSize) * dataFile->pageCount;
  // The walk tests the buffer before it has read anything, and a page
  // beyond the end of the file leaves it as it is: a cleared page header
  // makes both fail the test.  The kind is read from the first eight bytes
  // in every version; the rest of the buffer is never looked at before a
  // page has been read into it.
  memset(page, 0, pageSize < kPageHeaderKindBytes ? pageSize : kPageHeaderKindBytes);
  int64_t n = dataFile->pageCursor;
  for (;;) {
    if (PageKind(dataFile, page) == PageKindResult::Data) {
      dataFile->pageCursor = static_cast<int32_t>(n);
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
      if (!UsesPageMap(dataFile)) return kReaderEnd;
      continue;
    }
    if (!ReadFileAt(dataFile, offset, page, pageSize)) return kReaderUnusable;
    if (layout->consoleChecksPageNumber) {
      // A data page that does not carry the logical number it was looked up
      // by is a stale copy.  The whole 24-bit number is compared, so pages
      // from logical 65536 on are found too.
      if (DecodePageNumber24(page) != static_cast<uint64_t>(n - 1)) {
        memset(page, 0, 4);
      }
    }
    if (layout->consoleChecksZeroHeader) {
      if (page[4] == 0 && page[6] == 0 && page[7] == 0) memset(page, 0, 10);
    }
  }
}

ReaderStatus AdvanceSlot(DataFile* dataFile) {
  if (!dataFile->scratch->cursorReady) PrepareCursor(dataFile);
  const uint32_t slotsPerPage = dataFile->scratch->slotsPerPage;
  if (dataFile->recordIndex != -1 &&
      static_cast<uint32_t>(dataFile->recordIndex) >= dataFile->recordCount - 1u) {
    return kReaderEnd;
  }
  if (dataFile->nextSlot < slotsPerPage) {
    PointAtSlot(dataFile, dataFile->nextSlot);
    ++dataFile->nextSlot;
    return kReaderOk;
  }
  const ReaderStatus status = CursorReadsDirectory(dataFile)
                                  ? ReadNextDataPage(dataFile)
                                  : FindNextDataPage(dataFile);
  if (status != kReaderOk) return status;
  dataFile->nextSlot = 1;
  PointAtSlot(dataFile, 0);
  return kReaderOk;
}

ReaderStatus ReadNextRecord(DataFile* dataFile, RecordBuffer* record,
                            uint8_t* destination) {
  if (dataFile == nullptr) return kReaderNoDataFile;
  if (dataFile->recordCount == 0 || dataFile->pageBuffer == nullptr) {
    return kReaderEnd;
  }
  ReaderStatus status = AdvanceSlot(dataFile);
  if (status != kReaderOk) return status;
  while (SlotIsEmpty(dataFile)) {
    status = AdvanceSlot(dataFile);
    if (status != kReaderOk) return status;
  }
  ++dataFile->recordIndex;

  if (dataFile->variableLength != 0) {
    return AssembleVariableRecord(dataFile->currentRecord, dataFile, destination,
                                  record);
  }
  const uint32_t capacity = record->length;
  if (destination != nullptr && capacity > 0) {
    const uint32_t n = capacity < dataFile->recordLength ? capacity
                                                         : dataFile->recordLength;
    const uint64_t start =
        static_cast<uint64_t>(dataFile->currentRecord - dataFile->pageBuffer) +
        dataFile->slotDataOffset;
    // A record that runs past the end of the page gets zeros for the
    // missing bytes.
    if (start + n <= dataFile->pageSize) {
      memcpy(destination, dataFile->pageBuffer + start, n);
    } else {
      CopyPageBytes(dataFile->pageBuffer, dataFile->pageSize, start, n, destination);
    }
  }
  record->length = dataFile->recordLength;
  return (capacity == 0 || capacity < dataFile->recordLength) ? kReaderTooSmall
                                                              : kReaderOk;
}
