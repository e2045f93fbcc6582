// Variable-length records: the fixed part from the slot, then the fragments
// of the variable part, chained by variable pointers through the variable
// pages.
#include <cstring>

#include "reader/datafile.h"
#include "reader/format.h"
#include "reader/scratch.h"
#include "reader/version_layout.h"

namespace {

struct VariablePointer {
  bool endMarker;       // no (further) variable part
  int64_t pageNumber;   // sign-widened for the 16-bit pointers
  uint32_t fragment;
};

// The 4-byte pointer of versions below 0x0800: page bits 16-23, 0-7, 8-15,
// then the fragment number.  FF FF FF is the end marker.
VariablePointer DecodeOldPointer(const uint8_t* p) {
  VariablePointer pointer;
  pointer.endMarker = p[0] == 0xFF && p[1] == 0xFF && p[2] == 0xFF;
  pointer.pageNumber = (static_cast<uint32_t>(p[0]) << 16) | p[1] |
                       (static_cast<uint32_t>(p[2]) << 8);
  pointer.fragment = p[3];
  return pointer;
}

int64_t SignedWord(const uint8_t* p) {
  return static_cast<int16_t>(DecodeLE16(p));
}

}  // namespace

// Remembers which fragments a chain has visited, so that a chain leading
// back to one of them ends instead of going round for ever.
bool AlreadyVisited(VisitedSet& set, int64_t pageNumber, uint32_t fragment) {
  const uint64_t key =
      ((static_cast<uint64_t>(pageNumber) & 0xFFFFFFFFull) << 16 | (fragment & 0xFFFF)) + 1;
  if ((set.usedSlots.size() + 1) * 2 > set.slots.size()) {
    std::vector<uint64_t> old;
    old.swap(set.slots);
    set.slots.assign(old.empty() ? 64 : old.size() * 2, 0);
    set.usedSlots.clear();
    const size_t mask = set.slots.size() - 1;
    for (uint64_t k : old) {
      if (k == 0) continue;
      size_t i = (k * 0x9E3779B97F4A7C15ull >> 20) & mask;
      while (set.slots[i] != 0) i = (i + 1) & mask;
      set.slots[i] = k;
      set.usedSlots.push_back(static_cast<uint32_t>(i));
    }
  }
  const size_t mask = set.slots.size() - 1;
  size_t i = (key * 0x9E3779B97F4A7C15ull >> 20) & mask;
  while (set.slots[i] != 0) {
    if (set.slots[i] == key) return true;
    i = (i + 1) & mask;
  }
  set.slots[i] = key;
  set.usedSlots.push_back(static_cast<uint32_t>(i));
  return false;
}

void ClearVisited(VisitedSet& set) {
  for (uint32_t i : set.usedSlots) set.slots[i] = 0;
  set.usedSlots.clear();
}

namespace {

// File offset of a variable page, or -1 when it cannot be located.
int64_t LocateVariablePage(DataFile* dataFile, int64_t pageNumber) {
  if (dataFile->layout->variableViaPageOffset) {
    if (pageNumber <= 0 || pageNumber > INT32_MAX) return -1;
    return PageOffset(dataFile, static_cast<int32_t>(pageNumber));
  }
  const int64_t position =
      FindPageEntry(dataFile->scratch->variableIndex, dataFile->variablePages,
                    static_cast<uint32_t>(pageNumber));
  return position < 0 ? -1 : dataFile->variablePages[position].offset;
}

ReaderStatus Finish(uint32_t assembled, RecordBuffer* record, uint32_t capacity) {
  record->length = assembled & 0xFFFF;
  return (capacity == 0 || capacity < assembled) ? kReaderTooSmall : kReaderOk;
}

}  // namespace

