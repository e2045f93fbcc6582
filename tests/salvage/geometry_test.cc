// Geometry proved on the pages: files built in code, damaged where they
// describe themselves (control page copies, maps, slots), salvaged.  Each
// case asks for every record whose pages survive, byte for byte, and never
// a record the file did not hold; where the pages cannot tell the geometry,
// nothing and the options to give.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "gandrel/info_command.h"
#include "tests/console/process_runner.h"
#include "tests/fixture/fixture_v8.h"
#include "tests/salvage/salvage_test_util.h"

namespace {

using fixture::BuiltFile;
using fixture::FixtureOptions;
using fixture::ScopedTempFile;

BuiltFile Build(const FixtureOptions& o, uint32_t count, uint32_t variableBytes = 0) {
  return BuildFixtureFile(o, count, variableBytes, 11);
}

FixtureOptions Options(uint16_t version, uint16_t pageSize, uint16_t recordLength) {
  FixtureOptions o;
  o.version = version;
  o.pageSize = pageSize;
  o.recordLength = recordLength;
  return o;
}

// Records of 20 bytes with a variable tail.
FixtureOptions VariableOptions(uint16_t version) {
  FixtureOptions o = Options(version, 512, 20);
  o.variableLength = true;
  return o;
}

Records AllRecords(const BuiltFile& built) {
  ScopedTempFile file(built.bytes);
  return ReaderRecords(file.path());
}

size_t CopyBytes(const FixtureOptions& o, const BuiltFile& built) {
  return o.version >= 0x0800 ? built.controlCopyBytes : o.pageSize;
}

// Salvages `built` with its first `bytes` bytes (the control page) zeroed.
Records SalvageWithoutControlPage(const BuiltFile& built, size_t bytes, SalvageReport* report) {
  std::vector<uint8_t> damaged = built.bytes;
  std::fill(damaged.begin(), damaged.begin() + static_cast<int64_t>(bytes), 0);
  ScopedTempFile file(damaged);
  return SalvageRecords(file.path(), report);
}

// --- Control page copy 1 damaged, copy 2 intact ----------------------------------

struct CopyDamage {
  const char* name;
  size_t offset;       // in copy 1; SIZE_MAX: zeroed
  uint16_t word;       // stored little-endian at `offset`
  bool oldClassOnly;   // 0x0600-0x0700 only (the word at 8 is their page size)
};

TEST(GeometryCopyTest, CopyTwoIsFoundAndCheckedWhateverCopyOneSays) {
  const CopyDamage damages[] = {
      {"zeroed", SIZE_MAX, 0, false},
      {"version word noise", 74, 0x1234, false},
      {"version word of the oldest class", 74, 0x0400, false},
      {"version word of another class", 74, 0x0800, false},
      {"record length", 22, 0xFFFF, false},
      {"slot length", 24, 0x0003, false},
      {"page size 1024", 8, 1024, true},
      {"page size 2048", 8, 2048, true},
      {"page size noise", 8, 700, true},
  };
  for (uint16_t version : {0x0600, 0x0700, 0x0800, 0x0950}) {
    for (uint16_t pageSize : {512, 1024, 2048, 4096}) {
      FixtureOptions o = Options(version, pageSize, 62);
      o.fcLayout = true;
      o.copy1Counter = 5;  // copy 1 is the current one until it is damaged
      o.copy2Counter = 4;
      const BuiltFile built = Build(o, 400);
      const Records all = AllRecords(built);
      for (const CopyDamage& d : damages) {
        if (d.oldClassOnly && (version >= 0x0800 || d.word == pageSize)) continue;
        SCOPED_TRACE(std::string(d.name) + " version " + std::to_string(version) +
                     " page size " + std::to_string(pageSize));
        std::vector<uint8_t> bytes = built.bytes;
        if (d.offset == SIZE_MAX) {
          std::fill(bytes.begin(), bytes.begin() + CopyBytes(o, built), 0);
        } else {
          // "Another class" is the middle class for files of the new one.
          const bool sameWord = d.word == 0x0800 && version >= 0x0800;
          fixture::PutLE16(bytes, d.offset, sameWord ? 0x0600 : d.word);
        }
        ScopedTempFile file(bytes);
        SalvageReport report;
        const Records got = SalvageRecords(file.path(), &report);
        EXPECT_TRUE(SameRecords(got, all));
        EXPECT_EQ(report.geometry.chosenCopy, 2);
        EXPECT_EQ(report.geometry.pageSize, pageSize);
        EXPECT_EQ(report.status, kSalvageDamaged);
      }
    }
  }
}

TEST(GeometryCopyTest, TheOnlyCopyOfTheOldestClassDestroyedOrMisread) {
  for (uint16_t version : {0x0300, 0x0400, 0x0500}) {
    for (uint16_t pageSize : {512, 1024, 4096}) {
      const FixtureOptions o = Options(version, pageSize, 40);
      const BuiltFile built = Build(o, 600);
      const Records all = AllRecords(built);
      // Zeroed, a version word of noise, and a version word of the middle
      // and the new class (the pages say otherwise).
      for (int damage = 0; damage < 4; ++damage) {
        SCOPED_TRACE("version " + std::to_string(version) + " page size " +
                     std::to_string(pageSize) + " damage " + std::to_string(damage));
        std::vector<uint8_t> bytes = built.bytes;
        if (damage == 0) std::fill(bytes.begin(), bytes.begin() + pageSize, 0);
        if (damage > 0) {
          fixture::PutLE16(bytes, 6, damage == 1 ? 0x1234 : damage == 2 ? 0x0600 : 0x0800);
        }
        ScopedTempFile file(bytes);
        SalvageReport report;
        const Records got = SalvageRecords(file.path(), &report);
        EXPECT_TRUE(SameRecords(got, all)) << report.error;
        EXPECT_EQ(report.geometry.pageSize, pageSize);
        EXPECT_EQ(report.status, kSalvageDamaged);
      }
    }
  }
}

// Records that are mostly spaces (a text field padded to its width) make
// every short spacing of the bytes look alike: the slot length is the
// spacing that stands out from its neighbours, not a divisor of it that
// scores as well only because spaces meet spaces everywhere.
TEST(GeometryCopyTest, SpacePaddedRecordsStillTellTheirSlotLength) {
  for (uint16_t version : {0x0300, 0x0400, 0x0500}) {
    for (uint16_t recordLength : {245, 121}) {
      SCOPED_TRACE("version " + std::to_string(version) + " record length " +
                   std::to_string(recordLength));
      FixtureOptions o = Options(version, 4096, recordLength);
      std::vector<fixture::FixtureRecord> records(90);
      for (size_t i = 0; i < records.size(); ++i) {
        std::vector<uint8_t>& r = records[i].fixed;
        r.assign(recordLength, ' ');
        const std::string key = std::to_string(1000 + i * 7) + "/95";
        std::copy(key.begin(), key.end(), r.begin() + 8);
        r[0] = static_cast<uint8_t>(i);
        r[1] = 0xCB;
        r[2] = 0x07;
        r[recordLength - 1] = 0;
      }
      const BuiltFile built = fixture::BuildDataFile(o, records);
      SalvageReport report;
      const Records got = SalvageWithoutControlPage(built, 4096, &report);
      EXPECT_TRUE(SameRecords(got, AllRecords(built))) << report.error;
      EXPECT_EQ(report.geometry.slotLength, built.slotLength);
    }
  }
}

// Records that are spaces but for a few short values and the zeros that
// end their text fields score alike at every spacing by equal bytes; the
// places where the bytes change still recur one slot apart.  A record as
// long as the page, whose array of equal entries repeats within it, must
// not be taken for many short slots: nothing, and the options.
TEST(GeometryCopyTest, FillerRecordsTellTheirSlotAndOneRecordPagesInventNone) {
  uint32_t seed = 7;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0xFF; };
  for (uint16_t version : {0x0300, 0x0400, 0x0500}) {
    SCOPED_TRACE("version " + std::to_string(version));
    FixtureOptions o = Options(version, 4096, 345);
    std::vector<fixture::FixtureRecord> records(65);
    for (size_t i = 0; i < records.size(); ++i) {
      std::vector<uint8_t>& r = records[i].fixed;
      r.assign(345, ' ');
      r[0] = static_cast<uint8_t>(i + 1);
      r[1] = 0;
      for (size_t field : {2, 200}) {
        const size_t length = 4 + next() % 8;
        r[field] = '"';
        for (size_t k = 1; k <= length; ++k) r[field + k] = static_cast<uint8_t>(0x80 + next() % 32);
        r[field + length + 1] = '"';
        r[field + 40] = 0;
      }
      for (size_t k = 252; k < 332; k += 4) r[k] = 0;  // a column of short fields
      r[344] = 0;
    }
    const BuiltFile built = fixture::BuildDataFile(o, records);
    SalvageReport report;
    const Records got = SalvageWithoutControlPage(built, 4096, &report);
    EXPECT_TRUE(SameRecords(got, AllRecords(built))) << report.error;
    EXPECT_EQ(report.geometry.slotLength, 345u);

    // One record a page: an array of 9-byte entries, equal in runs of four,
    // repeats within the record at 9 bytes, and less at each multiple.
    FixtureOptions whole = Options(version, 1024, 1000);
    std::vector<fixture::FixtureRecord> long_records(8);
    for (size_t i = 0; i < long_records.size(); ++i) {
      std::vector<uint8_t>& r = long_records[i].fixed;
      r.assign(1000, 0);
      for (size_t e = 0; e < 30; ++e) {
        r[100 + 9 * e] = static_cast<uint8_t>(e / 4 + 1 + i);
        r[104 + 9 * e] = static_cast<uint8_t>((e / 4) * 7 + 3);
      }
    }
    const BuiltFile onePerPage = fixture::BuildDataFile(whole, long_records);
    SalvageReport wipedReport;
    const Records wipedGot = SalvageWithoutControlPage(onePerPage, 1024, &wipedReport);
    EXPECT_EQ(Invented(wipedGot, AllRecords(onePerPage)), 0u) << wipedReport.error;
  }
}

