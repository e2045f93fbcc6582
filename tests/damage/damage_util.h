// Shared by the damaged-file tests: build a good file, damage it, walk it in
// a reader variant and check what was salvaged; a tally of every case is
// printed as a table when the test program ends.
#ifndef GANDREL_TESTS_DAMAGE_DAMAGE_UTIL_H_
#define GANDREL_TESTS_DAMAGE_DAMAGE_UTIL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "reader/datafile.h"
#include "tests/fixture/fixture_writer.h"

namespace damage {

constexpr ReaderVariant kBothVariants[] = {ReaderVariant::Console,
                                           ReaderVariant::Wizard};
constexpr uint16_t kAllVersions[] = {0x0300, 0x0400, 0x0500, 0x0600,
                                     0x0610, 0x0700, 0x0800, 0x0900, 0x0950};
// No page number: every page of the file counts as lying before the damage.
constexpr uint32_t kNoDamagedPage = 0xFFFFFFFFu;

const char* VariantName(ReaderVariant variant);

// Sweeps take every SweepStride()-th damage spot: every one natively; a
// sample on Windows, where the tests run under Wine (and often an emulated
// 32-bit processor) at some 20 ms a walk.
size_t SweepStride();

// A good file to start from, in a few pages.
struct Sample {
  std::string name;  // "0x0600 fc var", for messages and the report
  fixture::FixtureOptions options;
  fixture::BuiltFile built;
};

// Fixed-length, variable-length with multi-fragment chains ("FC" layout),
// and variable-length with one fragment per record, in `version`.
std::vector<Sample> SamplesOf(uint16_t version);
// The samples of every version.
std::vector<Sample> AllSamples();

// The outcome of one walk.
struct Walk {
  ReaderStatus openStatus = kReaderOk;
  ReaderStatus endStatus = kReaderOk;  // the status that ended the walk
  std::vector<std::vector<uint8_t>> records;  // status 0 and 6, as copied
  bool runaway = false;                // the walk did not end by itself
  double milliseconds = 0;
  std::vector<ReaderEvent> events;     // what the reader reported
};

// What a damage touched.  The reports of a walk over the damaged file may
// name these pages (by offset or logical number) and chains of these
// records, and nothing else beyond what the good file's walk reports.
struct Touched {
  bool everything = false;       // the geometry itself was damaged
  std::vector<uint32_t> pages;   // physical pages
  std::vector<int64_t> logical;  // logical page numbers
  std::vector<size_t> records;   // records with a byte on those pages
};
// Damage on physical page `page` (for a map page or allocation table, also
// the pages it maps; the control page copies that give the geometry touch
// everything).
Touched TouchedByPage(const Sample& sample, uint32_t page);
// A damaged header of `page` in `bytes` may claim another page's number:
// that page is touched too.
void AddClaimedNumber(const Sample& sample, const std::vector<uint8_t>& bytes,
                      uint32_t page, Touched* touched);
// Damage on every page from `page` on (a file cut there).
Touched TouchedFromPage(const Sample& sample, uint32_t page);
// Damage on the slot or variable pointer of record `record`.
Touched TouchedByRecord(size_t record);

// Writes `bytes` to a temporary file and walks it: open, every record with
// `capacity`, close.
Walk WalkBytes(const std::vector<uint8_t>& bytes, ReaderVariant variant,
               uint32_t capacity = 64000);
Walk WalkPath(const std::string& path, ReaderVariant variant,
              uint32_t capacity = 64000);

// The bytes a reader hands out for record `i` of a sample.
std::vector<uint8_t> ExpectedRecord(const Sample& sample, size_t i);

// The records a walk must still hand out when the pages from physical page
// `firstDamagedPage` on are damaged: records 0 .. k-1, where record k is the
// first whose data page or one of whose variable pages lies at or after the
// damage.  Pages are laid out in the order the cursors walk them, and a walk
// may end at a damaged record (status 2), so later records are not owed.
// The count is further capped by the record count each variant reads from
// the control page copies of `bytes` (the damaged file).
std::vector<size_t> RecordsBefore(const Sample& sample, uint32_t firstDamagedPage,
                                  const std::vector<uint8_t>& bytes,
                                  ReaderVariant variant);

// The record count a variant takes from the control page copies of `bytes`,
// laid out with the sample's page size: copy 1 for the oldest versions, else
// the copy with the greater counter (equal: copy 2); for 0x0800 and 0x0900,
// where damage may make either copy active, the smaller count of the two.
uint32_t RecordCountSeen(const Sample& sample, const std::vector<uint8_t>& bytes,
                         ReaderVariant variant);

// Checks one walk of a damaged copy of `sample`: it ended by itself with a
// status from the reader's table, and every record in `mustSurvive` was
// handed out unchanged, in order.  Adds the case to the report under
// `group`.
void ExpectSalvaged(const std::string& group, const Sample& sample,
                    ReaderVariant variant, const Walk& walk,
                    const std::vector<size_t>& mustSurvive);
// Also checks that every report of the walk beyond those of the good file
// names what `touched` holds.
void ExpectSalvaged(const std::string& group, const Sample& sample,
                    ReaderVariant variant, const Walk& walk,
                    const std::vector<size_t>& mustSurvive, const Touched& touched);

// Only the status and termination checks, for files with nothing to salvage.
void ExpectSane(const std::string& group, ReaderVariant variant, const Walk& walk);

// Adds one case to the report.
void Tally(const std::string& group, ReaderVariant variant, const Walk& walk,
           size_t survived, size_t mustSurvive);

// Byte offset of physical page `page` of a sample.
size_t PageStart(const Sample& sample, uint32_t page);
// Offset of the slot of record `i` (its first byte, before slotDataOffset).
size_t SlotStart(const Sample& sample, size_t i);

}  // namespace damage

#endif  // GANDREL_TESTS_DAMAGE_DAMAGE_UTIL_H_
