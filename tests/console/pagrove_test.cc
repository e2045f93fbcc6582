// pagrove run as a user runs it: a separate process, standard input from the
// null device, data files made by the fixture writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "dump/crc32.h"
#include "tests/console/process_runner.h"
#include "tests/fixture/fixture_writer.h"

#ifndef _WIN32
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#endif

namespace {

using Bytes = std::vector<uint8_t>;

const char kUsage[] =
    "Gandrel version \"0.1\n"
    "usage: pagrove [options] \n"
    "  -btrin\t\tfile to extract\n"
    "  -btrout\tfile to save data to (default: \"zelmarout.log\")\n"
    "  -format\toutput format\n"
    "1 - BUTIL save format\n"
    "2 - BUTIL format without len\n"
    "3 - HEX dump including leading CRC\n"
    "4 - pur HEX dump\n"
    " (default: \"1\")\n"
    "  -silent\tsilent mode true or false\n"
    "\n"
    "example: pagrove -btrin myfile.btr -btrout dump.hex -format 3\n";

const char kPrompt[] = "press any key to exit the app\n";

std::string PagrovePath() {
  std::string path = PAGROVE_PATH;
#ifdef _WIN32
  // Built on a Unix host and run under Wine, where drive Z: is the root.
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) if (c == '/') c = '\\';
#endif
  return path;
}

// The console text of the Windows runtime ends lines with CR LF; the tests
// compare line contents.
std::string Lines(std::string text) {
#ifdef _WIN32
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    plain += text[i];
  }
  return plain;
#else
  return text;
#endif
}

ProcessOptions InDirectory(const std::string& path) {
  ProcessOptions options;
  options.workingDirectory = path;
  return options;
}

ProcessResult Pagrove(const std::vector<std::string>& arguments,
                      const ProcessOptions& options = {}) {
  ProcessResult result = RunProcess(PagrovePath(), arguments, options);
  EXPECT_TRUE(result.started) << PagrovePath();
  EXPECT_FALSE(result.timedOut);
  result.out = Lines(result.out);
  result.err = Lines(result.err);
  return result;
}

// The whole bytes of each record as the reader hands them out.
std::vector<Bytes> RecordBytes(const std::vector<fixture::FixtureRecord>& records,
                               uint16_t recordLength) {
  std::vector<Bytes> all;
  for (const fixture::FixtureRecord& r : records) {
    Bytes b = r.fixed;
    b.resize(recordLength, 0);
    b.insert(b.end(), r.variable.begin(), r.variable.end());
    all.push_back(b);
  }
  return all;
}

// The dump file a console run must leave, built from the record bytes.
Bytes ExpectedDump(char format, const std::vector<Bytes>& records) {
  std::string out;
  const char* digits = "0123456789abcdef";
  for (const Bytes& r : records) {
    if (format == '1') out += std::to_string(r.size()) + ",";
    if (format == '3') {
      char crc[16];
      snprintf(crc, sizeof crc, "%02x:",
               static_cast<unsigned>(Crc32(static_cast<uint32_t>(r.size()), r.data())));
      out += crc;
    }
    if (format == '1' || format == '2') {
      out.append(r.begin(), r.end());
    } else {
      for (uint8_t b : r) {
        out += digits[b >> 4];
        out += digits[b & 15];
      }
    }
    out += "\r\n";
  }
  if (format == '1' || format == '2') out += '\x1A';
  return Bytes(out.begin(), out.end());
}

std::string ExpectedLines(const std::vector<Bytes>& records) {
  std::string out;
  for (size_t i = 0; i < records.size(); ++i) {
    out += "Rec: " + std::to_string(i + 1) + " - Len: " +
           std::to_string(records[i].size()) + " \n";
  }
  return out + kPrompt;
}

fixture::FixtureOptions Options(uint16_t version, bool variable) {
  fixture::FixtureOptions o;
  o.version = version;
  o.variableLength = variable;
  o.recordLength = 40;
  o.pageSize = version >= 0x0600 ? 1024 : 512;
  return o;
}

class PagroveTest : public testing::Test {
 protected:
  ScopedTempDir dir_;
};

// --- Command line and usage text ---------------------------------------------------

