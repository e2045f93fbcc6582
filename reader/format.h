// The on-disk layout of a Btrieve data file, as far as the reader uses it,
// and the little-endian decoding helpers.  All multi-byte fields are
// little-endian.  Rules that differ between format versions (where the page
// size lives, page header encodings, slot start...) are in version_layout.h.
#ifndef GANDREL_READER_FORMAT_H_
#define GANDREL_READER_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

// --- File control page --------------------------------------------------------
//
// Stored twice.  Copy 1 starts at offset 0; copy 2 (versions 0x0600 and
// 0x0700) lies one page further on.  Versions 0x0800 and 0x0900 place and
// choose their copies differently and keep more fields: reader/v8_layout.h.
// Fields:
//
//   offset width  field
//   0      4      layout signature: 0 (plain layout) or 0x4346 ("FC\0\0")
//   4      2      copy counter: the copy with the greater counter is current;
//                 equal counters select copy 2
//   6      2      version word, signed (plain layout)
//   8      2      page size (versions 0x0300 to 0x0700)
//   22     2      fixed record length
//   24     2      slot length (physical record length)
//   26     4      record count, its 16-bit halves swapped: 26-27 high, 28-29 low
//   43     1      page size / 256 (versions 0x0800 and 0x0900)
//   46     9      owner name, encoded; set when the copy's version word is
//                 negative (docs/formats/owner-protection.md)
//   55     1      owner mode: bit 0x02 set, every page after the control
//                 page is encrypted; 0x00 and 0x01 leave the pages in clear
//   56     1      variable-length flag, non-zero: records have a variable part
//   74     2      version word, signed ("FC" layout)
//   262    2      file flags: 0x0008 with a record length of 0 means the
//                 records are compressed (docs/formats/compression-before-0800.md)
//   270    2      a compressed file's fixed-part length (the decoded length
//                 of every record in 0x0600 files; 0x0500 records run longer)
constexpr uint32_t kSignaturePlain = 0;
constexpr uint32_t kSignatureFc = 0x4346;
constexpr size_t kControlSignatureOffset = 0;
constexpr size_t kControlCounterOffset = 4;
constexpr size_t kControlVersionPlainOffset = 6;
constexpr size_t kControlPageSizeOffset = 8;
constexpr size_t kControlRecordLengthOffset = 22;
constexpr size_t kControlSlotLengthOffset = 24;
constexpr size_t kControlRecordCountOffset = 26;
constexpr size_t kControlPageSizeBy256Offset = 43;
constexpr size_t kControlVariableFlagOffset = 56;
constexpr size_t kControlVersionFcOffset = 74;
constexpr size_t kControlOwnerModeOffset = 55;
constexpr uint8_t kOwnerModeEncrypted = 0x02;
constexpr size_t kControlFileFlagsOffset = 262;
constexpr uint16_t kFileFlagCompressed = 0x0008;
constexpr size_t kControlFixedLengthOffset = 270;

// Bytes of each control page copy read by the two programs.
constexpr size_t kControlBytesConsole = 264;
constexpr size_t kControlBytesWizard = 404;

// Record data starts this far into a slot in the "FC" layout.
constexpr uint8_t kFcSlotDataOffset = 2;

// Smallest page size accepted: a map page needs its counter word and at least
// one entry, and every page header must fit.
constexpr uint32_t kMinPageSize = 12;

// --- Page map -------------------------------------------------------------------
//
// Map pages come in pairs (two copies on consecutive physical pages).  Pair k
// lies at physical page 2 + k * (pageSize / 4) and describes logical pages
// k*E+1 .. (k+1)*E, E = pageSize / 4 - 2.  In a map page:
//
//   offset   width  field
//   4        2      copy counter (as for the control page)
//   4+4*j    4      entry j: byte 0 = page bits 16-23, word at 2 = bits 0-15;
//                   0xFFFFFF = no physical page
constexpr size_t kMapCounterOffset = 4;
constexpr size_t kMapEntrySize = 4;
constexpr uint32_t kMapNoPage = 0xFFFFFF;
constexpr uint32_t kAdjustmentBytes = 4096;
// The 4096-byte adjustment starts at the first copy of map pair 30.
constexpr uint32_t kAdjustmentPair = 30;

// --- Variable pages ------------------------------------------------------------
//
// Files of compressed records keep a counted fragment table: the word at 10
// is the number of fragments n, fragment 0 starts at 12, the table holds
// n + 1 entries (entry n: where the free space starts), and a fragment runs
// to the smallest larger offset in the table.  Fragments of other files are
// read by the rule below.
constexpr size_t kOldFragmentCountOffset = 10;
constexpr uint32_t kOldFirstFragmentOffset = 12;
//
// The fragment table fills the end of the page and grows downward: the entry
// of fragment f is the word at index ((pageSize - 1) >> 1) - f.  Bits 0-14 give
// the fragment's offset; bit 15 (versions below 0x0600) says the fragment
// starts with a pointer to the next one; 0xFFFF is an unused entry.  A
// fragment runs to the offset of the next used entry.
constexpr uint16_t kFragmentUnused = 0xFFFF;
constexpr uint16_t kFragmentOffsetMask = 0x7FFF;
constexpr uint16_t kFragmentHasPointer = 0x8000;
constexpr uint32_t kOldFragmentPointerSize = 4;
// A fragment number this large on a page that cannot be located is an error
// rather than the quiet end of a chain.
constexpr uint32_t kFragmentNumberError = 255;

// Fragments of one record never number more than this: every fragment holds
// at least one byte and a record's length is a 16-bit value.
constexpr uint32_t kMaxChainSteps = 65535;

// --- Decoding helpers -------------------------------------------------------------

inline uint16_t DecodeLE16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t DecodeLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The control page keeps its record count with the two 16-bit halves
// swapped: the first word is the high half.
inline uint32_t DecodeSwappedCount(const uint8_t* p) {
  return (static_cast<uint32_t>(DecodeLE16(p)) << 16) | DecodeLE16(p + 2);
}

// 24-bit page number of page headers, map entries and old variable pointers:
// byte 0 holds bits 16-23, the word at 2 holds bits 0-15 (byte 1 unused).
inline uint32_t DecodePageNumber24(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 16) | DecodeLE16(p + 2);
}

// Copies `length` bytes from offset `start` of a page of `pageSize` bytes;
// bytes beyond the page are supplied as zeros, so nothing outside the page
// is ever read.
inline void CopyPageBytes(const uint8_t* page, uint32_t pageSize, uint64_t start,
                          uint32_t length, uint8_t* out) {
  uint32_t inside = 0;
  if (start < pageSize) {
    const uint64_t available = pageSize - start;
    inside = available < length ? static_cast<uint32_t>(available) : length;
    memcpy(out, page + start, inside);
  }
  if (inside < length) memset(out + inside, 0, length - inside);
}

#endif  // GANDREL_READER_FORMAT_H_
