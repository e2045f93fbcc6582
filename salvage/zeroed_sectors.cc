#include "salvage/zeroed_sectors.h"

namespace {

constexpr uint32_t kMostSectors = 64;

bool AllZero(const uint8_t* bytes, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

}  // namespace

ZeroedSectors FindZeroedSectors(const uint8_t* page, uint32_t pageSize, int64_t pageOffset,
                                bool anyRun) {
  ZeroedSectors zeroed;
  // The first sector boundary at or after the page's start: with bytes
  // inserted or lost before it a page need not start on one.
  const int64_t skew = pageOffset % kSectorBytes;
  const uint32_t lead = skew == 0 ? 0 : static_cast<uint32_t>(kSectorBytes - skew);
  zeroed.firstSector = pageOffset + lead;
  for (uint32_t i = 0; i < kMostSectors; ++i) {
    const uint64_t at = static_cast<uint64_t>(lead) + static_cast<uint64_t>(i) * kSectorBytes;
    if (at + kSectorBytes > pageSize) break;
    if (!AllZero(page + at, kSectorBytes)) continue;
    // Inside a longer run of zeros the sector is likely blank record bytes
    // or free space: a lost sector shows where the run begins or ends on
    // the grid, against bytes that are not zero.
    const bool before = at > 0 && page[at - 1] != 0;
    const bool after = at + kSectorBytes < pageSize && page[at + kSectorBytes] != 0;
    zeroed.blank |= uint64_t{1} << i;
    if (anyRun || before || after) zeroed.bits |= uint64_t{1} << i;
  }
  return zeroed;
}

bool TouchesZeroedSectorOfPage(const ZeroedSectors& zeroed, int64_t pageOffset, uint32_t from,
                               uint32_t length, uint64_t bits) {
  const int64_t start = pageOffset + from - zeroed.firstSector;
  const int64_t end = start + length;  // exclusive
  if (end <= 0) return false;
  const int64_t first = start < 0 ? 0 : start / kSectorBytes;
  const int64_t last = (end - 1) / kSectorBytes;
  for (int64_t i = first; i <= last && i < kMostSectors; ++i) {
    if ((bits >> i) & 1) return true;
  }
  return false;
}
