// The layout of format versions 0x0800 and 0x0900 (and their negative
// version words), as the engine writes them.  All offsets are in bytes,
// all fields little-endian.
//
// A file starts with two copies of the file control page, each F bytes long
// (F = max(2 x pageSize, 2048)): copy 1 at offset 0, copy 2 at offset F.  The
// copy with the greater usage counter is the active one, and every field is
// taken from it.  Page allocation tables (the page map) follow in pairs; all
// other pages carry an 8-byte header and are found through the tables.
#ifndef GANDREL_READER_V8_LAYOUT_H_
#define GANDREL_READER_V8_LAYOUT_H_

#include <cstddef>
#include <cstdint>


// --- File control page -------------------------------------------------------
//
//   offset width  field
//   0      4      "FC\0\0"
//   4      1      'C' (page kind); byte 5 is 0
//   6      2      usage counter: the copy with the greater one is active
//   22     2      record length; 0 in a compressed file
//   24     2      slot length (physical record length)
//   26     4      record count, high word at 26, low word at 28
//   43     1      page size / 256
//   74     2      version word (0x0800, 0xF800, 0x0900); the copies may differ
//   76     2      number of page allocation tables
//   116    2      linked-duplicate pointer pairs (8 bytes each) per slot
//   160    4      first free slot as a record address, 0xFFFFFFFF for none
//   400    2      file flags (below)
//   402    2      record length of a compressed file, once decoded
constexpr size_t kV8ControlBytes = 404;
constexpr size_t kV8ControlKindOffset = 4;
constexpr uint8_t kV8ControlKind = 'C';
constexpr size_t kV8ControlUsageOffset = 6;
constexpr size_t kV8RecordLengthOffset = 22;
constexpr size_t kV8SlotLengthOffset = 24;
constexpr size_t kV8RecordCountOffset = 26;
constexpr size_t kV8PageSizeBy256Offset = 43;
constexpr size_t kV8VersionOffset = 74;
constexpr size_t kV8DuplicatePairsOffset = 116;
constexpr size_t kV8FlagsOffset = 400;
constexpr size_t kV8DecodedLengthOffset = 402;

// File flags (word 400).  Other bits occur (0x0400 among them) but do not
// change where anything lies.
constexpr uint16_t kV8FlagVariable = 0x0001;      // records have a variable tail
constexpr uint16_t kV8FlagCompressed = 0x0008;    // records are run-length streams
constexpr uint16_t kV8FlagSystemData = 0x0200;    // 8 bytes of system data per slot
constexpr uint16_t kV8FlagNoSystemData = 0x1000;  // overrides kV8FlagSystemData

// One control page copy (and one allocation table copy) is this long.
inline uint32_t V8ControlCopyBytes(uint32_t pageSize) {
  return pageSize * 2 > 2048 ? pageSize * 2 : 2048;
}

// --- Page allocation tables (the page map) -----------------------------------
//
// The file is cut into extents of X = 320 x F / 2048 physical pages.  Table k
// (k = 1, 2, ...) has copy A at physical page 4F/pageSize + (k-1) X and copy B
// F/pageSize pages later; each copy is F bytes.  Of the two, the copy with a
// good header and the greater usage counter is current.
//
//   offset   width  field
//   0        4      0x50000000 | k
//   4        1      'P'; byte 5 is 0
//   6        2      usage counter
//   20+6j    6      entry j (j < E = X - 2F/pageSize): u32 physical page of
//                   logical page (k-1) E + j + 1, then that page's bytes 4
//                   and 5; 0xFFFFFFFE for a logical page not in use
constexpr uint32_t kV8TableSignature = 0x50000000;
constexpr size_t kV8TableKindOffset = 4;
constexpr uint8_t kV8TableKind = 'P';
constexpr size_t kV8TableUsageOffset = 6;
constexpr size_t kV8TableEntriesOffset = 20;
constexpr size_t kV8TableEntrySize = 6;
constexpr uint32_t kV8TableUnused = 0xFFFFFFFE;
constexpr uint32_t kV8ExtentPagesPer2048 = 320;

