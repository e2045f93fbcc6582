// Every rule of the reader that depends on the format version, as one named
// row per version.  Open looks the row up once and turns it, together with
// the program's variant, into the read plan (reader/read_plan.h); nothing
// below the plan compares version numbers.
//
// The versions fall into three classes:
//   0x0300 0x0400 0x0500   no second control page copy, no page map, data
//                          pages marked by bit 15 of the word at 4
//   0x0600 0x0610 0x0700   page kind byte at 1, page map pairs, fragments
//                          with a 4-byte header
//   0x0800 0x0900 0x0950   page size byte at 43, active control page copy by
//                          its usage counter, page allocation tables, 8-byte
//                          (0x0950: 10-byte) page headers, 6-byte pointers,
//                          record compression (reader/v8_layout.h)
#ifndef GANDREL_READER_VERSION_RULES_H_
#define GANDREL_READER_VERSION_RULES_H_

#include <cstdint>

// Where a page header says what kind of page it is.
enum class KindRule : uint8_t {
  Bit15AtOffset4,         // data page when bit 15 of the word at 4 is set
  ByteAtOffset1,          // 'D' data page, 'V' variable page
  ByteAtOffset4NotIndex,  // 'D' or 'V' at 4 with byte 5 zero: index pages
                          // keep a key number at 4 and 0x80 at 5
};

// How a page header stores its page number and usage counter.
enum class PageNumberRule : uint8_t {
  Number24UsageWord4,  // 24-bit number (byte 0 high, word at 2); word at 4
  Number32UsageWord6,  // u32 at 0; word at 6 without bit 15
  Number32UsageWord8,  // u32 at 0; word at 8 without bit 15 (0x0950)
};

// When a data page slot holds no record.
enum class EmptySlotRule : uint8_t {
  FirstWordThenScanFrom4,  // first word zero: empty; else any byte 4.. set
  ScanFrom0,               // any byte of the slot set
  ScanFrom4,               // any byte from offset 4 on set
  FirstWord,               // first word non-zero
  UsedByteAt4,             // byte 4 non-zero (compressed, oldest class)
  UsedMarkerAt4,           // any of bytes 4-6 non-zero (compressed, 0x0600)
  UsedMarkerAt6,           // any of bytes 6-8 non-zero (compressed, 0x0800)
};

// How variable pointers and fragments are laid out (reader/chain.h).
enum class ChainRule : uint8_t {
  Pointer24Bit15,    // 3-byte page + fragment byte; a fragment starts with
                     // the next pointer only when its entry has bit 15
  Pointer24Header4,  // 3-byte page + fragment byte; every fragment starts
                     // with the next pointer
  Pointer24Bit15Counted,    // as Pointer24Bit15, counted fragment tables
  Pointer24Header4Counted,  // as Pointer24Header4, counted fragment tables
  Pointer32Counted,  // u32 page + u16 fragment; counted fragment tables
};

// Where the control page fields come from.
enum class ControlRule : uint8_t {
  CopyOneCountByWord4,  // every field from copy 1; the record count from the
                        // copy with the greater word at 4 (equal: copy 2)
  ActiveCopyByWord6,    // every field from the copy with the greater word
                        // at 6 (reader/control_page.h)
  ActiveCopyByLong8,    // the same by the u32 at 8, the word at 6 being 0
};

// True for the rules that read two control page copies of F bytes and take
// every field from the active one (the new class).
inline bool ChoosesActiveCopy(ControlRule rule) {
  return rule == ControlRule::ActiveCopyByWord6 || rule == ControlRule::ActiveCopyByLong8;
}

// Which of the two copies of a page allocation table is current.
enum class TableChoiceRule : uint8_t {
  GreaterUsage,             // the greater usage counter
  GreatestNotAboveControl,  // the greatest usage counter that is not above
                            // the active control page's: a copy written
                            // after it belongs to an uncommitted change
};

// Layout of the page allocation tables (reader/v8_layout.h).  The defaults
// are those of 0x0800 and 0x0900.
struct AllocationTableRules {
  uint8_t usageOffset = 6;       // the copy's usage counter
  bool usage32 = false;          // ... a u32, else a u16
  uint8_t entriesOffset = 20;    // entry 0
  uint8_t entrySize = 6;         // u32 physical page, bytes 4 and 5, [u16]
  uint16_t extentPagesPer2048 = 320;  // X = this x F / 2048
  TableChoiceRule choice = TableChoiceRule::GreaterUsage;
};

