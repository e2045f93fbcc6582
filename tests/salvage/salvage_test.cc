// Salvage on files made by the fixture writer: healthy files of every
// version give exactly the reader's records; damaged ones give every record
// whose pages are intact, and the report names what was lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>

#include "reader/datafile.h"
#include "tests/fixture/fixture_v8.h"
#include "tests/salvage/salvage_test_util.h"

namespace {

using fixture::BuiltFile;
using fixture::FixtureOptions;
using fixture::ScopedTempFile;

BuiltFile Build(const FixtureOptions& o, uint32_t count, uint32_t variableBytes = 0) {
  return BuildFixtureFile(o, count, variableBytes, 7);
}

// The reader's records of the undamaged file, minus those with a byte on
// one of `lost` physical pages.
Records ExpectedWithout(const BuiltFile& built, const std::set<uint32_t>& lost) {
  ScopedTempFile file(built.bytes);
  const Records all = ReaderRecords(file.path());
  Records kept;
  for (size_t i = 0; i < all.size(); ++i) {
    bool hit = false;
    for (uint32_t page : built.recordPages[i]) hit = hit || lost.count(page) > 0;
    if (!hit) kept.push_back(all[i]);
  }
  return kept;
}

size_t PageStart(const FixtureOptions& o, uint32_t physical) {
  return static_cast<size_t>(fixture::PhysicalPageOffset(o, physical));
}

// --- Healthy files -------------------------------------------------------------

TEST(SalvageHealthyTest, EveryVersionGivesTheReadersRecordsAndNoDamage) {
  for (const NamedOptions& row : HealthyFileTable()) {
    for (uint32_t count : {0u, 1u, 150u}) {
      SCOPED_TRACE(std::string(row.name) + " version " + std::to_string(row.options.version) +
                   " records " + std::to_string(count));
      const BuiltFile built = Build(row.options, count, 90);
      ScopedTempFile file(built.bytes);
      SalvageReport report;
      const Records got = SalvageRecords(file.path(), &report);
      EXPECT_TRUE(SameRecords(got, ReaderRecords(file.path())));
      EXPECT_EQ(got.size(), count);
      EXPECT_EQ(report.status, kSalvageHealthy) << report.error;
      EXPECT_TRUE(report.skippedPages.empty());
      EXPECT_TRUE(report.brokenChains.empty());
      EXPECT_EQ(report.geometry.pageSizeSource, report.geometry.chosenCopy == 1
                                                    ? ValueSource::ControlCopy1
                                                    : ValueSource::ControlCopy2);
    }
  }
}

// Records deleted here and there leave runs of used slots of every length:
// handed out a run at a time or one by one, they are the reader's records.
TEST(SalvageHealthyTest, DeletedRecordsBetweenUsedSlotsGiveTheReadersRecords) {
  for (uint16_t version : {0x0300, 0x0400, 0x0500, 0x0600, 0x0700, 0x0800, 0x0900}) {
    SCOPED_TRACE("version " + std::to_string(version));
    FixtureOptions o;
    o.version = version;
    BuiltFile built = Build(o, 300);
    ScopedTempFile healthy(built.bytes);
    SalvageReport report;
    SalvageRecords(healthy.path(), &report);
    const uint32_t header = report.geometry.layout->dataPageHeaderSize;
    const uint32_t perPage = SlotsPerPage(report.geometry);
    ASSERT_GT(perPage, 3u);
    uint32_t deleted = 0;
    for (size_t p = 0; p < built.dataPages.size(); ++p) {
      for (uint32_t s = 0; s < perPage; ++s) {
        // The first, the last, single slots and runs of two between them.
        const bool zero = (p % 3 == 0 && s == 0) || (p % 3 == 1 && s == perPage - 1) ||
                          (s * 7 + p) % 5 == 0 || (p % 4 == 2 && s >= 2 && s < 4);
        if (!zero) continue;
        const size_t at = PageStart(o, built.dataPages[p]) + header + s * built.slotLength;
        std::fill(built.bytes.begin() + at, built.bytes.begin() + at + built.slotLength, 0);
        ++deleted;
      }
    }
    ScopedTempFile file(built.bytes);
    const Records expected = ReaderRecords(file.path());
    ASSERT_GT(deleted, 20u);
    ASSERT_LT(expected.size(), 300u - 20u);
    EXPECT_TRUE(SameRecords(SalvageRecords(file.path(), &report), expected));
    EXPECT_TRUE(
        SameRecords(SalvageRecords(file.path(), &report, {}, true, nullptr, false), expected));
  }
}

// --- Control page damage -------------------------------------------------------

struct FieldDamage {
  const char* name;
  size_t offset;  // in copy 1; SIZE_MAX: the whole copy zeroed
  uint8_t bytes[2];
  int onlyClass;  // 0: every version; 2 or 3: only the field's class
};

TEST(SalvageControlTest, DamagedCopyOneIsReplacedByCopyTwo) {
  const FieldDamage damages[] = {
      {"zeroed", SIZE_MAX, {0, 0}, 0},
      {"version", 74, {0x34, 0x12}, 0},
      {"page size", 8, {0xBC, 0x02}, 2},      // 700
      {"page size 1024", 8, {0x00, 0x04}, 2}, // allowed, but not the file's
      {"page size byte", 43, {3, 0}, 3},      // 768
      {"page size byte 1024", 43, {4, 0}, 3},
      {"record length", 22, {0xFF, 0xFF}, 0},
  };
  for (uint16_t version : {0x0600, 0x0700, 0x0800}) {
    FixtureOptions o;
    o.version = version;
    o.fcLayout = true;
    o.recordLength = 30;
    o.copy1Counter = 5;  // copy 1 is the current one until it is damaged
    o.copy2Counter = 4;
    const BuiltFile built = Build(o, 80);
    const Records expected = ExpectedWithout(built, {});
    const size_t copyBytes = version >= 0x0800 ? built.controlCopyBytes : o.pageSize;
    for (const FieldDamage& d : damages) {
      if (d.onlyClass != 0 && d.onlyClass != (version >= 0x0800 ? 3 : 2)) continue;
      SCOPED_TRACE(std::string(d.name) + " version " + std::to_string(version));
      std::vector<uint8_t> bytes = built.bytes;
      if (d.offset == SIZE_MAX) {
        std::fill(bytes.begin(), bytes.begin() + copyBytes, 0);
      } else {
        bytes[d.offset] = d.bytes[0];
        bytes[d.offset + 1] = d.bytes[1];
      }
      ScopedTempFile file(bytes);
      SalvageReport report;
      EXPECT_TRUE(SameRecords(SalvageRecords(file.path(), &report), expected));
      EXPECT_EQ(report.geometry.chosenCopy, 2);
      EXPECT_FALSE(report.geometry.copies[0].sound);
      EXPECT_EQ(report.status, kSalvageDamaged);
      EXPECT_FALSE(report.notes.empty());
    }
  }
}

TEST(SalvageControlTest, LostControlPagesAreInferredOrGiven) {
  for (uint16_t version : {0x0400, 0x0500, 0x0600, 0x0700, 0x0800}) {
    SCOPED_TRACE(version);
    FixtureOptions o;
    o.version = version;
    o.fcLayout = version == 0x0600;
    o.recordLength = 48;
    o.pageSize = 1024;
    o.compressed = version >= 0x0800;
    const BuiltFile built = Build(o, 200);
    const Records expected = ExpectedWithout(built, {});
    // 0x0300-0x0500 keep one copy; from 0x0600 on both are destroyed.
    std::vector<uint8_t> bytes = built.bytes;
    const size_t lost = version >= 0x0800   ? 2 * built.controlCopyBytes
                        : version >= 0x0600 ? 2 * o.pageSize
                                            : o.pageSize;
    std::fill(bytes.begin(), bytes.begin() + lost, 0);
    ScopedTempFile file(bytes);

    SalvageReport inferred;
    EXPECT_TRUE(SameRecords(SalvageRecords(file.path(), &inferred), expected));
    EXPECT_EQ(inferred.geometry.pageSize, 1024u);
    EXPECT_EQ(inferred.geometry.pageSizeSource, ValueSource::Inferred);
    EXPECT_EQ(inferred.geometry.versionSource, ValueSource::Inferred);
    EXPECT_EQ(inferred.geometry.slotLengthSource, ValueSource::Inferred);
    EXPECT_FALSE(inferred.geometry.recordCountKnown);
    EXPECT_EQ(inferred.status, kSalvageDamaged);

    GeometryOverrides given;
    given.pageSize = 1024;
    given.version = version;
    if (version < 0x0800) given.recordLength = 48;
    SalvageReport report;
    EXPECT_TRUE(SameRecords(SalvageRecords(file.path(), &report, given), expected));
    EXPECT_EQ(report.geometry.pageSizeSource, ValueSource::CommandLine);
    EXPECT_EQ(report.geometry.versionSource, ValueSource::CommandLine);
    EXPECT_EQ(report.geometry.version, version);
  }
}

TEST(SalvageControlTest, WrongRecordCountStillGivesEveryRecord) {
  for (uint16_t version : {0x0400, 0x0600, 0x0800}) {
    for (int64_t delta : {-5, 5}) {
      SCOPED_TRACE(std::to_string(version) + " " + std::to_string(delta));
      FixtureOptions o;
      o.version = version;
      o.copy1RecordCount = 60 + delta;
      o.copy2RecordCount = 60 + delta;
      const BuiltFile built = Build(o, 60);
      ScopedTempFile file(built.bytes);
      SalvageReport report;
      EXPECT_EQ(SalvageRecords(file.path(), &report).size(), 60u);
      EXPECT_EQ(report.geometry.recordCount, static_cast<uint32_t>(60 + delta));
      EXPECT_EQ(report.status, kSalvageDamaged);
    }
  }
}

// An owner mode that asks for encryption is a claim: over pages in clear
// every record comes out, over pages that read as noise nothing does.
// 0x0950 tables whose other copy is newer than the active control page: a
// change never committed, passed over in silence while both control copies
// are sound; with one of them destroyed the report says the salvaged state
// may be the one before a committed change.
bool HasUncertainCommitNote(const SalvageReport& report) {
  for (const std::string& note : report.notes) {
    if (note.find("taken as a change never committed") != std::string::npos) return true;
  }
  return false;
}

TEST(SalvageControlTest, NewerTablesPassedOverAreNotedWhenAControlCopyIsLost) {
  FixtureOptions o;
  o.version = 0x0950;
  o.pageSize = 4096;
  o.recordLength = 40;
  o.staleCopies = true;
  o.uncommittedTable = true;
  BuiltFile built = Build(o, 60);
  ScopedTempFile healthy(built.bytes);
  SalvageReport report;
  const Records expected = ReaderRecords(healthy.path());
  EXPECT_TRUE(SameRecords(SalvageRecords(healthy.path(), &report), expected));
  EXPECT_FALSE(HasUncertainCommitNote(report));
  std::fill(built.bytes.begin(), built.bytes.begin() + o.pageSize, 0);  // copy 1
  ScopedTempFile damaged(built.bytes);
  EXPECT_TRUE(SameRecords(SalvageRecords(damaged.path(), &report), expected));
  EXPECT_TRUE(HasUncertainCommitNote(report));
}

TEST(SalvageControlTest, OwnerEncryptionIsDecidedByThePages) {
  for (uint16_t version : {0x0400, 0x0600, 0x0800, 0x0950}) {
    for (uint8_t mode : {0x02, 0x03}) {
      SCOPED_TRACE(std::to_string(version) + " mode " + std::to_string(mode));
      FixtureOptions o;
      o.version = version;
      o.negativeVersion = true;
      o.ownerMode = mode;
      const BuiltFile built = Build(o, 60);
      ScopedTempFile clear(built.bytes);
      SalvageReport report;
      EXPECT_TRUE(SameRecords(SalvageRecords(clear.path(), &report), ReaderRecords(clear.path())));
      EXPECT_EQ(report.recordsSalvaged, 60u);
      std::vector<uint8_t> bytes = built.bytes;
      const size_t second = version >= 0x0800 ? built.controlCopyBytes : o.pageSize;
      fixture::ScramblePages(bytes, version >= 0x0600 ? 2 * second : o.pageSize, mode);
      ScopedTempFile encrypted(bytes);
      SalvageReport refused;
      EXPECT_TRUE(SalvageRecords(encrypted.path(), &refused).empty());
      EXPECT_NE(refused.geometry.problem.find("encrypted"), std::string::npos)
          << refused.geometry.problem;
    }
  }
}

// --- Page damage -----------------------------------------------------------------

TEST(SalvagePageTest, ZeroedOrRandomDataPageLosesOnlyItsRecords) {
  std::mt19937 random(20261208);
  for (uint16_t version : {0x0300, 0x0400, 0x0600, 0x0700, 0x0800, 0x0950}) {
    for (bool noise : {false, true}) {
      SCOPED_TRACE(std::to_string(version) + (noise ? " random" : " zeroed"));
      FixtureOptions o;
      o.version = version;
      o.recordLength = 40;
      const BuiltFile built = Build(o, 120);
      ASSERT_GE(built.dataPages.size(), 3u);
      const uint32_t victim = built.dataPages[1];
      std::vector<uint8_t> bytes = built.bytes;
      for (size_t i = 0; i < o.pageSize; ++i) {
        bytes[PageStart(o, victim) + i] = noise ? static_cast<uint8_t>(random()) : 0;
      }
      ScopedTempFile file(bytes);
      SalvageReport report;
      EXPECT_TRUE(SameRecords(SalvageRecords(file.path(), &report), ExpectedWithout(built, {victim})));
      EXPECT_EQ(report.status, kSalvageDamaged);
      if (version >= 0x0800) {
        // The allocation table knew the page: the report names it.
        ASSERT_EQ(report.skippedPages.size(), 1u);
        EXPECT_EQ(report.skippedPages[0].offset, static_cast<int64_t>(PageStart(o, victim)));
      }
    }
  }
}

TEST(SalvagePageTest, ZeroedCurrentMapCopyFallsBackToTheOther) {
  for (uint16_t version : {0x0600, 0x0800, 0x0950}) {
    SCOPED_TRACE(version);
    FixtureOptions o;
    o.version = version;
    o.staleCopies = version >= 0x0800;
    const BuiltFile built = Build(o, 150);
    const Records expected = ExpectedWithout(built, {});
    std::vector<uint8_t> bytes = built.bytes;
    // The current copy: 0x0600 the second of the pair; 0x0800 copy B.
    const size_t copyBytes = version >= 0x0800 ? built.controlCopyBytes : o.pageSize;
    const size_t current = PageStart(o, built.mapPages[0]) + copyBytes;
    std::fill(bytes.begin() + current, bytes.begin() + current + copyBytes, 0);
    ScopedTempFile file(bytes);
    SalvageReport report;
    EXPECT_TRUE(SameRecords(SalvageRecords(file.path(), &report), expected));
  }
}

TEST(SalvagePageTest, CutFileGivesTheRecordsBeforeTheCut) {
  for (uint16_t version : {0x0400, 0x0610, 0x0800}) {
    FixtureOptions o;
    o.version = version;
    o.variableLength = true;
    o.maxFragmentData = 50;
    o.staleCopies = version >= 0x0800;
    const BuiltFile built = Build(o, 90, 120);
    for (size_t k = 1; k < built.dataPages.size(); ++k) {
      const uint32_t cutPage = built.dataPages[k];
      SCOPED_TRACE(std::to_string(version) + " cut in page " + std::to_string(cutPage));
      std::vector<uint8_t> bytes = built.bytes;
      bytes.resize(PageStart(o, cutPage) + o.pageSize / 2);
      std::set<uint32_t> lost;
      for (uint32_t p = cutPage; p < built.bytes.size() / o.pageSize + 2; ++p) lost.insert(p);
      ScopedTempFile file(bytes);
      SalvageReport report;
      const Records got = SalvageRecords(file.path(), &report);
      const Records expected = ExpectedWithout(built, lost);
      // Records wholly before the cut come back first and unchanged; others
      // may follow only whole, never as garbage.
      ASSERT_GE(got.size(), expected.size());
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin()));
      // Records whose chains the cut broke are held back: with none whole,
      // nothing came out.
      EXPECT_EQ(report.status, got.empty() ? kSalvageNothing : kSalvageDamaged);
      EXPECT_FALSE(report.skippedPages.empty());
    }
  }
}

