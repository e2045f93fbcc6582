// Files written by the fixture writer read back record for record, in every
// version, both layouts, both variants, fixed and variable length.
#include <gtest/gtest.h>

#include "tests/reader/reader_test_util.h"

using namespace readertest;
using fixture::BuildDataFile;
using fixture::FixtureOptions;
using fixture::MakeRecords;
using fixture::ScopedTempFile;

namespace {

struct Shape {
  uint16_t pageSize;
  bool fc;
  bool variable;
  uint32_t emptySlots;
  uint32_t maxFragment;
};

void ExpectRoundTrip(const FixtureOptions& o, uint32_t count, uint32_t variableBytes) {
  const auto records = MakeRecords(count, o.recordLength, variableBytes, o.version + o.pageSize);
  const auto built = BuildDataFile(o, records);
  ScopedTempFile file(built.bytes);
  for (ReaderVariant variant : kBothVariants) {
    SCOPED_TRACE(testing::Message() << "version 0x" << std::hex << o.version << std::dec
                                    << " page " << o.pageSize << " fc " << o.fcLayout
                                    << " variable " << o.variableLength << " "
                                    << VariantName(variant));
    ReadResult r = ReadAll(file.path(), variant);
    ASSERT_EQ(r.openStatus, kReaderOk);
    EXPECT_EQ(r.endStatus, kReaderEnd);
    ASSERT_EQ(r.records.size(), built.records.size());
    for (size_t i = 0; i < r.records.size(); ++i) {
      ASSERT_EQ(r.records[i], Expected(built.records[i])) << "record " << i;
      EXPECT_EQ(r.statuses[i], kReaderOk);
    }
  }
}

}  // namespace

TEST(RoundTrip, EveryVersionLayoutAndPageSize) {
  const Shape shapes[] = {
      {512, false, false, 0, 0},  {1024, true, false, 1, 0},
      {4096, false, false, 2, 0}, {512, true, true, 0, 0},
      {2048, false, true, 1, 40}, {4096, true, true, 0, 700},
  };
  for (uint16_t version : kAllVersions) {
    for (const Shape& s : shapes) {
      FixtureOptions o;
      o.version = version;
      o.pageSize = s.pageSize;
      o.fcLayout = s.fc;
      o.variableLength = s.variable;
      o.recordLength = 37;
      o.emptySlotsBefore = s.emptySlots;
      o.maxFragmentData = s.maxFragment;
      ExpectRoundTrip(o, 150, s.variable ? 3000 : 0);
    }
  }
}

TEST(RoundTrip, NegativeVersionWordsReadAsTheirAbsoluteValue) {
  for (uint16_t version : kAllVersions) {
    FixtureOptions o;
    o.version = version;
    o.negativeVersion = true;
    o.recordLength = 20;
    ExpectRoundTrip(o, 40, 0);
  }
}

TEST(RoundTrip, VariableChainsOverManyPages) {
  for (uint16_t version : kAllVersions) {
    FixtureOptions o;
    o.version = version;
    o.pageSize = 512;
    o.variableLength = true;
    o.recordLength = 12;
    o.maxFragmentData = 50;  // records of up to 20000 bytes over many pages
    ExpectRoundTrip(o, 12, 20000);
  }
}
