// Records of versions 0x0800 and 0x0900: the fixed part from the slot, the
// fragment chain through the variable pages, and the run-length decoding of
// compressed records.
#include <cstdint>
#include <cstring>

#include "reader/compression.h"
#include "reader/format.h"
#include "reader/scratch.h"
#include "reader/v8_layout.h"

namespace {

struct V8Pointer {
  uint32_t page;
  uint16_t fragment;
};

V8Pointer DecodePointer(const uint8_t* p) {
  return V8Pointer{DecodeLE32(p), DecodeLE16(p + 4)};
}

// Where the bytes of a record go: appended as they are (fixed part and
// variable tail), or through the decoder (compressed records).  Only the
// first `capacity` bytes are written; `length` counts them all.
struct RecordSink {
  uint8_t* destination;
  uint32_t capacity;
  uint64_t length;
  RunLengthDecoder* decoder;  // null: plain bytes
};

void Append(RecordSink& sink, const uint8_t* data, uint32_t n) {
  if (sink.decoder != nullptr) {
    FeedRunLength(sink.decoder, data, n, sink.destination, sink.capacity);
    sink.length = sink.decoder->produced;
    return;
  }
  if (sink.destination != nullptr && sink.length < sink.capacity) {
    const uint64_t room = sink.capacity - sink.length;
    memcpy(sink.destination + sink.length, data, room < n ? static_cast<size_t>(room) : n);
  }
  sink.length += n;
}

uint16_t TableEntry(const uint8_t* page, uint32_t pageSize, uint32_t fragment) {
  return DecodeLE16(page + pageSize - 2 - 2 * fragment);
}

// Finds fragment `fragment` of a variable page: its first byte (the pointer
// to the next fragment) and the end of its data.  False when the page has no
// such fragment or the table is damaged; nothing outside the area between
// the page header and the table is ever taken for fragment bytes.
bool FragmentBounds(const uint8_t* page, uint32_t pageSize, uint32_t fragment,
                    uint32_t* start, uint32_t* end) {
  // n + 1 table entries, the last one marking the free space, must leave
  // room for the page header and the fragment count.
  const uint32_t count = DecodeLE16(page + kV8FragmentCountOffset);
  if (fragment >= count) return false;
  if (2 * (count + 1) > pageSize - kV8FirstFragmentOffset) return false;
  const uint32_t tableStart = pageSize - 2 * (count + 1);
  const uint16_t first = TableEntry(page, pageSize, fragment);
  if (first == kV8NoFragment || first < kV8FirstFragmentOffset) return false;
  // The fragment ends where the next larger offset of the table begins.  The
  // table rises with the fragment number, but a deleted fragment (0xFFFF)
  // leaves a gap, so all entries are looked at; free space starts at entry
  // n, and the table itself is the last bound.
  uint32_t limit = tableStart;
  for (uint32_t f = 0; f <= count; ++f) {
    const uint16_t entry = TableEntry(page, pageSize, f);
    if (entry != kV8NoFragment && entry > first && entry < limit) limit = entry;
  }
  if (first + kV8PointerSize > limit) return false;
  *start = first;
  *end = limit;
  return true;
}

// Follows a chain from `pointer` and hands each fragment's data to `sink`.
// The chain ends at the "no page" pointer; it also ends, keeping what was
// gathered, at a page missing from the directory, at a fragment the page
// does not have, and when it comes back to a fragment it has read.  2 when
// a variable page cannot be read.
ReaderStatus WalkChain(DataFile* dataFile, V8Pointer pointer, RecordSink& sink) {
  ReaderScratch* scratch = dataFile->scratch;
  const uint32_t pageSize = dataFile->pageSize;
  const uint8_t* page = dataFile->variablePageBuffer;
  ClearVisited(scratch->visited);
  for (uint32_t step = 0; step < kMaxChainSteps; ++step) {
    if (pointer.page == kV8NoPage) break;
    if (AlreadyVisited(scratch->visited, pointer.page, pointer.fragment)) break;
    const int64_t at =
        FindPageEntry(scratch->variableIndex, dataFile->variablePages, pointer.page);
    if (at < 0) break;
    if (!LoadVariablePage(dataFile, dataFile->variablePages[at].offset)) {
      return kReaderUnusable;
    }
    uint32_t start;
    uint32_t end;
    if (!FragmentBounds(page, pageSize, pointer.fragment, &start, &end)) break;
    const V8Pointer next = DecodePointer(page + start);
    Append(sink, page + start + kV8PointerSize, end - start - kV8PointerSize);
    pointer = next;
  }
  return kReaderOk;
}

}  // namespace

ReaderStatus AssembleV8Record(const uint8_t* slot, DataFile* dataFile,
                              uint8_t* destination, RecordBuffer* record) {
  const V8FileInfo& info = dataFile->scratch->v8;
  const uint32_t pageSize = dataFile->pageSize;
  const uint32_t capacity = record->length;
  const uint64_t slotOffset = static_cast<uint64_t>(slot - dataFile->pageBuffer);
  RecordSink sink{destination, capacity, 0, nullptr};
  RunLengthDecoder decoder;
  // Slot bytes beyond the page read as zeros (CopyPageBytes).
  uint8_t pointer[kV8PointerSize];
  if (info.compressed) {
    // The whole record is in the chain; the slot holds only its pointer.
    sink.decoder = &decoder;
    CopyPageBytes(dataFile->pageBuffer, pageSize, slotOffset, kV8PointerSize, pointer);
  } else {
    const uint64_t data = slotOffset + dataFile->slotDataOffset;
    if (destination != nullptr && capacity > 0) {
      const uint32_t n = capacity < dataFile->recordLength ? capacity : dataFile->recordLength;
      CopyPageBytes(dataFile->pageBuffer, pageSize, data, n, destination);
    }
    sink.length = dataFile->recordLength;
    CopyPageBytes(dataFile->pageBuffer, pageSize, data + dataFile->recordLength,
                  kV8PointerSize, pointer);
  }
  const ReaderStatus status = WalkChain(dataFile, DecodePointer(pointer), sink);
  if (status != kReaderOk) return status;
  record->length = sink.length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sink.length);
  return (capacity == 0 || capacity < sink.length) ? kReaderTooSmall : kReaderOk;
}