TEST(SalvagePageTest, CutFileWithPagesOutOfLogicalOrder) {
  // The first and last data pages trade places on disk (the allocation
  // tables follow), then the file is cut inside the page that now holds
  // the first logical data page.
  FixtureOptions o;
  o.version = 0x0800;
  const BuiltFile built = Build(o, 200);
  ASSERT_GE(built.dataPages.size(), 4u);
  const uint32_t a = built.dataPages.front();
  const uint32_t b = built.dataPages.back();
  std::vector<uint8_t> bytes = built.bytes;
  std::swap_ranges(bytes.begin() + PageStart(o, a), bytes.begin() + PageStart(o, a) + o.pageSize,
                   bytes.begin() + PageStart(o, b));
  for (int copy = 0; copy < 2; ++copy) {
    fixture::PutLE32(bytes, fixture::V8TableEntryOffset(o.pageSize, built.dataPageNumbers.front(), copy), b);
    fixture::PutLE32(bytes, fixture::V8TableEntryOffset(o.pageSize, built.dataPageNumbers.back(), copy), a);
  }
  {
    ScopedTempFile swapped(bytes);
    SalvageReport report;
    EXPECT_TRUE(SameRecords(SalvageRecords(swapped.path(), &report), ExpectedWithout(built, {})));
    EXPECT_EQ(report.status, kSalvageHealthy);
  }
  bytes.resize(PageStart(o, b) + o.pageSize / 2);
  ScopedTempFile file(bytes);
  SalvageReport report;
  // Lost: the slots of the first logical data page (now cut) that do not
  // lie whole in its first half, and nothing else.
  const Records all = ExpectedWithout(built, {});
  Records expected;
  for (size_t i = 0; i < all.size(); ++i) {
    const size_t inPage = built.recordSlots[i] - PageStart(o, a);
    if (built.recordPages[i][0] != a || inPage + built.slotLength <= o.pageSize / 2) {
      expected.push_back(all[i]);
    }
  }
  EXPECT_LT(expected.size(), built.records.size());
  EXPECT_GT(expected.size(), ExpectedWithout(built, {a}).size());
  EXPECT_TRUE(SameRecords(SalvageRecords(file.path(), &report), expected));
  EXPECT_EQ(report.status, kSalvageDamaged);
  ASSERT_FALSE(report.skippedPages.empty());
  EXPECT_EQ(report.skippedPages.back().offset, static_cast<int64_t>(PageStart(o, b)));
}