// --- Two sound copies: which one is current -------------------------------------
//
// Both copies pass every check and announce different record counts, so the
// count salvage takes shows which copy it chose.  The greater counter was
// written last; on equal counters the middle class takes copy 2, the new
// class copy 1, as the reader does.  Salvage and the reader (gandrel info
// shows the reader's choice) must agree in every case.

TEST(GeometryCopyTest, TheCurrentOfTwoSoundCopiesIsTheReadersOnEqualAndUnequalCounters) {
  struct Counters {
    uint16_t copy1, copy2;
    int middleClass, newClass;  // the copy expected for 0x0600-0x0700, 0x0800 on
  };
  const Counters cases[] = {{5, 5, 2, 1}, {6, 5, 1, 1}, {5, 6, 2, 2}};
  for (uint16_t version : {0x0600, 0x0610, 0x0700, 0x0800, 0x0900, 0x0950}) {
    for (const Counters& c : cases) {
      SCOPED_TRACE("version " + std::to_string(version) + " counters " +
                   std::to_string(c.copy1) + "/" + std::to_string(c.copy2));
      FixtureOptions o = Options(version, 1024, 40);
      o.copy1Counter = c.copy1;
      o.copy2Counter = c.copy2;
      o.copy1RecordCount = 300;
      o.copy2RecordCount = 299;
      const BuiltFile built = Build(o, 300);
      ScopedTempFile file(built.bytes);
      SalvageReport report;
      SalvageRecords(file.path(), &report);
      const int expected = version >= 0x0800 ? c.newClass : c.middleClass;
      EXPECT_TRUE(report.geometry.copies[0].sound && report.geometry.copies[1].sound);
      EXPECT_EQ(report.geometry.chosenCopy, expected);
      EXPECT_EQ(report.geometry.recordCount, expected == 1 ? 300u : 299u);
      FileInfo info;
      GatherFileInfo(file.path(), &info);
      ASSERT_TRUE(info.controlDecoded) << info.controlProblem;
      EXPECT_EQ(info.control.currentCopy, expected);
      EXPECT_EQ(info.control.recordCount, expected == 1 ? 300u : 299u);
    }
  }
}

// --- Every control copy and the map gone ------------------------------------------

TEST(GeometryInferenceTest, EveryCopyAndMapGoneGivesTheRecordsOrNothing) {
  for (uint16_t version : {0x0400, 0x0600, 0x0700, 0x0800}) {
    for (uint16_t pageSize : {1024, 2048, 4096}) {
      const FixtureOptions o = Options(version, pageSize, 62);
      const BuiltFile built = Build(o, 1500);
      const Records all = AllRecords(built);
      SCOPED_TRACE("version " + std::to_string(version) + " page size " +
                   std::to_string(pageSize));
      // The first four pages (from 0x0800 four copy areas): every control
      // copy and the first map pair or table.
      std::vector<uint8_t> bytes = built.bytes;
      const size_t lost = std::min(bytes.size(), 4 * CopyBytes(o, built));
      std::fill(bytes.begin(), bytes.begin() + lost, 0);
      // The records on data pages inside the zeroed bytes are lost.
      std::set<uint32_t> lostPages;
      for (uint32_t p = 0; p * size_t{pageSize} < lost; ++p) lostPages.insert(p);
      Records kept;
      for (size_t i = 0; i < all.size(); ++i) {
        if (lostPages.count(built.recordPages[i][0]) == 0) kept.push_back(all[i]);
      }
      ScopedTempFile file(bytes);
      SalvageReport report;
      const Records got = SalvageRecords(file.path(), &report);
      EXPECT_EQ(Invented(got, all), 0u);
      EXPECT_TRUE(SameRecords(got, kept)) << report.error;
      EXPECT_EQ(report.geometry.pageSizeSource, ValueSource::Inferred);
      EXPECT_TRUE(report.geometry.inferred);
      EXPECT_GT(report.geometry.best.score, report.geometry.runnerUp.score);
    }
  }
}

