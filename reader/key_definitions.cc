#include "reader/key_definitions.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "reader/format.h"
#include "reader/v8_layout.h"

namespace {

enum class KeyLayout : uint8_t { None, Old, New };

KeyLayout LayoutOf(uint16_t version) {
  if (version >= 0x0300 && version < 0x0800) return KeyLayout::Old;
  if (version == 0x0800 || version == 0x0900 || version == 0x0950) return KeyLayout::New;
  return KeyLayout::None;
}

// What one copy says about itself: how long it is, how far its record sits
// into a slot and how long the record is (0 = unknown).
struct CopyGeometry {
  size_t copyBytes;
  uint16_t slotDataOffset;
  uint16_t recordLength;
};

// Needs the bytes up to offset 404 (new layout) or 264 (old layout); the
// caller has checked that.
CopyGeometry GeometryOf(const uint8_t* control, uint16_t version) {
  CopyGeometry g = {};
  if (LayoutOf(version) == KeyLayout::Old) {
    g.copyBytes = KeyControlBytes(version, DecodeLE16(control + kControlPageSizeOffset));
    const bool compressed = (DecodeLE16(control + kControlOldFlagsOffset) & kV8FlagCompressed) != 0;
    g.slotDataOffset = (version < 0x0600 || compressed) ? 0 : 2;
    // Compressed files keep 0 here; their segments cannot be checked
    // against a length.
    g.recordLength = DecodeLE16(control + kControlRecordLengthOffset);
    return g;
  }
  g.copyBytes = KeyControlBytes(version, control[kControlPageSizeBy256Offset] * 256u);
  const uint16_t flags = DecodeLE16(control + kV8FlagsOffset);
  if (flags & kV8FlagCompressed) {
    g.slotDataOffset = 0;
    g.recordLength = DecodeLE16(control + kV8DecodedLengthOffset);
  } else {
    g.slotDataOffset = ((flags & kV8FlagSystemData) && !(flags & kV8FlagNoSystemData)) ? 10 : 2;
    g.recordLength = DecodeLE16(control + kControlRecordLengthOffset);
  }
  return g;
}

KeySegment SegmentFrom(const uint8_t* entry, uint16_t slotDataOffset) {
  KeySegment s = {};
  s.flags = DecodeLE16(entry + kSegmentFlagsOffset);
  s.position = DecodeLE16(entry + kSegmentPositionOffset) - slotDataOffset + 1u;
  s.length = DecodeLE16(entry + kSegmentLengthOffset);
  s.storedType = entry[kSegmentTypeOffset];
  s.duplicates = (s.flags & kKeyDuplicates) != 0;
  s.modifiable = (s.flags & kKeyModifiable) != 0;
  s.binary = (s.flags & kKeyBinary) != 0;
  s.nullKey = (s.flags & kKeyNull) != 0;
  s.segmented = (s.flags & kKeySegmented) != 0;
  s.alternateOrder = (s.flags & kKeyAlternateOrder) != 0;
  s.descending = (s.flags & kKeyDescending) != 0;
  s.manual = (s.flags & kKeyManual) != 0;
  s.extendedType = (s.flags & kKeyExtendedType) != 0;
  s.extendedTypeCode = s.extendedType ? s.storedType : 0;
  return s;
}

// Checks one segment entry against the record it indexes.
KeyDamage CheckSegment(const uint8_t* entry, const CopyGeometry& g) {
  const uint32_t stored = DecodeLE16(entry + kSegmentPositionOffset);
  const uint32_t length = DecodeLE16(entry + kSegmentLengthOffset);
  if (length == 0) return KeyDamage::EmptySegment;
  // A position inside the slot header would index the slot word or the
  // system data, never the record.
  if (stored < g.slotDataOffset) return KeyDamage::PositionBeforeRecord;
  if (g.recordLength != 0 && stored - g.slotDataOffset + length > g.recordLength) {
    return KeyDamage::SegmentPastRecord;
  }
  return KeyDamage::None;
}

struct Walk {
  const uint8_t* control;
  size_t areaEnd;    // end of the bytes segments may occupy
  bool clipped;      // the given bytes end before the copy does
  CopyGeometry geometry;
  std::vector<KeyDefinition>* keys;
  KeyDecodeReport* report;
};

KeyDecodeStatus Fail(Walk* w, KeyDamage damage, size_t key, size_t segment) {
  w->report->damage = damage;
  w->report->key = static_cast<uint16_t>(key);
  w->report->segment = static_cast<uint16_t>(segment);
  return kKeysDamaged;
}

// Walks the segments of one key from `offset`.  Moves strictly forward and
// ends at the area end; `budget` caps the segments this key may take (the
// new layout's total still left).
KeyDecodeStatus WalkKey(Walk* w, size_t key, size_t offset, size_t segmentSize,
                        size_t budget, size_t* next) {
  KeyDefinition definition;
  for (size_t segment = 0;; ++segment) {
    if (segment >= budget) return Fail(w, KeyDamage::SegmentCountMismatch, key, segment);
    if (offset + segmentSize > w->areaEnd) {
      if (w->clipped) return kKeysShortInput;
      return Fail(w, segment == 0 ? KeyDamage::TooManyKeys : KeyDamage::ChainNotEnded,
                  key, segment);
    }
    const uint8_t* entry = w->control + offset;
    const KeyDamage damage = CheckSegment(entry, w->geometry);
    if (damage != KeyDamage::None) return Fail(w, damage, key, segment);
    definition.segments.push_back(SegmentFrom(entry, w->geometry.slotDataOffset));
    offset += segmentSize;
    if (!definition.segments.back().segmented) break;
  }
  w->keys->push_back(std::move(definition));
  *next = offset;
  return kKeysDecoded;
}

KeyDecodeStatus WalkOld(Walk* w, size_t keyCount) {
  // Every key takes at least one segment: a count that cannot fit is
  // rejected before any garbage is decoded as segments.
  if (!w->clipped && kOldKeyAreaOffset + keyCount * kOldKeySegmentSize > w->areaEnd) {
    return Fail(w, KeyDamage::TooManyKeys, 0, 0);
  }
  size_t offset = kOldKeyAreaOffset;
  for (size_t key = 0; key < keyCount; ++key) {
    const KeyDecodeStatus s =
        WalkKey(w, key, offset, kOldKeySegmentSize, SIZE_MAX, &offset);
    if (s != kKeysDecoded) return s;
  }
  return kKeysDecoded;
}

KeyDecodeStatus WalkNew(Walk* w, size_t keyCount) {
  const size_t table = DecodeLE16(w->control + kControlKeyTableOffset);
  const size_t total = DecodeLE16(w->control + kControlKeySegmentTotalOffset);
  if (keyCount == 0) return kKeysDecoded;
  // The table must lie inside the copy, after the area the segments use.
  if (table < kNewKeyAreaMinOffset || table + 2 * keyCount > w->areaEnd) {
    if (w->clipped && table >= kNewKeyAreaMinOffset) return kKeysShortInput;
    return Fail(w, KeyDamage::TooManyKeys, 0, 0);
  }
  // Segments lie below the table in every file seen.
  w->areaEnd = table;
  size_t left = total;
  for (size_t key = 0; key < keyCount; ++key) {
    const size_t first = DecodeLE16(w->control + table + 2 * key);
    if (first < kNewKeyAreaMinOffset || first + kNewKeySegmentSize > w->areaEnd) {
      return Fail(w, KeyDamage::BadSegmentOffset, key, 0);
    }
    size_t next = 0;  // unused: the table places every key
    const KeyDecodeStatus s = WalkKey(w, key, first, kNewKeySegmentSize, left, &next);
    if (s != kKeysDecoded) return s;
    left -= w->keys->back().segments.size();
  }
  if (left != 0) return Fail(w, KeyDamage::SegmentCountMismatch, keyCount - 1, 0);
  return kKeysDecoded;
}

}  // namespace

