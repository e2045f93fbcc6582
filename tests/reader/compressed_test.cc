// Compressed records before 0x0800 and owner-protected files, built in
// code: the whole record as a run-length stream in a fragment chain, read
// back at its decoded length; encrypted files refused.
#include <gtest/gtest.h>

#include "reader/format.h"
#include "tests/fixture/fixture_v8.h"
#include "tests/reader/reader_test_util.h"

using namespace readertest;

namespace {

constexpr uint16_t kOldVersions[] = {0x0300, 0x0400, 0x0500, 0x0600, 0x0610, 0x0700};

fixture::FixtureOptions Compressed(uint16_t version, bool fc, uint32_t maxFragment) {
  fixture::FixtureOptions o;
  o.version = version;
  o.fcLayout = fc;
  o.compressed = true;
  o.recordLength = 40;
  o.emptySlotsBefore = 1;
  o.maxFragmentData = maxFragment;
  return o;
}

// Records with long runs and literal stretches, so that blocks and their
// counts fall on both sides of fragment boundaries.
std::vector<fixture::FixtureRecord> RunRecords(uint32_t count) {
  std::vector<fixture::FixtureRecord> records = fixture::MakeRecords(count, 40, 90, 7);
  for (size_t i = 0; i < records.size(); ++i) {
    records[i].variable.insert(records[i].variable.end(), 30 + i, ' ');
  }
  return records;
}

// File offset of the first fragment of record 0 (its pointer to the next).
size_t FirstFragment(const fixture::FixtureOptions& o, const fixture::BuiltFile& b) {
  const size_t page = static_cast<size_t>(fixture::PhysicalPageOffset(o, b.variablePages[0]));
  return page + (DecodeLE16(b.bytes.data() + page + o.pageSize - 2) & 0x7FFF);
}

}  // namespace

TEST(CompressedOld, RunsSplitAcrossFragmentsDecodeInEveryVersionAndVariant) {
  for (uint16_t version : kOldVersions) {
    for (bool fc : {false, true}) {
      for (uint32_t maxFragment : {0u, 7u}) {
        const auto o = Compressed(version, fc, maxFragment);
        const auto built = fixture::BuildDataFile(o, RunRecords(12));
        fixture::ScopedTempFile file(built.bytes);
        for (ReaderVariant v : kBothVariants) {
          SCOPED_TRACE(std::to_string(version) + (fc ? " fc " : " ") +
                       std::to_string(maxFragment) + " " + VariantName(v));
          DataFile df = {};
          ASSERT_EQ(OpenDataFile(file.path().c_str(), &df, v), kReaderOk);
          EXPECT_EQ(df.recordLength, 40);  // the fixed part the file names
          CloseDataFile(&df, kReaderOk);
          const ReadResult r = ReadAll(file.path(), v);
          ASSERT_EQ(r.records.size(), built.records.size());
          for (size_t i = 0; i < r.records.size(); ++i) {
            EXPECT_EQ(r.records[i], Expected(built.records[i])) << "record " << i;
          }
          EXPECT_EQ(r.endStatus, kReaderEnd);
        }
      }
    }
  }
}

TEST(CompressedOld, RecordDecodingPastTheCapacityIsCutAndReportedWhole) {
  for (uint16_t version : {0x0500, 0x0600}) {
    const auto o = Compressed(version, version == 0x0600, 7);
    const auto built = fixture::BuildDataFile(o, RunRecords(4));
    fixture::ScopedTempFile file(built.bytes);
    const ReadResult r = ReadAll(file.path(), ReaderVariant::Console, 50);
    ASSERT_EQ(r.records.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
      const std::vector<uint8_t> whole = Expected(built.records[i]);
      ASSERT_GT(whole.size(), 50u);
      EXPECT_EQ(r.statuses[i], kReaderTooSmall);
      EXPECT_EQ(r.records[i], std::vector<uint8_t>(whole.begin(), whole.begin() + 50));
    }
  }
}

