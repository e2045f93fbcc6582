#include "console/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dump/crc32.h"

namespace {

// Parses "pagrove <arguments>" into `settings`; stdout is swallowed.
bool Parse(std::vector<std::string> arguments, ConsoleSettings* settings) {
  std::vector<char*> argv;
  static char program[] = "pagrove";
  argv.push_back(program);
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  testing::internal::CaptureStdout();
  const bool ok = ParseOptions(argv.data(), settings);
  testing::internal::GetCapturedStdout();
  return ok;
}

// --- The table --------------------------------------------------------------

TEST(OptionTableTest, RowsInOrderWithDefaults) {
  const char* names[] = {"btrin", "btrout", "format", "silent"};
  for (int i = 0; i < kOptionCount; ++i) {
    EXPECT_STREQ(kOptionRows[i].name, names[i]);
    EXPECT_EQ(kOptionRows[i].id, i);
    EXPECT_EQ(FindOption(names[i]), &kOptionRows[i]);
  }
  EXPECT_STREQ(kOptionRows[1].defaultValue, "zelmarout.log");
  EXPECT_STREQ(kOptionRows[2].defaultValue, "1");
  EXPECT_EQ(kOptionRows[0].defaultValue, nullptr);
  EXPECT_EQ(kOptionRows[3].defaultValue, nullptr);
}

TEST(OptionTableTest, LookupIsExactAndCaseSensitive) {
  for (const char* name : {"Format", "BTRIN", "-btrin", "btri", "btrinx", "", "h"}) {
    EXPECT_EQ(FindOption(name), nullptr) << name;
  }
}

// --- Setters ----------------------------------------------------------------------

TEST(OptionSetterTest, FormatAcceptsOneDigitOneToFourOnly) {
  // Nothing else in this program computes a CRC, so the table is still
  // unbuilt here unless the setter builds it.
  if (CrcTableReady()) GTEST_SKIP() << "CRC table built by an earlier test";
  ConsoleSettings settings = {};
  testing::internal::CaptureStdout();
  EXPECT_EQ(SetFormat("2", &settings), 1);
  EXPECT_FALSE(CrcTableReady());
  EXPECT_EQ(SetFormat("3", &settings), 1);
  EXPECT_TRUE(CrcTableReady());
  EXPECT_EQ(settings.format, '3');
  for (const char* bad : {"12", "0", "5", "", "a", "3 ", "33"}) {
    EXPECT_EQ(SetFormat(bad, &settings), 0) << bad;
    EXPECT_EQ(settings.format, '3') << bad;
  }
  std::string expected;
  for (int i = 0; i < 7; ++i) expected += "Invalid format specified\n";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
}

TEST(OptionSetterTest, SilentValues) {
  struct Case { const char* value; int accepted; bool silent; };
  const Case cases[] = {
      {"true", 1, true}, {"TRUE", 1, true}, {"tRuE", 1, true},
      {"false", 1, false}, {"FALSE", 1, false},
      {"1", 1, false}, {"T", 1, false}, {"", 1, false}, {"x", 1, false},
      {"yes", 0, true}, {"truee", 0, true}, {"tru", 0, true}, {"0false", 0, true},
  };
  for (const Case& c : cases) {
    ConsoleSettings settings = {};
    settings.silent = true;  // so that "left off" and "set off" differ
    if (c.accepted == 1) settings.silent = !c.silent;
    testing::internal::CaptureStdout();
    EXPECT_EQ(SetSilent(c.value, &settings), c.accepted) << c.value;
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(settings.silent, c.silent) << c.value;
    EXPECT_EQ(printed, c.accepted ? "" : "Invalid silent mode specified\n") << c.value;
  }
}

TEST(OptionSetterTest, PathLengthLimits) {
  ConsoleSettings settings = {};
  const std::string longest(256, 'p');
  const std::string tooLong(257, 'q');
  testing::internal::CaptureStdout();
  EXPECT_EQ(SetInputFile(longest.c_str(), &settings), 1);
  EXPECT_EQ(SetInputFile(tooLong.c_str(), &settings), 0);
  EXPECT_EQ(SetInputFile("", &settings), 0);
  EXPECT_EQ(SetOutputFile(longest.c_str(), &settings), 1);
  EXPECT_EQ(SetOutputFile(tooLong.c_str(), &settings), 0);
  EXPECT_EQ(SetOutputFile("", &settings), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Invalid input file name (to long?)\n"
            "No input file name provided\n"
            "Invalid output file name (to long?)\n"
            "No output file name provided\n");
  EXPECT_EQ(settings.inputPath, longest);
  EXPECT_EQ(settings.outputPath, longest);
}

// --- The parser ---------------------------------------------------------------------

TEST(ParseOptionsTest, DefaultsWithoutOptions) {
  ConsoleSettings settings;
  settings.silent = true;
  ASSERT_TRUE(Parse({}, &settings));
  EXPECT_STREQ(settings.inputPath, "");
  EXPECT_STREQ(settings.outputPath, "zelmarout.log");
  EXPECT_EQ(settings.format, '1');
  EXPECT_FALSE(settings.silent);
}

TEST(ParseOptionsTest, AllOptionsAndLaterValuesWin) {
  ConsoleSettings settings;
  ASSERT_TRUE(Parse({"-btrin", "a.btr", "-format", "4", "-btrout", "o.txt",
                     "-silent", "TRUE", "-format", "2", "-btrin", "b.btr"},
                    &settings));
  EXPECT_STREQ(settings.inputPath, "b.btr");
  EXPECT_STREQ(settings.outputPath, "o.txt");
  EXPECT_EQ(settings.format, '2');
  EXPECT_TRUE(settings.silent);
}

TEST(ParseOptionsTest, TwoLongestPathsInEitherOrderStayWhole) {
  const std::string in(256, 'i');
  const std::string out(256, 'o');
  ConsoleSettings settings;
  ASSERT_TRUE(Parse({"-btrin", in, "-btrout", out}, &settings));
  EXPECT_EQ(settings.inputPath, in);
  EXPECT_EQ(settings.outputPath, out);
  ASSERT_TRUE(Parse({"-btrout", out, "-btrin", in}, &settings));
  EXPECT_EQ(settings.inputPath, in);
  EXPECT_EQ(settings.outputPath, out);
}

TEST(ParseOptionsTest, StopsAtFirstNameWithoutDash) {
  ConsoleSettings settings;
  ASSERT_TRUE(Parse({"-btrin", "a.btr", "extra", "-format", "3"}, &settings));
  EXPECT_STREQ(settings.inputPath, "a.btr");
  EXPECT_EQ(settings.format, '1');
  ASSERT_TRUE(Parse({"x", "-format", "nonsense"}, &settings));
  EXPECT_EQ(settings.format, '1');
}

TEST(ParseOptionsTest, RejectionsStopTheParse) {
  // The messages themselves are checked on the running program.
  ConsoleSettings settings;
  EXPECT_FALSE(Parse({"-Format", "3"}, &settings));
  EXPECT_FALSE(Parse({"-btrin", "a", "-h", "x"}, &settings));
  EXPECT_FALSE(Parse({"-btrin", "a", "-format", "5", "-btrout", "late"}, &settings));
  EXPECT_STREQ(settings.outputPath, "zelmarout.log");
  // An option name with no value behind it is refused, even for -silent,
  // whose empty value would be accepted.
  EXPECT_FALSE(Parse({"-btrin", "a", "-silent"}, &settings));
}

}  // namespace