// Records whose last 32 bytes are zeros, as blank fields are, and (from
// 0x0800) a variable tail that no record uses: with every control copy
// gone, zeros at the slots' end are record bytes (the engines' empty
// duplicate pointer is all ones) and every record comes back whole; a tail
// pointer that is the end mark in every slot may as well be record bytes,
// and nothing comes out but the options.
TEST(GeometryInferenceTest, BlankRecordEndsAndUnusedTailsWithoutAControlPage) {
  for (uint16_t version : {0x0400, 0x0600, 0x0800}) {
    SCOPED_TRACE("version " + std::to_string(version));
    FixtureOptions o = Options(version, 4096, 400);
    o.fcLayout = version == 0x0600;
    std::vector<fixture::FixtureRecord> records = fixture::MakeRecords(600, 400, 0, 5);
    for (fixture::FixtureRecord& r : records) std::fill(r.fixed.end() - 32, r.fixed.end(), 0);
    const BuiltFile built = fixture::BuildDataFile(o, records);
    const Records all = AllRecords(built);
    std::vector<uint8_t> bytes = built.bytes;
    std::fill(bytes.begin(), bytes.begin() + 4 * CopyBytes(o, built), 0);
    ScopedTempFile file(bytes);
    SalvageReport report;
    const Records got = SalvageRecords(file.path(), &report);
    EXPECT_EQ(Invented(got, all), 0u);
    EXPECT_GT(got.size(), all.size() / 2) << report.error;
    EXPECT_EQ(report.geometry.recordLength, 400);
  }
  FixtureOptions o = Options(0x0800, 1024, 60);
  o.variableLength = true;
  const BuiltFile built = Build(o, 400);
  std::vector<uint8_t> bytes = built.bytes;
  std::fill(bytes.begin(), bytes.begin() + 4 * CopyBytes(o, built), 0);
  ScopedTempFile file(bytes);
  SalvageReport report;
  EXPECT_TRUE(SalvageRecords(file.path(), &report).empty());
  EXPECT_EQ(report.status, kSalvageNothing);
  EXPECT_NE(report.error.find("variable tail that no record uses"), std::string::npos)
      << report.error;
}

