#include "reader/record.h"

#include <cstring>

#include "reader/chain.h"
#include "reader/format.h"
#include "reader/page_map.h"
#include "reader/page_directory.h"
#include "reader/v8_layout.h"
#include "reader/reader_state.h"
#include "reader/stream.h"

namespace {

// File offset of a variable page, or -1 when it cannot be located.
int64_t LocateVariablePage(DataFile* dataFile, int64_t pageNumber) {
  if (dataFile->state->plan.variableViaPageOffset) {
    if (pageNumber <= 0 || pageNumber > INT32_MAX) return -1;
    return PageOffset(dataFile, static_cast<int32_t>(pageNumber));
  }
  return FindListedPage(dataFile, PageKindResult::Variable,
                        static_cast<uint32_t>(pageNumber));
}

// Loads the variable page at `offset`, unless it is the one already loaded.
bool LoadVariablePage(DataFile* dataFile, int64_t offset) {
  ReaderState* state = dataFile->state;
  if (state->variablePageOffset == offset) return true;
  state->variablePageOffset = -1;
  if (!ReadFileAt(dataFile, offset, dataFile->variablePageBuffer, dataFile->pageSize)) {
    return false;
  }
  state->variablePageOffset = offset;
  return true;
}

ReaderEventKind EventOf(ChainEnd end) {
  switch (end) {
    case ChainEnd::Loop: return ReaderEventKind::ChainLoop;
    case ChainEnd::MissingPage: return ReaderEventKind::ChainMissingPage;
    case ChainEnd::DamagedTable: return ReaderEventKind::ChainDamagedTable;
    case ChainEnd::Bound: return ReaderEventKind::ChainBound;
    default: return ReaderEventKind::ChainUnreadable;
  }
}

void ReportChainEnd(DataFile* dataFile, ChainEnd end, int64_t page) {
  if (dataFile->state->reporter.report == nullptr) return;
  ReportEvent(dataFile, EventOf(end), LocateVariablePage(dataFile, page), page,
              dataFile->recordIndex);
}

// Follows the chain from `first` into the sink.  0, or 2 when a variable
// page cannot be read, or (versions below 0x0800) a page that cannot be
// located is named with a fragment number taken to be garbage.
ReaderStatus WalkRecordChain(DataFile* dataFile, ChainPointer first, ByteSink* sink) {
  ReaderState* state = dataFile->state;
  const ReadPlan& plan = state->plan;
  const ChainLayout layout{plan.chain, dataFile->fragmentHeaderSize, plan.fragmentCountOffset,
                           plan.firstFragmentOffset};
  ChainWalk walk;
  BeginChain(&walk, layout, dataFile->pageSize, first, &state->visited);
  int64_t page;
  while (NextChainPage(&walk, *sink, &page)) {
    const int64_t offset = LocateVariablePage(dataFile, page);
    if (offset < 0) {
      ReportChainEnd(dataFile, ChainEnd::MissingPage, page);
      if (plan.chain != ChainRule::Pointer32Counted &&
          walk.pointer.fragment >= kFragmentNumberError) {
        return kReaderUnusable;
      }
      return kReaderOk;
    }
    if (!LoadVariablePage(dataFile, offset)) {
      ReportEvent(dataFile, ReaderEventKind::ChainUnreadable, offset, page,
                  dataFile->recordIndex);
      return kReaderUnusable;
    }
    TakeChainPage(&walk, dataFile->variablePageBuffer, sink);
  }
  if (walk.end != ChainEnd::Finished) ReportChainEnd(dataFile, walk.end, walk.pointer.page);
  return kReaderOk;
}

// A chunked tail: one walk reads the chunk table, then each chunk is walked
// into the sink up to its length.  A chunk whose chain ends early leaves the
// tail short by what is missing, and is reported; the chunks after it are
// still read.
ReaderStatus WalkChunkedTail(DataFile* dataFile, ChainPointer tablePointer, ByteSink* sink) {
  std::vector<uint8_t>& table = dataFile->state->chunkTable;
  table.clear();
  ByteSink tableSink;
  tableSink.collect = &table;
  ReaderStatus status = WalkRecordChain(dataFile, tablePointer, &tableSink);
  const ChainRule rule = dataFile->state->plan.chain;
  for (size_t at = 0; status == kReaderOk && at + kChunkEntrySize <= table.size();
       at += kChunkEntrySize) {
    const ChainPointer chunk = DecodeChainPointer(rule, table.data() + at);
    sink->limit = sink->length + DecodeLE32(table.data() + at + kChunkLengthOffset);
    status = WalkRecordChain(dataFile, chunk, sink);
    if (status == kReaderOk && sink->length < sink->limit) {
      ReportEvent(dataFile, ReaderEventKind::ChainChunkShort,
                  chunk.end ? -1 : LocateVariablePage(dataFile, chunk.page), chunk.page,
                  dataFile->recordIndex);
    }
  }
  sink->limit = UINT64_MAX;
  return status;
}

}  // namespace

