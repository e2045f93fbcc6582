// Real files of an accounting suite and a DOS bookkeeping suite with
// compressed records of versions 0x0500 and 0x0600, and owner-protected
// files whose pages are encrypted.  The folder lies beside the source tree
// and is not part of it; without it the tests are skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "tests/reader/reader_test_util.h"

using namespace readertest;

namespace {

namespace fs = std::filesystem;

const fs::path kCorpus2 = GANDREL_CORPUS2_DIR;

std::string Text(const std::vector<uint8_t>& record) {
  return std::string(record.begin(), record.end());
}

}  // namespace

TEST(Corpus2, CompressedRecordsDecodeToTheApplicationsText) {
  if (!fs::exists(kCorpus2)) GTEST_SKIP() << kCorpus2 << " is not there";
  struct Case {
    const char* path;
    size_t records;
    size_t index;
    const char* text;  // found in that record
  } cases[] = {
      {"ficore/euro-dat/ST1100.BTR", 2961, 0, "WOKA-Management"},
      {"ficore/euro/akv1500.btr", 383, 0, "Lilienfeld"},
      {"ficore/euro-exe/EURODATA.BTR", 206, 1, "AKV - Insolvenzverfahren"},
      {"ficore/euro-hlp/aufhlp0_.043", 930, 0, "Artikelnummer"},
      {"exchequer/v600-common-importer-misc/IMPORTJOB.DAT", 1, 0, "JobNoRec"},
  };
  for (const Case& c : cases) {
    for (ReaderVariant v : kBothVariants) {
      const ReadResult r = ReadAll((kCorpus2 / c.path).string(), v);
      ASSERT_EQ(r.records.size(), c.records) << c.path << " " << VariantName(v);
      EXPECT_NE(Text(r.records[c.index]).find(c.text), std::string::npos) << c.path;
      // Every record of these files is decoded, none is empty.
      EXPECT_TRUE(std::none_of(r.records.begin(), r.records.end(),
                               [](const auto& rec) { return rec.empty(); }));
    }
  }
  // The FiCore records begin with their own length in five digits (at 0,
  // or at 7 in the help files): the decoded length must agree with it.
  const ReadResult st = ReadAll((kCorpus2 / "ficore/euro-dat/ST1100.BTR").string(),
                                ReaderVariant::Console);
  for (const auto& record : st.records) {
    ASSERT_GE(record.size(), 5u);
    EXPECT_EQ(std::stoul(Text(record).substr(0, 5)), record.size());
  }
}

TEST(Corpus2, EncryptedFilesAreRefusedWithStatus2) {
  if (!fs::exists(kCorpus2)) GTEST_SKIP() << kCorpus2 << " is not there";
  for (const char* path : {"ficore/euro-dat/SYPARA.BTR", "ficore/euro-dat/auform.043",
                           "ficore/euro-dat/vsform.043", "ficore/euro-exe/FIMASK.043",
                           "ficore/euro-exe/kamask.043"}) {
    for (ReaderVariant v : kBothVariants) {
      EXPECT_EQ(ReadAll((kCorpus2 / path).string(), v).openStatus, kReaderUnusable) << path;
    }
  }
}
