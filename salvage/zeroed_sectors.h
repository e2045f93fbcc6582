// Sectors a device gave back as zeros.  A disk that loses a sector returns
// 512 zero bytes on the file's sector grid; healthy pages seldom hold such a
// run where a record lies, and a record read over one is part record, part
// zeros: not a record the file held.  A page's zeroed sectors are found once
// when it is read; records and fragments touching one are held back.
#ifndef GANDREL_SALVAGE_ZEROED_SECTORS_H_
#define GANDREL_SALVAGE_ZEROED_SECTORS_H_

#include <cstdint>

constexpr uint32_t kSectorBytes = 512;

// The zeroed sectors of one page: bit i stands for the i-th whole sector of
// the file's sector grid that begins inside the page.  Pages of up to 64
// sectors (32768 bytes) are looked at; a larger page's sectors beyond the
// 64th are not.
struct ZeroedSectors {
  int64_t firstSector = 0;  // file offset of the sector of bit 0
  uint64_t bits = 0;        // 0: none
  uint64_t blank = 0;       // every sector of zeros, counted in `bits` or not
};

// Finds the whole sectors of the `pageSize` bytes at `page` (file offset
// `pageOffset`) that hold only zeros and border, inside the page, on a byte
// that is not zero (a run of zeros that begins or ends on the grid).  With
// `anyRun` (a file known to be damaged) every sector of zeros counts: the
// blank bytes of records around a lost sector hide where it begins.
ZeroedSectors FindZeroedSectors(const uint8_t* page, uint32_t pageSize, int64_t pageOffset,
                                bool anyRun = false);

// True when bytes [from, from + length) of the page (offsets within it)
// touch one of `zeroed` (with `blank`, one of its sectors of zeros counted
// or not).
// Most pages hold no sector of zeros: the test for them is inline, since
// it runs for every slot.
bool TouchesZeroedSectorOfPage(const ZeroedSectors& zeroed, int64_t pageOffset, uint32_t from,
                               uint32_t length, uint64_t bits);
inline bool TouchesZeroedSector(const ZeroedSectors& zeroed, int64_t pageOffset, uint32_t from,
                                uint32_t length, bool blank = false) {
  const uint64_t bits = blank ? zeroed.blank : zeroed.bits;
  if (bits == 0 || length == 0) return false;
  return TouchesZeroedSectorOfPage(zeroed, pageOffset, from, length, bits);
}

#endif  // GANDREL_SALVAGE_ZEROED_SECTORS_H_
