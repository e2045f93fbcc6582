// The data file is only ever read: both variants, with their dump writers,
// and the console program itself, leave a read-only file's bytes and
// modification time as they were.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#endif

#include "dump/crc32.h"
#include "dump/dump_writer.h"
#include "tests/damage/damage_util.h"

namespace damage {
namespace {

namespace fs = std::filesystem;

// A data file set to read only, with a modification time a day in the
// past, so that any write would show.  Writable again on destruction, so
// the temporary file can be removed on every platform.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::vector<uint8_t>& bytes) : file_(bytes) {
    mtime_ = fs::last_write_time(file_.path()) - std::chrono::hours(24);
    fs::last_write_time(file_.path(), mtime_);
    fs::permissions(file_.path(),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  }
  ~ReadOnlyFile() {
    std::error_code ignored;
    fs::permissions(file_.path(), fs::perms::owner_read | fs::perms::owner_write, ignored);
  }
  const std::string& path() const { return file_.path(); }
  fs::file_time_type mtime() const { return mtime_; }

 private:
  fixture::ScopedTempFile file_;
  fs::file_time_type mtime_;
};

void ExpectUnchanged(const ReadOnlyFile& file, const std::vector<uint8_t>& bytes) {
  EXPECT_EQ(fixture::ReadFileBytes(file.path()), bytes) << "the data file's bytes changed";
  EXPECT_EQ(fs::last_write_time(file.path()), file.mtime())
      << "the data file's modification time changed";
  EXPECT_EQ(fs::status(file.path()).permissions() & fs::perms::owner_write, fs::perms::none);
}

// One run of a program's code path: the variant's reader and its writer.
size_t DumpAll(const std::string& path, ReaderVariant variant, FILE* dump) {
  DataFile df = {};
  ReaderStatus s = OpenDataFile(path.c_str(), &df, variant);
  EXPECT_EQ(s, kReaderOk);
  if (s != kReaderOk) return 0;
#ifndef _WIN32
  // The stream the reader holds can read and nothing else.
  EXPECT_EQ(fcntl(fileno(df.file), F_GETFL) & O_ACCMODE, O_RDONLY);
#endif
  std::vector<uint8_t> area(64000);
  std::vector<char> text(kDumpTextBufferSize);
  size_t records = 0;
  for (;;) {
    RecordBuffer rb = {};
    rb.length = static_cast<uint32_t>(area.size());
    s = ReadNextRecord(&df, &rb, area.data());
    if (s != kReaderOk) break;
    ++records;
    if (variant == ReaderVariant::Console) {
      DumpOutput output = {dump, text.data(), kConsoleFormatHexCrc};
      WriteDumpRecord(&output, rb.length, area.data());
    } else {
      WriteDumpRecord(kWizardFormatBinaryCrc, rb.length, area.data(), dump);
    }
  }
  EXPECT_EQ(s, kReaderEnd);
  CloseDataFile(&df, s);
  return records;
}

TEST(ReadOnly, BothVariantsLeaveTheFileAsItWas) {
  BuildCrcTable();
  for (uint16_t version : kAllVersions) {
    for (const Sample& sample : SamplesOf(version)) {
      SCOPED_TRACE(sample.name);
      const ReadOnlyFile file(sample.built.bytes);
      fixture::ScopedTempFile dump(std::vector<uint8_t>{}, ".dmp");
      for (ReaderVariant variant : kBothVariants) {
        FILE* out = std::fopen(dump.path().c_str(), "wb");
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(DumpAll(file.path(), variant, out), sample.built.records.size());
        std::fclose(out);
      }
      ExpectUnchanged(file, sample.built.bytes);
    }
  }
}

TEST(ReadOnly, PagroveLeavesTheFileAsItWas) {
  // The built console program, when the build has one (set by CMake).
  const char* pagrove = std::getenv("GANDREL_PAGROVE");
  // A plain return rather than a skip: skipped tests crash the 32-bit
  // Windows build under Wine.
  if (pagrove == nullptr || *pagrove == '\0') {
    std::printf("no pagrove in this build: the program's own run is not checked\n");
    return;
  }
  const Sample sample = SamplesOf(0x0600)[1];
  const ReadOnlyFile file(sample.built.bytes);
  fixture::ScopedTempFile dump(std::vector<uint8_t>{}, ".dmp");
  for (char format : {'1', '2', '3', '4'}) {
    const std::string command = std::string("\"") + pagrove + "\" -btrin \"" + file.path() +
                                "\" -btrout \"" + dump.path() + "\" -format " + format +
                                " -silent true";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_FALSE(fixture::ReadFileBytes(dump.path()).empty()) << "no dump written";
  }
  ExpectUnchanged(file, sample.built.bytes);
}

}  // namespace
}  // namespace damage
