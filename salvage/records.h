// The record walk: every used slot of every current data page, in
// ascending logical page order, whatever the header's record count says.
#ifndef GANDREL_SALVAGE_RECORDS_H_
#define GANDREL_SALVAGE_RECORDS_H_

#include <cstdint>
#include <vector>

#include "salvage/salvage.h"

// True when the slot at `slotOffset` of `page` holds a record by the
// empty-slot rule of the geometry (reader/version_rules.h: the console rule,
// or the used marker of compressed files).  Bytes of the slot beyond the
// page count as zeros.
bool SlotHoldsRecord(const Geometry& geometry, const uint8_t* page, uint32_t slotOffset);

// Walks the data pages of `scan` from logical page `firstLogical` on and
// hands each record to `sink`; fills the record and chain parts of `report`.
// With `lostSectors` every sector of zeros counts as lost.
void WalkRecords(InputFile* input, const Geometry& geometry, const ScanResult& scan,
                 uint32_t firstLogical, bool lostSectors, const RecordSinkFunction& sink,
                 SalvageReport* report);

// The walk of fixed-length records during the page pass, page by page as
// the pass proves them current (a ProvenPageSink, salvage/page_scan.h): a
// healthy file's pages are then read once.  The geometry, sink and report
// must outlive it.
struct EarlyWalk {
  const Geometry* geometry = nullptr;
  const RecordSinkFunction* sink = nullptr;
  SalvageReport* report = nullptr;
  bool lostSectors = false;
  std::vector<uint8_t> page;  // a copy with zeros after it, where the last
                              // slot reaches past the page
};
void BeginEarlyWalk(EarlyWalk* early, const Geometry& geometry, bool lostSectors,
                    const RecordSinkFunction& sink, SalvageReport* report);
// The ProvenPageSink function; `context` is the EarlyWalk.
void WalkProvenPage(void* context, uint32_t logical, int64_t offset, const uint8_t* page);

#endif  // GANDREL_SALVAGE_RECORDS_H_
