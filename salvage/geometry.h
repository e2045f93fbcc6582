// The geometry of a data file as salvage decides it: every control page copy
// the version keeps, decoded alone by the reader (DecodeControlCopy,
// reader/control_page.h) and checked here; the soundest copy with the highest
// counter; what no sound copy gives, inferred from the data pages; and the
// command line over all of it.  Each value says where it came from.
//
// Copies looked at:
//   copy 1                 offset 0, every version
//   copy 2, 0x0600-0x0700  offset pageSize (512 .. 4096)
//   copy 2, 0x0800-0x0900  offset F = max(2 x pageSize, 2048)
// 0x0300-0x0500 keep copy 1 only.  Copy 2 is looked for at every one of
// these places, where copy 1 says first: a damaged copy 1 cannot be trusted
// to say where.  Two sound copies that disagree, and a copy that stands
// alone, are checked against the page headers (salvage/geometry_score.h);
// when no copy can be believed, the geometry that explains the pages
// clearly best is taken, and none when no candidate is clearly best.
#ifndef GANDREL_SALVAGE_GEOMETRY_H_
#define GANDREL_SALVAGE_GEOMETRY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "reader/input_stream.h"
#include "reader/slots.h"
#include "reader/version_rules.h"
#include "salvage/geometry_score.h"

enum class ValueSource : uint8_t {
  None = 0,
  ControlCopy1 = 1,
  ControlCopy2 = 2,
  Inferred = 3,     // from the data pages
  CommandLine = 4,  // --page-size, --record-length, --version
  Derived = 5,      // follows from the other values (e.g. slot length)
};
const char* ValueSourceName(ValueSource source);

// One control page copy, decoded whatever it holds, and the verdict of the
// checks.
struct ControlCopy {
  int64_t offset = -1;     // -1: not looked at (the version keeps none there)
  bool read = false;       // its bytes were there
  bool sound = false;      // passed every check below
  std::string problem;     // first check that failed, empty when sound
  bool onlyCountWrong = false;  // every check but the record count passed
                                // (a file cut short, a count overwritten)
  bool fcLayout = false;   // "FC" signature
  bool versionRejected = false;  // the layout read, but no row has its version word
  uint16_t version = 0;    // absolute value of the stored word
  uint32_t pageSize = 0;
  uint32_t counter = 0;    // word 4 (0x0600-0x0700), usage word 6 (0x0800,
                           // 0x0900) or u32 at 8 (0x0950)
  uint16_t recordLength = 0;
  uint16_t slotLength = 0;
  uint32_t recordCount = 0;
  bool variable = false;
  bool compressed = false;
  bool systemData = false;
  uint16_t duplicatePairs = 0;
  bool encrypted = false;  // negative version word, an owner mode of 2 or 3: a
                           // claim the pages are encrypted, weighed at decision
  bool chunkedTails = false;  // 0x0950 flag 0x0800: tails through chunk tables
};

// Where the page grid moved: from physical page `fromPage` on, every page
// lies `shift` bytes further into the file than the grid puts it (bytes were
// inserted before it; a negative shift: bytes were lost).  The shift is the
// total from the start of the file.
struct GridShift {
  uint64_t fromPage;
  int64_t shift;
};

struct Geometry {
  bool usable = false;     // every value below is known
  std::string problem;     // why not, when not usable

  uint16_t version = 0;
  const VersionRules* layout = nullptr;
  uint32_t pageSize = 0;
  uint16_t recordLength = 0;   // fixed part; for compressed files the decoded length
  uint16_t slotLength = 0;
  uint8_t slotDataOffset = 0;  // where the record starts in a slot
  bool variable = false;       // records have a variable tail
  bool compressed = false;     // 0x0800-0x0900 run-length records
  bool recordCountKnown = false;
  uint32_t recordCount = 0;    // the header's count (chosen copy)
  uint32_t controlCopyBytes = 0;  // 0x0800-0x0950: F
  uint32_t controlUsage = 0;      // the chosen copy's counter
  // Found by FindGridShifts (salvage/page_scan.h) after the values above,
  // ascending by fromPage; empty on a file whose pages lie on the grid.
  std::vector<GridShift> gridShifts;
  bool chunkedTails = false;      // 0x0950 flag 0x0800: tails in chunks

  ValueSource versionSource = ValueSource::None;
  ValueSource pageSizeSource = ValueSource::None;
  ValueSource recordLengthSource = ValueSource::None;
  ValueSource slotLengthSource = ValueSource::None;
  int chosenCopy = 0;          // 1, 2, or 0 when no copy was sound
  ControlCopy copies[2];

  // When values were inferred from the pages: the candidate taken (its
  // header evidence and, once decided, its slot length and spacing score),
  // the runner-up (row, page size), and the runner-up slot length.
  bool inferred = false;
  GeometryCandidate best;
  GeometryCandidate runnerUp;
  GeometryCandidate slotRunnerUp;
};

// Values given on the command line; 0 (-1 for the record length) when not.
struct GeometryOverrides {
  uint32_t pageSize = 0;
  int32_t recordLength = -1;
  uint16_t version = 0;
  // The user says the disk lost sectors: every sector of zeros on the grid
  // counts as lost, not only one whose run of zeros meets the grid
  // (salvage/zeroed_sectors.h).
  bool lostSectors = false;
};

// Slots on a data page of the usable geometry `g`: what the page holds
// after the row's reserve, in slots of g.slotLength (0 without one).
inline uint32_t SlotsPerPage(const Geometry& g) {
  return g.slotLength == 0 ? 0 : (g.pageSize - g.layout->slotCountReserve) / g.slotLength;
}

// The empty-slot rule of the data pages of `g` (usable): compressed slots
// keep a marker where plain ones keep record bytes.
inline EmptySlotRule EmptySlotRuleOf(const Geometry& g) {
  return g.compressed ? g.layout->emptySlotCompressed : g.layout->emptySlotConsole;
}

// Calls visit(slot, offset) for each used slot of `page` that lies whole
// in it, in slot order, until visit returns false.
template <typename Visit>
void ForEachUsedSlot(const Geometry& g, const uint8_t* page, Visit visit) {
  const uint32_t header = g.layout->dataPageHeaderSize;
  const EmptySlotRule rule = EmptySlotRuleOf(g);
  for (uint32_t s = 0; s < SlotsPerPage(g); ++s) {
    const uint32_t at = header + s * g.slotLength;
    if (at + g.slotLength > g.pageSize) break;
    if (!SlotIsEmpty(rule, page, g.pageSize, at, g.slotLength) && !visit(s, at)) return;
  }
}

// Decides the geometry of `input`.  Reads the control page copies and, when
// something is missing, a sample of the data pages.  Never fails outright:
// geometry->usable says whether salvage can go on.
void DecideGeometry(InputFile* input, const GeometryOverrides& overrides,
                    Geometry* geometry);

#endif  // GANDREL_SALVAGE_GEOMETRY_H_