TEST(SalvagePageTest, LostVariablePageBreaksOnlyItsChains) {
  for (uint16_t version : {0x0500, 0x0700, 0x0800, 0x0950}) {
    for (bool compressed : {false, true}) {
      if (compressed && version < 0x0800) continue;
      SCOPED_TRACE(std::to_string(version) + (compressed ? " compressed" : ""));
      FixtureOptions o;
      o.version = version;
      o.variableLength = !compressed;
      o.compressed = compressed;
      o.maxFragmentData = 60;
      const BuiltFile built = Build(o, 40, 200);
      ASSERT_FALSE(built.variablePages.empty());
      const uint32_t victim = built.variablePages[0];
      std::vector<uint8_t> bytes = built.bytes;
      std::fill(bytes.begin() + PageStart(o, victim),
                bytes.begin() + PageStart(o, victim) + o.pageSize, 0);
      ScopedTempFile file(bytes);
      SalvageReport report;
      const Records got = SalvageRecords(file.path(), &report);
      ScopedTempFile whole(built.bytes);
      const Records all = ReaderRecords(whole.path());
      // Every whole record comes back; a record whose chain lost its page
      // is held back (never handed out in part) and listed.
      size_t broken = 0;
      size_t next = 0;
      for (size_t i = 0; i < all.size(); ++i) {
        const auto& pages = built.recordPages[i];
        if (std::find(pages.begin(), pages.end(), victim) == pages.end()) {
          ASSERT_LT(next, got.size());
          EXPECT_EQ(got[next++], all[i]) << "record " << i;
          continue;
        }
        ++broken;
        ASSERT_LT(broken - 1, report.brokenChains.size());
        EXPECT_EQ(report.brokenChains[broken - 1].recordNumber, next + 1);
      }
      EXPECT_EQ(next, got.size());
      EXPECT_GT(broken, 0u);
      EXPECT_EQ(report.brokenChains.size(), broken);
      EXPECT_EQ(report.heldBack.brokenChain, broken);
      EXPECT_EQ(report.status, kSalvageDamaged);
    }
  }
}

