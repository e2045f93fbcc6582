#include "tests/damage/damage_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>

#include "tests/fixture/fixture_v8.h"

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
  auto add = [](void* context, const ReaderEvent& event) {
    static_cast<Walk*>(context)->events.push_back(event);
  };
  const ReaderReporter reporter{add, &walk};
  walk.openStatus = OpenDataFile(path.c_str(), &df, variant, &reporter);
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

namespace {

bool Contains(const std::vector<uint32_t>& v, uint32_t x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

// The page number a page header of `bytes` stores (the 24-bit number of
// the older versions, the u32 of 0x0800 and 0x0900).
int64_t StoredNumber(const Sample& sample, const std::vector<uint8_t>& bytes,
                     uint32_t page) {
  const size_t start = PageStart(sample, page);
  if (start + 8 > bytes.size()) return -1;
  const uint8_t* p = bytes.data() + start;
  if (sample.options.version >= 0x0800) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<int64_t>(p[3]) << 24);
  }
  return (static_cast<int64_t>(p[0]) << 16) | p[2] | (p[3] << 8);
}

int64_t LogicalOf(const Sample& sample, uint32_t page) {
  return StoredNumber(sample, sample.built.bytes, page);
}

void AddPage(const Sample& sample, uint32_t page, Touched* touched) {
  if (Contains(touched->pages, page)) return;
  touched->pages.push_back(page);
  // The two copies of a map pair or table are one thing: reports name the
  // first page of the first copy.
  const auto& maps = sample.built.mapPages;
  if (sample.options.version < 0x0800) {
    if (page > 0 && Contains(maps, page - 1)) touched->pages.push_back(page - 1);
  } else {
    const fixture::V8Geometry g = fixture::V8GeometryOf(sample.options.pageSize);
    if (page >= g.firstTable && (page - g.firstTable) % g.extentPages < 2 * g.copyPages) {
      touched->pages.push_back(page - (page - g.firstTable) % g.extentPages);
    }
  }
  touched->logical.push_back(LogicalOf(sample, page));
  const auto& pages = sample.built.recordPages;
  for (size_t i = 0; i < pages.size(); ++i) {
    if (Contains(pages[i], page)) touched->records.push_back(i);
  }
}

// Physical page whose bytes hold `offset`, or -1.
int64_t PageAt(const Sample& sample, int64_t offset) {
  const size_t pageSize = sample.options.pageSize;
  const size_t pages = sample.built.bytes.size() / pageSize + 2;
  for (size_t p = 0; p < pages; ++p) {
    const int64_t start = static_cast<int64_t>(PageStart(sample, static_cast<uint32_t>(p)));
    if (offset >= start && offset < start + static_cast<int64_t>(pageSize)) {
      return static_cast<int64_t>(p);
    }
  }
  return -1;
}

// Fixture index of the record a walk handed out as its `r`-th, by its fixed
// part; -1 when it was not handed out or matches none.
int64_t RecordOf(const Sample& sample, const Walk& walk, int64_t r) {
  if (r < 0 || static_cast<size_t>(r) >= walk.records.size()) return -1;
  const std::vector<uint8_t>& got = walk.records[r];
  for (size_t i = 0; i < sample.built.records.size(); ++i) {
    const auto& fixed = sample.built.records[i].fixed;
    if (got.size() >= fixed.size() && std::equal(fixed.begin(), fixed.end(), got.begin())) {
      return static_cast<int64_t>(i);
    }
  }
  return -1;
}

bool Names(const Sample& sample, const Walk& walk, const ReaderEvent& e,
           const Touched& touched) {
  if (touched.everything) return true;
  // A lost record sends the walk on beyond the last page, looking for the
  // records the control page still announces.
  if (!touched.records.empty() &&
      e.offset >= static_cast<int64_t>(sample.built.bytes.size())) {
    return true;
  }
  const int64_t page = e.offset >= 0 ? PageAt(sample, e.offset) : -1;
  if (page >= 0 && Contains(touched.pages, static_cast<uint32_t>(page))) return true;
  if (e.logicalPage >= 0 &&
      std::find(touched.logical.begin(), touched.logical.end(), e.logicalPage) !=
          touched.logical.end()) {
    return true;
  }
  if (e.record >= 0 && !touched.records.empty()) {
    // A damaged fixed part or a record the walk could not finish matches no
    // record of the good file.
    const int64_t k = RecordOf(sample, walk, e.record);
    return k < 0 || std::find(touched.records.begin(), touched.records.end(),
                              static_cast<size_t>(k)) != touched.records.end();
  }
  return false;
}

