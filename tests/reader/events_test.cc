// What the reporter says of healthy files: stale copies, map entries of
// logical pages not in use, owner names; nothing that says damage.  And the
// same kinds of event where the file does show damage.
#include <gtest/gtest.h>

#include <filesystem>

#include "reader/format.h"
#include "tests/fixture/fixture_v8.h"
#include "tests/reader/reader_test_util.h"

using namespace readertest;
namespace fs = std::filesystem;

namespace {

// Opens `path`, walks every record and returns the events that say damage,
// one line each.
std::string DamageEvents(const std::string& path, ReaderVariant variant) {
  EventLog log;
  DataFile df;
  ReaderStatus s = OpenDataFile(path.c_str(), &df, variant, &log.reporter);
  std::vector<uint8_t> area(64000);
  for (size_t n = 0; s == kReaderOk && n < 10000000; ++n) {
    RecordBuffer rb = {};
    rb.length = static_cast<uint32_t>(area.size());
    s = ReadNextRecord(&df, &rb, area.data());
    if (s == kReaderTooSmall) s = kReaderOk;
  }
  CloseDataFile(&df, s);
  std::string lines;
  for (const ReaderEvent& e : log.events) {
    if (!e.damage) continue;
    lines += path + " " + VariantName(variant) + ": " + ReaderEventName(e.kind) + " at " +
             std::to_string(e.offset) + "\n";
  }
  return lines;
}

// Points map entry `logical` (both copies of map pair 0) at `physical`.
void MapTo(const fixture::BuiltFile& b, uint16_t pageSize, uint32_t logical, uint32_t physical,
           std::vector<uint8_t>* bytes) {
  for (uint32_t copy = 0; copy < 2; ++copy) {
    const size_t at = (b.mapPages[0] + copy) * size_t{pageSize} + kMapCounterOffset + 4 * logical;
    (*bytes)[at] = static_cast<uint8_t>(physical >> 16);
    (*bytes)[at + 1] = 0;
    (*bytes)[at + 2] = static_cast<uint8_t>(physical);
    (*bytes)[at + 3] = static_cast<uint8_t>(physical >> 8);
  }
}

}  // namespace

TEST(Events, HealthyBuiltFilesReportNoDamage) {
  for (uint16_t version : kAllVersions) {
    for (bool stale : {false, true}) {
      fixture::FixtureOptions o;
      o.version = version;
      o.variableLength = true;
      o.maxFragmentData = 20;
      o.staleCopies = stale && version >= 0x0800;
      const auto built = fixture::BuildDataFile(o, fixture::MakeRecords(60, 16, 70, 5));
      fixture::ScopedTempFile file(built.bytes);
      for (ReaderVariant v : kBothVariants) {
        EXPECT_EQ(DamageEvents(file.path(), v), "") << version;
      }
    }
  }
}

TEST(Events, EngineWrittenFilesReportNoDamage) {
  size_t files = 0;
  for (const char* dir : {GANDREL_CORPUS_DIR, GANDREL_CORPUS_V7PLUS_DIR, GANDREL_CORPUS2_DIR}) {
    if (!fs::exists(dir)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
      ++files;
      for (ReaderVariant v : kBothVariants) {
        EXPECT_EQ(DamageEvents(entry.path().string(), v), "");
      }
    }
  }
  if (files == 0) GTEST_SKIP() << "no corpus folder beside the source tree";
}

// A map entry of a logical page not in use may point past the end of the
// file; only a file that ends inside a page shows that it was cut.
TEST(Events, MapEntryPastTheEndIsDamageOnlyInAFileCutInsideAPage) {
  fixture::FixtureOptions o;
  o.version = 0x0600;
  const auto built = fixture::BuildDataFile(o, fixture::MakeRecords(10, 16, 0, 2));
  const uint32_t pages = static_cast<uint32_t>(built.bytes.size() / o.pageSize);
  for (bool cut : {false, true}) {
    std::vector<uint8_t> bytes = built.bytes;
    MapTo(built, o.pageSize, pages - 1, pages + 4, &bytes);
    if (cut) bytes.resize(bytes.size() + o.pageSize / 2, 0x11);
    fixture::ScopedTempFile file(bytes);
    for (ReaderVariant v : kBothVariants) {
      EventLog log;
      DataFile df;
      ReaderStatus s = OpenDataFile(file.path().c_str(), &df, v, &log.reporter);
      std::vector<uint8_t> area(64000);
      size_t records = 0;
      while (s == kReaderOk) {
        RecordBuffer rb = {};
        rb.length = static_cast<uint32_t>(area.size());
        s = ReadNextRecord(&df, &rb, area.data());
        records += s == kReaderOk;
      }
      CloseDataFile(&df, s);
      EXPECT_EQ(records, 10u) << VariantName(v);
      size_t outside = 0;
      for (const ReaderEvent& e : log.events) {
        if (e.kind != ReaderEventKind::PageOutsideFile) continue;
        ++outside;
        EXPECT_EQ(e.damage, cut) << VariantName(v);
        EXPECT_EQ(e.logicalPage, pages - 1);
      }
      // The console stops once it has the records the control page counts.
      if (v == ReaderVariant::Wizard) {
        EXPECT_EQ(outside, 1u) << (cut ? "cut" : "");
      }
    }
  }
}