size_t KeyControlBytes(uint16_t version, uint32_t pageSize) {
  switch (LayoutOf(version)) {
    case KeyLayout::Old:
      return pageSize;
    case KeyLayout::New:
      if (version == 0x0950) return 2 * static_cast<size_t>(pageSize);
      return std::max<size_t>(2 * static_cast<size_t>(pageSize), 2048);
    case KeyLayout::None:
      break;
  }
  return 0;
}

const char* KeyDecodeStatusName(KeyDecodeStatus status) {
  switch (status) {
    case kKeysDecoded: return "decoded";
    case kKeysNotDecoded: return "not decoded for this version";
    case kKeysDamaged: return "damaged";
    case kKeysShortInput: return "control page cut short";
  }
  return "unknown status";
}

const char* KeyDamageName(KeyDamage damage) {
  switch (damage) {
    case KeyDamage::None: return "none";
    case KeyDamage::TooManyKeys: return "more keys than the control page holds";
    case KeyDamage::ChainNotEnded: return "segment chain does not end";
    case KeyDamage::BadSegmentOffset: return "key table points outside the key area";
    case KeyDamage::SegmentCountMismatch: return "segment count differs from the header";
    case KeyDamage::EmptySegment: return "segment of length 0";
    case KeyDamage::PositionBeforeRecord: return "segment position before the record";
    case KeyDamage::SegmentPastRecord: return "segment past the record length";
  }
  return "unknown damage";
}

KeyDecodeStatus DecodeKeyDefinitions(const uint8_t* control, size_t length,
                                     uint16_t version, std::vector<KeyDefinition>* keys,
                                     KeyDecodeReport* report) {
  KeyDecodeReport unused = {};
  if (report == nullptr) report = &unused;
  *report = KeyDecodeReport{};
  if (keys == nullptr) return kKeysShortInput;  // nowhere to put them
  keys->clear();
  const KeyLayout layout = LayoutOf(version);
  if (layout == KeyLayout::None) return kKeysNotDecoded;
  // The header fields read before the walk: flags and decoded length end at
  // 404 in the new layout, the old flags word at 264.
  const size_t header = layout == KeyLayout::New ? kV8DecodedLengthOffset + 2
                                                 : kControlOldFlagsOffset + 2;
  if (control == nullptr || length < header) return kKeysShortInput;

  Walk w = {};
  w.control = control;
  w.geometry = GeometryOf(control, version);
  w.areaEnd = std::min(length, w.geometry.copyBytes);
  w.clipped = length < w.geometry.copyBytes;
  w.keys = keys;
  w.report = report;
  // A page size that leaves no room for the header fields is itself bad;
  // nothing after it can be placed.
  if (w.geometry.copyBytes < header) return Fail(&w, KeyDamage::TooManyKeys, 0, 0);

  const size_t keyCount = DecodeLE16(control + kControlKeyCountOffset);
  return layout == KeyLayout::Old ? WalkOld(&w, keyCount) : WalkNew(&w, keyCount);
}