// Slots 8 bytes longer than the record, blank at the end, as a slot with
// an empty duplicate pointer pair is: with no control page the record
// length is 62 or 70, and no page tells which.
TEST(GeometryInferenceTest, UndecidableFileGivesNothingAndNamesTheOptions) {
  FixtureOptions o;
  o.version = 0x0400;
  o.pageSize = 1024;
  o.recordLength = 62;
  o.slotLength = 70;
  const BuiltFile built = Build(o, 300);
  std::vector<uint8_t> bytes = built.bytes;
  std::fill(bytes.begin(), bytes.begin() + o.pageSize, 0);
  ScopedTempFile file(bytes);
  SalvageReport report;
  EXPECT_TRUE(SalvageRecords(file.path(), &report).empty());
  EXPECT_EQ(report.status, kSalvageNothing);
  for (const char* option : {"--page-size", "--record-length", "--version"}) {
    EXPECT_NE(report.error.find(option), std::string::npos) << report.error;
  }
  // Given the record length, every record comes back.
  GeometryOverrides given;
  given.recordLength = 62;
  EXPECT_TRUE(SameRecords(SalvageRecords(file.path(), &report, given), AllRecords(built)));

  // Only the version word damaged: the copy's other values, read as the
  // version the pages show, fit them and tell the record length.  With its
  // page size damaged too the copy disagrees with the pages and gives none.
  for (const bool pageSizeToo : {false, true}) {
    SCOPED_TRACE(pageSizeToo ? "version word and page size" : "version word");
    std::vector<uint8_t> misread = built.bytes;
    fixture::PutLE16(misread, 6, 0x1234);
    if (pageSizeToo) fixture::PutLE16(misread, 8, 2048);
    ScopedTempFile damaged(misread);
    const Records got = SalvageRecords(damaged.path(), &report);
    if (pageSizeToo) {
      EXPECT_TRUE(got.empty());
      EXPECT_EQ(report.status, kSalvageNothing);
      EXPECT_EQ(report.geometry.chosenCopy, 0);
    } else {
      EXPECT_TRUE(SameRecords(got, AllRecords(built))) << report.error;
      EXPECT_EQ(report.status, kSalvageDamaged);
      EXPECT_EQ(report.geometry.recordLengthSource, ValueSource::ControlCopy1);
    }
  }

  // Noise with a plausible header here and there: no candidate is clearly
  // best, nothing comes out.
  std::vector<uint8_t> noise(64 * 1024);
  uint32_t seed = 99;
  for (uint8_t& b : noise) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  ScopedTempFile noisy(noise);
  EXPECT_TRUE(SalvageRecords(noisy.path(), &report).empty());
  EXPECT_EQ(report.status, kSalvageNothing);

  // The program: exit 2, the summary names the options.
  ScopedTempDir dir;
  const ProcessResult r =
      RunProcess(GANDREL_PATH, {"salvage", file.path(), "-o", dir.File("x.dump")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("--record-length"), std::string::npos) << r.err;
}

// Compressed records with every control copy gone (and from 0x0600 the map
// pair): the slots hold only a pointer and a used marker, which the pages
// show; each record is the stream its pointer leads to, and a stream that
// does not decode whole is held back, never handed out.
TEST(GeometryInferenceTest, CompressedRecordsWithoutAControlPageComeBackWhole) {
  for (uint16_t version : {0x0500, 0x0600}) {
    for (uint16_t pageSize : {1024, 2048}) {
      SCOPED_TRACE("version " + std::to_string(version) + " page size " +
                   std::to_string(pageSize));
      FixtureOptions o = Options(version, pageSize, 40);
      o.compressed = true;
      o.maxFragmentData = 300;
      const BuiltFile built = Build(o, 400, 900);
      const Records all = AllRecords(built);
      ASSERT_EQ(all.size(), 400u);
      std::vector<uint8_t> bytes = built.bytes;
      const size_t lost = (version == 0x0500 ? 1u : 4u) * size_t{pageSize};
      std::fill(bytes.begin(), bytes.begin() + lost, 0);
      Records kept;
      for (size_t i = 0; i < all.size(); ++i) {
        bool survives = true;
        for (uint32_t page : built.recordPages[i]) survives = survives && page * size_t{pageSize} >= lost;
        if (survives) kept.push_back(all[i]);
      }
      ASSERT_GT(kept.size(), all.size() / 2);
      {
        ScopedTempFile file(bytes);
        SalvageReport report;
        const Records got = SalvageRecords(file.path(), &report);
        EXPECT_TRUE(report.geometry.compressed) << report.error;
        EXPECT_EQ(Invented(got, all), 0u);
        EXPECT_TRUE(SameRecords(got, kept)) << report.error;
      }
      // A literal count of the first surviving record's stream made huge:
      // its stream no longer ends on a block, and it is held back.
      const std::vector<uint8_t> stream = fixture::CompressRecord(kept[0]);
      ASSERT_GE(stream.size(), 8u);
      const auto found = std::search(bytes.begin() + lost, bytes.end(), stream.begin(),
                                     stream.begin() + 8);
      ASSERT_NE(found, bytes.end());
      const size_t at = static_cast<size_t>(found - bytes.begin());
      bytes[at] = 0xFF;
      bytes[at + 1] = 0x7F;
      ScopedTempFile file(bytes);
      SalvageReport report;
      const Records got = SalvageRecords(file.path(), &report);
      EXPECT_EQ(Invented(got, all), 0u);
      EXPECT_EQ(report.heldBack.streamNotExact, 1u);
      EXPECT_EQ(got.size(), kept.size() - 1);
    }
  }
}

// --- The current copy without a trusted map --------------------------------------

// A 0x0600 or 0x0700 file whose data page was rewritten to a new place (a shadow
// page, usage counter one up): the current map copy names the new page,
// the older copy the old one.  With the current copy wiped, the page
// headers' counters still tell the current page.
TEST(GeometryMapTest, WipedCurrentMapCopyLeavesTheNewestPageCurrent) {
  for (uint16_t version : {0x0600, 0x0700}) {
    SCOPED_TRACE(version);
    FixtureOptions o;
    o.version = version;
    o.recordLength = 30;
    const BuiltFile built = Build(o, 100);
    ASSERT_GE(built.dataPages.size(), 3u);
    std::vector<uint8_t> bytes = built.bytes;
    const uint32_t old = built.dataPages[1];  // logical number = physical
    const uint32_t shadow = static_cast<uint32_t>(bytes.size() / o.pageSize);
    const size_t oldAt = static_cast<size_t>(fixture::PhysicalPageOffset(o, old));
    bytes.insert(bytes.end(), bytes.begin() + oldAt, bytes.begin() + oldAt + o.pageSize);
    const size_t shadowAt = static_cast<size_t>(fixture::PhysicalPageOffset(o, shadow));
    fixture::PutPageHeader(bytes, shadowAt, o.version, 'D', old, 2);
    for (size_t slot = shadowAt + 6; slot + built.slotLength <= shadowAt + o.pageSize;
         slot += built.slotLength) {
      bytes[slot + 5] ^= 0x5A;  // the records as rewritten
    }
    const size_t currentMap = static_cast<size_t>(fixture::PhysicalPageOffset(o, built.mapPages[0] + 1));
    const size_t entry = currentMap + 4 + 4 * old;
    bytes[entry] = static_cast<uint8_t>(shadow >> 16);
    fixture::PutLE16(bytes, entry + 2, static_cast<uint16_t>(shadow));
    ScopedTempFile healthy(bytes);
    const Records current = ReaderRecords(healthy.path());
    ASSERT_EQ(current.size(), 100u);
    ASSERT_NE(current, AllRecords(built));

    std::fill(bytes.begin() + currentMap, bytes.begin() + currentMap + o.pageSize, 0);
    ScopedTempFile wiped(bytes);
    SalvageReport report;
    const Records got = SalvageRecords(wiped.path(), &report);
    EXPECT_TRUE(SameRecords(got, current));
    EXPECT_EQ(Invented(got, current), 0u);
  }
}

// Two data pages that traded places: each map entry names the page that
// carries the other's number (before 0x0600: each page carries the other's
// place).  Both are taken by the numbers they carry, every record comes
// back in order, and the run says what it found.
TEST(GeometryMapTest, PagesThatTradedPlacesAreTakenByTheirNumbers) {
  for (uint16_t version : {0x0300, 0x0500, 0x0600, 0x0610, 0x0700}) {
    SCOPED_TRACE(version);
    const FixtureOptions o = Options(version, 1024, 60);
    const BuiltFile built = Build(o, 200);
    ASSERT_GE(built.dataPages.size(), 4u);
    const Records all = AllRecords(built);
    std::vector<uint8_t> bytes = built.bytes;
    const size_t a = static_cast<size_t>(fixture::PhysicalPageOffset(o, built.dataPages[1]));
    const size_t b = static_cast<size_t>(fixture::PhysicalPageOffset(o, built.dataPages[3]));
    std::swap_ranges(bytes.begin() + a, bytes.begin() + a + o.pageSize, bytes.begin() + b);
    ScopedTempFile file(bytes);
    SalvageReport report;
    EXPECT_TRUE(SameRecords(SalvageRecords(file.path(), &report), all));
    EXPECT_EQ(report.pages.crossed, 2u);
    EXPECT_EQ(report.status, kSalvageDamaged);
  }
}

// --- Sectors zeroed across page headers -----------------------------------------

// Zeroes the first sector of every `step`-th data page from the `from`-th
// on; the page offsets it zeroed.
std::set<size_t> WipeFirstSectors(const FixtureOptions& o, const BuiltFile& built, size_t from,
                                  size_t step, std::vector<uint8_t>* bytes) {
  std::set<size_t> wiped;
  for (size_t k = from; k < built.dataPages.size(); k += step) {
    const size_t at = static_cast<size_t>(fixture::PhysicalPageOffset(o, built.dataPages[k]));
    std::fill(bytes->begin() + at, bytes->begin() + at + 512, 0);
    wiped.insert(at);
  }
  return wiped;
}

// The records whose slots lie outside the zeroed sectors of `wiped` and
// outside page `lost` (SIZE_MAX: none).
Records OutsideWipedSectors(const BuiltFile& built, const Records& all, uint32_t pageSize,
                            const std::set<size_t>& wiped, size_t lost = SIZE_MAX) {
  Records kept;
  for (size_t i = 0; i < all.size(); ++i) {
    const size_t slot = built.recordSlots[i];
    const size_t page = slot - slot % pageSize;
    if (page == lost) continue;
    if (wiped.count(page) == 0 || slot >= page + 512) kept.push_back(all[i]);
  }
  return kept;
}

// Salvages `bytes`: the records `kept`, nothing that `all` does not hold,
// and `headerless` pages read without their header.
SalvageReport ExpectRecordsBesideWipedSectors(const std::vector<uint8_t>& bytes,
                                              const Records& kept, const Records& all,
                                              size_t headerless) {
  ScopedTempFile file(bytes);
  SalvageReport report;
  const Records got = SalvageRecords(file.path(), &report);
  EXPECT_TRUE(SameRecords(got, kept));
  EXPECT_EQ(Invented(got, all), 0u);
  EXPECT_EQ(report.pages.headerless, headerless);
  return report;
}

// The first 512 bytes of data pages zeroed (their headers with them): the
// allocation table still places each page, whose slots beyond the sector
// come back; the slots inside it are lost, and nothing else comes out.
TEST(GeometrySectorTest, WipedHeaderPagesAreReadWhereTheTablePlacesThem) {
  for (uint16_t pageSize : {1024, 2048, 4096}) {
    SCOPED_TRACE(pageSize);
    const FixtureOptions o = Options(0x0800, pageSize, 40);
    const BuiltFile built = Build(o, 500);
    const Records all = AllRecords(built);
    ASSERT_GE(built.dataPages.size(), 3u);
    std::vector<uint8_t> bytes = built.bytes;
    const std::set<size_t> wiped = WipeFirstSectors(o, built, 0, 2, &bytes);
    const SalvageReport report =
        ExpectRecordsBesideWipedSectors(bytes, OutsideWipedSectors(built, all, pageSize, wiped),
                                        all, wiped.size());
    EXPECT_EQ(report.status, kSalvageDamaged);
  }
}

// Before 0x0600 no map says which pages hold records: a page whose first
// sector was lost is taken for a data page where the slots behind the
// zeros recur at the slot length; a page of noise behind zeros is not.
TEST(GeometrySectorTest, OldestClassWipedHeaderPagesAreReadWhereTheirSlotsShowRecords) {
  for (uint16_t version : {0x0300, 0x0400, 0x0500}) {
    for (uint16_t pageSize : {1024, 4096}) {
      SCOPED_TRACE(std::to_string(version) + " page size " + std::to_string(pageSize));
      const FixtureOptions o = Options(version, pageSize, 60);
      const BuiltFile built = Build(o, pageSize == 1024 ? 300 : 1200);
      const Records all = AllRecords(built);
      ASSERT_GE(built.dataPages.size(), 6u);
      std::vector<uint8_t> bytes = built.bytes;
      const std::set<size_t> wiped = WipeFirstSectors(o, built, 1, 3, &bytes);
      // Noise behind a lost sector on the last data page.
      uint32_t seed = 3;
      const size_t noise =
          static_cast<size_t>(fixture::PhysicalPageOffset(o, built.dataPages.back()));
      std::fill(bytes.begin() + noise, bytes.begin() + noise + 512, 0);
      for (size_t i = noise + 512; i < noise + pageSize; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(seed >> 16);
      }
      ExpectRecordsBesideWipedSectors(
          bytes, OutsideWipedSectors(built, all, pageSize, wiped, noise), all, wiped.size());
    }
  }
}

// The same in 0x0600, whose map entries keep the logical page's kind in
// byte 1 ('D' for a data page): a page whose first sector was zeroed is read
// where the map puts it; the slots the zeros reached read as empty.
TEST(GeometrySectorTest, WipedHeaderPagesAreReadWhereTheMapPlacesThem) {
  for (uint16_t pageSize : {1024, 4096}) {
    SCOPED_TRACE(pageSize);
    const FixtureOptions o = Options(0x0600, pageSize, 40);
    const BuiltFile built = Build(o, 500);
    const Records all = AllRecords(built);
    std::vector<uint8_t> bytes = built.bytes;
    const uint32_t entries = pageSize / 4 - 2;
    std::set<uint32_t> data(built.dataPages.begin(), built.dataPages.end());
    for (uint32_t mapPage : built.mapPages) {
      for (uint32_t copy = 0; copy < 2; ++copy) {
        const size_t at = static_cast<size_t>(fixture::PhysicalPageOffset(o, mapPage + copy));
        for (uint32_t j = 1; j <= entries; ++j) {
          const size_t e = at + 4 + 4 * j;
          const uint32_t target = bytes[e] << 16 | bytes[e + 2] | bytes[e + 3] << 8;
          if (data.count(target) != 0) bytes[e + 1] = 'D';
        }
      }
    }
    const std::vector<uint8_t> healthy = bytes;
    std::set<uint32_t> wiped;
    for (size_t k = 0; k < built.dataPages.size(); k += 2) wiped.insert(built.dataPages[k]);
    Records kept;
    std::map<uint32_t, uint32_t> slotOnPage;
    for (size_t i = 0; i < all.size(); ++i) {
      const uint32_t page = built.recordPages[i][0];
      const uint32_t slot = 6 + built.slotLength * slotOnPage[page]++;
      if (wiped.count(page) == 0 || slot >= 512) kept.push_back(all[i]);
    }
    for (uint32_t page : wiped) {
      const size_t at = static_cast<size_t>(fixture::PhysicalPageOffset(o, page));
      std::fill(bytes.begin() + at, bytes.begin() + at + 512, 0);
    }
    {
      ScopedTempFile file(healthy);
      SalvageReport report;
      EXPECT_TRUE(SameRecords(SalvageRecords(file.path(), &report), all));
      EXPECT_EQ(report.pages.headerless, 0u);
    }
    ScopedTempFile file(bytes);
    SalvageReport report;
    const Records got = SalvageRecords(file.path(), &report);
    EXPECT_TRUE(SameRecords(got, kept));
    EXPECT_EQ(Invented(got, all), 0u);
    EXPECT_EQ(report.pages.headerless, wiped.size());
  }
}

// --- The record gate -------------------------------------------------------------

TEST(GeometryGateTest, TailPointersOutsideTheFileAndEndlessChainsAreHeldBack) {
  for (uint16_t version : {0x0600, 0x0700, 0x0800}) {
    SCOPED_TRACE(version);
    const FixtureOptions o = VariableOptions(version);
    const BuiltFile built = Build(o, 60, 40);
    const Records all = AllRecords(built);
    const uint32_t slotData = version >= 0x0800 ? 2 : 0;
    std::vector<uint8_t> bytes = built.bytes;
    // Record 3's tail pointer names a page far beyond the file.
    if (version >= 0x0800) {
      ASSERT_GT(built.recordSlots.size(), 3u);
    }
    const size_t slot3 = version >= 0x0800
                             ? built.recordSlots[3]
                             : static_cast<size_t>(fixture::PhysicalPageOffset(o, built.dataPages[0])) +
                                   6 + 3 * built.slotLength;
    const size_t pointer = slot3 + slotData + o.recordLength;
    if (version >= 0x0800) {
      fixture::PutLE32(bytes, pointer, 0x00F00000);
    } else {
      bytes[pointer] = 0x70;  // page bits 16-23
    }
    ScopedTempFile file(bytes);
    SalvageReport report;
    Records doubtful;
    RecordSinkFunction sink;
    Records got;
    sink.write = [](void* c, const uint8_t* b, uint32_t n) {
      static_cast<Records*>(c)->emplace_back(b, b + n);
    };
    sink.context = &got;
    sink.writeDoubtful = sink.write;
    sink.doubtfulContext = &doubtful;
    SalvageFile(file.path().c_str(), {}, sink, &report);
    Records expected = all;
    expected.erase(expected.begin() + 3);
    EXPECT_TRUE(SameRecords(got, expected));
    EXPECT_EQ(report.heldBack.tailOutsideFile, 1u);
    EXPECT_EQ(report.heldBack.total(), 1u);
    ASSERT_EQ(doubtful.size(), 1u);
    EXPECT_TRUE(std::equal(all[3].begin(), all[3].begin() + o.recordLength, doubtful[0].begin()));
    EXPECT_EQ(report.status, kSalvageDamaged);

    // The program: the record in the second dump, the count in the summary
    // and the report.
    ScopedTempDir dir;
    const ProcessResult r = RunProcess(
        GANDREL_PATH, {"salvage", file.path(), "-o", dir.File("x.dump"), "--keep-doubtful",
                       dir.File("doubt.dump"), "--report", dir.File("x.json")});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    const std::vector<uint8_t> second = fixture::ReadFileBytes(dir.File("doubt.dump"));
    const std::string prefix = std::to_string(doubtful[0].size()) + ",";
    ASSERT_GT(second.size(), prefix.size() + doubtful[0].size());
    EXPECT_EQ(std::string(second.begin(), second.begin() + prefix.size()), prefix);
    EXPECT_TRUE(std::equal(doubtful[0].begin(), doubtful[0].end(), second.begin() + prefix.size()));
    EXPECT_NE(r.err.find("records held back by the gate: 1"), std::string::npos) << r.err;
    const std::vector<uint8_t> json = fixture::ReadFileBytes(dir.File("x.json"));
    EXPECT_NE(std::string(json.begin(), json.end()).find("\"tailOutsideFile\":1"),
              std::string::npos);
  }
}

// A data page copied over a variable page: the map or the tables still
// lead the chains there, and the table of the page found ends them at once.
// The records whose tails lay on that page are held back as broken chains,
// never handed out as their fixed parts alone, and the copy's records come
// out once.
TEST(GeometryGateTest, ChainsLedToAPageOfAnotherKindAreBroken) {
  for (uint16_t version : {0x0600, 0x0700, 0x0800, 0x0900}) {
    SCOPED_TRACE(version);
    const FixtureOptions o = VariableOptions(version);
    const BuiltFile built = Build(o, 200, 300);
    const Records all = AllRecords(built);
    ASSERT_GE(built.variablePages.size(), 2u);
    const uint32_t lost = built.variablePages[0];
    std::vector<uint8_t> bytes = built.bytes;
    const size_t from = static_cast<size_t>(fixture::PhysicalPageOffset(o, built.dataPages[0]));
    const size_t to = static_cast<size_t>(fixture::PhysicalPageOffset(o, lost));
    std::copy(bytes.begin() + from, bytes.begin() + from + o.pageSize, bytes.begin() + to);
    Records expected;
    for (size_t r = 0; r < all.size(); ++r) {
      const std::vector<uint32_t>& pages = built.recordPages[r];
      if (std::find(pages.begin(), pages.end(), lost) == pages.end()) expected.push_back(all[r]);
    }
    ASSERT_LT(expected.size(), all.size());
    ScopedTempFile file(bytes);
    SalvageReport report;
    EXPECT_TRUE(SameRecords(SalvageRecords(file.path(), &report), expected));
    EXPECT_EQ(report.heldBack.brokenChain, all.size() - expected.size());
    EXPECT_EQ(report.status, kSalvageDamaged);
  }
}

}  // namespace

