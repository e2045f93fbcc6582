// Salvage of one Btrieve data file: every intact record out of it, however
// damaged it is, and an account of what was lost.  Standard library only;
// the file is opened read only and never written.
//
//   SalvageReport report;
//   SalvageStatus s = SalvageFile(path, overrides, sink, &report);
//
// Records reach `sink` in ascending logical page order and slot order, the
// order the reader gives them in a healthy file.
#ifndef GANDREL_SALVAGE_SALVAGE_H_
#define GANDREL_SALVAGE_SALVAGE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "salvage/geometry.h"
#include "salvage/page_scan.h"

enum SalvageStatus : uint8_t {
  kSalvageHealthy = 0,     // the file was healthy, everything came out
  kSalvageDamaged = 3,     // records came out, but damage was found
  kSalvageNothing = 2,     // not a data file, or no geometry
};
const char* SalvageStatusName(SalvageStatus status);

// A variable tail or compressed record whose chain ended before its end.
struct BrokenChain {
  uint64_t recordNumber;   // 1-based, among the records salvaged
  uint32_t dataPage;       // logical page of the record's slot
  int64_t slotOffset;      // file offset of the slot
  uint64_t bytesRecovered; // of the record, fixed part included
  std::string reason;
};

// Records that the gate held back (salvage/records.h), by reason.  They are
// not handed out as records; `RecordSinkFunction::writeDoubtful` gets them.
struct HeldBackCounts {
  uint64_t tailOutsideFile = 0;  // the tail pointer names a page no file
                                 // of this size can hold
  uint64_t endlessChain = 0;     // the chain comes back on itself or has
                                 // more fragments than a record can
  uint64_t brokenChain = 0;      // the chain ends short: a page of it lost
                                 // or damaged (listed in brokenChains)
  uint64_t streamNotExact = 0;   // a compressed record's stream does not
                                 // end on a whole block, or decodes shorter
                                 // than the fixed part
  uint64_t zeroedSector = 0;     // the slot touches a sector that reads as
                                 // zeros (salvage/zeroed_sectors.h); the
                                 // doubtful sink gets the slot's bytes from
                                 // where the record starts
  uint64_t movedByShift = 0;      // bytes inserted or lost inside the page
                                 // may have moved the slot (the doubtful
                                 // sink gets its bytes, as above); from the
                                 // first slot that shows the move on, or
                                 // the whole page where nothing shows it
  uint64_t total() const {
    return tailOutsideFile + endlessChain + brokenChain + streamNotExact + zeroedSector +
           movedByShift;
  }
};

struct SalvageReport {
  std::string path;
  bool opened = false;      // the file could be opened and measured
  int64_t fileSize = 0;
  Geometry geometry;
  PageCounts pages;
  std::vector<SkippedPage> skippedPages;   // at most 10000 listed
  uint64_t skippedNotListed = 0;
  std::vector<BrokenChain> brokenChains;   // at most 10000 listed
  uint64_t brokenNotListed = 0;
  uint64_t recordsSalvaged = 0;
  uint64_t recordsTooLong = 0;   // longer than kMaxRecordBytes, not handed out
  HeldBackCounts heldBack;       // failed the record gate, not handed out
  uint64_t recordsOverBlankSectors = 0;  // handed out, though a sector of
                                 // zeros lies in their slot: blank record
                                 // bytes, or a sector the disk lost
                                 // (--lost-sectors holds them back)
  uint64_t dataPagesWalked = 0;
  std::vector<std::string> notes;  // damage that lost nothing (a bad copy...)
  std::string error;               // why nothing came out, when it did not
  bool restarted = false;          // records given during the page pass were
                                   // taken back and walked again
  double seconds = 0;
  SalvageStatus status = kSalvageNothing;
};

// A record is first read into an area of kRecordArea bytes (the console
// program's); a longer one is read again into an area of its length, up to
// kMaxRecordBytes.  Longer records are left out and counted: a damaged
// chain can claim any length.
constexpr uint32_t kRecordArea = 64000;
constexpr uint32_t kMaxRecordBytes = 16u << 20;

// Receives each record; `bytes` is valid during the call only.
struct RecordSinkFunction {
  void (*write)(void* context, const uint8_t* bytes, uint32_t length) = nullptr;
  void* context = nullptr;
  // Optional, in place of `write` for records that lie one after another:
  // `count` records of `length` bytes at `first`, `first + stride`, and so
  // on, in that order.  One call hands out a page's used slots that follow
  // each other, where a call per record would cost more than the record.
  void (*writeRun)(void* context, const uint8_t* first, uint32_t stride, uint32_t length,
                   uint32_t count) = nullptr;
  // Optional, beside `write` (both are called when both are set): the same
  // record with the logical page its slot is on, for callers that keep it.
  void (*writeWithPage)(void* context, const uint8_t* bytes, uint32_t length,
                        uint32_t logicalPage) = nullptr;
  // Optional: records the gate held back, for a person to look at.
  void (*writeDoubtful)(void* context, const uint8_t* bytes, uint32_t length) = nullptr;
  void* doubtfulContext = nullptr;
  // Optional: takes back every record given so far (to any of the above),
  // as if none had been; false when it could not.  Where it is given, the
  // records of a file of fixed-length records go out during the page pass,
  // each page read once, and are taken back in the rare damaged file where
  // the pass learns too late that other pages hold them.
  bool (*restart)(void* context) = nullptr;
  void* restartContext = nullptr;
  // Told now and then how far the run is, in bytes of the file: the page
  // pass counts to half the size, the record walk on to the whole.
  ProgressFunction progress = nullptr;
  void* progressContext = nullptr;
};

SalvageStatus SalvageFile(const char* path, const GeometryOverrides& overrides,
                          const RecordSinkFunction& sink, SalvageReport* report);

#endif  // GANDREL_SALVAGE_SALVAGE_H_
