// The gandrel command line in process, and gandrel salvage run as a process
// on fixture files: dumps byte for byte the console writer's, exit codes,
// reports, several files in one run.
#include <gtest/gtest.h>

#include <filesystem>

#include "dump/dump_writer.h"
#include "gandrel/command_line.h"
#include "gandrel/salvage_command.h"
#include "tests/console/process_runner.h"
#include "tests/salvage/salvage_test_util.h"

namespace {

using fixture::ScopedTempFile;

bool Parse(std::vector<const char*> args, SalvageSettings* settings, std::string* error) {
  args.insert(args.begin(), {"gandrel", "salvage"});
  ParsedCommandLine parsed;
  if (!ParseCommandLine(kSalvageOptions, kSalvageOptionCount, static_cast<int>(args.size()),
                        args.data(), 2, &parsed, error)) {
    return false;
  }
  return ReadSalvageSettings(parsed, settings, error);
}

TEST(GandrelCommandLineTest, LongShortAndPositionalForms) {
  SalvageSettings s;
  std::string error;
  ASSERT_TRUE(Parse({"a.dat", "-o", "out", "--format=hex-crc", "--page-size", "1024",
                     "b.dat", "--version=0xF800", "--record-length", "0x20", "-q", "--lost-sectors",
                     "--", "-c"},
                    &s, &error))
      << error;
  EXPECT_EQ(s.files, (std::vector<std::string>{"a.dat", "b.dat", "-c"}));
  EXPECT_EQ(s.output, "out");
  EXPECT_EQ(s.format, kConsoleFormatHexCrc);
  EXPECT_EQ(s.overrides.pageSize, 1024u);
  EXPECT_EQ(s.overrides.version, 0x0800);  // the negative form names 0x0800
  EXPECT_EQ(s.overrides.recordLength, 32);
  EXPECT_TRUE(s.quiet);
  EXPECT_TRUE(s.overrides.lostSectors);
}

TEST(GandrelCommandLineTest, BadArgumentsNameWhatWasWrong) {
  const struct {
    std::vector<const char*> args;
    const char* mentions;
  } cases[] = {
      {{"a.dat"}, "-o"},
      {{"-o", "x"}, "no data file"},
      {{"a.dat", "-o", "x", "--format", "5"}, "--format '5'"},
      {{"a.dat", "-o", "x", "--page-size", "1000"}, "--page-size '1000'"},
      {{"a.dat", "-o", "x", "--version", "0x0650"}, "--version '0x0650'"},
      {{"a.dat", "-o", "x", "--record-length", "-3"}, "--record-length"},
      {{"a.dat", "-o", "x", "--frobnicate"}, "--frobnicate"},
      {{"a.dat", "-o"}, "-o needs a value"},
      {{"a.dat", "-o", "x", "--quiet=yes"}, "--quiet takes no value"},
  };
  for (const auto& c : cases) {
    SalvageSettings s;
    std::string error;
    EXPECT_FALSE(Parse(c.args, &s, &error));
    EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
  }
}

TEST(GandrelProcessTest, SalvageExitCodesDumpsAndReports) {
  ScopedTempDir dir;
  fixture::FixtureOptions o;
  o.version = 0x0800;
  o.variableLength = true;
  const fixture::BuiltFile healthy =
      fixture::BuildDataFile(o, fixture::MakeRecords(70, o.recordLength, 300, 3));
  ScopedTempFile good(healthy.bytes);
  std::vector<uint8_t> cut = healthy.bytes;
  cut.resize(cut.size() - o.pageSize - 100);
  ScopedTempFile damaged(cut);
  ScopedTempFile garbage(std::vector<uint8_t>(5000, 0x5A));

  const std::string dump = dir.File("one.dump");
  const std::string report = dir.File("one.json");
  ProcessResult r = RunProcess(GANDREL_PATH, {"salvage", good.path(), "-o", dump, "--report",
                                              report, "--format", "butil"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::vector<uint8_t> expected = ButilDump(ReaderRecords(good.path()), dir.File("x"));
  EXPECT_EQ(fixture::ReadFileBytes(dump), expected);
  const std::vector<uint8_t> json = fixture::ReadFileBytes(report);
  EXPECT_NE(std::string(json.begin(), json.end()).find("\"salvaged\":70"), std::string::npos);
  EXPECT_NE(r.err.find("records salvaged: 70"), std::string::npos);

  r = RunProcess(GANDREL_PATH, {"salvage", damaged.path(), "-o", dump, "-q"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_TRUE(r.err.empty());
  r = RunProcess(GANDREL_PATH, {"salvage", garbage.path(), "-o", dump});
  EXPECT_EQ(r.exitCode, 2);
  r = RunProcess(GANDREL_PATH, {"salvage", dir.File("missing.dat"), "-o", dump});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("missing.dat: cannot open"), std::string::npos) << r.err;
  r = RunProcess(GANDREL_PATH, {"salvage", good.path()});
  EXPECT_EQ(r.exitCode, 1);
  r = RunProcess(GANDREL_PATH, {"salvage", good.path(), "-o", good.path()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(fixture::ReadFileBytes(good.path()), healthy.bytes);  // never written

  // Several files: one dump and one report each; the bad ones stop nothing.
  const std::string out = dir.File("dumps");
  const std::string reports = dir.File("reports");
  r = RunProcess(GANDREL_PATH, {"salvage", garbage.path(), dir.File("missing.dat"), good.path(),
                                "-o", out, "--report", reports, "-q"});
  EXPECT_EQ(r.exitCode, 3);
  const std::string name = std::filesystem::path(good.path()).filename().string();
  EXPECT_EQ(fixture::ReadFileBytes(out + "/" + name + ".dump"), expected);
  EXPECT_TRUE(FileExists(reports + "/" + name + ".json"));

  for (const char* help : {"--help", "--version"}) {
    r = RunProcess(GANDREL_PATH, {help});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_FALSE(r.out.empty());
  }
  r = RunProcess(GANDREL_PATH, {"help", "salvage"});
  EXPECT_NE(r.out.find("--record-length"), std::string::npos);
  r = RunProcess(GANDREL_PATH, {"frobnicate"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("unknown command 'frobnicate'"), std::string::npos);
}

}  // namespace
