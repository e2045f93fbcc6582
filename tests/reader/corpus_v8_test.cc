// Real files written by the engine for an accounting suite (versions 0x0800,
// -0x0800 and 0x0900, and -0x0600), read as a user would read them.  The
// folder lies beside the source tree and is not part of it; without it the
// tests are skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "reader/format.h"
#include "tests/reader/reader_test_util.h"

using namespace readertest;

namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = GANDREL_CORPUS_V7PLUS_DIR;

// What the header of a file announces, decoded here from the raw bytes
// without the reader: for the "FC" files of byte 43 != 0 the copy with the
// greater word at 6 (copies at 0 and max(2 x page size, 2048)); for the
// -0x0600 files the copy with the greater word at 4 (copies at 0 and one
// page size).
struct Header {
  bool newLayout = false;
  uint32_t recordCount = 0;
  bool compressed = false;
  uint16_t decodedLength = 0;
};

Header ReadHeader(const std::vector<uint8_t>& bytes) {
  Header h;
  if (bytes.size() < 404) return h;
  const uint32_t pageSize = bytes[43] * 256u;
  const uint8_t* c1 = bytes.data();
  if (pageSize != 0) {
    h.newLayout = true;
    const size_t at = std::max<size_t>(2 * pageSize, 2048);
    const uint8_t* active = c1;
    if (bytes.size() >= at + 404 && DecodeLE16(bytes.data() + at + 6) > DecodeLE16(c1 + 6)) {
      active = bytes.data() + at;
    }
    h.recordCount = DecodeSwappedCount(active + 26);
    h.compressed = (DecodeLE16(active + 400) & 0x0008) != 0;
    h.decodedLength = DecodeLE16(active + 402);
  } else {
    const size_t at = DecodeLE16(c1 + 8);
    const uint8_t* active = bytes.data() + at;
    if (DecodeLE16(c1 + 4) > DecodeLE16(active + 4)) active = c1;
    h.recordCount = DecodeSwappedCount(active + 26);
  }
  return h;
}

std::vector<fs::path> CorpusFiles() {
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(kCorpus, error)) {
    if (!entry.is_regular_file()) continue;
    const std::string ext = entry.path().extension().string();
    if (ext == ".md" || ext == ".txt") continue;
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string Relative(const fs::path& path) {
  return fs::relative(path, kCorpus).generic_string();
}

bool Contains(const std::vector<uint8_t>& record, const std::string& text) {
  return std::search(record.begin(), record.end(), text.begin(), text.end()) !=
         record.end();
}

class CorpusV8 : public testing::Test {
 protected:
  void SetUp() override {
    if (!fs::is_directory(kCorpus)) {
      GTEST_SKIP() << "no corpus at " << kCorpus;
    }
  }
};

}  // namespace

// Every file, both variants: as many records as the active header announces,
// compressed records decoded to the length at 402, and the two variants
// handing out the same bytes.
TEST_F(CorpusV8, EveryFileGivesItsHeadersRecordCount) {
  uint32_t newFiles = 0, oldFiles = 0, compressedFiles = 0;
  uint64_t newRecords = 0, compressedRecords = 0;
  std::map<uint16_t, uint32_t> decodedLengths;  // length -> records
  for (const fs::path& path : CorpusFiles()) {
    SCOPED_TRACE(Relative(path));
    const Header header = ReadHeader(fixture::ReadFileBytes(path.string()));
    ReadResult results[2];
    for (ReaderVariant variant : kBothVariants) {
      ReadResult& r = results[static_cast<int>(variant)];
      r = ReadAll(path.string(), variant);
      ASSERT_EQ(r.openStatus, kReaderOk) << VariantName(variant);
      EXPECT_EQ(r.endStatus, kReaderEnd) << VariantName(variant);
      EXPECT_EQ(r.records.size(), header.recordCount) << VariantName(variant);
    }
    EXPECT_EQ(results[0].records, results[1].records);
    if (!header.newLayout) {
      ++oldFiles;
      continue;
    }
    ++newFiles;
    newRecords += results[0].records.size();
    if (!header.compressed) continue;
    ++compressedFiles;
    // What the wizard shows as the file's record length.
    DataFile df = {};
    ASSERT_EQ(OpenDataFile(path.string().c_str(), &df, ReaderVariant::Wizard), kReaderOk);
    EXPECT_EQ(df.recordLength, header.decodedLength);
    CloseDataFile(&df, kReaderOk);
    for (const auto& record : results[0].records) {
      ASSERT_EQ(record.size(), header.decodedLength);
      ++decodedLengths[header.decodedLength];
      ++compressedRecords;
    }
  }
  EXPECT_EQ(newFiles, 70u);
  EXPECT_EQ(oldFiles, 8u);
  EXPECT_EQ(compressedFiles, 49u);
  EXPECT_EQ(newRecords, 49664u);
  EXPECT_EQ(compressedRecords, 48818u);
  EXPECT_EQ(decodedLengths.size(), 13u);  // 283 ... 2215, as the files show
  std::string summary;
  for (const auto& [length, count] : decodedLengths) {
    summary += std::to_string(length) + ":" + std::to_string(count) + " ";
  }
  std::printf("corpus: %u files of the new layout (%llu records, %llu compressed in "
              "%u files), %u of -0x0600; decoded length:records %s\n",
              newFiles, static_cast<unsigned long long>(newRecords),
              static_cast<unsigned long long>(compressedRecords), compressedFiles,
              oldFiles, summary.c_str());
}

// The records read as the application's data.
TEST_F(CorpusV8, RecordsReadAsTheApplicationsData) {
  struct Spot {
    const char* file;
    std::vector<std::string> texts;  // each found in some record
  } spots[] = {
      {"exchequer-demo/Nominal.Dat", {"PAYE/NI Liability", "Rates"}},
      {"exchequer-common/Company.Dat", {"\x06SETUP "}},
      {"exchequer-plugin-contacts/FIELD.DDF", {"Xf$Id", "Xf$Name"}},
      {"exchequer-demo/CustSupp.Dat", {"Cash Customer"}},
      {"exchequer-blank-mc/ExchqChk.Dat", {"Sales - Access to Daybook"}},
      {"exchequer-demo/Stock.Dat", {"ELECTRICAL", "Electrical components", "Spot lights"}},
  };
  for (const Spot& spot : spots) {
    SCOPED_TRACE(spot.file);
    const ReadResult r = ReadAll((kCorpus / spot.file).string(), ReaderVariant::Console);
    ASSERT_EQ(r.openStatus, kReaderOk);
    ASSERT_FALSE(r.records.empty());
    for (const std::string& text : spot.texts) {
      EXPECT_TRUE(std::any_of(r.records.begin(), r.records.end(),
                              [&](const auto& rec) { return Contains(rec, text); }))
          << text;
    }
  }
  // The one record of Company.Dat decodes to "S", 6, "SETUP ", then zeros.
  const ReadResult company =
      ReadAll((kCorpus / "exchequer-common/Company.Dat").string(), ReaderVariant::Wizard);
  ASSERT_EQ(company.records.size(), 1u);
  const auto& record = company.records[0];
  ASSERT_EQ(record.size(), 1536u);
  EXPECT_EQ(std::string(record.begin(), record.begin() + 8), std::string("S\x06SETUP "));
  EXPECT_TRUE(std::all_of(record.begin() + 8, record.begin() + 54, [](uint8_t b) { return b == 0; }));
}
