// The file control page: decoded once at open, for every version class,
// into one record.  The layout tables are in reader/format.h (versions
// 0x0300 to 0x0700) and reader/v8_layout.h (0x0800, 0x0900).  These are pure
// functions of the copies' bytes; reading them is the caller's.
#ifndef GANDREL_READER_CONTROL_PAGE_H_
#define GANDREL_READER_CONTROL_PAGE_H_

#include <cstddef>
#include <cstdint>

#include "reader/reader_types.h"
#include "reader/version_rules.h"

// Bytes of copy 1 that open reads: the most any version or program uses.
constexpr size_t kControlBytesMost = 404;

struct ControlInfo {
  uint16_t version = 0;          // absolute value of the stored word
  uint16_t storedVersion = 0;    // the word as stored (copy 1; from 0x0800
                                 // the active copy's)
  bool fcLayout = false;         // the "FC" signature
  uint8_t slotDataOffset = 0;    // 0 plain, 2 "FC"; from 0x0800 2, 10 with
                                 // system data, 0 when compressed
  uint32_t pageSize = 0;
  uint16_t recordLength = 0;     // for a compressed file, decoded
  uint16_t storedRecordLength = 0;  // word 22 as stored (0 in compressed files)
  uint16_t slotLength = 0;
  uint32_t recordCount = 0;      // from the current copy
  uint8_t variableLength = 0;    // byte 56; from 0x0800 1 for a tail or
                                 // compression
  int32_t mapEntriesPerPage = 0;
  uint8_t currentCopy = 1;       // the copy the count (or everything) came from
  // Owner protection, from the current copy: a negative version word means
  // an owner name is set; its mode (2 or 3) can claim the pages are
  // encrypted.  Only the pages prove it (reader/owner_protection.h).
  bool ownerProtected = false;
  uint8_t ownerMode = 0;
  bool encrypted = false;        // the claim: owner set, an encrypting mode
  bool compressed = false;       // records are run-length streams in chains
  // From 0x0800 only.
  uint16_t flags = 0;
  bool variableTail = false;
  bool systemData = false;
  bool chunkedTail = false;      // the tail goes through a chunk table
  uint32_t usage = 0;            // the active copy's usage counter (and, from
                                 // DecodeControlCopy, word 4 before 0x0800)
  bool kindMarked = false;       // the copy's kind byte is 'C' 
  uint16_t duplicatePairs = 0;
  uint32_t copyBytes = 0;        // F: copy 2 lies at this offset
};

// Layout signature and version word of copy 1 (kControlBytesMost bytes, or
// at least 76): 0 with the absolute version, the stored word and where
// record data starts in a slot; 2 for an unknown signature.  -32768 has no
// absolute value and stays 0x8000.
ReaderStatus DecodeLayout(const uint8_t* copy1, ControlInfo* info);

// Versions 0x0300 to 0x0700: every field from copy 1, the record count from
// the current copy (copy2 null for the oldest class, which keeps one copy).
// 2 for a page size below kMinPageSize or a slot length of 0.
ReaderStatus DecodeOldControl(const VersionRules& rules, const uint8_t* copy1,
                              const uint8_t* copy2, ControlInfo* info);
// Page size of copy 1 of versions below 0x0800: where copy 2 lies.
uint32_t OldPageSize(const uint8_t* copy1);

// Versions 0x0800 to 0x0950: the copy length F from copy 1's page size, or
// 0 when that page size is not one the format has.
uint32_t V8CopyBytes(const uint8_t* copy1);
// Chooses the active copy (copy2 null when it cannot be read) and takes
// every field from it; info->version may change with the active copy's word
// (0x0800 and 0x0900 files may name themselves differently in each copy).
// 2 when not one slot fits a page.
ReaderStatus DecodeV8Control(const uint8_t* copy1, const uint8_t* copy2,
                             ControlInfo* info);

// One copy decoded alone, whatever it holds, after DecodeLayout on the same
// bytes: every field where the row `rules` keeps it, the count and owner
// from this copy, the usage counter, no copy chosen and nothing checked.
// `copy` holds kControlBytesConsole bytes (kV8ControlBytes from 0x0800).
// Salvage weighs each copy by this decode (salvage/geometry.h).
void DecodeControlCopy(const VersionRules& rules, const uint8_t* copy, ControlInfo* info);

#endif  // GANDREL_READER_CONTROL_PAGE_H_
