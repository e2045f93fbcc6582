// Salvage on every engine-written file of the shared corpora: exactly the
// records the reader gives, and no damage found; nothing from the files the
// reader refuses (other formats, encrypted pages).  Skipped where the corpus
// folders are not beside the source tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "reader/datafile.h"
#include "tests/salvage/salvage_test_util.h"

namespace {

TEST(CorpusSalvageTest, HealthyFilesGiveTheReadersRecords) {
  std::vector<std::string> files;
  for (const std::string root : {GANDREL_CORPUS_DIR, GANDREL_CORPUS_V7_DIR, GANDREL_CORPUS_2_DIR}) {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_directory() && it->path().filename() == "expected") {
        it.disable_recursion_pending();
      } else if (it->is_regular_file() && it->path().extension() != ".md") {
        files.push_back(it->path().string());
      }
    }
  }
  if (files.empty()) GTEST_SKIP() << "no corpus at " << GANDREL_CORPUS_DIR;
  std::sort(files.begin(), files.end());
  size_t same = 0;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    SalvageReport report;
    const Records got = SalvageRecords(file, &report);
    DataFile df = {};
    const ReaderStatus open = OpenDataFile(file.c_str(), &df, ReaderVariant::Console);
    CloseDataFile(&df, open);
    if (open != kReaderOk) {
      EXPECT_TRUE(got.empty());
      EXPECT_EQ(report.status, kSalvageNothing);
      same += got.empty();
      continue;
    }
    const Records expected = ReaderRecords(file);
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
    EXPECT_EQ(report.status, kSalvageHealthy) << report.error;
    same += got == expected;
  }
  printf("corpus: %zu of %zu files give what the reader gives\n", same, files.size());
}

// An alternate collating sequence page ('A') is a page the file holds, not
// a header that fits nothing: with four pages zeroed after it and a stale
// copy of an index page behind them, no grid shift is made up, and every
// record whose bytes survive comes back.
TEST(CorpusSalvageTest, ZeroedPagesAfterACollatingPageMoveNoGrid) {
  const std::string file = std::string(GANDREL_CORPUS_V7_DIR) + "/exchequer-blank-mc/EXCHQNUM.DAT";
  std::vector<uint8_t> bytes = fixture::ReadFileBytes(file);
  if (bytes.size() < 9 * 1024) GTEST_SKIP() << "no corpus file " << file;
  ASSERT_EQ(bytes[4 * 1024 + 1], 'A');
  std::fill(bytes.begin() + 5 * 1024, bytes.begin() + 9 * 1024, 0);
  Records expected;
  for (const std::vector<uint8_t>& r : ReaderRecords(file)) {
    if (std::search(bytes.begin(), bytes.end(), r.begin(), r.end()) != bytes.end()) {
      expected.push_back(r);
    }
  }
  ASSERT_GT(expected.size(), 0u);
  fixture::ScopedTempFile damaged(bytes);
  SalvageReport report;
  const Records got = SalvageRecords(damaged.path(), &report);
  EXPECT_TRUE(report.geometry.gridShifts.empty());
  EXPECT_TRUE(SameRecords(got, expected));
  EXPECT_EQ(Invented(got, ReaderRecords(file)), 0u);
}

}  // namespace
