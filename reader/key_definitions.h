// The key definitions (indexes) a data file keeps in its file control page,
// decoded from the bytes of one control page copy.  Pure functions: no file
// access, no allocation beyond the output vector, no exceptions.  The layout
// is described in docs/formats/keys.md with the files that show each field.
//
// Two layouts exist.
//
// Versions 0x0300 to 0x0700 ("old"): the segments follow each other from
// control page offset 272, 30 bytes each, in key order.  A key takes
// segments until one lacks the "another segment follows" bit (0x0010).  The
// area ends with the control page (word 8 = page size).
//
// Versions 0x0800, 0x0900 and 0x0950 ("new"): word 122 is the offset of a
// table of one word per key, the offset of the key's first segment in the
// control page copy.  The segments of a key follow each other there, 36
// bytes each.  Word 120 is the number of segments of all keys.  The copy is
// max(2 x page size, 2048) bytes long (2 x page size for 0x0950), page size =
// byte 43 x 256.
//
// Segment entry, both layouts (offsets within the entry):
//
//   offset width  field
//   0      4      root index page (guess; not used here)
//   4      4      number of distinct key values, halves swapped (guess)
//   8      2      key flags of this segment (bits below)
//   10     2      total key length, first segment only
//   12     2      index entry size, first segment only (guess)
//   14     2      entries per index page, and at 16 half that (guess)
//   18     2      slot offset of the key's duplicate pointers, 0 if none
//   20     2      segment position, stored as an offset in the slot: the
//                 record's 0-based offset plus the slot data offset (below)
//   22     2      segment length
//   28     1      extended data type code, meaningful with flag 0x0100
//
// Slot data offset (bytes in a slot before the record):
//   below 0x0600                          0
//   0x0600/0x0700, word 262 bit 0x0008    0 (compressed records), else 2
//   from 0x0800, word 400 bit 0x0008      0 (compressed records)
//   from 0x0800, word 400 bits 0x0200 set and 0x1000 clear   10
//   from 0x0800, otherwise                2
#ifndef GANDREL_READER_KEY_DEFINITIONS_H_
#define GANDREL_READER_KEY_DEFINITIONS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

// --- Control page fields used here -----------------------------------------------
constexpr size_t kControlKeyCountOffset = 20;
constexpr size_t kControlOldFlagsOffset = 262;
constexpr size_t kControlKeySegmentTotalOffset = 120;  // new layout
constexpr size_t kControlKeyTableOffset = 122;         // new layout

// The file flag bits that move the record within a slot are those of
// reader/v8_layout.h (word 400 from 0x0800, and kV8FlagCompressed also in
// word 262 below 0x0800).

constexpr size_t kOldKeyAreaOffset = 272;
constexpr size_t kOldKeySegmentSize = 30;
constexpr size_t kNewKeySegmentSize = 36;
// New layout: segments seen start at 408; nothing before the flags words
// (400-403) can hold one.
constexpr size_t kNewKeyAreaMinOffset = 404;

// --- Segment entry fields ----------------------------------------------------------
constexpr size_t kSegmentFlagsOffset = 8;
constexpr size_t kSegmentPositionOffset = 20;
constexpr size_t kSegmentLengthOffset = 22;
constexpr size_t kSegmentTypeOffset = 28;

// --- Key flag bits (as stored, per segment) ------------------------------------------
constexpr uint16_t kKeyDuplicates = 0x0001;
constexpr uint16_t kKeyModifiable = 0x0002;
constexpr uint16_t kKeyBinary = 0x0004;
constexpr uint16_t kKeyNull = 0x0008;           // never seen set in a file
constexpr uint16_t kKeySegmented = 0x0010;      // another segment follows
constexpr uint16_t kKeyAlternateOrder = 0x0020; // alternate collating sequence
constexpr uint16_t kKeyDescending = 0x0040;     // never seen set in a file
constexpr uint16_t kKeyExtendedType = 0x0100;
constexpr uint16_t kKeyManual = 0x0200;

// Control page bytes the caller should pass (from the start of the current
// copy): enough for every version class with page sizes up to 4096.  The
// decoder stops at the end of the copy it finds described in the bytes.
constexpr size_t kKeyControlBytes = 8192;

// Bytes one control page copy holds, i.e. what DecodeKeyDefinitions may
// read: the page size below 0x0800, max(2 x page size, 2048) for
// 0x0800/0x0900, and 2 x page size for 0x0950.  0 for a version it does not
// decode.
size_t KeyControlBytes(uint16_t version, uint32_t pageSize);

struct KeySegment {
  uint32_t position;     // 1-based offset of the segment in the record
  uint16_t length;
  uint16_t flags;        // the flags word as stored
  uint8_t storedType;    // byte 28 of the entry, as stored
  bool duplicates;
  bool modifiable;
  bool binary;
  bool nullKey;
  bool segmented;        // another segment follows
  bool alternateOrder;
  bool descending;
  bool manual;
  bool extendedType;     // flag 0x0100: extendedTypeCode is the data type
  uint8_t extendedTypeCode;  // storedType when extendedType, else 0
};

struct KeyDefinition {
  std::vector<KeySegment> segments;
};

enum KeyDecodeStatus : uint8_t {
  kKeysDecoded = 0,
  kKeysNotDecoded = 1,  // no known key layout for this version
  kKeysDamaged = 2,     // the definitions contradict themselves: see KeyDamage
  kKeysShortInput = 3,  // fewer bytes given than the copy holds and needed
};

enum class KeyDamage : uint8_t {
  None = 0,
  TooManyKeys = 1,            // key count (or its offset table) does not fit
  ChainNotEnded = 2,          // a key's segments run past the key area
  BadSegmentOffset = 3,       // a new-layout table entry outside the area
  SegmentCountMismatch = 4,   // new layout: segments found != word 120
  EmptySegment = 5,           // a segment of length 0
  PositionBeforeRecord = 6,   // stored position inside the slot header
  SegmentPastRecord = 7,      // position + length beyond the record length
};

// Where decoding stopped.  key/segment are 0-based and meaningful only when
// damage != None.
struct KeyDecodeReport {
  KeyDamage damage;
  uint16_t key;
  uint16_t segment;
};

const char* KeyDecodeStatusName(KeyDecodeStatus status);
const char* KeyDamageName(KeyDamage damage);

// Decodes the key definitions of a control page copy.  `control` holds
// `length` bytes from the start of the copy the reader chose as current;
// `version` is the absolute version (0x0300 .. 0x0950).  `keys` (not null)
// is cleared, then receives every key decoded; on damage it keeps the keys
// before the damaged one.  `report`, when given, says where a damaged walk
// stopped.  Returns kKeysDecoded, kKeysNotDecoded (keys empty),
// kKeysDamaged or kKeysShortInput.
KeyDecodeStatus DecodeKeyDefinitions(const uint8_t* control, size_t length,
                                     uint16_t version, std::vector<KeyDefinition>* keys,
                                     KeyDecodeReport* report = nullptr);

#endif  // GANDREL_READER_KEY_DEFINITIONS_H_