// How the file maps logical pages to physical ones.
enum class PageMapRule : uint8_t {
  None,              // logical page = physical page
  Pairs,             // map page pairs (reader/page_map.h)
  PairsAdjusted,     // map page pairs, and the 4096-byte adjustment
  AllocationTables,  // 0x0800 tables, resolved into the page directory
};

// Where the chain of free data page slots starts (in the current control
// page copy) and how its links name a slot (salvage/free_chain.h).
enum class FreeChainRule : uint8_t {
  FileOffset,     // head at kFreeHeadOldOffset; a link (halves swapped) is
                  // the slot's file offset, at 0 in the slot
  PageAndOffset,  // head at kFreeHeadMiddleOffset; a link (halves swapped) is
                  // logical page x page size + offset in the page, at 2 in
                  // the slot (0 when compressed)
  PageAndSlot,    // head at kFreeHeadNewOffset; a link (a plain u32) is the
                  // logical page above the slot number's bits, at 2 in the
                  // slot (0 when compressed)
};

struct VersionRules {
  uint16_t version;
  uint8_t versionClass;         // 1, 2 or 3
  ControlRule control;
  uint8_t secondCopyPage;       // copy 2 at this many pages in; 0: not read
  PageMapRule pageMap;
  bool consoleWalksMap;         // the console finds logical pages through
  bool wizardWalksMap;          // the map (else logical = physical)
  KindRule kind;
  PageNumberRule pageNumber;
  uint8_t dataPageHeaderSize;   // bytes before slot 0
  uint8_t slotCountReserve;     // slots per page = (pageSize - this) / slot
  ChainRule chain;
  ChainRule compressedChain;    // the chains of compressed records
  uint8_t fragmentHeaderSize;
  bool variableViaPageOffset;   // else looked up in variablePages
  bool sortDataPages;
  EmptySlotRule emptySlotConsole;
  EmptySlotRule emptySlotWizard;
  EmptySlotRule emptySlotCompressed;
  bool consoleChecksPageNumber;  // the console passes over a data page
                                 // whose stored number is not the logical one
  bool consoleChecksZeroHeader;  // ... and one whose bytes 4, 6, 7 are zero
  bool recordLength32;           // lengths reported in 32 bits, else 16

  // The new class only; the defaults are those of 0x0800 and 0x0900.
  uint8_t fragmentCountOffset = 14;  // variable page: n, the fragment count
  uint8_t firstFragmentOffset = 16;  // ... and where fragment 0 starts
  AllocationTableRules tables = {};
  bool chunkedTails = false;     // flag 0x0800: tails through a chunk table
  FreeChainRule freeChain = FreeChainRule::FileOffset;
  bool usageBit15MarksData = false;  // bit 15 of a page header's usage word
                                     // is set on data pages, on no other
  bool slotWords = false;        // every slot starts with a slot word (0 free,
                                 // small when used); a compressed slot's used
                                 // marker at 6 reads 01 01 00 or 01 02 00
};

// The row of an accepted version (absolute value of the stored word), or
// null for any other version.
const VersionRules* FindVersionRules(uint16_t version);

// True for the rows that write a changed page to a new physical page and
// leave the old copy behind (those with a page map or allocation tables).
inline bool KeepsOldPageCopies(const VersionRules& rules) {
  return rules.pageMap != PageMapRule::None;
}

// True when two rows are of one version class (see above): the class a
// damaged copy's version word still names, or a candidate the pages find.
bool SameVersionClass(const VersionRules& a, const VersionRules& b);

// Bytes of the used marker behind the pointer in a compressed record's slot
// before 0x0800: one byte in the oldest class, three in the middle one.
uint32_t OldCompressedMarkerBytes(const VersionRules& rules);

// The rows that inference from the data pages may try when no control page
// copy can be believed: one row per way of telling a page header (0x0400,
// 0x0600, 0x0800, 0x0950), oldest first.  Rows that read page headers alike
// (0x0300-0x0500, 0x0600-0x0700, 0x0800-0x0900) cannot be told apart by the
// pages, so only one of each stands for them.
struct VersionRowList {
  const VersionRules* const* rows;
  uint32_t count;
};
VersionRowList InferenceVersionRows();

#endif  // GANDREL_READER_VERSION_RULES_H_