// --- Page header (every page but control pages and allocation tables) --------
//
//   offset width  field
//   0      4      logical page number
//   4      1      kind: 'D' data, 'V' variable; index pages hold their key
//                 number here
//   5      1      0, or 0x80 on index pages
//   6      2      usage counter; bit 15 is set on data pages and is not part
//                 of the count
constexpr size_t kV8PageHeaderSize = 8;
constexpr size_t kV8PageKindHighOffset = 5;
constexpr uint16_t kV8UsageMask = 0x7FFF;

// --- Data page slots -----------------------------------------------------------
//
// Slot i lies at 8 + i x slotLength; a page holds (pageSize - 8) / slotLength.
//
// Uncompressed file:
//   0        2    1 (or another non-zero value) when used, 0 when free; a free
//                 slot holds the next free record address at 2
//   2        8    system data, when the flags say so
//   2(+8)    rl   the record
//   then     6    variable pointer, when flag 0x0001 is set
//   then     8xD  linked-duplicate pointers (D = word 116)
// Compressed file:
//   0        6    variable pointer to the record's first fragment (a free slot
//                 holds the next free record address here instead)
//   6        3    01 01 00 when used, 00 00 00 when free
//   9        8    system data, when the flags say so
//   then     8xD  linked-duplicate pointers
constexpr size_t kV8SlotWordSize = 2;
constexpr size_t kV8SystemDataSize = 8;
constexpr size_t kV8UsedMarkerOffset = 6;
constexpr size_t kV8UsedMarkerSize = 3;

// Variable pointer: u32 logical page, then u16 fragment number.  A page of
// 0xFFFFFFFF means none (a record without a tail, the end of a chain).
constexpr size_t kV8PointerSize = 6;
constexpr uint32_t kV8NoPage = 0xFFFFFFFF;

// --- Variable pages --------------------------------------------------------------
//
//   offset          width  field
//   0               8      page header ('V')
//   14              2      n = number of fragments
//   16                     fragment 0
//   pageSize-2-2f   2      offset of fragment f; n + 1 entries, entry n is
//                          where the free space starts.  0xFFFF: no fragment.
// A fragment runs up to the next larger offset in the table and starts with
// the pointer to the next fragment of its chain (6 bytes), then data.
constexpr size_t kV8FragmentCountOffset = 14;
constexpr uint32_t kV8FirstFragmentOffset = 16;
constexpr uint16_t kV8NoFragment = 0xFFFF;

// --- Version 0x0950 (stored as 0x0950, or 0xF6B0 when owner-protected) -------
//
// The 0x0800 layout with these changes.
//
// Control page copies (at 0 and F, as above):
//   6      2      0
//   8      4      usage counter: the copy with the greater one is active
//   400    2      flags; 0x0800: the tail goes through a chunk table
//   402    2      in a compressed file the fixed part of the decoded record,
//                 not its decoded length (the decoded record is longer)
//
// Page allocation tables (copies at 4F/pageSize and F/pageSize later; the
// extent is X = 240 x F / 2048 pages, 960 for pageSize 4096):
//   0      4      0x50000000 | k
//   4      1      'P'
//   8      4      usage counter.  The current copy is the one with the
//                 greatest counter not above the active control page's.
//   16+8j  8      entry j: u32 physical page, the page's bytes 4 and 5, u16
//
// Page header, 10 bytes:
//   0      4      logical page number
//   4      1      kind, as above; 5: 0x80 on index pages
//   6      2      0
//   8      2      usage counter; bit 15 is set on data pages
// Slots start at 10, (pageSize - 10) / slotLength per page.  A used
// compressed slot is marked 01 02 00.
//
// Variable pages: bytes 10-15 unknown, n at 16, fragment 0 at 18, the table
// at the end of the page as above.
//
// Chunked tails (flag 0x0800): the variable pointer is followed in the slot
// by the u32 total length of the record, and leads to one fragment holding
// the chunk table: 10-byte entries of u32 logical page, u16 fragment and u32
// chunk length.  Each chunk is an ordinary fragment chain of exactly that
// many bytes; the tail is the chunks in table order.
constexpr size_t kV95ControlUsageOffset = 8;
constexpr uint16_t kV8FlagChunkedTail = 0x0800;
constexpr size_t kV95PageHeaderSize = 10;
constexpr size_t kV95PageUsageOffset = 8;
constexpr size_t kChunkEntrySize = 10;
constexpr size_t kChunkLengthOffset = 6;

#endif  // GANDREL_READER_V8_LAYOUT_H_
