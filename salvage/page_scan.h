// One sequential pass over every physical page: each page classified by
// its header and checked before it is trusted, and the current copy of every
// logical data and variable page chosen.
//
// The current copy comes from the page map (0x0600-0x0700) or the
// allocation tables (0x0800-0x0900) where an entry names a page that carries
// that logical number; where the map cannot be read, names nothing usable or
// is not sound, from the highest usage counter among the copies that carry
// the number (ties: the first in the file).  0x0300-0x0500 have no map: a
// page's number is its position.
#ifndef GANDREL_SALVAGE_PAGE_SCAN_H_
#define GANDREL_SALVAGE_PAGE_SCAN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "reader/input_stream.h"
#include "salvage/geometry.h"

constexpr uint32_t kNoPhysicalPage = 0xFFFFFFFF;

struct SkippedPage {
  int64_t offset;       // file offset of the page
  int64_t logicalPage;  // -1 when not known
  std::string reason;
};

struct PageCounts {
  uint64_t physical = 0;     // pages in the file, a cut last one included
  uint64_t reserved = 0;     // control page copies, map pages, tables
  uint64_t data = 0;         // plausible data pages (all copies)
  uint64_t variable = 0;     // plausible variable pages (all copies)
  uint64_t other = 0;        // index pages, free pages, anything else
  uint64_t index = 0;        // of `other`: index pages, where the header
                             // tells them (0x0600 on; never below)
  uint64_t implausible = 0;  // a data header whose slots do not fit the rules
  uint64_t unreadable = 0;   // cut short
  uint64_t currentData = 0;  // current copies chosen
  uint64_t headerless = 0;   // of them: data pages whose header was wiped,
                             // read where a sound table places them (before
                             // 0x0600: at their own place, where the slots
                             // behind the zeros show records)
  uint64_t currentVariable = 0;
  uint64_t headerlessVariable = 0;  // of them: variable pages whose header
                                    // was wiped, read where a sound
                                    // allocation table places them
  uint64_t crossed = 0;       // of currentData and currentVariable: pages
                              // lying where the page map places another
                              // logical page that the map places where they
                              // lie, or (before 0x0600) where the other page
                              // carries their place as its number: two pages
                              // that traded places
  uint64_t wipedHeaders = 0;  // data or variable pages the map or tables
                              // name whose header alone reads as zeros,
                              // read or not: the mark of lost sectors
};

struct PageDirectory {
  // Per logical page number: the physical page of its current copy, or
  // kNoPhysicalPage.
  std::vector<uint32_t> data;
  std::vector<uint32_t> variable;
  // 0x0300-0x0500, whose chains name a page by its place: pages that bytes
  // inserted or lost inside them may have left with moved fragments and
  // fragment table; no chain is read through them.
  std::vector<uint32_t> movedVariable;
};

// Called now and then with the bytes of the file dealt with so far.
using ProgressFunction = void (*)(void* context, int64_t done);

// A plausible data or variable page that carries a logical number but was
// not chosen as its current copy: a state of the page the engine left
// behind (a shadow page the map no longer names, or a write never
// committed).
struct PageCopy {
  uint32_t logical;
  uint32_t physical;
  uint16_t usage;   // the page header's usage counter
  bool variable;    // a variable page, else a data page
};

// Receives, during the page pass, each data page the pass already proves
// to be the current copy of its logical page, with no data page of a lower
// logical number still to come: a page whose number is its position
// (0x0300-0x0500), or one that a sound map or table names, both copies of
// it intact, and every lower logical page the map names for data already
// read.  Pages come in ascending logical order; `page` holds the page's
// bytes during the call only.  The pass checks the proof against the
// directory it ends with (ScanResult::provenHolds): damage found later in
// the file can undo it.
struct ProvenPageSink {
  void (*page)(void* context, uint32_t logical, int64_t offset, const uint8_t* page) = nullptr;
  void* context = nullptr;
};

// A data page whose first `bytes` bytes only are walked for records.
// Where `restHeldBack`, the page is there whole but bytes inserted or lost
// inside it may have moved the slots behind those bytes, and nothing shows
// which: their records go to the doubtful sink.
struct PartPage {
  uint32_t physical;
  uint32_t bytes;
  bool restHeldBack = false;
};

struct ScanResult {
  PageDirectory directory;
  // Every copy not chosen, by logical page, highest usage first (then file
  // order).
  std::vector<PageCopy> superseded;
  // 0x0600-0x0700: per logical page the physical page the page map names
  // (kNoPhysicalPage for none), as read, without looking at the page.
  // 0x0600 and 0x0610 find variable pages this way.
  std::vector<uint32_t> mapped;
  PageCounts counts;
  std::vector<SkippedPage> skipped;  // in file order, at most 10000
  uint64_t skippedNotListed = 0;     // skipped beyond those listed
  // With a proven-page sink: how many pages it was given, the highest
  // logical number among them, and whether the directory agrees with them
  // (every logical page up to that number has the page given, or none was
  // given and the directory names none).
  uint64_t provenPages = 0;
  uint32_t provenThrough = 0;
  bool provenHolds = false;
  // Data pages of which only the first bytes are walked (their slots that
  // lie whole in them): the last page cut short by the end of the file,
  // whose header is whole, and pages that bytes inserted or lost inside
  // them cut short (the slots before those the shift moved).
  std::vector<PartPage> partPages;
  // Allocation tables whose newer copy was taken for a change never
  // committed, by the control page's counter (0x0950).
  uint32_t newerTablesPassedOver = 0;
};

// The part page entry of physical page `physical` (ScanResult::partPages),
// or null for a page walked whole.
const PartPage* FindPartPage(const ScanResult& scan, uint32_t physical);

// Follows the page grid of `g` (usable) through the file and records in
// g->gridShifts where bytes inserted or lost moved the pages off it.  A page
// the map names must carry the number it gives.  The walk reads every
// page's header: call it where a page pass found damage, then scan again.
void FindGridShifts(InputFile* input, Geometry* g);

// Where g->gridShifts moved the grid: takes out of the directory the page
// before each shift (the last whose header fits the grid before it), and
// lists it as skipped, when it is a data page and a used slot of it holds a
// duplicate pointer that is no pointer, or a variable page right before
// bytes lost.  Bytes inserted or lost inside that page moved its later
// slots or fragments.
void DropPagesAcrossShifts(InputFile* input, const Geometry& g, ScanResult* result);

// True when a page pass passed over pages (skipped, implausible or cut) or
// found fewer data pages than the header's record count needs.
bool ScanFoundDamage(const Geometry& g, const ScanResult& result);

// File offset of physical page `physical`, with the 4096-byte adjustment of
// 0x0600 and 0x0610.
int64_t PhysicalPageOffset(const Geometry& geometry, uint64_t physical);

// Scans `input` with the usable `geometry`; `proven` may be null.
void ScanDataFile(InputFile* input, const Geometry& geometry, ProgressFunction progress,
                  void* progressContext, const ProvenPageSink* proven, ScanResult* result);

// True when the slots of a data page are consistent with the geometry: for
// 0x0800-0x0900 every slot word (uncompressed) or used marker (compressed)
// has one of the values the engine writes.
bool DataPageSlotsPlausible(const Geometry& geometry, const uint8_t* page);

#endif  // GANDREL_SALVAGE_PAGE_SCAN_H_