// --- Pages off the grid ------------------------------------------------------------

// Bytes inserted into or lost from the middle of a file, at a page boundary
// and inside a page: the records of every page that was not hit come back
// byte for byte, and the only records that are not the file's own lie on
// the page the damage hit.  The report says where the grid moved.
TEST(GeometryGridTest, InsertedAndLostBytesMoveTheGridAndThePagesAreFound) {
  for (uint16_t version : {0x0400, 0x0600, 0x0800, 0x0950}) {
    for (uint16_t pageSize : {1024, 4096}) {
      const FixtureOptions o = Options(version, pageSize, 60);
      const BuiltFile built = Build(o, pageSize == 1024 ? 900 : 3000);
      const Records all = AllRecords(built);
      const uint32_t slotsPerPage = pageSize / built.slotLength;
      const size_t middle = built.dataPages[built.dataPages.size() / 2];
      for (int64_t count : {512, 1024, 37, -512, -1024, -37}) {
        for (size_t within : {size_t{0}, size_t{300}}) {
          SCOPED_TRACE(std::to_string(version) + " page size " + std::to_string(pageSize) +
                       " bytes " + std::to_string(count) + " at +" + std::to_string(within));
          std::vector<uint8_t> bytes = built.bytes;
          const size_t at = middle * pageSize + within;
          if (count > 0) {
            bytes.insert(bytes.begin() + at, static_cast<size_t>(count), 0x5A);
          } else {
            bytes.erase(bytes.begin() + at, bytes.begin() + at + static_cast<size_t>(-count));
          }
          ScopedTempFile file(bytes);
          SalvageReport report;
          const Records got = SalvageRecords(file.path(), &report);
          // The page hit, and for lost bytes the pages they took along.
          const size_t hit = 1 + (count < 0 ? static_cast<size_t>(-count) / pageSize + 1 : 0);
          EXPECT_GE(got.size() + hit * slotsPerPage, all.size());
          EXPECT_LE(Invented(got, all), slotsPerPage);
          // From 0x0800 the tables and headers find pages moved by whole
          // pages without a shift of the grid.
          if (version < 0x0800 || count % pageSize != 0) {
            ASSERT_FALSE(report.geometry.gridShifts.empty());
            EXPECT_EQ(report.geometry.gridShifts.back().shift % pageSize, count % pageSize);
            EXPECT_EQ(report.status, kSalvageDamaged);
          }
        }
      }
    }
  }
}