TEST_F(PagroveTest, UsageTextForTooFewArgumentsAndHelp) {
  const std::vector<std::vector<std::string>> commandLines = {
      {},
      {"-btrin", "a.btr"},
      {"-btrin", "a.btr", "-format"},
      {"-h", "a", "b", "c"},
      {"--help", "a", "b", "c"},
      {"-h"},
  };
  for (const auto& arguments : commandLines) {
    const ProcessResult r = Pagrove(arguments, InDirectory(dir_.path()));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, kUsage);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(FileExists(dir_.File("zelmarout.log")));
}

TEST_F(PagroveTest, OptionFailuresEndWithCodeOneAndNoDumpFile) {
  const std::string data = dir_.File("data.btr");
  ASSERT_TRUE(fixture::WriteFileBytes(
      data, fixture::BuildDataFile(Options(0x0600, false),
                                   fixture::MakeRecords(3, 40, 0, 1)).bytes));
  const std::string out = dir_.File("out.dump");
  const std::string tooLong(257, 'x');
  struct Case { std::vector<std::string> arguments; std::string printed; };
  const Case cases[] = {
      {{"-btrin", data, "-Format", "3"}, "set_option: No such option: [Format]"},
      {{"--btrin", data, "-btrout", out}, "set_option: No such option: [-btrin]"},
      {{"-", data, "-btrout", out}, "set_option: No such option: []"},
      {{"-btrin", data, "-h", out}, "set_option: No such option: [h]"},
      {{"-btrout", out, "-btrin", ""},
       "No input file name provided\nset_option(btrin): failure"},
      {{"-btrout", out, "-btrin", tooLong},
       "Invalid input file name (to long?)\nset_option(btrin): failure"},
      {{"-btrin", data, "-btrout", ""},
       "No output file name provided\nset_option(btrout): failure"},
      {{"-btrin", data, "-btrout", tooLong},
       "Invalid output file name (to long?)\nset_option(btrout): failure"},
      {{"-btrin", data, "-btrout", out, "-format", "12"},
       "Invalid format specified\nset_option(format): failure"},
      {{"-btrin", data, "-btrout", out, "-format", "0"},
       "Invalid format specified\nset_option(format): failure"},
      {{"-btrin", data, "-btrout", out, "-format", ""},
       "Invalid format specified\nset_option(format): failure"},
      {{"-btrin", data, "-btrout", out, "-silent", "yes"},
       "Invalid silent mode specified\nset_option(silent): failure"},
      {{"-btrin", data, "-btrout", out, "-silent"},
       "Invalid silent mode specified\nset_option(silent): failure"},
  };
  for (const Case& c : cases) {
    const ProcessResult r = Pagrove(c.arguments, InDirectory(dir_.path()));
    EXPECT_EQ(r.exitCode, 1) << c.printed;
    EXPECT_EQ(r.out, c.printed);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(FileExists(out)) << c.printed;
    EXPECT_FALSE(FileExists(dir_.File("zelmarout.log"))) << c.printed;
  }
}

// --- Dump bytes and console lines ------------------------------------------------------

TEST_F(PagroveTest, AllFormatsForFixedAndVariableFilesOfEveryVersion) {
  const uint16_t versions[] = {0x0300, 0x0400, 0x0500, 0x0600,
                               0x0610, 0x0700, 0x0800, 0x0900};
  for (uint16_t version : versions) {
    for (bool variable : {false, true}) {
      const fixture::FixtureOptions o = Options(version, variable);
      const auto records = fixture::MakeRecords(30, o.recordLength, variable ? 300 : 0,
                                                version + variable);
      const std::string data = dir_.File("data.btr");
      ASSERT_TRUE(fixture::WriteFileBytes(data, fixture::BuildDataFile(o, records).bytes));
      const std::vector<Bytes> expected = RecordBytes(records, o.recordLength);
      for (char format : {'1', '2', '3', '4'}) {
        SCOPED_TRACE(testing::Message() << "version " << std::hex << version
                                        << (variable ? " variable" : " fixed")
                                        << " format " << format);
        const std::string out = dir_.File("out.dump");
        const ProcessResult r = Pagrove(
            {"-btrin", data, "-btrout", out, "-format", std::string(1, format)});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, ExpectedLines(expected));
        EXPECT_EQ(fixture::ReadFileBytes(out), ExpectedDump(format, expected));
      }
    }
  }
}

TEST_F(PagroveTest, DefaultsWriteFormatOneToZelmaroutInTheWorkingDirectory) {
  const auto records = fixture::MakeRecords(5, 40, 0, 7);
  const std::string data = dir_.File("data.btr");
  ASSERT_TRUE(fixture::WriteFileBytes(
      data, fixture::BuildDataFile(Options(0x0400, false), records).bytes));
  const ProcessResult r = Pagrove({"-btrin", data, "-silent", "false"}, InDirectory(dir_.path()));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(fixture::ReadFileBytes(dir_.File("zelmarout.log")),
            ExpectedDump('1', RecordBytes(records, 40)));
}