TEST(SalvagePageTest, ByteNoiseInSlotsNeverLosesOtherPages) {
  std::mt19937 random(424242);
  for (uint16_t version : {0x0300, 0x0600, 0x0800}) {
    FixtureOptions o;
    o.version = version;
    o.recordLength = 24;
    const BuiltFile built = Build(o, 100);
    for (int round = 0; round < 30; ++round) {
      std::vector<uint8_t> bytes = built.bytes;
      std::set<uint32_t> touched;
      for (int n = 0; n < 8; ++n) {
        const uint32_t page = built.dataPages[random() % built.dataPages.size()];
        touched.insert(page);
        bytes[PageStart(o, page) + random() % o.pageSize] = static_cast<uint8_t>(random());
      }
      SCOPED_TRACE(std::to_string(version) + " round " + std::to_string(round));
      ScopedTempFile file(bytes);
      SalvageReport report;
      const Records got = SalvageRecords(file.path(), &report);
      // Every record of an untouched page is there, in order.
      const Records kept = ExpectedWithout(built, touched);
      size_t at = 0;
      for (const auto& record : got) {
        if (at < kept.size() && record == kept[at]) ++at;
      }
      EXPECT_EQ(at, kept.size());
    }
  }
}

TEST(SalvagePageTest, NoiseAnywhereNeverCrashesOrHangs) {
  std::mt19937 random(77);
  for (const NamedOptions& row : HealthyFileTable()) {
    const BuiltFile built = Build(row.options, 60, 150);
    for (int round = 0; round < 20; ++round) {
      std::vector<uint8_t> bytes = built.bytes;
      const int hits = 1 + static_cast<int>(random() % 200);
      for (int n = 0; n < hits; ++n) {
        bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
      }
      if (round % 5 == 4) bytes.resize(random() % bytes.size());
      SCOPED_TRACE(std::string(row.name) + " round " + std::to_string(round));
      ScopedTempFile file(bytes);
      SalvageReport report;
      const Records got = SalvageRecords(file.path(), &report);
      // Whatever it finds fits the file: no record from outside a slot.
      const uint64_t slots = bytes.size() / 2;
      EXPECT_LE(got.size(), slots);
      EXPECT_EQ(got.size(), report.recordsSalvaged);
    }
  }
}

}  // namespace
