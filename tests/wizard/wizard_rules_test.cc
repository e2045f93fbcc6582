// The wizard's window-free rules: which names a directory run takes, how
// relative paths and dump paths are formed, and the processing page's
// label texts.
#include "wizard/wizard_rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// --- The name rule ------------------------------------------------------------

TEST(NameRuleTest, TakesNamesThatEndLikeTheExtensionAndContainIt) {
  const struct {
    const char* name;
    const char* extension;
    bool taken;
  } kCases[] = {
      {"CUST.BTR", "btr", true},
      {"cust.btr", "btr", true},
      {"CUSTBTR", "btr", true},
      {"BTRDATA.XTR", "btr", true},  // BTR occurs, and "TR" ends both
      {"CUST.BTR.BAK", "btr", false},
      {"CUST.DAT", "btr", false},
      {"CUST.XTR", "btr", false},    // ends alike, but BTR does not occur
      {"BTR.X", "btr", false},       // occurs, but ends otherwise
      {"TR", "btr", false},          // shorter than the extension
      {"CUST.BTR", ".BTR", true},    // an extension typed with its point
      {"CUSTBTR", ".btr", false},
      {"cust.Btr", "bTR", true},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(NameMatchesExtension(c.name, c.extension), c.taken)
        << c.name << " with extension " << c.extension;
  }
}

TEST(NameRuleTest, ShortExtensionsCompareWhatTheyHave) {
  // One character: the name must end with it.
  EXPECT_TRUE(NameMatchesExtension("DATA.B", "b"));
  EXPECT_TRUE(NameMatchesExtension("B", "B"));
  EXPECT_FALSE(NameMatchesExtension("B.DAT", "b"));
  EXPECT_FALSE(NameMatchesExtension("", "b"));
  // No extension at all: every file.
  EXPECT_TRUE(NameMatchesExtension("ANYTHING.XYZ", ""));
  EXPECT_TRUE(NameMatchesExtension("NOEXT", ""));
}

TEST(NameRuleTest, UpperCasingTouchesLettersOnly) {
  char name[] = "cust-01.btr~\xe9";
  UpperCaseInPlace(name);
  EXPECT_STREQ(name, "CUST-01.BTR~\xe9");
}

// --- Relative paths, dump paths and the directories below the output ------------

TEST(DumpPathTest, RelativePartFollowsTheSourcePath) {
  EXPECT_STREQ(RelativePart("C:\\data\\sub\\CUST.BTR", "C:\\data"), "\\sub\\CUST.BTR");
  EXPECT_STREQ(RelativePart("C:\\data\\A.BTR", "C:\\data"), "\\A.BTR");
  // A source given with its closing backslash was joined with a second one.
  EXPECT_STREQ(RelativePart("C:\\data\\\\A.BTR", "C:\\data\\"), "\\A.BTR");
  EXPECT_STREQ(RelativePart("D:\\other\\A.BTR", "C:\\data"), "D:\\other\\A.BTR");
}

TEST(DumpPathTest, JoinsOutputRelativeAndExtension) {
  char out[kPathCapacity];
  const struct {
    const char* output;
    const char* relative;
    const char* extension;
    const char* expected;
  } kCases[] = {
      {"C:\\out", "\\sub\\CUST.BTR", "dmp", "C:\\out\\sub\\CUST.BTR.dmp"},
      {"C:\\out", "\\sub\\CUST.BTR", ".dmp", "C:\\out\\sub\\CUST.BTR.dmp"},
      {"C:\\out", "\\A.BTR", "dmp", "C:\\out\\A.BTR.dmp"},
      // A closing backslash on the output path stays; the platform reads
      // the two in a row as one.
      {"C:\\out\\", "\\A.BTR", "dmp", "C:\\out\\\\A.BTR.dmp"},
      {"C:\\out\\", "\\sub\\A.BTR", ".txt", "C:\\out\\\\sub\\A.BTR.txt"},
      // Only a relative part without its leading backslash gets one.
      {"C:\\out", "A.BTR", "dmp", "C:\\out\\A.BTR.dmp"},
      {"C:\\out\\", "A.BTR", "dmp", "C:\\out\\A.BTR.dmp"},
  };
  for (const auto& c : kCases) {
    ASSERT_TRUE(BuildDumpPath(out, c.output, c.relative, c.extension));
    EXPECT_STREQ(out, c.expected) << c.output << " + " << c.relative << " + " << c.extension;
  }
}

