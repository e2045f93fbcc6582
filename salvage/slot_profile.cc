#include "salvage/slot_profile.h"

#include <array>

namespace {

// A byte of the slot joins the profile where at least this share of the
// sampled slots hold one value there; a slot fits where it agrees at
// three quarters of those bytes.
constexpr double kAgreeing = 0.95;
constexpr double kFitting = 0.75;
// Enough slots for the shares to mean something, and enough bytes for a
// moved slot to fail on.
constexpr uint32_t kMinSlots = 32;
constexpr uint32_t kMinOffsets = 8;
constexpr uint32_t kMaxSlots = 4096;
// Of the sampled slots, at most this share may fail the profile read in
// place; of the same pages read moved (at least kMinMoved slots, used or
// not: a reading the empty-slot rule passes over is not handed out, but a
// record that straddles the bytes may read as one), none may fit.
constexpr double kMaxMisfits = 0.05;
constexpr uint32_t kMinMoved = 16;

// Calls visit(bytes) for every slot of the page read `phase` bytes behind
// its place (0 < phase < slot length) that lies whole in the page, used or
// not.
template <typename Visit>
void ForEachMovedSlot(const Geometry& g, const uint8_t* page, uint32_t phase, Visit visit) {
  const uint32_t header = g.layout->dataPageHeaderSize;
  for (uint32_t s = 0; s < SlotsPerPage(g); ++s) {
    const uint32_t at = header + s * g.slotLength + phase;
    if (at + g.slotLength > g.pageSize) break;
    visit(page + at);
  }
}

}  // namespace

bool SlotFitsProfile(const SlotProfile& profile, const uint8_t* slot) {
  if (profile.offsets.empty()) return false;
  size_t agree = 0;
  for (size_t i = 0; i < profile.offsets.size(); ++i) {
    agree += slot[profile.offsets[i]] == profile.values[i];
  }
  return agree >= kFitting * static_cast<double>(profile.offsets.size());
}

SlotProfile BuildSlotProfile(InputFile* input, const Geometry& g,
                             const std::vector<int64_t>& pageOffsets, int64_t shift) {
  SlotProfile profile;
  if (!g.usable || g.compressed || g.slotLength == 0) return profile;
  // Where the shift moved the slots, byte o of a slot holds byte
  // o + phase of the records as they were written.
  const int64_t length = g.slotLength;
  const uint32_t phase = static_cast<uint32_t>(((-shift % length) + length) % length);
  if (phase == 0) return profile;  // a moved slot reads as another whole slot

  std::vector<std::vector<uint8_t>> pages;
  std::vector<uint8_t> page(g.pageSize);
  for (int64_t offset : pageOffsets) {
    if (ReadInputAt(input, offset, page.data(), g.pageSize) == g.pageSize) pages.push_back(page);
  }

  // Per slot byte, how often each value occurs.
  std::vector<std::array<uint32_t, 256>> counts(g.slotLength);
  for (auto& c : counts) c.fill(0);
  for (const auto& p : pages) {
    ForEachUsedSlot(g, p.data(), [&](uint32_t, uint32_t at) {
      for (uint32_t o = 0; o < g.slotLength; ++o) ++counts[o][p[at + o]];
      return ++profile.sampledSlots < kMaxSlots;
    });
    if (profile.sampledSlots == kMaxSlots) break;
  }
  if (profile.sampledSlots < kMinSlots) return profile;
  std::vector<int> agreed(g.slotLength, -1);  // the value nearly all hold, or -1
  for (uint32_t o = 0; o < g.slotLength; ++o) {
    uint32_t best = 0;
    for (uint32_t v = 1; v < 256; ++v) {
      if (counts[o][v] > counts[o][best]) best = v;
    }
    if (counts[o][best] >= kAgreeing * profile.sampledSlots) agreed[o] = static_cast<int>(best);
  }
  // The bytes that tell: agreed on, and where a moved slot brings another
  // agreed value.  Records padded with one value agree on every byte of
  // the padding, moved or not.
  for (uint32_t o = 0; o < g.slotLength; ++o) {
    const int brought = agreed[(o + phase) % g.slotLength];
    if (agreed[o] >= 0 && brought >= 0 && brought != agreed[o]) {
      profile.offsets.push_back(o);
      profile.values.push_back(static_cast<uint8_t>(agreed[o]));
    }
  }
  if (profile.offsets.size() < kMinOffsets) return profile;

  uint32_t inPlace = 0, misfits = 0, moved = 0, movedFits = 0;
  for (const auto& p : pages) {
    ForEachUsedSlot(g, p.data(), [&](uint32_t, uint32_t at) {
      ++inPlace;
      misfits += !SlotFitsProfile(profile, p.data() + at);
      return true;
    });
    ForEachMovedSlot(g, p.data(), phase, [&](const uint8_t* slot) {
      ++moved;
      movedFits += SlotFitsProfile(profile, slot);
    });
  }
  profile.tells = misfits <= kMaxMisfits * inPlace && moved >= kMinMoved && movedFits == 0;
  return profile;
}