void CopyFixedPart(const DataFile* dataFile, const uint8_t* slot,
                   uint8_t* destination, uint32_t capacity) {
  if (destination == nullptr || capacity == 0) return;
  const uint32_t n = capacity < dataFile->recordLength ? capacity : dataFile->recordLength;
  const uint64_t start =
      static_cast<uint64_t>(slot - dataFile->pageBuffer) + dataFile->slotDataOffset;
  // A record that runs past the end of the page gets zeros for the missing
  // bytes.
  if (start + n <= dataFile->pageSize) {
    memcpy(destination, dataFile->pageBuffer + start, n);
  } else {
    CopyPageBytes(dataFile->pageBuffer, dataFile->pageSize, start, n, destination);
  }
}

ReaderStatus FinishRecord(const DataFile* dataFile, RecordBuffer* record,
                          uint64_t length, uint32_t capacity) {
  if (dataFile->state->plan.recordLength32) {
    record->length = length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length);
  } else {
    record->length = static_cast<uint32_t>(length & 0xFFFF);
  }
  const ReaderStatus status =
      (capacity == 0 || capacity < length) ? kReaderTooSmall : kReaderOk;
  if (status == kReaderTooSmall) {
    const ReaderState* state = dataFile->state;
    ReportEvent(dataFile, ReaderEventKind::RecordTooLong, state->dataPageOffset,
                state->dataPageNumber, dataFile->recordIndex);
  }
  return status;
}

ReaderStatus AssembleVariableRecord(const uint8_t* slot, DataFile* dataFile,
                                    uint8_t* destination, RecordBuffer* record) {
  const ReadPlan& plan = dataFile->state->plan;
  const uint32_t pageSize = dataFile->pageSize;
  const uint32_t capacity = record->length;
  const uint64_t slotOffset = static_cast<uint64_t>(slot - dataFile->pageBuffer);
  ByteSink sink;
  sink.destination = destination;
  sink.capacity = capacity;
  RunLengthDecoder decoder;
  // The pointer to the first fragment; slot bytes beyond the page read as
  // zeros.
  uint8_t pointer[8];
  const uint32_t pointerSize = ChainPointerSize(plan.chain);
  if (plan.shape == RecordShape::Compressed) {
    // The whole record is in the chain; the slot holds only its pointer.
    sink.decoder = &decoder;
    CopyPageBytes(dataFile->pageBuffer, pageSize, slotOffset, pointerSize, pointer);
  } else {
    CopyFixedPart(dataFile, slot, destination, capacity);
    sink.length = dataFile->recordLength;
    CopyPageBytes(dataFile->pageBuffer, pageSize,
                  slotOffset + dataFile->slotDataOffset + dataFile->recordLength,
                  pointerSize, pointer);
  }
  const ChainPointer first = DecodeChainPointer(plan.chain, pointer);
  const ReaderStatus status = plan.shape == RecordShape::ChunkedTail
                                  ? WalkChunkedTail(dataFile, first, &sink)
                                  : WalkRecordChain(dataFile, first, &sink);
  if (status != kReaderOk) return status;
  return FinishRecord(dataFile, record, sink.length, capacity);
}
