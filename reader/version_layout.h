// Every rule of the reader that depends on the format version, in one table
// row per version.  The rest of the reader asks the row and never compares
// version numbers itself, so a version's layout can be changed here alone.
//
// The versions fall into three classes:
//   0x0300 0x0400 0x0500   no second control page copy, no page map,
//                          data pages marked by bit 15 of the word at 4
//   0x0600 0x0610 0x0700   page kind byte at 1, page map, 4-byte fragments
//   0x0800 0x0900          page size byte at 43, active control page copy
//                          by the word at 6, page allocation tables, 8-byte
//                          page headers, 6-byte pointers, record
//                          compression (reader/v8_layout.h)
#ifndef GANDREL_READER_VERSION_LAYOUT_H_
#define GANDREL_READER_VERSION_LAYOUT_H_

#include <cstdint>

#include "reader/datafile.h"

// Where a page header says what kind of page it is.
enum class KindRule : uint8_t {
  Bit15AtOffset4,  // data page when bit 15 of the word at 4 is set
  ByteAtOffset1,   // 'D' data page, 'V' variable page
  ByteAtOffset4,   // 'D' data page, 'V' variable page
  ByteAtOffset4NotIndex,  // as ByteAtOffset4, and byte 5 zero: index pages
                          // keep a key number at 4 and 0x80 at 5
};

// How a page header stores its page number and usage counter.
enum class PageNumberRule : uint8_t {
  Number24UsageWord4,       // 24-bit number (bytes 0, 2-3); usage word at 4
  SignedWord0UsageByte6,    // word at 0, sign-widened; usage byte at 6
  Number32UsageWord6,       // u32 at 0; usage word at 6 without bit 15
};

// When a data page slot holds no record.
enum class EmptySlotRule : uint8_t {
  FirstWordThenScanFrom4,  // first word zero: empty; else any byte 4.. set
  ScanFrom0,               // any byte of the slot set
  ScanFrom4,               // any byte from offset 4 on set
  FirstWord,               // first word non-zero
  UsedMarkerAt6,           // any of bytes 6-8 non-zero (compressed files)
};

// How the variable pointer behind a record's fixed part is stored.
enum class PointerRule : uint8_t {
  Page24Fragment8,    // bytes P..P+2 page (bits 16-23, 0-7, 8-15), P+3 fragment;
                      // FF FF FF marks "no variable part"
  Word16Fragment16,   // word at P sign-widened, fragment word at
                      // recordLength + 10; no end marker
  Page32Fragment16,   // u32 page, u16 fragment; page 0xFFFFFFFF is none;
                      // records read by AssembleV8Record
};

// Where the control page fields come from.
enum class ControlRule : uint8_t {
  CopyOneCountByWord4,  // every field from copy 1; the record count from the
                        // copy with the greater word at 4 (equal: copy 2)
  ActiveCopyByWord6,    // every field from the copy with the greater word
                        // at 6 (ReadV8ControlPage)
};

// How the page directory is built at open.
enum class DirectoryRule : uint8_t {
  ScanByVariant,     // console: physical pages; wizard: logical pages
  AllocationTables,  // both variants: ScanV8Pages
};

struct VersionLayout {
  uint16_t version;
  uint8_t versionClass;            // 1, 2 or 3
  bool pageSizeFromByte43;         // else the word at 8
  bool readsSecondCopy;            // record count from the current copy
  uint8_t secondCopyPageConsole;   // copy 2 at this many pages in
  uint8_t secondCopyPageWizard;
  uint8_t fragmentHeaderSize;
  bool hasMapEntriesPerPage;       // mapEntriesPerPage set (0x0600, 0x0610)
  bool mappedConsole;              // logical pages go through the page map
  bool mappedWizard;
  bool adjust4096;                 // the 4096-byte adjustment applies
  KindRule kindRule;
  PageNumberRule pageNumberRule;
  uint8_t dataPageHeaderSize;      // bytes before slot 0
  bool variableViaPageOffset;      // else looked up in variablePages
  PointerRule pointerRule;
  bool fragmentBit15Pointer;       // entry bit 15 = fragment starts with pointer
  bool sortDataPages;
  EmptySlotRule emptySlotConsole;
  EmptySlotRule emptySlotWizard;
  bool consoleChecksPageNumber;    // console rejects a data page whose stored
                                   // number is not the logical number
  bool consoleChecksZeroHeader;    // console rejects a data page whose bytes
                                   // 4, 6 and 7 are all zero
  ControlRule controlRule;
  DirectoryRule directoryRule;
  uint8_t slotCountReserve;        // slots per page = (pageSize - this) /
                                   // slotLength
  bool consoleReadsDirectory;      // the console cursor loads dataPages in
                                   // order, as the wizard's does
  EmptySlotRule emptySlotCompressed;  // both variants, compressed files
};

// The row of an accepted version (absolute value of the stored word), or
// null for any other version.
const VersionLayout* FindVersionLayout(uint16_t version);

// Convenience questions on an open DataFile.
bool UsesPageMap(const DataFile* dataFile);
EmptySlotRule EmptySlotRuleOf(const DataFile* dataFile);
// True when the cursor takes its data pages from dataPages.
bool CursorReadsDirectory(const DataFile* dataFile);

#endif  // GANDREL_READER_VERSION_LAYOUT_H_