TEST(CompressedOld, DamagedRunLengthSparesTheOtherRecords) {
  for (uint16_t version : {0x0500, 0x0600}) {
    const auto o = Compressed(version, false, 0);
    auto built = fixture::BuildDataFile(o, RunRecords(6));
    // Record 0's stream starts behind the fragment's pointer (the oldest
    // class has one only where more fragments follow, not here).
    const size_t fragment = FirstFragment(o, built);
    const size_t stream = fragment + (version == 0x0600 ? 4 : 0);
    for (uint16_t count : {0x0000, 0x7FFF, 0xFFFF}) {
      std::vector<uint8_t> bytes = built.bytes;
      fixture::PutLE16(bytes, stream, count);
      fixture::ScopedTempFile file(bytes);
      for (ReaderVariant v : kBothVariants) {
        const ReadResult r = ReadAll(file.path(), v);
        ASSERT_EQ(r.records.size(), 6u) << version << " " << count;
        EXPECT_NE(r.records[0], Expected(built.records[0]));
        for (size_t i = 1; i < 6; ++i) EXPECT_EQ(r.records[i], Expected(built.records[i]));
      }
    }
  }
}

TEST(CompressedOld, FragmentEntryBeyondTheTableEndsTheChain) {
  // Fragment 0's entry moved past the table's start: no bytes of the page
  // belong to it, and the record's chain ends there (under the sanitizers:
  // without reading outside the page).
  for (uint16_t version : {0x0500, 0x0600}) {
    const auto o = Compressed(version, false, 0);
    const auto built = fixture::BuildDataFile(o, RunRecords(3));
    const size_t page = static_cast<size_t>(fixture::PhysicalPageOffset(o, built.variablePages[0]));
    for (uint16_t entry : {static_cast<uint16_t>(o.pageSize - 4), uint16_t{0x7FF0}}) {
      std::vector<uint8_t> bytes = built.bytes;
      fixture::PutLE16(bytes, page + o.pageSize - 2, entry);
      fixture::ScopedTempFile file(bytes);
      for (ReaderVariant v : kBothVariants) {
        const ReadResult r = ReadAll(file.path(), v);
        ASSERT_EQ(r.records.size(), 3u);
        EXPECT_TRUE(r.records[0].empty());
        EXPECT_EQ(r.records[2], Expected(built.records[2]));
      }
    }
  }
}

// Offset of the second control page copy (0: the version has one copy) and
// of the first byte after the control page copies.
size_t SecondCopy(const fixture::FixtureOptions& o, const fixture::BuiltFile& b) {
  if (o.version >= 0x0800) return b.controlCopyBytes;
  return o.version >= 0x0600 ? o.pageSize : 0;
}
size_t AfterControl(const fixture::FixtureOptions& o, const fixture::BuiltFile& b) {
  const size_t second = SecondCopy(o, b);
  return second == 0 ? o.pageSize : 2 * second;
}

// Sets the owner mode byte in every control page copy.
void SetOwnerMode(const fixture::FixtureOptions& o, fixture::BuiltFile* b, uint8_t mode) {
  b->bytes[kControlOwnerModeOffset] = mode;
  if (const size_t second = SecondCopy(o, *b)) b->bytes[second + kControlOwnerModeOffset] = mode;
}

fixture::FixtureOptions OwnerFile(uint16_t version) {
  fixture::FixtureOptions o;
  o.version = version;
  o.negativeVersion = true;
  o.ownerMode = 0x01;  // writes the owner name; the tests set the mode
  return o;
}

