// The record profile of a file's data pages: the bytes of the slot where
// nearly every used slot holds the same value.  Records of one table share
// much of their layout (a field that is always blank, a number's high
// bytes, a separator), so a slot read where it was written agrees with the
// profile at most of those bytes, and a slot read where bytes inserted or
// lost before it moved it (a mix of two records, or inserted bytes) does
// not.  Salvage asks it where a grid shift runs through a page whose slots
// keep no duplicate pointers to show where the move begins.
#ifndef GANDREL_SALVAGE_SLOT_PROFILE_H_
#define GANDREL_SALVAGE_SLOT_PROFILE_H_

#include <cstdint>
#include <vector>

#include "reader/input_stream.h"
#include "salvage/geometry.h"

struct SlotProfile {
  // The slot bytes that tell: where nearly every sampled slot holds one
  // value and a slot moved by the shift brings another agreed value.
  std::vector<uint32_t> offsets;
  std::vector<uint8_t> values;    // the value they agree on, per offset
  uint32_t sampledSlots = 0;
  // The profile tells a slot at its place from one moved by the shift it
  // was built for: nearly every sampled slot fits it, and none of the same
  // pages' slots read that many bytes off their place does.
  bool tells = false;
};

// The profile of the used slots of the data pages at `pageOffsets`,
// checked against the same pages' slots read `shift` bytes off their place.
// A shift of a whole number of slots, compressed records or too few slots
// give a profile that does not tell.
SlotProfile BuildSlotProfile(InputFile* input, const Geometry& g,
                             const std::vector<int64_t>& pageOffsets, int64_t shift);

// Whether the slot at `slot` (g.slotLength bytes) agrees with the profile
// at enough of its offsets.
bool SlotFitsProfile(const SlotProfile& profile, const uint8_t* slot);

#endif  // GANDREL_SALVAGE_SLOT_PROFILE_H_
