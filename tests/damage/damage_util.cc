#include "tests/damage/damage_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>

namespace damage {
namespace {

// A walk that hands out more records than this from a file of a few pages
// has lost its way; the guard turns a runaway walk into a failure instead
// of a hung test.
constexpr size_t kCallLimit = 200000;

struct Row {
  size_t cases = 0;
  size_t openFailed = 0;
  std::map<unsigned, size_t> endStatuses;
  size_t handedOut = 0;
  size_t survived = 0;
  size_t mustSurvive = 0;
  double slowestMs = 0;
};

std::map<std::string, Row>& Report() {
  static std::map<std::string, Row> rows;
  return rows;
}

void PrintReport(FILE* out) {
  std::fprintf(out, "\nDamaged-file report: per group and variant, the cases tried, how\n"
                    "opens and walks ended, the records handed out, and how many of the\n"
                    "records lying before the damage came back byte for byte.\n");
  std::fprintf(out, "%-46s %6s %6s %-22s %8s %15s %8s\n", "group / variant", "cases",
               "noopen", "walk ended (status x n)", "records", "before damage", "max ms");
  size_t cases = 0, survived = 0, must = 0;
  for (const auto& [name, row] : Report()) {
    std::string ends;
    for (const auto& [status, n] : row.endStatuses) {
      if (!ends.empty()) ends += " ";
      ends += std::to_string(status) + "x" + std::to_string(n);
    }
    char kept[32];
    std::snprintf(kept, sizeof kept, "%zu/%zu", row.survived, row.mustSurvive);
    std::fprintf(out, "%-46s %6zu %6zu %-22s %8zu %15s %8.1f\n", name.c_str(), row.cases,
                 row.openFailed, ends.c_str(), row.handedOut, kept, row.slowestMs);
    cases += row.cases;
    survived += row.survived;
    must += row.mustSurvive;
  }
  std::fprintf(out, "total: %zu cases, %zu of %zu records before the damage salvaged\n\n",
               cases, survived, must);
}

// Prints the report once every test has run, and leaves a copy in
// damage_report.txt in the working directory, since a passing test's output
// is not shown by ctest.
class ReportPrinter : public ::testing::Environment {
 public:
  void TearDown() override {
    PrintReport(stdout);
    if (FILE* file = std::fopen("damage_report.txt", "w")) {
      PrintReport(file);
      std::fclose(file);
    }
  }
};

const ::testing::Environment* const kReportPrinter =
    ::testing::AddGlobalTestEnvironment(new ReportPrinter);

Sample MakeSample(uint16_t version, const char* shape, bool fc, bool variable,
                  uint32_t emptySlots, uint32_t maxFragment, uint32_t count,
                  uint32_t variableBytes) {
  Sample s;
  char name[64];
  std::snprintf(name, sizeof name, "0x%04x %s", version, shape);
  s.name = name;
  fixture::FixtureOptions& o = s.options;
  o.version = version;
  o.pageSize = 512;
  o.recordLength = 24;
  o.fcLayout = fc;
  o.variableLength = variable;
  o.emptySlotsBefore = emptySlots;
  o.maxFragmentData = maxFragment;
  s.built = fixture::BuildDataFile(
      o, fixture::MakeRecords(count, o.recordLength, variableBytes, version + count));
  return s;
}

}  // namespace

size_t SweepStride() {
#ifdef _WIN32
  return 16;
#else
  return 1;
#endif
}

const char* VariantName(ReaderVariant variant) {
  return variant == ReaderVariant::Console ? "console" : "wizard";
}

std::vector<Sample> SamplesOf(uint16_t version) {
  // Three to four data pages each, and for the variable shapes two or more
  // variable pages, so that damage can fall before, on and after records.
  std::vector<Sample> samples;
  samples.push_back(MakeSample(version, "fixed", false, false, 1, 0, 40, 0));
  samples.push_back(MakeSample(version, "fc var chains", true, true, 0, 30, 24, 150));
  samples.push_back(MakeSample(version, "var", false, true, 0, 0, 24, 60));
  return samples;
}

std::vector<Sample> AllSamples() {
  std::vector<Sample> all;
  for (uint16_t version : kAllVersions) {
    for (Sample& s : SamplesOf(version)) all.push_back(std::move(s));
  }
  return all;
}

Walk WalkPath(const std::string& path, ReaderVariant variant, uint32_t capacity) {
  Walk walk;
  const auto start = std::chrono::steady_clock::now();
  DataFile df = {};
  walk.openStatus = OpenDataFile(path.c_str(), &df, variant);
  if (walk.openStatus == kReaderOk) {
    // Exactly the capacity, so that a copy past it is a sanitizer report.
    std::vector<uint8_t> area(capacity);
    size_t calls = 0;
    for (;; ++calls) {
      if (calls == kCallLimit) {
        walk.runaway = true;
        break;
      }
      RecordBuffer rb = {};
      rb.length = capacity;
      const ReaderStatus s = ReadNextRecord(&df, &rb, area.data());
      if (s != kReaderOk && s != kReaderTooSmall) {
        walk.endStatus = s;
        break;
      }
      walk.records.emplace_back(area.begin(),
                                area.begin() + std::min(rb.length, capacity));
    }
  }
  CloseDataFile(&df, walk.openStatus);
  walk.milliseconds = std::chrono::duration<double, std::milli>(
                          std::chrono::steady_clock::now() - start).count();
  return walk;
}

Walk WalkBytes(const std::vector<uint8_t>& bytes, ReaderVariant variant,
               uint32_t capacity) {
  fixture::ScopedTempFile file(bytes);
  return WalkPath(file.path(), variant, capacity);
}

std::vector<uint8_t> ExpectedRecord(const Sample& sample, size_t i) {
  std::vector<uint8_t> bytes = sample.built.records[i].fixed;
  const auto& v = sample.built.records[i].variable;
  bytes.insert(bytes.end(), v.begin(), v.end());
  return bytes;
}

uint32_t RecordCountSeen(const Sample& sample, const std::vector<uint8_t>& bytes,
                         ReaderVariant variant) {
  auto word = [&](size_t at) -> uint32_t {
    return at + 1 < bytes.size() ? bytes[at] | (bytes[at + 1] << 8) : 0;
  };
  auto count = [&](size_t copy) { return (word(copy + 26) << 16) | word(copy + 28); };
  const uint16_t version = sample.options.version;
  if (version < 0x0600) return count(0);
  if (version >= 0x0800) {
    // Every field comes from the active copy: the sound one with the
    // greater usage counter.  Damage can make either copy active, so the
    // smaller count is the one a walk is sure to reach.
    return std::min(count(0), count(sample.built.controlCopyBytes));
  }
  const size_t pageSize = sample.options.pageSize;
  const size_t copy2 =
      version >= 0x0800 && variant == ReaderVariant::Wizard ? 2 * pageSize : pageSize;
  return word(4) > word(copy2 + 4) ? count(0) : count(copy2);
}

std::vector<size_t> RecordsBefore(const Sample& sample, uint32_t firstDamagedPage,
                                  const std::vector<uint8_t>& bytes,
                                  ReaderVariant variant) {
  std::vector<size_t> before;
  const auto& pages = sample.built.recordPages;
  const size_t limit = RecordCountSeen(sample, bytes, variant);
  for (size_t i = 0; i < pages.size() && i < limit; ++i) {
    const bool clear = std::all_of(pages[i].begin(), pages[i].end(),
                                   [&](uint32_t p) { return p < firstDamagedPage; });
    if (!clear) break;
    before.push_back(i);
  }
  return before;
}

void Tally(const std::string& group, ReaderVariant variant, const Walk& walk,
           size_t survived, size_t mustSurvive) {
  Row& row = Report()[group + " / " + VariantName(variant)];
  ++row.cases;
  if (walk.openStatus != kReaderOk) {
    ++row.openFailed;
  } else {
    ++row.endStatuses[walk.endStatus];
  }
  row.handedOut += walk.records.size();
  row.survived += survived;
  row.mustSurvive += mustSurvive;
  row.slowestMs = std::max(row.slowestMs, walk.milliseconds);
}

namespace {

void CheckStatuses(ReaderVariant variant, const Walk& walk) {
  EXPECT_FALSE(walk.runaway) << VariantName(variant) << ": the walk did not end";
  // Open reports 0, 2 or 7; a walk ends with 5 (no more records) or 2 (a
  // page could not be read).  3 is the scan's and never reaches a caller.
  EXPECT_TRUE(walk.openStatus == kReaderOk || walk.openStatus == kReaderUnusable ||
              walk.openStatus == kReaderBadVersion)
      << VariantName(variant) << ": open status " << walk.openStatus;
  if (walk.openStatus == kReaderOk && !walk.runaway) {
    EXPECT_TRUE(walk.endStatus == kReaderEnd || walk.endStatus == kReaderUnusable)
        << VariantName(variant) << ": walk ended with status " << walk.endStatus;
  }
}

}  // namespace

void ExpectSane(const std::string& group, ReaderVariant variant, const Walk& walk) {
  CheckStatuses(variant, walk);
  Tally(group, variant, walk, 0, 0);
}

void ExpectSalvaged(const std::string& group, const Sample& sample,
                    ReaderVariant variant, const Walk& walk,
                    const std::vector<size_t>& mustSurvive) {
  CheckStatuses(variant, walk);
  // The records before the damage come first in walk order: look for each
  // in turn, moving forward through what was handed out.
  size_t found = 0;
  size_t at = 0;
  std::vector<size_t> missing;
  for (size_t i : mustSurvive) {
    const std::vector<uint8_t> expected = ExpectedRecord(sample, i);
    size_t k = at;
    while (k < walk.records.size() && walk.records[k] != expected) ++k;
    if (k == walk.records.size()) {
      missing.push_back(i);
      continue;
    }
    ++found;
    at = k + 1;
  }
  if (!missing.empty()) {
    std::string list;
    for (size_t i : missing) list += " " + std::to_string(i);
    ADD_FAILURE() << sample.name << " " << VariantName(variant) << ": records"
                  << list << " lie before the damage but were not salvaged ("
                  << walk.records.size() << " handed out, open status "
                  << walk.openStatus << ", end status " << walk.endStatus << ")";
  }
  Tally(group, variant, walk, found, mustSurvive.size());
}

size_t PageStart(const Sample& sample, uint32_t page) {
  return static_cast<size_t>(fixture::PhysicalPageOffset(sample.options, page));
}

size_t SlotStart(const Sample& sample, size_t i) {
  // The 0x0800/0x0900 writer says where each record's slot is.
  if (i < sample.built.recordSlots.size()) return sample.built.recordSlots[i];
  // The writer does not say which slot a record went to; find its fixed
  // part among the slots of its data page.
  const fixture::FixtureOptions& o = sample.options;
  const size_t page = PageStart(sample, sample.built.recordPages[i][0]);
  const size_t header = fixture::DataPageHeaderSize(o.version);
  const size_t dataOffset = o.fcLayout ? 2 : 0;
  const auto& fixed = sample.built.records[i].fixed;
  const auto& bytes = sample.built.bytes;
  for (size_t slot = page + header; slot + dataOffset + fixed.size() <= page + o.pageSize;
       slot += sample.built.slotLength) {
    if (std::equal(fixed.begin(), fixed.end(), bytes.begin() + slot + dataOffset)) {
      return slot;
    }
  }
  ADD_FAILURE() << sample.name << ": record " << i << " not found in its page";
  return page + header;
}

}  // namespace damage
