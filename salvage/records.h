// The record walk: every used slot of every current data page, in
// ascending logical page order, whatever the header's record count says.
#ifndef GANDREL_SALVAGE_RECORDS_H_
#define GANDREL_SALVAGE_RECORDS_H_

#include "salvage/salvage.h"

// True when the slot at `slotOffset` of `page` holds a record by the
// empty-slot rule of the geometry (reader/version_rules.h: the console rule,
// or the used marker of compressed files).  Bytes of the slot beyond the
// page count as zeros.
bool SlotHoldsRecord(const Geometry& geometry, const uint8_t* page, uint32_t slotOffset);

// Walks the data pages of `scan` and hands each record to `sink`; fills the
// record and chain parts of `report`.
void WalkRecords(InputFile* input, const Geometry& geometry, const ScanResult& scan,
                 const RecordSinkFunction& sink, SalvageReport* report);

#endif  // GANDREL_SALVAGE_RECORDS_H_