const std::vector<ReaderEvent>& GoodEvents(const Sample& sample, ReaderVariant variant) {
  static std::map<std::string, std::vector<ReaderEvent>> cache;
  const std::string key = sample.name + VariantName(variant);
  auto it = cache.find(key);
  if (it == cache.end()) {
    it = cache.emplace(key, WalkBytes(sample.built.bytes, variant).events).first;
  }
  return it->second;
}

bool SameEvent(const ReaderEvent& a, const ReaderEvent& b) {
  return a.kind == b.kind && a.offset == b.offset && a.logicalPage == b.logicalPage;
}

void ExpectReportsWithin(const Sample& sample, ReaderVariant variant, const Walk& walk,
                         const Touched& touched) {
  std::vector<ReaderEvent> good = GoodEvents(sample, variant);
  for (const ReaderEvent& e : walk.events) {
    auto seen = std::find_if(good.begin(), good.end(),
                             [&](const ReaderEvent& g) { return SameEvent(g, e); });
    if (seen != good.end()) {
      good.erase(seen);
      continue;
    }
    if (!Names(sample, walk, e, touched)) {
      ADD_FAILURE() << sample.name << " " << VariantName(variant) << ": report \""
                    << ReaderEventName(e.kind) << "\" at offset " << e.offset
                    << ", logical page " << e.logicalPage << ", record " << e.record
                    << " names nothing the damage touched";
    }
  }
}

}  // namespace

Touched TouchedByPage(const Sample& sample, uint32_t page) {
  Touched touched;
  const fixture::FixtureOptions& o = sample.options;
  const fixture::BuiltFile& b = sample.built;
  if (o.version >= 0x0800) {
    // The control page copies and the one allocation table of these small
    // files describe every page.
    const fixture::V8Geometry g = fixture::V8GeometryOf(o.pageSize);
    const bool reserved = page < 2 * g.copyPages ||
                          (page >= g.firstTable && (page - g.firstTable) % g.extentPages <
                                                       2 * g.copyPages);
    touched.everything = reserved;
  } else if (page == 0) {
    touched.everything = true;  // copy 1 gives the geometry
  }
  AddPage(sample, page, &touched);
  const bool isMap = o.version >= 0x0600 && o.version < 0x0800 &&
                     (Contains(b.mapPages, page) || (page > 0 && Contains(b.mapPages, page - 1)));
  if (isMap) {
    // Pair k maps logical pages k*E+1 .. (k+1)*E, here also the physical ones.
    const uint32_t first = Contains(b.mapPages, page) ? page : page - 1;
    const uint32_t k = static_cast<uint32_t>(
        std::find(b.mapPages.begin(), b.mapPages.end(), first) - b.mapPages.begin());
    const uint32_t entries = o.pageSize / 4 - 2;
    for (uint32_t j = 1; j <= entries; ++j) AddPage(sample, k * entries + j, &touched);
  }
  return touched;
}

void AddClaimedNumber(const Sample& sample, const std::vector<uint8_t>& bytes,
                      uint32_t page, Touched* touched) {
  const int64_t claimed = StoredNumber(sample, bytes, page);
  if (claimed < 0) return;
  touched->logical.push_back(claimed);
  const size_t pages = sample.built.bytes.size() / sample.options.pageSize;
  for (uint32_t other = 0; other < pages; ++other) {
    if (LogicalOf(sample, other) == claimed) AddPage(sample, other, touched);
  }
}

Touched TouchedFromPage(const Sample& sample, uint32_t page) {
  Touched touched;
  const size_t pages = sample.built.bytes.size() / sample.options.pageSize + 2;
  for (uint32_t p = page; p < pages; ++p) AddPage(sample, p, &touched);
  return touched;
}

Touched TouchedByRecord(size_t record) {
  Touched touched;
  touched.records.push_back(record);
  return touched;
}

void ExpectSalvaged(const std::string& group, const Sample& sample,
                    ReaderVariant variant, const Walk& walk,
                    const std::vector<size_t>& mustSurvive, const Touched& touched) {
  ExpectSalvaged(group, sample, variant, walk, mustSurvive);
  ExpectReportsWithin(sample, variant, walk, touched);
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
