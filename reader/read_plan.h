// How one open file is read, decided once at open from the version's rules,
// the program's variant and the control page: how pages are addressed, which
// page directory is built and from which pass, how the cursor finds data
// pages and tells empty slots, and how records are assembled.  Nothing below
// the plan asks for the version or the variant again.
#ifndef GANDREL_READER_READ_PLAN_H_
#define GANDREL_READER_READ_PLAN_H_

#include <cstdint>

#include "reader/control_page.h"
#include "reader/reader_types.h"
#include "reader/version_rules.h"

// Which pass fills the page directory at open.
enum class DirectoryBuild : uint8_t {
  None,              // the walk reads no directory: no pass at open
  PhysicalScan,      // every physical page in file order
  LogicalScan,       // logical pages 1 .. pageCount - 1 through PageOffset
  AllocationTables,  // the 0x0800 tables, checked against a physical pass
};

// Where the cursor's next data page comes from.
enum class PageSource : uint8_t {
  LogicalWalk,    // logical pages upward through PageOffset (FindNextDataPage)
  DirectoryList,  // dataPages in list order (ReadNextDataPage)
};

// What a slot holds.
enum class RecordShape : uint8_t {
  Fixed,         // the fixed part only
  VariableTail,  // the fixed part, then a pointer to a fragment chain
  ChunkedTail,   // the fixed part, then a pointer to a chunk table whose
                 // entries lead to the chains of the tail's chunks
  Compressed,    // a pointer to a chain of run-length coded data
};

struct ReadPlan {
  ChainRule chain;
  KindRule kind;
  PageNumberRule pageNumber;

  // Page addressing (reader/page_map.h).
  bool walksMap;          // logical pages go through the map pairs
  bool adjust4096;        // the 4096-byte adjustment applies
  bool tableDirectory;    // logical pages are looked up in the directory
  AllocationTableRules tables;  // where tableDirectory: their layout

  // The page directory.
  DirectoryBuild directory;
  bool listsDataPages;      // the pass keeps data pages
  bool listsVariablePages;  // the pass keeps variable pages
  bool sortDataPages;

  // The cursor.
  PageSource pageSource;
  EmptySlotRule emptySlot;
  bool checkPageNumber;     // pass over a data page not carrying its number
  bool checkZeroHeader;     // pass over a data page with bytes 4, 6, 7 zero
  uint32_t dataPageHeaderSize;
  uint32_t slotsPerPage;

  // Records.
  RecordShape shape;
  uint32_t fragmentCountOffset;  // counted fragment tables (reader/chain.h)
  uint32_t firstFragmentOffset;
  bool variableViaPageOffset;  // else through the variable page directory
  bool recordLength32;         // else lengths are reported in 16 bits
};

// The plan for a file of `rules` whose control page gave `control`.
ReadPlan MakeReadPlan(const VersionRules& rules, ReaderVariant variant,
                      const ControlInfo& control);

#endif  // GANDREL_READER_READ_PLAN_H_