TEST(DumpPathTest, IntermediateDirectoriesOneLevelAtATime) {
  using Dirs = std::vector<std::string>;
  EXPECT_EQ(IntermediateDirectories("C:\\out", "\\sub\\deeper\\D.BTR"),
            (Dirs{"C:\\out\\sub", "C:\\out\\sub\\deeper"}));
  EXPECT_EQ(IntermediateDirectories("C:\\out\\", "\\sub\\D.BTR"), (Dirs{"C:\\out\\sub"}));
  EXPECT_EQ(IntermediateDirectories("C:\\out", "\\A.BTR"), Dirs{});
  EXPECT_EQ(IntermediateDirectories("C:\\out", "A.BTR"), Dirs{});
}

TEST(DumpPathTest, PathsLongerThan259CharactersAreRefusedNotCut) {
  char out[kPathCapacity];
  std::memset(out, 'x', sizeof out);
  const std::string directory(250, 'd');

  // 250 + 1 + 8 = 259 fits exactly; one more does not.
  ASSERT_TRUE(JoinPath(out, directory.c_str(), "ABCD.BTR"));
  EXPECT_EQ(std::strlen(out), kMaxPathLength);
  EXPECT_FALSE(JoinPath(out, directory.c_str(), "ABCDE.BTR"));
  EXPECT_STREQ(out, "");

  // The dump path adds the extension: 250 + 5 (\A.BT) + 4 (.dmp) = 259.
  ASSERT_TRUE(BuildDumpPath(out, directory.c_str(), "\\A.BT", "dmp"));
  EXPECT_EQ(std::strlen(out), kMaxPathLength);
  EXPECT_FALSE(BuildDumpPath(out, directory.c_str(), "\\A.BTR", "dmp"));
  EXPECT_STREQ(out, "");

  const std::string source(255, 's');
  EXPECT_TRUE(DefaultDumpFileName(out, source.c_str()));
  EXPECT_EQ(std::string(out), source + ".dmp");
  EXPECT_FALSE(DefaultDumpFileName(out, (source + "s").c_str()));
  EXPECT_STREQ(out, "");
}

TEST(DumpPathTest, TrimKeepsTheLastBackslash) {
  char path[kPathCapacity] = "C:\\data\\cust.btr";
  EXPECT_TRUE(CutAfterLastBackslash(path));
  EXPECT_STREQ(path, "C:\\data\\");
  char bare[kPathCapacity] = "cust.btr";
  EXPECT_FALSE(CutAfterLastBackslash(bare));
  EXPECT_STREQ(bare, "cust.btr");
}

TEST(DumpPathTest, SingleFileProposalAppendsPointDmp) {
  char out[kPathCapacity];
  ASSERT_TRUE(DefaultDumpFileName(out, "C:\\data\\cust.btr"));
  EXPECT_STREQ(out, "C:\\data\\cust.btr.dmp");
  ASSERT_TRUE(DefaultDumpFileName(out, ""));
  EXPECT_STREQ(out, ".dmp");
}

// The output page's proposal: afresh until a directory run set an extension,
// and only over a path too short to be one.
TEST(DumpPathTest, OutputProposalFollowsModeAndKeepsAChosenPath) {
  const char source[] = "C:\\data\\cust.btr";
  struct Case {
    const char* before;
    const char* extension;
    uint8_t mode;
    const char* after;
  } const kCases[] = {
      {"", "", kModeUnset, "C:\\data\\cust.btr.dmp"},
      {"", "", kModeSingleFile, "C:\\data\\cust.btr.dmp"},
      {"D:\\old.dmp", "", kModeSingleFile, "C:\\data\\cust.btr.dmp"},
      {"D:\\old.dmp", "dmp", kModeSingleFile, "D:\\old.dmp"},
      {"D:", "dmp", kModeSingleFile, "C:\\data\\cust.btr.dmp"},
      {"D:\\", "dmp", kModeSingleFile, "D:\\"},
      {"", "", kModeSingleDirectory, source},
      {"D:\\out", "", kModeRecursive, source},
      {"D:\\out", "txt", kModeRecursive, "D:\\out"},
      {"D:", "txt", kModeSingleDirectory, source},
  };
  for (const Case& c : kCases) {
    char path[kPathCapacity] = {};
    std::strcpy(path, c.before);
    ProposeOutputPath(path, c.extension, source, c.mode);
    EXPECT_STREQ(path, c.after) << c.before << " / " << c.extension << " / " << int{c.mode};
  }
  // A single-file proposal that would not fit leaves the field empty.
  const std::string longest(kMaxPathLength, 's');
  char path[kPathCapacity] = "x";
  ProposeOutputPath(path, "", longest.c_str(), kModeSingleFile);
  EXPECT_STREQ(path, "");
}

