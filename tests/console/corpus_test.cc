// pagrove on every engine-written data file of the shared corpus: no crash,
// and as many records, console lines and dump entries as the file's header
// announces.  Skipped where the corpus folder is not beside the source tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "reader/datafile.h"
#include "tests/console/process_runner.h"
#include "tests/fixture/fixture_writer.h"

namespace {

std::string HostPath(std::string path) {
#ifdef _WIN32
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) if (c == '/') c = '\\';
#endif
  return path;
}

std::vector<std::string> CorpusFiles(const std::string& root) {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory() && it->path().filename() == "expected") {
      it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file() || it->path().extension() == ".md") continue;
    files.push_back(it->path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Entries of a format '1' dump ("length,bytes CR LF" ... 0x1A); -1 when the
// bytes do not have that shape.
long CountButilEntries(const std::vector<uint8_t>& dump) {
  long entries = 0;
  size_t pos = 0;
  while (pos < dump.size() && dump[pos] != 0x1A) {
    size_t length = 0;
    size_t digits = 0;
    while (pos < dump.size() && dump[pos] >= '0' && dump[pos] <= '9') {
      length = length * 10 + (dump[pos++] - '0');
      ++digits;
    }
    if (digits == 0 || pos >= dump.size() || dump[pos] != ',') return -1;
    pos += 1 + length;
    if (pos + 2 > dump.size() || dump[pos] != 0x0D || dump[pos + 1] != 0x0A) return -1;
    pos += 2;
    ++entries;
  }
  return pos + 1 == dump.size() ? entries : -1;
}

size_t CountLines(const std::string& text, const std::string& start) {
  size_t count = 0;
  for (size_t pos = 0; (pos = text.find(start, pos)) != std::string::npos; pos += start.size()) {
    if (pos == 0 || text[pos - 1] == '\n') ++count;
  }
  return count;
}

TEST(CorpusTest, EveryFileGivesTheRecordsItsHeaderAnnounces) {
  const std::string root = HostPath(GANDREL_CORPUS_DIR);
  if (!std::filesystem::is_directory(root)) GTEST_SKIP() << "no corpus at " << root;
  const std::vector<std::string> files = CorpusFiles(root);
  ASSERT_FALSE(files.empty());

  ScopedTempDir dir;
  const std::string out = dir.File("corpus.dump");
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    DataFile dataFile = {};
    const ReaderStatus status = OpenDataFile(file.c_str(), &dataFile, ReaderVariant::Console);
    const uint32_t announced = dataFile.recordCount;
    CloseDataFile(&dataFile, status);
    EXPECT_EQ(status, kReaderOk) << "header not readable";

    std::string program = HostPath(PAGROVE_PATH);
    ProcessOptions options;
    options.timeoutSeconds = 600;
    const ProcessResult r = RunProcess(program, {"-btrin", file, "-btrout", out}, options);
    ASSERT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.terminatedBy, 0);
    EXPECT_EQ(r.exitCode, 0);
    if (status != kReaderOk) continue;
    EXPECT_EQ(CountLines(r.out, "Rec: "), announced) << "console lines";
    EXPECT_EQ(CountButilEntries(fixture::ReadFileBytes(out)), static_cast<long>(announced))
        << "dump entries";
    std::remove(out.c_str());
  }
}

}  // namespace
