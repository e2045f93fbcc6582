#include "reader/slots.h"

#include "reader/format.h"
#include "reader/v8_layout.h"

namespace {

// True when any byte of the slot from `from` on is non-zero.
bool AnyByteSet(const uint8_t* page, uint32_t pageSize, uint32_t slotOffset,
                uint32_t slotLength, uint32_t from) {
  const uint64_t begin = static_cast<uint64_t>(slotOffset) + from;
  uint64_t end = static_cast<uint64_t>(slotOffset) + slotLength;
  if (end > pageSize) end = pageSize;
  for (uint64_t i = begin; i < end; ++i) {
    if (page[i] != 0) return true;
  }
  return false;
}

uint16_t FirstWord(const uint8_t* page, uint32_t pageSize, uint32_t slotOffset) {
  if (slotOffset + 2 <= pageSize) return DecodeLE16(page + slotOffset);
  uint8_t word[2];
  CopyPageBytes(page, pageSize, slotOffset, 2, word);
  return DecodeLE16(word);
}

bool MarkerSet(const uint8_t* page, uint32_t pageSize, uint32_t at, uint32_t size) {
  uint8_t marker[4] = {};
  CopyPageBytes(page, pageSize, at, size, marker);
  return marker[0] != 0 || marker[1] != 0 || marker[2] != 0;
}

// The empty-slot test of one rule.
template <EmptySlotRule kRule>
bool EmptyBy(const uint8_t* page, uint32_t pageSize, uint32_t slotOffset, uint32_t slotLength) {
  switch (kRule) {
    case EmptySlotRule::FirstWordThenScanFrom4:
      return FirstWord(page, pageSize, slotOffset) == 0 ||
             !AnyByteSet(page, pageSize, slotOffset, slotLength, 4);
    case EmptySlotRule::ScanFrom0:
      return !AnyByteSet(page, pageSize, slotOffset, slotLength, 0);
    case EmptySlotRule::ScanFrom4:
      // A freed slot keeps the 4-byte link of the free-slot chain and is
      // zero after it.
      return !AnyByteSet(page, pageSize, slotOffset, slotLength, 4);
    case EmptySlotRule::FirstWord:
      return FirstWord(page, pageSize, slotOffset) == 0;
    // The first bytes of a compressed slot are a page pointer, or the
    // free-slot chain's link in a free one: only the marker behind them
    // tells.
    case EmptySlotRule::UsedByteAt4:
      return !MarkerSet(page, pageSize, slotOffset + 4, 1);
    case EmptySlotRule::UsedMarkerAt4:
      return !MarkerSet(page, pageSize, slotOffset + 4, kV8UsedMarkerSize);
    case EmptySlotRule::UsedMarkerAt6:
      return !MarkerSet(page, pageSize, slotOffset + kV8UsedMarkerOffset, kV8UsedMarkerSize);
  }
  return true;
}

template <EmptySlotRule kRule>
uint32_t UsedInRowBy(const uint8_t* page, uint32_t pageSize, uint32_t slotOffset,
                     uint32_t slotLength, uint32_t most) {
  uint32_t n = 0;
  while (n < most && !EmptyBy<kRule>(page, pageSize, slotOffset + n * slotLength, slotLength)) {
    ++n;
  }
  return n;
}

}  // namespace

bool SlotIsEmpty(EmptySlotRule rule, const uint8_t* page, uint32_t pageSize,
                 uint32_t slotOffset, uint32_t slotLength) {
  using R = EmptySlotRule;
  switch (rule) {
    case R::FirstWordThenScanFrom4:
      return EmptyBy<R::FirstWordThenScanFrom4>(page, pageSize, slotOffset, slotLength);
    case R::ScanFrom0: return EmptyBy<R::ScanFrom0>(page, pageSize, slotOffset, slotLength);
    case R::ScanFrom4: return EmptyBy<R::ScanFrom4>(page, pageSize, slotOffset, slotLength);
    case R::FirstWord: return EmptyBy<R::FirstWord>(page, pageSize, slotOffset, slotLength);
    case R::UsedByteAt4: return EmptyBy<R::UsedByteAt4>(page, pageSize, slotOffset, slotLength);
    case R::UsedMarkerAt4:
      return EmptyBy<R::UsedMarkerAt4>(page, pageSize, slotOffset, slotLength);
    case R::UsedMarkerAt6:
      return EmptyBy<R::UsedMarkerAt6>(page, pageSize, slotOffset, slotLength);
  }
  return true;
}

uint32_t UsedSlotsInRow(EmptySlotRule rule, const uint8_t* page, uint32_t pageSize,
                        uint32_t slotOffset, uint32_t slotLength, uint32_t most) {
  using R = EmptySlotRule;
  switch (rule) {
    case R::FirstWordThenScanFrom4:
      return UsedInRowBy<R::FirstWordThenScanFrom4>(page, pageSize, slotOffset, slotLength, most);
    case R::ScanFrom0:
      return UsedInRowBy<R::ScanFrom0>(page, pageSize, slotOffset, slotLength, most);
    case R::ScanFrom4:
      return UsedInRowBy<R::ScanFrom4>(page, pageSize, slotOffset, slotLength, most);
    case R::FirstWord:
      return UsedInRowBy<R::FirstWord>(page, pageSize, slotOffset, slotLength, most);
    case R::UsedByteAt4:
      return UsedInRowBy<R::UsedByteAt4>(page, pageSize, slotOffset, slotLength, most);
    case R::UsedMarkerAt4:
      return UsedInRowBy<R::UsedMarkerAt4>(page, pageSize, slotOffset, slotLength, most);
    case R::UsedMarkerAt6:
      return UsedInRowBy<R::UsedMarkerAt6>(page, pageSize, slotOffset, slotLength, most);
  }
  return 0;  // every slot empty, as SlotIsEmpty says
}