// Bytes inserted into the free pages between the control copies and
// the allocation tables (blank, as engines leave them): the pages up to the
// tables fit no shift and the tables are no pages a shift is probed on, so
// the probe looks on behind them.  The records are those of the same file
// without the shift.
TEST(GeometryGridTest, ShiftJustBeforeTheTablesIsFoundBehindThem) {
  for (uint16_t version : {0x0800, 0x0950}) {
    for (uint16_t pageSize : {1024, 4096}) {
      const FixtureOptions o = Options(version, pageSize, 60);
      const BuiltFile built = Build(o, 900);
      const Records all = AllRecords(built);
      const size_t firstTable = 4 * built.controlCopyBytes / pageSize;
      std::vector<uint8_t> blank = built.bytes;
      std::fill(blank.begin() + firstTable / 2 * pageSize, blank.begin() + firstTable * pageSize, 0);
      ScopedTempFile blankFile(blank);
      SalvageReport blankReport;
      const Records expected = SalvageRecords(blankFile.path(), &blankReport);
      ASSERT_GT(expected.size(), 0u);
      for (int64_t count : {512, 37}) {
        SCOPED_TRACE(std::to_string(version) + " page size " + std::to_string(pageSize) +
                     " bytes " + std::to_string(count));
        std::vector<uint8_t> bytes = blank;
        const size_t at = firstTable / 2 * pageSize + 100;
        bytes.insert(bytes.begin() + at, static_cast<size_t>(count), 0x5A);
        ScopedTempFile file(bytes);
        SalvageReport report;
        const Records got = SalvageRecords(file.path(), &report);
        EXPECT_TRUE(SameRecords(got, expected));
        EXPECT_EQ(Invented(got, all), 0u);
        ASSERT_FALSE(report.geometry.gridShifts.empty());
        EXPECT_LE(report.geometry.gridShifts[0].fromPage, firstTable);
      }
    }
  }
}

