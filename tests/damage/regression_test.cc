// Replays the inputs kept from fuzzing: the crash and hang inputs under
// tests/damage/regressions and the minimised corpus under fuzz/corpus.  Each
// is walked as the fuzz target walks it, in both variants with a large, a
// small and a zero capacity, and dumped in all ten formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "dump/crc32.h"
#include "dump/dump_writer.h"
#include "tests/damage/damage_util.h"

namespace damage {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir, error)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name[0] != '.' && name != "README") {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

void DumpEverywhere(const std::vector<uint8_t>& record, FILE* sink) {
  std::vector<char> text(kDumpTextBufferSize);
  const uint32_t length = static_cast<uint32_t>(record.size());
  for (char format = '1'; format <= '4'; ++format) {
    DumpOutput output = {sink, text.data(), format};
    WriteDumpRecord(&output, length, record.data());
  }
  for (uint8_t format = 1; format <= 6; ++format) {
    WriteDumpRecord(format, length, record.data(), sink);
  }
}

void Replay(const std::string& group, const fs::path& dir) {
  const std::vector<fs::path> files = FilesIn(dir);
  // A plain return rather than a skip: skipped tests crash the 32-bit
  // Windows build under Wine.
  if (files.empty()) {
    std::printf("no inputs in %s\n", dir.string().c_str());
    return;
  }
  BuildCrcTable();
  fixture::ScopedTempFile dump(std::vector<uint8_t>{}, ".dmp");
  FILE* sink = std::fopen(dump.path().c_str(), "wb");
  ASSERT_NE(sink, nullptr);
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    for (ReaderVariant variant : kBothVariants) {
      for (uint32_t capacity : {64000u, 9u, 0u}) {
        const Walk walk = WalkPath(file.string(), variant, capacity);
        ExpectSane(group, variant, walk);
        // Keep the dump file small: only its start matters to the writers.
        for (size_t k = 0; k < walk.records.size() && k < 50; ++k) {
          DumpEverywhere(walk.records[k], sink);
        }
        std::fflush(sink);
        std::rewind(sink);
      }
    }
  }
  std::fclose(sink);
}

TEST(FuzzFindings, CrashAndHangInputsStayFixed) {
  Replay("fuzz findings (tests/damage/regressions)",
         fs::path(GANDREL_SOURCE_DIR) / "tests" / "damage" / "regressions");
}

TEST(FuzzFindings, MinimisedCorpusStillRuns) {
  Replay("fuzz corpus (fuzz/corpus)", fs::path(GANDREL_SOURCE_DIR) / "fuzz" / "corpus");
}

}  // namespace
}  // namespace damage