// --- Label texts ----------------------------------------------------------------

TEST(LabelTextTest, FileNameShownWholeUpTo50Characters) {
  char text[kLabelCapacity];
  const std::string fifty = "C:\\" + std::string(43, 'a') + ".BTR";
  ASSERT_EQ(fifty.size(), 50u);
  FormatFileNameLabel(text, sizeof text, fifty.c_str());
  EXPECT_EQ(std::string(text), "FileName:     " + fifty + "             ");

  FormatFileNameLabel(text, sizeof text, "C:\\data\\CUST.BTR");
  EXPECT_STREQ(text, "FileName:     C:\\data\\CUST.BTR             ");
}

TEST(LabelTextTest, LongerFileNameShowsItsLast50Characters) {
  char text[kLabelCapacity];
  const std::string tail = std::string(46, 'b') + ".BTR";
  for (const std::string head : {"X", "C:\\some\\much\\longer\\directory\\"}) {
    FormatFileNameLabel(text, sizeof text, (head + tail).c_str());
    EXPECT_EQ(std::string(text), "FileName:  ..." + tail + "             ") << head;
  }
  // The longest path a slot holds fits the label buffer.
  const std::string longest(kMaxPathLength, 'p');
  FormatFileNameLabel(text, sizeof text, longest.c_str());
  EXPECT_EQ(std::strlen(text), std::strlen("FileName:  ...") + 50 + 13);
}

TEST(LabelTextTest, VersionDigitForEveryVersion) {
  const struct {
    uint16_t version;
    const char* label;
  } kCases[] = {
      {0x0300, "Version:     3"}, {0x0400, "Version:     4"}, {0x0500, "Version:     5"},
      {0x0600, "Version:     6"}, {0x0610, "Version:     6"}, {0x0700, "Version:     7"},
      {0x0800, "Version:     8"}, {0x0900, "Version:     9"}, {0x0950, "Version:     9"},
      // Anything else adds no digit.
      {0x0000, "Version:     "},  {0x0620, "Version:     "},  {0x1000, "Version:     "},
  };
  char text[kLabelCapacity];
  for (const auto& c : kCases) {
    FormatVersionLabel(text, sizeof text, c.version);
    EXPECT_STREQ(text, c.label) << std::hex << c.version;
  }
}

TEST(LabelTextTest, NumbersFollowFiveBlanks) {
  char text[kLabelCapacity];
  FormatNumberLabel(text, sizeof text, kRecordCountCaption, 100);
  EXPECT_STREQ(text, "Number of Records:     100");
  FormatNumberLabel(text, sizeof text, kPageSizeCaption, 4096);
  EXPECT_STREQ(text, "Page Size:     4096");
  FormatNumberLabel(text, sizeof text, kRecordLengthCaption, 0);
  EXPECT_STREQ(text, "Fixed Record Lenght:     0");
  FormatNumberLabel(text, sizeof text, kRecordCountCaption, 4294967295u);
  EXPECT_STREQ(text, "Number of Records:     4294967295");
}

TEST(LabelTextTest, RunSummaryNamesEveryLoss) {
  char text[kLabelCapacity];
  RunTally tally = {};
  tally.dumped = 12;
  tally.notOpened = 1;
  FormatRunSummary(text, sizeof text, tally);
  EXPECT_STREQ(text,
               "Done: 12 file(s) dumped, 1 could not be opened, 0 dump file(s) could not be "
               "created");

  tally.cancelled = true;
  tally.notCreated = 2;
  tally.recordsTooLong = 3;
  FormatRunSummary(text, sizeof text, tally);
  EXPECT_STREQ(text,
               "Cancelled: 12 file(s) dumped, 1 could not be opened, 2 dump file(s) could not "
               "be created, 3 record(s) too long to dump");

  // A short buffer is cut, never overrun.
  char small[16];
  std::memset(small, 'x', sizeof small);
  FormatRunSummary(small, sizeof small, tally);
  EXPECT_EQ(std::strlen(small), sizeof small - 1);
}

}  // namespace