ReaderStatus AssembleVariableRecord(const uint8_t* slot, DataFile* dataFile,
                                    uint8_t* destination, RecordBuffer* record) {
  const VersionLayout* layout = dataFile->layout;
  if (layout->pointerRule == PointerRule::Page32Fragment16) {
    return AssembleV8Record(slot, dataFile, destination, record);
  }
  const uint32_t pageSize = dataFile->pageSize;
  const uint32_t capacity = record->length;
  const uint64_t slotOffset = static_cast<uint64_t>(slot - dataFile->pageBuffer);
  uint32_t assembled = dataFile->recordLength;

  if (destination != nullptr && capacity > 0) {
    const uint32_t n = capacity < assembled ? capacity : assembled;
    CopyPageBytes(dataFile->pageBuffer, pageSize,
                  slotOffset + dataFile->slotDataOffset, n, destination);
  }

  // The pointer behind the fixed part; bytes beyond the page read as zero.
  VariablePointer pointer;
  const uint64_t p = slotOffset + dataFile->slotDataOffset + dataFile->recordLength;
  if (layout->pointerRule == PointerRule::Page24Fragment8) {
    uint8_t bytes[4];
    CopyPageBytes(dataFile->pageBuffer, pageSize, p, 4, bytes);
    pointer = DecodeOldPointer(bytes);
    if (pointer.endMarker) return Finish(assembled, record, capacity);
  } else {
    uint8_t page[2];
    uint8_t fragment[2];
    CopyPageBytes(dataFile->pageBuffer, pageSize, p, 2, page);
    CopyPageBytes(dataFile->pageBuffer, pageSize,
                  slotOffset + dataFile->recordLength + 10, 2, fragment);
    pointer = VariablePointer{false, SignedWord(page), DecodeLE16(fragment)};
  }

  VisitedSet& visited = dataFile->scratch->visited;
  ClearVisited(visited);
  const uint8_t* vpage = dataFile->variablePageBuffer;
  const uint32_t tableTop = (pageSize - 1) >> 1;  // word index of fragment 0

  for (uint32_t step = 0; step < kMaxChainSteps; ++step) {
    // A chain that returns to a fragment it has been through is damaged:
    // end it with what has been assembled.
    if (AlreadyVisited(visited, pointer.pageNumber, pointer.fragment)) break;

    const int64_t offset = LocateVariablePage(dataFile, pointer.pageNumber);
    if (offset < 0) {
      // A page that cannot be located ends the chain; with a fragment number
      // of 255 or more the pointer itself is taken to be garbage.
      if (pointer.fragment >= kFragmentNumberError) return kReaderUnusable;
      break;
    }
    if (!LoadVariablePage(dataFile, offset)) return kReaderUnusable;

    // Fragment table at the end of the page.  Every read below stays inside
    // the page; a fragment that would leave it ends the chain, uncopied.
    if (pointer.fragment > tableTop) break;
    const uint32_t index = tableTop - pointer.fragment;
    if (2u * index + 2 > pageSize) break;
    const uint16_t entry = DecodeLE16(vpage + 2 * index);
    const uint32_t start = entry & kFragmentOffsetMask;
    bool haveNext = false;
    uint32_t end = 0;
    for (uint32_t k = index; k-- > 0;) {
      const uint16_t word = DecodeLE16(vpage + 2 * k);
      if (word != kFragmentUnused) {
        end = word & kFragmentOffsetMask;
        haveNext = true;
        break;
      }
    }
    if (!haveNext) break;

    uint32_t length =
        static_cast<uint16_t>(end - dataFile->fragmentHeaderSize - start);
    if (length == 0 || length > 2u * pageSize) break;

    uint32_t dataStart = start + dataFile->fragmentHeaderSize;
    VariablePointer next;
    if (layout->pointerRule == PointerRule::Page24Fragment8) {
      if (layout->fragmentBit15Pointer) {
        if (entry & kFragmentHasPointer) {
          if (length < kOldFragmentPointerSize) break;
          if (start + kOldFragmentPointerSize > pageSize) break;
          next = DecodeOldPointer(vpage + start);
          dataStart += kOldFragmentPointerSize;
          length -= kOldFragmentPointerSize;
        } else {
          next = VariablePointer{true, 0, 0};  // last fragment of the chain
        }
      } else {
        if (start + 4 > pageSize) break;
        next = DecodeOldPointer(vpage + start);
      }
    } else {
      if (start + 6 > pageSize) break;
      next = VariablePointer{false, SignedWord(vpage + start),
                             DecodeLE16(vpage + start + 4)};
    }
    if (dataStart + length > pageSize) break;

    if (destination != nullptr && assembled < capacity) {
      const uint32_t room = capacity - assembled;
      memcpy(destination + assembled, vpage + dataStart, room < length ? room : length);
    }
    assembled += length;
    if (next.endMarker) break;
    pointer = next;
  }
  return Finish(assembled, record, capacity);
}
