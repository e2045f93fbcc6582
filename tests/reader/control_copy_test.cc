// One control page copy decoded alone (DecodeControlCopy), as salvage weighs
// each copy: it must read every field the reader's own decode reads from
// that copy, and the copy's own counter, and keep decoding where the reader
// gives up on a copy (salvage names the fault itself).
#include <gtest/gtest.h>

#include <vector>

#include "reader/control_page.h"
#include "reader/format.h"
#include "reader/v8_layout.h"
#include "reader/version_rules.h"
#include "tests/fixture/fixture_writer.h"

namespace {

using fixture::BuiltFile;
using fixture::FixtureOptions;

struct Layout {
  uint16_t version;
  bool fcLayout, variable, compressed;
};

BuiltFile Build(const Layout& l, uint16_t pageSize) {
  FixtureOptions o;
  o.version = l.version;
  o.pageSize = pageSize;
  o.recordLength = 30;
  o.fcLayout = l.fcLayout || l.version >= 0x0800;
  o.variableLength = l.variable;
  o.compressed = l.compressed;
  o.copy1Counter = 7;
  o.copy2Counter = 3;
  o.copy1RecordCount = 41;
  return fixture::BuildDataFile(o, fixture::MakeRecords(50, 30, l.variable ? 90 : 0, 5));
}

TEST(ControlCopyTest, OneCopyAloneReadsWhatTheReadersDecodeReadsFromIt) {
  const Layout layouts[] = {
      {0x0300, false, false, false}, {0x0400, false, true, false}, {0x0500, false, false, true},
      {0x0600, true, true, false},   {0x0610, false, false, true}, {0x0700, true, false, false},
      {0x0800, true, true, false},   {0x0900, true, false, true},  {0x0950, true, true, false},
  };
  for (const Layout& l : layouts) {
    SCOPED_TRACE("version " + std::to_string(l.version));
    const BuiltFile built = Build(l, 1024);
    std::vector<uint8_t> copy(built.bytes.begin(), built.bytes.begin() + kControlBytesMost);
    ControlInfo alone;
    ASSERT_EQ(DecodeLayout(copy.data(), &alone), kReaderOk);
    const VersionRules& rules = *FindVersionRules(alone.version);
    ControlInfo reader = alone;
    DecodeControlCopy(rules, copy.data(), &alone);
    const ReaderStatus status = ChoosesActiveCopy(rules.control)
                                    ? DecodeV8Control(copy.data(), nullptr, &reader)
                                    : DecodeOldControl(rules, copy.data(), nullptr, &reader);
    ASSERT_EQ(status, kReaderOk);
    EXPECT_EQ(alone.version, l.version);
    EXPECT_EQ(alone.fcLayout, l.fcLayout || l.version >= 0x0800);
    EXPECT_EQ(alone.pageSize, 1024u);
    EXPECT_EQ(alone.recordLength, reader.recordLength);
    EXPECT_EQ(alone.storedRecordLength, l.compressed ? 0 : 30);
    EXPECT_EQ(alone.slotLength, reader.slotLength);
    EXPECT_EQ(alone.recordCount, 41u);
    EXPECT_EQ(alone.compressed, l.compressed);
    EXPECT_EQ(alone.variableLength != 0, l.variable || l.compressed);
    EXPECT_EQ(alone.slotDataOffset, reader.slotDataOffset);
    EXPECT_EQ(alone.usage, 7u);
    EXPECT_EQ(alone.kindMarked, l.version >= 0x0800);
  }
}

// The reader refuses a copy whose slot length is 0; the copy alone still
// says it is compressed, so salvage can say what is wrong with it.
TEST(ControlCopyTest, ACopyTheReaderRefusesIsStillDecodedWhole) {
  for (uint16_t version : {0x0500, 0x0600, 0x0800}) {
    SCOPED_TRACE("version " + std::to_string(version));
    BuiltFile built = Build(Layout{version, false, false, true}, 1024);
    fixture::PutLE16(built.bytes, kControlSlotLengthOffset, 0);
    ControlInfo info;
    ASSERT_EQ(DecodeLayout(built.bytes.data(), &info), kReaderOk);
    DecodeControlCopy(*FindVersionRules(info.version), built.bytes.data(), &info);
    EXPECT_EQ(info.slotLength, 0);
    EXPECT_TRUE(info.compressed);
    EXPECT_EQ(info.recordLength, 30);
    EXPECT_EQ(info.recordCount, 41u);
  }
}

}  // namespace