// The mode byte only claims encryption: over pages in clear, every value of
// it reads the file, and the reporter names the owner and the mode.
TEST(OwnerProtection, EveryModeByteOverPlainPagesIsReadAndTheOwnerNamed) {
  for (uint16_t version : kAllVersions) {
    const auto o = OwnerFile(version);
    auto built = fixture::BuildDataFile(o, fixture::MakeRecords(40, 16, 0, 3));
    // Every value in one version of each class, the telling ones in the rest.
    const bool all = version == 0x0400 || version == 0x0600 || version == 0x0800 ||
                     version == 0x0950;
    for (int mode = 0; mode < 256; ++mode) {
      if (!all && mode > 4 && mode != 0x80 && mode != 0xFF) continue;
      SetOwnerMode(o, &built, static_cast<uint8_t>(mode));
      fixture::ScopedTempFile file(built.bytes);
      for (ReaderVariant v : kBothVariants) {
        SCOPED_TRACE(std::to_string(version) + " mode " + std::to_string(mode) + " " +
                     VariantName(v));
        EventLog log;
        DataFile df;
        ReaderStatus s = OpenDataFile(file.path().c_str(), &df, v, &log.reporter);
        ASSERT_EQ(s, kReaderOk);
        std::vector<uint8_t> area(64000), last;
        size_t records = 0;
        while (s == kReaderOk) {
          RecordBuffer rb = {};
          rb.length = static_cast<uint32_t>(area.size());
          s = ReadNextRecord(&df, &rb, area.data());
          if (s != kReaderOk) break;
          ++records;
          last.assign(area.begin(), area.begin() + rb.length);
        }
        CloseDataFile(&df, s);
        ASSERT_EQ(log.events.size(), 1u);
        EXPECT_EQ(log.events[0].kind, ReaderEventKind::OwnerNamed);
        EXPECT_EQ(log.events[0].detail, mode);
        EXPECT_FALSE(log.events[0].damage);
        EXPECT_EQ(records, built.records.size());
        EXPECT_EQ(last, Expected(built.records.back()));
      }
    }
  }
}

// Pages that read as noise are refused, for the modes that encrypt.
TEST(OwnerProtection, EncryptedPagesAreRefusedAndReported) {
  for (uint16_t version : kAllVersions) {
    for (uint8_t mode : {0x02, 0x03}) {
      for (uint32_t count : {1u, 40u, 400u}) {
        const auto o = OwnerFile(version);
        auto built = fixture::BuildDataFile(o, fixture::MakeRecords(count, 16, 0, 3));
        SetOwnerMode(o, &built, mode);
        fixture::ScramblePages(built.bytes, AfterControl(o, built), version + count);
        for (ReaderVariant v : kBothVariants) {
          SCOPED_TRACE(std::to_string(version) + " mode " + std::to_string(mode) + " " +
                       std::to_string(count) + " " + VariantName(v));
          DataFile df;
          EventLog log;
          const ReaderStatus s = OpenBytes(built.bytes, v, &df, nullptr, &log.reporter);
          CloseDataFile(&df, s);
          EXPECT_EQ(s, kReaderUnusable);
          ASSERT_EQ(log.events.size(), 1u);
          EXPECT_EQ(log.events[0].kind, ReaderEventKind::FileEncrypted);
        }
      }
    }
  }
}

// The control page bytes the reader does not use hold anything: random
// values there (owner bytes included, the version word positive) change
// nothing.
TEST(OwnerProtection, RandomUnusedControlBytesChangeNothing) {
  constexpr std::pair<size_t, size_t> kUnused[] = {
      {10, 22}, {32, 43}, {44, 56}, {57, 74}, {76, 262}, {264, 270}, {272, 404}};
  for (uint16_t version : kOldVersions) {
    for (uint32_t seed = 1; seed <= 8; ++seed) {
      fixture::FixtureOptions o;
      o.version = version;
      o.fcLayout = seed % 2 == 0;
      auto built = fixture::BuildDataFile(o, fixture::MakeRecords(30, 16, 0, seed));
      std::vector<uint8_t> noise(404);
      fixture::ScramblePages(noise, 0, seed);
      for (size_t copy : {size_t{0}, SecondCopy(o, built)}) {
        for (auto [from, to] : kUnused) {
          for (size_t i = from; i < to; ++i) built.bytes[copy + i] = noise[i];
        }
        if (version < 0x0600) break;
      }
      fixture::ScopedTempFile file(built.bytes);
      for (ReaderVariant v : kBothVariants) {
        SCOPED_TRACE(std::to_string(version) + " seed " + std::to_string(seed) + " " +
                     VariantName(v));
        const ReadResult r = ReadAll(file.path(), v);
        ASSERT_EQ(r.openStatus, kReaderOk);
        ASSERT_EQ(r.records.size(), built.records.size());
        for (size_t i = 0; i < r.records.size(); ++i) {
          EXPECT_EQ(r.records[i], Expected(built.records[i])) << i;
        }
      }
    }
  }
}