// The same near the end of a small file: after the damage only one or two
// pages are left, fewer than a shift needs to stand out elsewhere, and
// record bytes fit a header at some shift or other.  The one shift that
// puts the end of the file back on the grid is taken; and a last data page
// cut short by lost bytes gives the slots that lie whole in it.  Whether
// the bytes went in or out inside the page before the shift or at its end,
// nothing in its records tells (random bytes), nor in the slot words of
// its last slot: its records are held back, none handed out moved.
TEST(GeometryGridTest, InsertedAndLostBytesNearTheEndOfASmallFile) {
  for (uint16_t version : {0x0400, 0x0800, 0x0950}) {
    const FixtureOptions o = Options(version, 4096, 60);
    const BuiltFile built = Build(o, 120);
    const Records all = AllRecords(built);
    const size_t last = built.dataPages.back();
    for (int64_t count : {1024, 37, -512}) {
      SCOPED_TRACE(std::to_string(version) + " bytes " + std::to_string(count));
      std::vector<uint8_t> bytes = built.bytes;
      const size_t at = last * o.pageSize - (count < 0 ? 512 : 0);
      if (count > 0) bytes.insert(bytes.begin() + at, static_cast<size_t>(count), 0x5A);
      else bytes.erase(bytes.begin() + at, bytes.begin() + at + 512);
      ScopedTempFile file(bytes);
      SalvageReport report;
      Records doubtful;
      const Records got = SalvageRecords(file.path(), &report, {}, true, &doubtful);
      ASSERT_FALSE(report.geometry.gridShifts.empty());
      EXPECT_EQ(report.geometry.gridShifts.back().shift, count);
      EXPECT_EQ(Invented(got, all), 0u);
      EXPECT_EQ(report.heldBack.movedByShift, doubtful.size());
      // From 0x0800 the page whose end was lost fails the slot check (its
      // last slots hold the next page's header) and is skipped whole.
      EXPECT_EQ(doubtful.empty(), count < 0 && version >= 0x0800);
      // Lost bytes took the last slots of the page before.
      const size_t slotsPerPage = o.pageSize / built.slotLength;
      EXPECT_GE(got.size() + doubtful.size() + (count < 0 ? slotsPerPage : 0), all.size());
    }
    // The file cut inside its last data page: before 0x0800 nothing could
    // show slots moved by bytes lost inside it, and here the tables lie
    // after the data and are cut off with it, so no table names it: the
    // page is not read (SalvagePageTest.CutFileWithPagesOutOfLogicalOrder
    // reads one a table names).
    std::vector<uint8_t> cut = built.bytes;
    cut.resize(last * o.pageSize + o.pageSize / 2);
    ScopedTempFile file(cut);
    SalvageReport report;
    const Records got = SalvageRecords(file.path(), &report);
    EXPECT_EQ(Invented(got, all), 0u);
    size_t before = 0;
    for (size_t i = 0; i < all.size(); ++i) before += built.recordPages[i][0] != last;
    EXPECT_EQ(got.size(), before);
  }
}

namespace {

// Half a page inserted at a page boundary of a file some of whose data
// pages the tables do not name (their entries point past the end): a shift
// of half a page either way reads the same headers, one page apart, and the
// unnamed pages fit both.  Only the true one finds the named pages where the
// tables name them, and that decides it: every record comes back, those of
// the page before the shift held back (nothing in its random records shows
// that the bytes went in at its end rather than inside it).
TEST(GeometryGridTest, HalfAPageInsertedIsToldFromItsNeighbourShiftByTheTables) {
  for (uint16_t pageSize : {1024, 2048}) {
    SCOPED_TRACE(pageSize);
    const FixtureOptions o = Options(0x0800, pageSize, 60);
    const BuiltFile built = Build(o, pageSize == 1024 ? 900 : 1800);
    const Records all = AllRecords(built);
    const size_t half = built.dataPages.size() / 2;
    const uint32_t middle = built.dataPages[half];
    std::vector<uint8_t> bytes = built.bytes;
    // Every other data page from the middle on: its table entries (u32
    // physical page, 'D', 0) in both table copies name a page past the end.
    const std::set<uint32_t> pages(built.dataPages.begin(), built.dataPages.end());
    for (size_t d = half + 1; d < built.dataPages.size(); d += 2) {
      const uint32_t q = built.dataPages[d];
      const uint8_t entry[6] = {static_cast<uint8_t>(q), static_cast<uint8_t>(q >> 8),
                                static_cast<uint8_t>(q >> 16), static_cast<uint8_t>(q >> 24),
                                'D', 0};
      for (size_t at = 0; at + 6 <= bytes.size(); ++at) {
        if (pages.count(static_cast<uint32_t>(at / pageSize)) > 0) continue;
        if (std::equal(entry, entry + 6, bytes.begin() + at)) bytes[at + 2] = 0xF0;
      }
    }
    bytes.insert(bytes.begin() + static_cast<int64_t>(middle) * pageSize, pageSize / 2, 0x5A);
    ScopedTempFile file(bytes);
    SalvageReport report;
    Records doubtful;
    const Records got = SalvageRecords(file.path(), &report, {}, true, &doubtful);
    ASSERT_FALSE(report.geometry.gridShifts.empty());
    EXPECT_EQ(report.geometry.gridShifts[0].shift, pageSize / 2);
    EXPECT_EQ(Invented(got, all), 0u);
    EXPECT_EQ(Invented(doubtful, all), 0u);
    EXPECT_EQ(got.size() + doubtful.size(), all.size());
  }
}

}  // namespace

