// One open-addressing index from 64-bit keys to positions in a list that the
// caller keeps: the page directory's lists (key: page number) and a chain
// walk's visited fragments (key: page and fragment).  The index stores only
// positions; the caller's `keyAt(position)` gives a position's key, so the
// keys are not stored twice.
#ifndef GANDREL_READER_HASH_INDEX_H_
#define GANDREL_READER_HASH_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <vector>

struct PositionIndex {
  std::vector<uint32_t> slots;  // position + 1; 0 is free
  uint32_t used = 0;
};

inline size_t HashSlot(uint64_t key, size_t mask) {
  return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 24) & mask;
}

// Position whose key is `key`, or -1.
template <typename KeyAt>
int64_t FindPosition(const PositionIndex& index, uint64_t key, KeyAt keyAt) {
  if (index.slots.empty()) return -1;
  const size_t mask = index.slots.size() - 1;
  for (size_t i = HashSlot(key, mask); index.slots[i] != 0; i = (i + 1) & mask) {
    const uint32_t position = index.slots[i] - 1;
    if (keyAt(position) == key) return position;
  }
  return -1;
}

// Adds `position` (whose key is keyAt(position)); the caller has made sure
// the key is not there yet.  The table is kept at most three quarters full:
// at half, a file of two million pages needed 32 MiB of slots for its data
// page list alone.
template <typename KeyAt>
void InsertPosition(PositionIndex& index, uint32_t position, KeyAt keyAt) {
  if ((static_cast<size_t>(index.used) + 1) * 4 > index.slots.size() * 3) {
    std::vector<uint32_t> old;
    old.swap(index.slots);
    index.slots.assign(old.empty() ? 64 : old.size() * 2, 0);
    index.used = 0;
    for (uint32_t slot : old) {
      if (slot != 0) InsertPosition(index, slot - 1, keyAt);
    }
  }
  const size_t mask = index.slots.size() - 1;
  size_t i = HashSlot(keyAt(position), mask);
  while (index.slots[i] != 0) i = (i + 1) & mask;
  index.slots[i] = position + 1;
  ++index.used;
}

// Empties the index.
inline void ResetIndex(PositionIndex& index) {
  index.slots.clear();
  index.used = 0;
}

#endif  // GANDREL_READER_HASH_INDEX_H_