TEST_F(PagroveTest, ParsingStopsAtAnArgumentWithoutDash) {
  const auto records = fixture::MakeRecords(4, 40, 0, 8);
  const std::string data = dir_.File("data.btr");
  ASSERT_TRUE(fixture::WriteFileBytes(
      data, fixture::BuildDataFile(Options(0x0600, false), records).bytes));
  const std::string out = dir_.File("out.dump");
  const ProcessResult r =
      Pagrove({"-btrin", data, "-btrout", out, "extra", "-format", "3"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(fixture::ReadFileBytes(out), ExpectedDump('1', RecordBytes(records, 40)));
}

TEST_F(PagroveTest, LongestPathsAreKeptWhole) {
  const auto records = fixture::MakeRecords(3, 40, 0, 9);
  // Paths of exactly 256 characters, in a sub-directory so that no single
  // name is longer than the file system allows.
  const std::string sub = dir_.File(std::string(120, 'd'));
  ASSERT_TRUE(std::filesystem::create_directory(sub));
  std::string data = (std::filesystem::path(sub) / "in").string();
  std::string out = (std::filesystem::path(sub) / "out").string();
  ASSERT_LT(data.size(), 256u);
  data += std::string(256 - data.size(), 'i');
  out += std::string(256 - out.size(), 'o');
  ASSERT_EQ(data.size(), 256u);
  ASSERT_EQ(out.size(), 256u);
  ASSERT_TRUE(fixture::WriteFileBytes(
      data, fixture::BuildDataFile(Options(0x0500, false), records).bytes));

  for (bool inputFirst : {true, false}) {
    std::remove(out.c_str());
    const std::vector<std::string> arguments =
        inputFirst ? std::vector<std::string>{"-btrin", data, "-btrout", out, "-format", "4"}
                   : std::vector<std::string>{"-btrout", out, "-btrin", data, "-format", "4"};
    const ProcessResult r = Pagrove(arguments);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(fixture::ReadFileBytes(out), ExpectedDump('4', RecordBytes(records, 40)));
  }
  std::remove(data.c_str());
  std::remove(out.c_str());
}

TEST_F(PagroveTest, SilentValues) {
  const auto records = fixture::MakeRecords(2, 40, 0, 10);
  const std::string data = dir_.File("data.btr");
  ASSERT_TRUE(fixture::WriteFileBytes(
      data, fixture::BuildDataFile(Options(0x0700, false), records).bytes));
  const std::string out = dir_.File("out.dump");
  struct Case { const char* value; bool silent; };
  for (const Case& c : {Case{"true", true}, Case{"TRUE", true}, Case{"TrUe", true},
                        Case{"false", false}, Case{"1", false}, Case{"T", false},
                        Case{"", false}}) {
    const ProcessResult r = Pagrove({"-btrin", data, "-btrout", out, "-silent", c.value});
    EXPECT_EQ(r.exitCode, 0) << c.value;
    EXPECT_EQ(r.out, c.silent ? "" : ExpectedLines(RecordBytes(records, 40))) << c.value;
    EXPECT_EQ(fixture::ReadFileBytes(out), ExpectedDump('1', RecordBytes(records, 40)));
  }
}

// --- Runs that find nothing to dump ----------------------------------------------------

TEST_F(PagroveTest, MissingDataFileLeavesNoDumpFile) {
  const std::string out = dir_.File("out.dump");
  ProcessResult r = Pagrove({"-btrin", dir_.File("absent.btr"), "-btrout", out});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, std::string("File could not be opened (ErrorCode: 2)\n") + kPrompt);
  EXPECT_FALSE(FileExists(out));

  r = Pagrove({"-btrin", dir_.File("absent.btr"), "-btrout", out, "-silent", "true"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "File could not be opened (ErrorCode: 2)\n");

  // Without -btrin the empty path is tried.
  r = Pagrove({"-btrout", out, "-format", "2"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, std::string("File could not be opened (ErrorCode: 2)\n") + kPrompt);
  EXPECT_FALSE(FileExists(out));
}

TEST_F(PagroveTest, FileWithoutRecordsGivesTrailerOrEmptyDump) {
  const std::string data = dir_.File("empty.btr");
  ASSERT_TRUE(fixture::WriteFileBytes(
      data, fixture::BuildDataFile(Options(0x0600, false), {}).bytes));
  for (char format : {'1', '2', '3', '4'}) {
    const std::string out = dir_.File(std::string("out") + format);
    const ProcessResult r =
        Pagrove({"-btrin", data, "-btrout", out, "-format", std::string(1, format)});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kPrompt);
    ASSERT_TRUE(FileExists(out));
    EXPECT_EQ(fixture::ReadFileBytes(out),
              format <= '2' ? Bytes{0x1A} : Bytes{}) << format;
  }
}

TEST_F(PagroveTest, UncreatableDumpFileIsReported) {
  const auto records = fixture::MakeRecords(2, 40, 0, 11);
  const std::string data = dir_.File("data.btr");
  ASSERT_TRUE(fixture::WriteFileBytes(
      data, fixture::BuildDataFile(Options(0x0600, false), records).bytes));
  const std::string out = dir_.File("no-such-dir") + "/out.dump";
  const ProcessResult r = Pagrove({"-btrin", data, "-btrout", out});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "Unable to create output file (" + out + ")\n" + kPrompt);
}

// --- Records longer than the record area -----------------------------------------------

TEST_F(PagroveTest, TooLongRecordIsSkippedAndTheRestSalvaged) {
  fixture::FixtureOptions o = Options(0x0600, true);
  o.pageSize = 4096;
  auto records = fixture::MakeRecords(4, o.recordLength, 50, 12);
  records[1].variable.assign(65000 - o.recordLength, 0x5A);
  const std::string data = dir_.File("long.btr");
  ASSERT_TRUE(fixture::WriteFileBytes(data, fixture::BuildDataFile(o, records).bytes));
  std::vector<Bytes> all = RecordBytes(records, o.recordLength);
  std::vector<Bytes> dumped = {all[0], all[2], all[3]};

  const std::string out = dir_.File("out.dump");
  ProcessResult r = Pagrove({"-btrin", data, "-btrout", out, "-format", "2"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "Rec: 1 - Len: " + std::to_string(all[0].size()) + " \n" +
                       "Rec: 2 - Len: 65000 - too long, not dumped \n" +
                       "Rec: 3 - Len: " + std::to_string(all[2].size()) + " \n" +
                       "Rec: 4 - Len: " + std::to_string(all[3].size()) + " \n" + kPrompt);
  EXPECT_EQ(fixture::ReadFileBytes(out), ExpectedDump('2', dumped));

  r = Pagrove({"-btrin", data, "-btrout", out, "-format", "3", "-silent", "true"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(fixture::ReadFileBytes(out), ExpectedDump('3', dumped));
}

#ifndef _WIN32
// --- POSIX: write errors, signals and the key prompt -------------------------------------

TEST_F(PagroveTest, WriteErrorOnTheDumpFileEndsWithCodeOne) {
  if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const auto records = fixture::MakeRecords(50, 40, 0, 13);
  const std::string data = dir_.File("data.btr");
  ASSERT_TRUE(fixture::WriteFileBytes(
      data, fixture::BuildDataFile(Options(0x0600, false), records).bytes));
  const ProcessResult r =
      Pagrove({"-btrin", data, "-btrout", "/dev/full", "-silent", "true"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Error writing output file (/dev/full)\n");
}

// The dump goes into a FIFO that the test stops reading, so the run is
// certainly inside the record loop when SIGTERM arrives: the dump is many
// times the pipe and the writer's block of gathered entries.
TEST_F(PagroveTest, SigtermEndsTheRunWithCodeOneAndNoTrailer) {
  const auto records = fixture::MakeRecords(2400, 1000, 0, 14);
  fixture::FixtureOptions o = Options(0x0600, false);
  o.recordLength = 1000;
  o.pageSize = 4096;
  const std::string data = dir_.File("data.btr");
  ASSERT_TRUE(fixture::WriteFileBytes(data, fixture::BuildDataFile(o, records).bytes));
  const std::string fifo = dir_.File("dump.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

  std::string received;
  ProcessOptions options;
  options.duringRun = [&](long pid, int, const std::string&) {
    FILE* in = fopen(fifo.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    char chunk[4096];
    ASSERT_EQ(fread(chunk, 1, sizeof chunk, in), sizeof chunk);
    received.append(chunk, sizeof chunk);
    // Let the writer fill the pipe and block, then end it.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(static_cast<pid_t>(pid), SIGTERM);
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, in)) > 0) received.append(chunk, n);
    fclose(in);
  };
  const ProcessResult r = Pagrove({"-btrin", data, "-btrout", fifo}, options);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.terminatedBy, 0);
  EXPECT_EQ(r.out.find(kPrompt), std::string::npos);
  const Bytes full = ExpectedDump('1', RecordBytes(records, 1000));
  ASSERT_LT(received.size(), full.size() - 1);
  const auto mismatch = std::mismatch(received.begin(), received.end(), full.begin());
  EXPECT_EQ(mismatch.first, received.end())
      << "differs at byte " << (mismatch.first - received.begin()) << " of "
      << received.size();
  EXPECT_NE(received.back(), '\x1A');
  // The run stops between two entries and the runtime's exit flushes what
  // was written: the dump ends with a whole entry.
  ASSERT_GE(received.size(), 2u);
  EXPECT_EQ(received.substr(received.size() - 2), "\r\n");
}

bool WaitForText(const std::string& path, const std::string& text) {
  for (int i = 0; i < 2000; ++i) {
    const Bytes b = fixture::ReadFileBytes(path);
    if (std::string(b.begin(), b.end()).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

TEST_F(PagroveTest, KeyPromptWaitsForOneKeyOnATerminalWithoutEcho) {
  const auto records = fixture::MakeRecords(2, 40, 0, 15);
  const std::string data = dir_.File("data.btr");
  ASSERT_TRUE(fixture::WriteFileBytes(
      data, fixture::BuildDataFile(Options(0x0600, false), records).bytes));
  const std::string out = dir_.File("out.dump");

  bool waited = false;
  std::string echoed;
  ProcessOptions options;
  options.terminalInput = true;
  options.duringRun = [&](long pid, int master, const std::string& stdoutPath) {
    ASSERT_TRUE(WaitForText(stdoutPath, kPrompt));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    waited = waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG) == 0;
    ASSERT_EQ(write(master, "k", 1), 1);
    // Anything the terminal echoes comes back on the master side.
    pollfd p = {master, POLLIN, 0};
    if (poll(&p, 1, 300) == 1) {
      char c[16];
      const ssize_t n = read(master, c, sizeof c);
      if (n > 0) echoed.assign(c, static_cast<size_t>(n));
    }
  };
  const ProcessResult r = Pagrove({"-btrin", data, "-btrout", out}, options);
  EXPECT_TRUE(waited);
  EXPECT_EQ(echoed, "");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, ExpectedLines(RecordBytes(records, 40)));
}

TEST_F(PagroveTest, CtrlCAtTheKeyPromptEndsWithCodeOneAndGivesTheEchoBack) {
  const std::string data = dir_.File("data.btr");
  ASSERT_TRUE(fixture::WriteFileBytes(
      data, fixture::BuildDataFile(Options(0x0600, false),
                                   fixture::MakeRecords(1, 40, 0, 17)).bytes));
  termios during = {};
  termios after = {};
  ProcessOptions options;
  options.terminalInput = true;
  options.duringRun = [&](long pid, int master, const std::string& stdoutPath) {
    ASSERT_TRUE(WaitForText(stdoutPath, kPrompt));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(tcgetattr(master, &during), 0);
    kill(static_cast<pid_t>(pid), SIGINT);
    siginfo_t info = {};
    waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    ASSERT_EQ(tcgetattr(master, &after), 0);
  };
  const ProcessResult r =
      Pagrove({"-btrin", data, "-btrout", dir_.File("o"), "-format", "4"}, options);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(during.c_lflag & (ECHO | ICANON), 0u);
  EXPECT_EQ(after.c_lflag & (ECHO | ICANON), static_cast<tcflag_t>(ECHO | ICANON));
}

TEST_F(PagroveTest, SilentRunOnATerminalPrintsNothingAndDoesNotWait) {
  const auto records = fixture::MakeRecords(2, 40, 0, 16);
  const std::string data = dir_.File("data.btr");
  ASSERT_TRUE(fixture::WriteFileBytes(
      data, fixture::BuildDataFile(Options(0x0600, false), records).bytes));
  ProcessOptions options;
  options.terminalInput = true;
  options.timeoutSeconds = 10;
  const ProcessResult r =
      Pagrove({"-btrin", data, "-btrout", dir_.File("o"), "-silent", "true"}, options);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}
#endif  // _WIN32

}  // namespace