namespace {

// Bytes inserted inside a data page move its later slots: where the slots
// keep duplicate pointers, those slots show it (their pointers are none),
// and only the slots before them are read; the moved ones are neither
// handed out nor invented.
// Inserted at the page's start, the page before is whole and walked.
TEST(GeometryGridTest, PageTheInsertRunsThroughIsSkippedWhereItsPointersShowIt) {
  for (uint16_t version : {0x0400, 0x0800}) {
    for (size_t within : {size_t{0}, size_t{300}}) {
      SCOPED_TRACE(std::to_string(version) + " at +" + std::to_string(within));
      FixtureOptions o = Options(version, 1024, 60);
      if (version < 0x0800) o.slotLength = 68;  // the record and one pair
      else o.duplicatePairs = 1;
      const BuiltFile built = Build(o, 900);
      const Records all = AllRecords(built);
      const uint32_t middle = built.dataPages[built.dataPages.size() / 2];
      std::vector<uint8_t> bytes = built.bytes;
      const size_t at = PhysicalPageOffset(o, middle) + within;
      bytes.insert(bytes.begin() + static_cast<int64_t>(at), 37, 0x5A);
      ScopedTempFile file(bytes);
      SalvageReport report;
      const Records got = SalvageRecords(file.path(), &report);
      ASSERT_FALSE(report.geometry.gridShifts.empty());
      // Before 0x0800 the slots before the one the bytes went into, but
      // one, are read; from 0x0800 the slot words have the page skipped.
      Records expected;
      for (size_t i = 0; i < all.size(); ++i) {
        const bool before = version < 0x0800 &&
                            built.recordSlots[i] + 2 * built.slotLength <= at;
        if (within == 0 || built.recordPages[i][0] != middle || before) {
          expected.push_back(all[i]);
        }
      }
      EXPECT_TRUE(SameRecords(got, expected));
      // Listed as skipped; from 0x0800 its slot words alone already show it.
      bool listed = false;
      for (const SkippedPage& p : report.skippedPages) {
        listed = listed || (p.offset == static_cast<int64_t>(PhysicalPageOffset(o, middle)) &&
                            (version >= 0x0800 ||
                             p.reason.find("moved its slots") != std::string::npos));
      }
      EXPECT_EQ(listed, within != 0);
    }
  }
}

// Without duplicate pointers the records themselves show the move, where
// they share a layout (a currency code, zero high bytes, a blank tail): the
// slots before the moved ones are read and the rest held back.  Records of
// random bytes show nothing, and the page's records are held back whole;
// inserted at the page's start, records with a layout show that nothing
// moved.  No record is invented either way.
TEST(GeometryGridTest, RecordsThatShareALayoutShowWhereInsertedBytesMovedTheSlots) {
  uint32_t seed = 5;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  std::vector<fixture::FixtureRecord> laidOut(900);
  for (size_t i = 0; i < laidOut.size(); ++i) {
    std::vector<uint8_t>& r = laidOut[i].fixed;
    r.assign(60, ' ');
    for (size_t k = 0; k < 4; ++k) r[k] = static_cast<uint8_t>((i + 1) >> (8 * k));
    for (size_t k = 4; k < 12; ++k) r[k] = static_cast<uint8_t>('A' + next() % 26);
    std::copy_n(",EUR", 4, r.begin() + 12);
    for (size_t k = 16; k < 24; ++k) r[k] = static_cast<uint8_t>('0' + next() % 10);
    std::fill_n(r.begin() + 24, 4, 0);
    for (size_t k = 28; k < 40; ++k) r[k] = static_cast<uint8_t>('!' + next() % 90);
    r[50] = '|';
    r[59] = 0;
  }
  const FixtureOptions o = Options(0x0400, 1024, 60);
  const BuiltFile layouts = fixture::BuildDataFile(o, laidOut);
  const BuiltFile randoms = Build(o, 900);
  for (const BuiltFile* built : {&layouts, &randoms}) {
    for (size_t within : {size_t{0}, size_t{300}}) {
      const bool laid = built == &layouts;
      SCOPED_TRACE(std::string(laid ? "laid out" : "random") + " at +" + std::to_string(within));
      const Records all = AllRecords(*built);
      const uint32_t middle = built->dataPages[built->dataPages.size() / 2];
      std::vector<uint8_t> bytes = built->bytes;
      const size_t at = PhysicalPageOffset(o, middle) + within;
      bytes.insert(bytes.begin() + static_cast<int64_t>(at), 37, 0x5A);
      ScopedTempFile file(bytes);
      SalvageReport report;
      Records doubtful;
      const Records got = SalvageRecords(file.path(), &report, {}, true, &doubtful);
      ASSERT_FALSE(report.geometry.gridShifts.empty());
      EXPECT_EQ(Invented(got, all), 0u);
      EXPECT_EQ(report.heldBack.movedByShift, doubtful.size());
      // The records that must come out: all but those of the page the
      // bytes went into, and there those that end a slot before them.
      Records expected;
      size_t onPage = 0;
      for (size_t i = 0; i < all.size(); ++i) {
        const bool here = built->recordPages[i][0] == middle;
        onPage += here;
        if (within == 0 || !here ||
            (laid && built->recordSlots[i] + 2 * built->slotLength <= at)) {
          expected.push_back(all[i]);
        }
      }
      if (laid) {
        EXPECT_EQ(Invented(expected, got), 0u);
        EXPECT_LE(got.size(), expected.size() + 1);
        EXPECT_EQ(doubtful.empty(), within == 0);
      } else if (within != 0) {
        EXPECT_TRUE(SameRecords(got, expected));
        EXPECT_GE(doubtful.size(), onPage);
      } else {
        // The page before the shift shows nothing either: held back.
        EXPECT_EQ(got.size() + doubtful.size(), all.size());
        EXPECT_EQ(Invented(doubtful, all), 0u);
      }
    }
  }
}

}  // namespace

namespace {

// Bytes inserted inside a variable page move its later fragments and the
// fragment table at its end: no chain is read through it (before 0x0600 a
// chain names the page by its place, from 0x0600 the map names it), so the
// records with a fragment there are held back, not handed out with the
// moved bytes as their tail.
TEST(GeometryGridTest, VariablePageTheInsertRunsThroughIsNotReadByChains) {
  for (uint16_t version : {0x0400, 0x0600}) {
    SCOPED_TRACE(version);
    FixtureOptions o = Options(version, 1024, 40);
    o.variableLength = true;
    const BuiltFile built = Build(o, 300, 900);
    const Records all = AllRecords(built);
    ASSERT_GE(built.variablePages.size(), 4u);
    const uint32_t damaged = built.variablePages[built.variablePages.size() / 2];
    std::vector<uint8_t> bytes = built.bytes;
    const size_t at = PhysicalPageOffset(o, damaged) + 300;
    bytes.insert(bytes.begin() + static_cast<int64_t>(at), 37, 0x5A);
    ScopedTempFile file(bytes);
    SalvageReport report;
    const Records got = SalvageRecords(file.path(), &report);
    ASSERT_FALSE(report.geometry.gridShifts.empty());
    EXPECT_EQ(Invented(got, all), 0u);
    Records untouched;
    for (size_t i = 0; i < all.size(); ++i) {
      const std::vector<uint32_t>& pages = built.recordPages[i];
      if (std::find(pages.begin(), pages.end(), damaged) == pages.end()) {
        untouched.push_back(all[i]);
      }
    }
    EXPECT_EQ(Invented(untouched, got), 0u);
    EXPECT_GT(report.heldBack.brokenChain, 0u);
  }
}

// Before 0x0600 a page is found by the number it carries.  Bytes that read
// as the number of the page before (as fragment pointers do) at the same
// place in every page make a second shift fit the pages as well as the true
// one; the end of the file, off the grid by the bytes lost, tells them apart.
TEST(GeometryGridTest, FileEndDecidesBetweenShiftsThatFitAlike) {
  const FixtureOptions o = Options(0x0400, 512, 40);
  const BuiltFile built = Build(o, 900);
  std::vector<uint8_t> bytes = built.bytes;
  for (uint32_t q : built.dataPages) {
    const size_t at = PhysicalPageOffset(o, q) + 11;
    bytes[at] = 0;
    bytes[at + 1] = 0x77;
    bytes[at + 2] = static_cast<uint8_t>((q - 1) & 0xFF);
    bytes[at + 3] = static_cast<uint8_t>((q - 1) >> 8);
  }
  const Records all = [&] {
    ScopedTempFile whole(bytes);
    return ReaderRecords(whole.path());
  }();
  const uint32_t middle = built.dataPages[built.dataPages.size() / 2];
  const size_t from = PhysicalPageOffset(o, middle) + 170;
  for (size_t lost : {size_t{1024}, size_t{37}}) {
    SCOPED_TRACE(lost);
    std::vector<uint8_t> damaged = bytes;
    damaged.erase(damaged.begin() + static_cast<int64_t>(from),
                  damaged.begin() + static_cast<int64_t>(from + lost));
    ScopedTempFile file(damaged);
    SalvageReport report;
    const Records got = SalvageRecords(file.path(), &report);
    ASSERT_FALSE(report.geometry.gridShifts.empty());
    EXPECT_EQ(report.geometry.gridShifts.back().shift, -static_cast<int64_t>(lost));
    // The pages hit: the one the bytes were lost from and those they took.
    const size_t slotsPerPage = (o.pageSize - 6) / built.slotLength;
    EXPECT_GE(got.size() + (lost / o.pageSize + 2) * slotsPerPage, all.size());
    // Only on the page the bytes were lost from (no pointers show it here).
    EXPECT_LE(Invented(got, all), slotsPerPage);
  }
}

}  // namespace
