// Deleted records and earlier versions of records, out of the superseded
// page copies a file keeps.  From 0x0600 on the engine writes a changed page
// to a new physical page and points the map at it: the old copy stays where
// it was until the page is reused, with the records as they were.  A freed
// slot itself keeps nothing of its record (only the free-slot link), so the
// old copies are the only place a deleted record can come back from.
//
//   HistoryReport report;
//   SalvageStatus s = RecoverHistory(path, options, &report);
//
// What comes back, and what is refused:
//   - a used slot of a superseded data page copy, rebuilt whole: its tail
//     or compressed stream through the current variable pages first, then
//     the superseded copies of each variable page, newest first; a
//     compressed record only when it decodes to exactly its length; a chain
//     that cannot be completed is listed in `unfinished`, never emitted;
//   - never bytes that are a live record of the file (an unchanged or moved
//     record), and each address with each content once, content once;
//   - at an address free in the current copy, the newest old copy's record
//     is "deleted" (or "deleted or never committed" when that copy's usage
//     counter is above the current copy's, a write the engine may not have
//     committed); older contents at that address, and old contents at an
//     address the current copy holds another record at, are earlier
//     versions, given only with HistoryOptions::versions.
// Before 0x0600 there are no copies: nothing comes back, and the free-slot
// chain says how many records the engine erased.
#ifndef GANDREL_SALVAGE_HISTORY_H_
#define GANDREL_SALVAGE_HISTORY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "salvage/free_chain.h"
#include "salvage/salvage.h"

enum class HistoryVerdict : uint8_t {
  Deleted = 0,                  // the address is free in the current copy
  EarlierVersion = 1,           // the current copy holds another record there
  DeletedOrNeverCommitted = 2,  // free now, and the old copy is the newer one
};
const char* HistoryVerdictName(HistoryVerdict verdict);

struct HistoryRecord {
  uint32_t logicalPage = 0;
  uint32_t slot = 0;             // 0-based, in the page
  uint32_t physicalPage = 0;     // of the superseded copy it came from
  uint16_t copyUsage = 0;        // that copy's usage counter
  bool currentKnown = false;     // the logical page has a current copy
  uint16_t currentUsage = 0;     // ... and its usage counter
  HistoryVerdict verdict = HistoryVerdict::Deleted;
  std::vector<uint8_t> bytes;    // the whole record, tail included
};

// A used slot of an old copy whose record could not be rebuilt whole.
struct UnfinishedRecord {
  uint32_t logicalPage = 0;
  uint32_t slot = 0;
  uint32_t physicalPage = 0;
  std::string reason;
};

struct HistoryOptions {
  bool versions = false;         // earlier versions of live records too
  GeometryOverrides overrides;
};

struct HistoryReport {
  SalvageReport salvage;         // the salvage run over the current copies
  bool copiesKept = false;       // the version leaves old copies (0x0600 on)
  FreeChainCount freeChain;
  uint64_t oldDataCopies = 0;    // superseded data page copies
  uint64_t oldVariableCopies = 0;
  uint64_t oldCopiesWithRecords = 0;  // data copies with a used slot
  uint64_t usedSlots = 0;        // used slots of those copies
  uint64_t live = 0;             // ... holding bytes of a live record
  uint64_t repeated = 0;         // ... holding a record already given
  uint64_t versionsLeftOut = 0;  // earlier versions, without `versions`
  std::vector<HistoryRecord> records;  // by logical page, slot, newest first
  std::vector<UnfinishedRecord> unfinished;
};

// Runs salvage over `path`, then reads the superseded copies.  The status
// is salvage's for the current file (healthy, damaged, nothing); the records
// are in report->records.
SalvageStatus RecoverHistory(const char* path, const HistoryOptions& options,
                             HistoryReport* report);

// What `gandrel info` shows of a file's history: the free chain and the old
// data copies that hold records.  False when the file has no usable
// geometry.
struct HistorySummary {
  FreeChainCount freeChain;
  bool copiesKept = false;
  uint64_t oldDataCopies = 0;
  uint64_t oldCopiesWithRecords = 0;
};
bool SummarizeHistory(const char* path, const GeometryOverrides& overrides,
                      HistorySummary* summary);

#endif  // GANDREL_SALVAGE_HISTORY_H_
