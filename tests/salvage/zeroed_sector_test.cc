// Sectors a device gave back as zeros, inside pages whose headers survived:
// a record or fragment over one is held back, never handed out part record,
// part zeros; every other record comes back byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "salvage/zeroed_sectors.h"
#include "tests/fixture/fixture_v8.h"
#include "tests/salvage/salvage_test_util.h"

namespace {

using fixture::BuiltFile;
using fixture::FixtureOptions;
using fixture::ScopedTempFile;

FixtureOptions Options(uint16_t version, uint16_t recordLength) {
  FixtureOptions o;
  o.version = version;
  o.pageSize = 4096;
  o.recordLength = recordLength;
  return o;
}

// Records of 40 bytes with variable tails, or compressed, in fragments of
// up to `maxFragment` bytes.
FixtureOptions ChainedOptions(uint16_t version, bool compressed, uint16_t maxFragment) {
  FixtureOptions o = Options(version, 40);
  o.variableLength = !compressed;
  o.compressed = compressed;
  o.maxFragmentData = maxFragment;
  return o;
}

size_t PageStart(const FixtureOptions& o, uint32_t physical) {
  return static_cast<size_t>(fixture::PhysicalPageOffset(o, physical));
}

Records AllRecords(const BuiltFile& built) {
  ScopedTempFile file(built.bytes);
  return ReaderRecords(file.path());
}

// A file of `count` chained records and its bytes with the sector at
// `within` of its first variable page zeroed (none when it has no variable
// page).
struct ChainedFile {
  BuiltFile built;
  Records all;
  std::vector<uint8_t> bytes;
  size_t from = 0;  // file offset of the zeroed sector
};
ChainedFile ZeroedInFirstVariablePage(const FixtureOptions& o, uint32_t count,
                                      uint32_t variableBytes, uint32_t seed, size_t within) {
  ChainedFile c;
  c.built = BuildFixtureFile(o, count, variableBytes, seed);
  c.all = AllRecords(c.built);
  c.bytes = c.built.bytes;
  if (c.built.variablePages.empty()) return c;
  c.from = PageStart(o, c.built.variablePages[0]) + within;
  std::fill(c.bytes.begin() + c.from, c.bytes.begin() + c.from + kSectorBytes, 0);
  return c;
}

// The records whose slot lies wholly outside [from, to), in order.
Records OutsideRange(const BuiltFile& built, const Records& all, size_t from, size_t to) {
  Records kept;
  for (size_t i = 0; i < all.size(); ++i) {
    const size_t slot = built.recordSlots[i];
    if (slot + built.slotLength <= from || slot >= to) kept.push_back(all[i]);
  }
  return kept;
}

// --- The sector grid ---------------------------------------------------------

TEST(ZeroedSectorTest, SectorsAreFoundOnTheFileGridAndTouchedByRanges) {
  std::vector<uint8_t> page(2048, 7);
  std::fill(page.begin() + 1024, page.begin() + 1536, 0);
  ZeroedSectors z = FindZeroedSectors(page.data(), 2048, 4096);
  EXPECT_EQ(z.bits, 0b100u);
  EXPECT_TRUE(TouchesZeroedSector(z, 4096, 1000, 25));
  EXPECT_FALSE(TouchesZeroedSector(z, 4096, 1000, 24));
  EXPECT_TRUE(TouchesZeroedSector(z, 4096, 1535, 1));
  EXPECT_FALSE(TouchesZeroedSector(z, 4096, 1536, 400));
  // A page off the grid (bytes inserted before it): the sector lies where
  // the file's grid puts it, 37 bytes earlier in the page.
  z = FindZeroedSectors(page.data(), 2048, 4096 + 37);
  EXPECT_EQ(z.bits, 0u);
  std::fill(page.begin() + 1024 - 37, page.begin() + 1536 - 37, 0);
  z = FindZeroedSectors(page.data(), 2048, 4096 + 37);
  EXPECT_NE(z.bits, 0u);
  EXPECT_TRUE(TouchesZeroedSector(z, 4096 + 37, 1024 - 37, 1));
  // Inside a longer run of zeros a sector counts only in a damaged file.
  std::fill(page.begin(), page.end(), 7);
  std::fill(page.begin() + 1000, page.begin() + 1600, 0);
  EXPECT_EQ(FindZeroedSectors(page.data(), 2048, 4096).bits, 0u);
  EXPECT_EQ(FindZeroedSectors(page.data(), 2048, 4096, true).bits, 0b100u);
}

// --- Fixed records -----------------------------------------------------------

// A sector zeroed inside a data page whose header survived, in every class:
// the records it cuts through are held back and counted, the others all
// come back.
TEST(ZeroedSectorTest, RecordsOverAZeroedSectorAreHeldBackAndTheRestComeBack) {
  for (uint16_t version : {0x0400, 0x0600, 0x0800}) {
    SCOPED_TRACE(std::to_string(version));
    const FixtureOptions o = Options(version, 100);
    const BuiltFile built = BuildFixtureFile(o, 300, 0, 5);
    const Records all = AllRecords(built);
    ASSERT_GE(built.dataPages.size(), 3u);
    const size_t from = PageStart(o, built.dataPages[1]) + 1536;
    std::vector<uint8_t> bytes = built.bytes;
    std::fill(bytes.begin() + from, bytes.begin() + from + kSectorBytes, 0);
    ScopedTempFile file(bytes);
    SalvageReport report;
    const Records got = SalvageRecords(file.path(), &report);
    EXPECT_TRUE(SameRecords(got, OutsideRange(built, all, from, from + kSectorBytes)));
    // Slots wholly inside the sector now read as empty; the one or two it
    // cuts through are the records held back.
    EXPECT_GE(report.heldBack.zeroedSector, 1u);
    EXPECT_LE(report.heldBack.zeroedSector, 2u);
    EXPECT_EQ(report.status, kSalvageDamaged);
  }
}

// Where the page pass found a header wiped (another lost sector, on a page
// the tables name), a sector of zeros counts even when the records around
// it end and begin with blank bytes.
TEST(ZeroedSectorTest, WhereHeadersWereWipedBlankBytesAroundTheSectorDoNotHideIt) {
  for (uint16_t version : {0x0800, 0x0950}) {
    SCOPED_TRACE(std::to_string(version));
    const FixtureOptions o = Options(version, 100);
    const BuiltFile built = BuildFixtureFile(o, 300, 0, 5);
    const Records all = AllRecords(built);
    ASSERT_GE(built.dataPages.size(), 4u);
    const size_t from = PageStart(o, built.dataPages[1]) + 1536;
    const size_t wiped = PageStart(o, built.dataPages[3]);
    std::vector<uint8_t> bytes = built.bytes;
    std::fill(bytes.begin() + from - 3, bytes.begin() + from + kSectorBytes + 3, 0);
    std::fill(bytes.begin() + wiped, bytes.begin() + wiped + kSectorBytes, 0);
    ScopedTempFile file(bytes);
    SalvageReport report;
    const Records got = SalvageRecords(file.path(), &report);
    Records expected;
    for (size_t i = 0; i < all.size(); ++i) {
      const size_t slot = built.recordSlots[i];
      const size_t end = slot + built.slotLength;
      const bool first = end > from - 3 && slot < from + kSectorBytes + 3;
      const bool second = end > wiped && slot < wiped + kSectorBytes;
      if (!first && !second) expected.push_back(all[i]);
    }
    EXPECT_TRUE(SameRecords(got, expected));
    EXPECT_EQ(report.pages.headerless, 1u);
    EXPECT_EQ(report.pages.wipedHeaders, 1u);
    EXPECT_GE(report.heldBack.zeroedSector, 1u);
  }
}

// Forty records whose bytes from the 13th on are blank.
std::vector<fixture::FixtureRecord> BlankAfter12(const FixtureOptions& o) {
  std::vector<fixture::FixtureRecord> records = fixture::MakeRecords(40, o.recordLength, 0, 3);
  for (auto& r : records) std::fill(r.fixed.begin() + 12, r.fixed.end(), 0);
  return records;
}

// Records with long runs of blank bytes in a healthy file are not taken for
// a lost sector: the file comes out whole.
TEST(ZeroedSectorTest, BlankRunsInHealthyRecordsAreRecords) {
  for (uint16_t version : {0x0400, 0x0600, 0x0800}) {
    SCOPED_TRACE(std::to_string(version));
    const FixtureOptions o = Options(version, 1500);
    std::vector<fixture::FixtureRecord> records = BlankAfter12(o);
    const BuiltFile built = fixture::BuildDataFile(o, records);
    ScopedTempFile file(built.bytes);
    SalvageReport report;
    EXPECT_TRUE(SameRecords(SalvageRecords(file.path(), &report), AllRecords(built)));
    EXPECT_EQ(report.heldBack.zeroedSector, 0u);
    EXPECT_EQ(report.status, kSalvageHealthy);
  }
}

// A sector lost among blank record bytes, with no other sign of damage:
// nothing tells it from blank bytes, so its record comes out, and the
// report counts it; where the user says the disk lost sectors, it is held
// back and nothing comes out that the file never held.
TEST(ZeroedSectorTest, ASectorLostAmongBlankBytesIsCountedAndTheUserCanHoldItBack) {
  for (uint16_t version : {0x0400, 0x0600, 0x0800}) {
    SCOPED_TRACE(std::to_string(version));
    const FixtureOptions o = Options(version, 1500);
    std::vector<fixture::FixtureRecord> records = BlankAfter12(o);
    // Blank runs shorter than a sector between marks: no sector of zeros
    // until one is lost.
    for (auto& r : records) {
      for (size_t at : {400, 800, 1200}) r.fixed[at] = 0x4D;
    }
    const BuiltFile built = fixture::BuildDataFile(o, records);
    const Records all = AllRecords(built);
    // A record whose blank run around its mark at 800 holds a whole sector.
    size_t sector = 0;
    for (size_t i = 0; i < all.size() && sector == 0; ++i) {
      const size_t data = built.recordSlots[i] + (built.slotLength - o.recordLength);
      const size_t s = (data + 401 + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
      if (s <= data + 800 && s + kSectorBytes <= data + 1200) sector = s;
    }
    ASSERT_NE(sector, 0u);
    std::vector<uint8_t> bytes = built.bytes;
    std::fill(bytes.begin() + sector, bytes.begin() + sector + kSectorBytes, 0);
    ScopedTempFile file(bytes);
    SalvageReport report;
    Records got = SalvageRecords(file.path(), &report);
    EXPECT_EQ(got.size(), all.size());
    EXPECT_EQ(Invented(got, all), 1u);
    EXPECT_EQ(report.recordsOverBlankSectors, 1u);
    GeometryOverrides lost;
    lost.lostSectors = true;
    got = SalvageRecords(file.path(), &report, lost);
    EXPECT_EQ(Invented(got, all), 0u);
    EXPECT_EQ(got.size() + 1, all.size());
    EXPECT_EQ(report.heldBack.zeroedSector, 1u);
    EXPECT_EQ(report.status, kSalvageDamaged);
  }
}

// --- Fragments -----------------------------------------------------------------

// A sector zeroed inside a variable page: a record with a fragment over it
// is held back with its chain listed; no record comes out that the file
// never held, and every record off that page comes back.
TEST(ZeroedSectorTest, FragmentOverAZeroedSectorBreaksOnlyItsChain) {
  for (uint16_t version : {0x0600, 0x0800, 0x0950}) {
    for (bool compressed : {false, true}) {
      if (compressed && version < 0x0800) continue;
      SCOPED_TRACE(std::to_string(version) + (compressed ? " compressed" : ""));
      const ChainedFile c = ZeroedInFirstVariablePage(ChainedOptions(version, compressed, 300),
                                                      60, 1500, 9, 1024);
      ASSERT_FALSE(c.built.variablePages.empty());
      const BuiltFile& built = c.built;
      const Records& all = c.all;
      const uint32_t victim = built.variablePages[0];
      ScopedTempFile file(c.bytes);
      SalvageReport report;
      const Records got = SalvageRecords(file.path(), &report);
      EXPECT_EQ(Invented(got, all), 0u);
      size_t off = 0;
      for (size_t i = 0; i < all.size(); ++i) {
        const auto& pages = built.recordPages[i];
        off += std::find(pages.begin(), pages.end(), victim) == pages.end();
      }
      EXPECT_GE(got.size(), off);
      EXPECT_LT(got.size(), all.size());
      size_t zeroed = 0;
      for (const BrokenChain& b : report.brokenChains) {
        zeroed += b.reason.find("lies over a sector of zeros") != std::string::npos;
      }
      EXPECT_GT(zeroed, 0u);
    }
  }
}

}  // namespace

namespace {

// --- Variable pages whose header was wiped ---------------------------------------

// A variable page whose first sector (its header, and a fragment count with
// it) was zeroed, named by the allocation table (0x0800 on) or by its
// position (before 0x0600): the page is still read by its table at the end,
// and every record whose fragments lie behind that sector comes back byte
// for byte; those with a fragment in it are held back.
TEST(ZeroedSectorTest, VariablePageWithAWipedHeaderIsReadByItsTable) {
  for (uint16_t version : {0x0400, 0x0500, 0x0800, 0x0950}) {
    for (bool compressed : {false, true}) {
      if (compressed && version < 0x0800) continue;
      SCOPED_TRACE(std::to_string(version) + (compressed ? " compressed" : ""));
      const FixtureOptions o = ChainedOptions(version, compressed, 200);
      const ChainedFile c = ZeroedInFirstVariablePage(o, 80, 900, 13, 0);
      ASSERT_FALSE(c.built.variablePages.empty());
      const BuiltFile& built = c.built;
      const Records& all = c.all;
      const size_t from = c.from;
      Records expected;
      size_t lost = 0;
      for (size_t i = 0; i < all.size(); ++i) {
        bool hit = false;
        for (size_t f : built.recordFragments[i]) {
          hit = hit || (f >= from && f < from + kSectorBytes);
        }
        if (hit) ++lost;
        else expected.push_back(all[i]);
      }
      ScopedTempFile file(c.bytes);
      SalvageReport report;
      EXPECT_TRUE(SameRecords(SalvageRecords(file.path(), &report), expected));
      // Before 0x0600 the chain finds the page by its position, not the pass.
      EXPECT_EQ(report.pages.headerlessVariable, version >= 0x0800 ? 1u : 0u);
      EXPECT_EQ(report.heldBack.total(), lost);
      EXPECT_GT(lost, 0u);
      // Records behind the wiped sector were on the page: it was read.
      size_t behind = 0;
      for (size_t i = 0; i < all.size(); ++i) {
        for (size_t f : built.recordFragments[i]) {
          behind += f >= from + kSectorBytes && f < from + o.pageSize;
        }
      }
      EXPECT_GT(behind, 0u);
    }
  }
}

}  // namespace
