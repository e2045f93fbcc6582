// gandrel info on files built in code for every version class, damaged
// ones among them, and on the engine-written corpus against the reader.
#include <gtest/gtest.h>

#include "common/json_writer.h"

#include <filesystem>

#include "gandrel/info_command.h"
#include "reader/datafile.h"
#include "reader/v8_layout.h"
#include "tests/salvage/salvage_test_util.h"

namespace {

namespace fs = std::filesystem;
using fixture::PutLE16;

// What RunInfo writes to its two streams, and its exit code.
struct InfoRun { int code; std::string out, err; };

std::string ReadBack(FILE* f) {
  std::string text;
  for (rewind(f); !feof(f);) text += static_cast<char>(fgetc(f));
  fclose(f);
  return text.substr(0, text.size() - 1);
}

InfoRun RunOn(const std::vector<std::string>& files, bool json) {
  FILE* out = tmpfile();
  FILE* err = tmpfile();
  const int code = RunInfo(files, json, out, err);
  return {code, ReadBack(out), ReadBack(err)};
}

// One key into every control page copy: a segment at record offset 3 of
// length 4 that allows duplicates and is modifiable, its position stored
// past the slot bytes the version keeps before a record (docs/formats/keys.md).
void PutOneKey(const fixture::FixtureOptions& o, std::vector<uint8_t>& b) {
  const bool old = o.version < 0x0800;
  const size_t copy = KeyControlBytes(o.version, o.pageSize);
  const uint16_t slotOffset = o.compressed || o.version < 0x0600 ? 0 : !old && o.systemData ? 10 : 2;
  const size_t second = old ? o.pageSize : V8ControlCopyBytes(o.pageSize);
  for (size_t at : {size_t{0}, o.version >= 0x0600 ? second : 0}) {
    const size_t segment = at + (old ? 272 : 408);
    PutLE16(b, at + 20, 1);
    if (!old) {
      PutLE16(b, at + 120, 1);
      PutLE16(b, at + 122, static_cast<uint16_t>(copy - 88));
      PutLE16(b, at + copy - 88, 408);
    }
    PutLE16(b, segment + 8, 0x0003);
    PutLE16(b, segment + 20, slotOffset + 3);
    PutLE16(b, segment + 22, 4);
  }
}

uint64_t Sum(const PageCensus& c) {
  return c.control + c.map + c.data + c.variable + c.index + c.free + c.damaged;
}

// --- Files built in code --------------------------------------------------------

TEST(GandrelInfo, EveryVersionClassShowsItsGeometryKeysAndCensus) {
  for (const NamedOptions& row : HealthyFileTable()) {
    SCOPED_TRACE(testing::Message() << row.name << " 0x" << std::hex << row.options.version);
    const auto records = fixture::MakeRecords(30, row.options.recordLength,
                                              row.options.variableLength ? 100 : 0, 7);
    fixture::BuiltFile built = fixture::BuildDataFile(row.options, records);
    PutOneKey(row.options, built.bytes);
    const fixture::ScopedTempFile file(built.bytes);
    FileInfo info;
    GatherFileInfo(file.path(), &info);
    ASSERT_TRUE(info.read) << info.error;
    EXPECT_TRUE(info.version == row.options.version && info.pageSize == row.options.pageSize &&
                info.recordCount == 30u);
    EXPECT_EQ(row.options.fcLayout || row.options.version >= 0x0800, info.fcLayout);
    EXPECT_EQ("healthy", InfoVerdict(info));
    ASSERT_EQ(kKeysDecoded, info.keyStatus);
    ASSERT_EQ(1u, info.keys.size());
    const KeySegment& s = info.keys[0].segments.at(0);
    EXPECT_TRUE(s.position == 4 && s.length == 4 && s.duplicates && s.modifiable);
    const PageCensus c = CensusOf(info);
    EXPECT_EQ(built.dataPages.size(), c.currentData);
    if (c.variableKnown) {
      EXPECT_EQ(built.variablePages.size(), c.currentVariable);
    }
    EXPECT_EQ(0u, c.damaged);
    EXPECT_EQ(c.physical, Sum(c));
    const InfoRun run = RunOn({file.path()}, true);
    EXPECT_EQ(0, run.code);
    EXPECT_NE(run.out.find("\"keys\":[[{\"position\":4,\"length\":4,"
                           "\"flags\":[\"duplicates\",\"modifiable\"]"), std::string::npos)
        << run.out;
  }
}

// Every page overwritten with noise in turn, and every cut at half pages:
// info reads or refuses, never crashes, and the census adds up.  A cut
// inside the last data page, and (from 0x0800) a data page whose slot
// words are not the engine's, are counted as damaged pages.
TEST(GandrelInfo, DamagedFilesAreCountedNeverACrash) {
  for (const NamedOptions& row : HealthyFileTable()) {
    SCOPED_TRACE(testing::Message() << row.name << " 0x" << std::hex << row.options.version);
    const fixture::FixtureOptions& o = row.options;
    const auto built = fixture::BuildDataFile(o, fixture::MakeRecords(40, o.recordLength, 0, 3));
    const size_t pages = built.bytes.size() / o.pageSize;
    auto check = [&](const std::vector<uint8_t>& bytes, uint64_t wantDamaged, const char* what) {
      const fixture::ScopedTempFile file(bytes);
      FileInfo info;
      GatherFileInfo(file.path(), &info);
      if (!info.read) return;
      const PageCensus c = CensusOf(info);
      EXPECT_EQ(c.physical, Sum(c)) << what;
      if (wantDamaged > 0) {
        EXPECT_EQ(wantDamaged, c.damaged) << what;
        EXPECT_EQ(0u, InfoVerdict(info).rfind("damaged", 0)) << what;
      }
    };
    uint32_t seed = 12345;
    for (size_t p = 0; p < pages; ++p) {
      std::vector<uint8_t> bytes = built.bytes;
      for (size_t i = 0; i < o.pageSize; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[p * o.pageSize + i] = static_cast<uint8_t>(seed >> 16);
      }
      check(bytes, 0, "noise");
    }
    for (size_t cut = 0; cut < built.bytes.size(); cut += o.pageSize / 2) {
      check(std::vector<uint8_t>(built.bytes.begin(), built.bytes.begin() + cut), 0, "cut");
    }
    const size_t last = static_cast<size_t>(fixture::PhysicalPageOffset(o, built.dataPages.back()));
    if (last + o.pageSize == built.bytes.size()) {
      check(std::vector<uint8_t>(built.bytes.begin(), built.bytes.begin() + last + o.pageSize / 2),
            1, "last data page cut");
    }
    if (o.version >= 0x0800 && !o.compressed) {
      std::vector<uint8_t> bytes = built.bytes;
      bytes[fixture::PhysicalPageOffset(o, built.dataPages[0]) + fixture::DataPageHeaderSize(o.version) + 1] = 0xFF;
      check(bytes, 1, "slot word");
    }
  }
}

TEST(GandrelInfo, UnreadableAndEncryptedFilesGetOneLineAndTheOthersGoOn) {
  fixture::FixtureOptions o;
  o.negativeVersion = true;
  o.ownerMode = 0x01;
  const auto records = fixture::MakeRecords(5, o.recordLength, 0, 1);
  const fixture::ScopedTempFile clear(fixture::BuildDataFile(o, records).bytes);
  // Mode 2 claims encrypted pages: only pages that read as noise make it so.
  o.ownerMode = 0x02;
  const fixture::ScopedTempFile claimed(fixture::BuildDataFile(o, records).bytes);
  std::vector<uint8_t> scrambled = fixture::BuildDataFile(o, records).bytes;
  fixture::ScramblePages(scrambled, 2 * o.pageSize, 7);
  const fixture::ScopedTempFile encrypted(scrambled);
  const fixture::ScopedTempFile noise(std::vector<uint8_t>(4096, 0x5A));
  const InfoRun text = RunOn({encrypted.path(), clear.path(), noise.path()}, false);
  EXPECT_EQ(2, text.code);
  EXPECT_NE(text.err.find(encrypted.path() +
                          ": encrypted with an owner name; it cannot be read without the engine\n"),
            std::string::npos) << text.err;
  EXPECT_NE(text.err.find(noise.path() + ": not readable"), std::string::npos) << text.err;
  EXPECT_NE(text.out.find("owner name set, mode 1, pages in clear"), std::string::npos) << text.out;
  const InfoRun claim = RunOn({claimed.path()}, false);
  EXPECT_EQ(0, claim.code) << claim.err;
  EXPECT_NE(claim.out.find("owner name set, mode 2, pages in clear"), std::string::npos)
      << claim.out;
  EXPECT_NE(text.out.find("(stored 0xfa00)"), std::string::npos) << text.out;
  const InfoRun json = RunOn({clear.path(), noise.path()}, true);
  EXPECT_EQ(2, json.code);
  EXPECT_EQ(0u, json.out.find("[{\"path\":")) << json.out;
  // The path as JSON writes it (a Windows path's backslashes escaped).
  std::string quoted;
  AppendJsonQuoted(noise.path(), &quoted);
  EXPECT_NE(json.out.find("},{\"path\":" + quoted + ",\"error\":"), std::string::npos);
  EXPECT_EQ(0, RunOn({clear.path()}, false).code);
}

// --- The corpus ------------------------------------------------------------------

// Every file the reader opens: the same count, lengths and page size, and
// the JSON keys those DecodeKeyDefinitions gives for the current copy.
TEST(GandrelInfoCorpus, AgreesWithTheReaderAndTheKeyDecoder) {
  int checked = 0;
  for (const fs::path root : {GANDREL_CORPUS_DIR, GANDREL_CORPUS_V7_DIR}) {
    if (!fs::exists(root)) GTEST_SKIP() << "no corpus at " << root;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      const std::string ext = e.path().extension().string();
      if (!e.is_regular_file() || ext == ".md" || ext == ".csv" || ext == ".hex") continue;
      const std::string path = e.path().string();
      SCOPED_TRACE(path);
      DataFile df = {};
      if (OpenDataFile(path.c_str(), &df, ReaderVariant::Console) != kReaderOk) continue;
      CloseDataFile(&df, kReaderOk);
      FileInfo info;
      GatherFileInfo(path, &info);
      ASSERT_TRUE(info.read) << info.error;
      EXPECT_TRUE(df.recordCount == info.recordCount && df.recordLength == info.recordLength &&
                  df.pageSize == info.pageSize);

      const size_t copy = KeyControlBytes(info.version, info.pageSize);
      const size_t at = info.currentCopy == 1 ? 0 : info.version >= 0x0800 ? copy : info.pageSize;
      std::vector<uint8_t> bytes = fixture::ReadFileBytes(path);
      bytes.erase(bytes.begin(), bytes.begin() + std::min(at, bytes.size()));
      std::vector<KeyDefinition> keys;
      DecodeKeyDefinitions(bytes.data(), std::min(copy, bytes.size()), info.version, &keys);
      const InfoRun run = RunOn({path}, true);
      const std::string json = run.out.substr(run.out.find("\"keys\":"));
      size_t from = 0, segments = 0;
      for (const KeyDefinition& k : keys) {
        for (const KeySegment& s : k.segments) {
          char want[96];
          snprintf(want, sizeof want, "{\"position\":%u,\"length\":%u,", s.position, s.length);
          from = json.find(want, from == 0 ? 0 : from + 1);
          ASSERT_NE(std::string::npos, from) << want;
          snprintf(want, sizeof want, "\"storedFlags\":\"0x%04x\"", s.flags);
          ASSERT_EQ(json.find("\"storedFlags\"", from), json.find(want, from)) << want;
          ++segments;
        }
      }
      for (size_t p = 0; (p = json.find("\"position\"", p)) != std::string::npos; ++p) --segments;
      EXPECT_EQ(0u, segments);  // no segment shown that the decoder does not give
      ++checked;
    }
  }
  printf("gandrel info agrees with the reader on %d corpus files\n", checked);
  EXPECT_GT(checked, 100);
}

}  // namespace
