// gandrel history: deleted records and earlier versions out of superseded
// page copies.  Files built in code whose pages are changed the way the
// engine changes them (tests/fixture/fixture_history.h); then the engine's
// own files where the corpora are beside the source tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "gandrel/info_command.h"
#include "salvage/history.h"
#include "salvage/history_chain.h"
#include "salvage/records.h"
#include "tests/console/process_runner.h"
#include "tests/fixture/fixture_history.h"
#include "tests/salvage/salvage_test_util.h"

namespace {

using Address = std::pair<uint32_t, uint32_t>;  // logical page, slot
using AddressMap = std::map<Address, std::vector<uint8_t>>;

// The live records of a file by address, read on their own: each current
// data page's used slots, tails through the current variable pages only.
AddressMap LiveByAddress(const std::string& path) {
  AddressMap live;
  InputFile input;
  std::string error;
  if (!OpenInputFile(path.c_str(), &input, &error)) return live;
  Geometry g;
  DecideGeometry(&input, GeometryOverrides{}, &g);
  if (!g.usable) {
    CloseInputFile(&input);
    return live;
  }
  ScanResult scan;
  ScanDataFile(&input, g, nullptr, nullptr, nullptr, &scan);
  CopyChain chain;
  PrepareCopyChain(&chain, &input, &g, scan);
  for (std::vector<uint32_t>& copies : chain.copies) {
    if (copies.size() > 1) copies.erase(copies.begin() + 1, copies.end());
  }
  std::vector<uint8_t> page(static_cast<size_t>(g.pageSize) + g.slotLength + 64, 0);
  const uint32_t slots = (g.pageSize - g.layout->slotCountReserve) / g.slotLength;
  for (size_t logical = 1; logical < scan.directory.data.size(); ++logical) {
    const uint32_t physical = scan.directory.data[logical];
    if (physical == kNoPhysicalPage) continue;
    if (ReadInputAt(&input, PhysicalPageOffset(g, physical), page.data(), g.pageSize) != g.pageSize) continue;
    for (uint32_t s = 0; s < slots; ++s) {
      const uint32_t at = g.layout->dataPageHeaderSize + s * g.slotLength;
      if (!SlotHoldsRecord(g, page.data(), at)) continue;
      std::vector<uint8_t> record;
      std::string reason;
      if (RebuildRecord(&chain, page.data() + at, &record, &reason)) {
        live[{static_cast<uint32_t>(logical), s}] = record;
      }
    }
  }
  CloseInputFile(&input);
  return live;
}

HistoryReport History(const std::string& path, bool versions) {
  HistoryOptions options;
  options.versions = versions;
  HistoryReport report;
  RecoverHistory(path.c_str(), options, &report);
  return report;
}

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  for (const std::string root : {GANDREL_CORPUS_DIR, GANDREL_CORPUS_V7_DIR, GANDREL_CORPUS_2_DIR}) {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_regular_file() && it->path().extension() != ".md") {
        files.push_back(it->path().string());
      }
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Every record of `history` against the current file read on its own: a
// deleted one where the current copy has nothing, an earlier version where
// it has another record, and never the bytes of a live record.
size_t CheckAgainstCurrent(const HistoryReport& history, const AddressMap& live) {
  std::set<std::string> liveBytes;
  for (const auto& entry : live) liveBytes.insert(std::string(entry.second.begin(), entry.second.end()));
  size_t checked = 0;
  for (const HistoryRecord& h : history.records) {
    SCOPED_TRACE("logical page " + std::to_string(h.logicalPage) + " slot " +
                 std::to_string(h.slot));
    const auto at = live.find({h.logicalPage, h.slot});
    // An earlier version lies under a live record, or under a deleted one
    // that newer copies hold.
    if (h.verdict != HistoryVerdict::EarlierVersion) {
      EXPECT_TRUE(at == live.end());
    } else if (at != live.end()) {
      EXPECT_NE(at->second, h.bytes);
    }
    EXPECT_EQ(liveBytes.count(std::string(h.bytes.begin(), h.bytes.end())), 0u);
    ++checked;
  }
  return checked;
}

// What a later state of a file gives back of an earlier state: the records
// live in the earlier file at addresses free in the later one are its
// deletions; `back` counts those the later file's history gives byte for
// byte at their address, `other` the records it calls deleted that are
// none of them.
struct LineageCount {
  size_t deletions = 0;
  size_t back = 0;
  size_t other = 0;
};

LineageCount CompareLineage(const std::string& earlier, const std::string& later) {
  LineageCount count;
  const AddressMap before = LiveByAddress(earlier);
  const AddressMap after = LiveByAddress(later);
  const HistoryReport history = History(later, false);
  std::set<std::pair<Address, std::vector<uint8_t>>> given;
  for (const HistoryRecord& h : history.records) {
    given.insert({{h.logicalPage, h.slot}, h.bytes});
  }
  std::set<std::pair<Address, std::vector<uint8_t>>> deletions;
  for (const auto& [address, bytes] : before) {
    if (after.count(address) != 0) continue;
    deletions.insert({address, bytes});
    ++count.deletions;
    const bool back = given.count({address, bytes}) != 0;
    count.back += back;
    if (!back) printf("  not back: logical page %u slot %u\n", address.first, address.second);
  }
  for (const auto& g : given) count.other += deletions.count(g) == 0;
  return count;
}

std::string CorpusFile(const char* root, const std::string& name) {
  return std::string(root) + "/" + name;
}


// --- Files built in code -----------------------------------------------------

struct Layout {
  const char* name;
  uint16_t version;
  bool variable;
  bool compressed;
};

constexpr Layout kLayouts[] = {
    {"0x0600 fixed", 0x0600, false, false}, {"0x0600 variable", 0x0600, true, false},
    {"0x0600 compressed", 0x0600, false, true}, {"0x0800 fixed", 0x0800, false, false},
    {"0x0800 variable", 0x0800, true, false}, {"0x0800 compressed", 0x0800, false, true},
    {"0x0950 fixed", 0x0950, false, false}, {"0x0950 variable", 0x0950, true, false},
    {"0x0950 compressed", 0x0950, false, true},
};

fixture::FixtureOptions OptionsOf(const Layout& layout) {
  fixture::FixtureOptions o;
  o.version = layout.version;
  o.fcLayout = layout.version < 0x0800;
  o.pageSize = 1024;
  o.recordLength = 24;
  o.variableLength = layout.variable;
  o.compressed = layout.compressed;
  return o;
}

std::vector<uint8_t> WholeRecord(const fixture::FixtureRecord& r) {
  std::vector<uint8_t> bytes = r.fixed;
  bytes.insert(bytes.end(), r.variable.begin(), r.variable.end());
  return bytes;
}

using Expected = std::map<Address, std::pair<HistoryVerdict, std::vector<uint8_t>>>;

// Records deleted (1 and 5) and updated (3 and 8) in a file of 12: what the
// history of the changed file must give, with and without --versions.
struct Changed {
  fixture::ShadowFile file;
  Expected deleted;
  Expected versions;
};

Changed ChangeFile(const Layout& layout) {
  const fixture::FixtureOptions o = OptionsOf(layout);
  const std::vector<fixture::FixtureRecord> records =
      fixture::MakeRecords(12, o.recordLength, layout.variable ? 40 : 0, 7);
  Changed c{fixture::StartShadowFile(o, records), {}, {}};
  fixture::ScopedTempFile original(c.file.built.bytes);
  const AddressMap before = LiveByAddress(original.path());
  EXPECT_EQ(before.size(), records.size());
  const std::vector<fixture::FixtureRecord> updates = fixture::MakeRecords(12, o.recordLength, 0, 99);
  for (size_t i : {1, 3, 5, 8}) {
    Address a;
    fixture::ShadowRecordAddress(c.file, i, &a.first, &a.second);
    const bool update = i == 3 || i == 8;
    std::vector<uint8_t> now = WholeRecord(updates[i]);
    now.resize(o.recordLength);
    if (update) EXPECT_TRUE(fixture::UpdateShadowRecord(&c.file, a.first, a.second, now));
    else fixture::DeleteShadowRecord(&c.file, a.first, a.second);
    const auto was = before.find(a);
    EXPECT_TRUE(was != before.end());
    if (was == before.end()) continue;
    (update ? c.versions : c.deleted)[a] = {update ? HistoryVerdict::EarlierVersion
                                                   : HistoryVerdict::Deleted,
                                            was->second};
  }
  return c;
}

Expected Given(const HistoryReport& r) {
  Expected got;
  for (const HistoryRecord& h : r.records) got[{h.logicalPage, h.slot}] = {h.verdict, h.bytes};
  return got;
}

TEST(HistoryBuiltTest, DeletedRecordsAndEarlierVersionsComeBackAndNothingElse) {
  for (const Layout& layout : kLayouts) {
    SCOPED_TRACE(layout.name);
    const Changed c = ChangeFile(layout);
    fixture::ScopedTempFile file(c.file.built.bytes);
    // The changed file itself reads as the engine left it: the deleted
    // records gone, the updated ones new.
    const AddressMap now = LiveByAddress(file.path());
    EXPECT_EQ(now.size(), 10u);
    for (const auto& [address, record] : c.versions) {
      ASSERT_EQ(now.count(address), 1u);
      EXPECT_NE(now.at(address), record.second);
    }
    const HistoryReport plain = History(file.path(), false);
    EXPECT_EQ(plain.salvage.status, kSalvageHealthy) << plain.salvage.error;
    EXPECT_TRUE(Given(plain) == c.deleted) << plain.records.size() << " records";
    EXPECT_EQ(plain.versionsLeftOut, c.versions.size());
    EXPECT_TRUE(plain.unfinished.empty());

    Expected all = c.deleted;
    all.insert(c.versions.begin(), c.versions.end());
    const HistoryReport versions = History(file.path(), true);
    EXPECT_TRUE(Given(versions) == all) << versions.records.size() << " records";
  }
}


// A change written to a new copy and never committed: the map still names
// the copy before it.  What that copy alone holds at an address free in the
// current one is "deleted or never committed"; the committed deletion at
// the same address stays "deleted".
TEST(HistoryBuiltTest, ACopyAboveTheCurrentOneMayNeverHaveBeenCommitted) {
  fixture::FixtureOptions o = OptionsOf(kLayouts[3]);
  const std::vector<fixture::FixtureRecord> records = fixture::MakeRecords(6, o.recordLength, 0, 5);
  fixture::ShadowFile f = fixture::StartShadowFile(o, records);
  fixture::ScopedTempFile original(f.built.bytes);
  const AddressMap before = LiveByAddress(original.path());
  Address a;
  fixture::ShadowRecordAddress(f, 2, &a.first, &a.second);
  fixture::DeleteShadowRecord(&f, a.first, a.second);
  const uint32_t committed = f.current.at(a.first);
  // The uncommitted change puts another record into the freed slot.
  const uint32_t uncommitted = fixture::NewPageCopy(&f, a.first);
  const size_t slot = static_cast<size_t>(fixture::PhysicalPageOffset(o, uncommitted)) +
                      fixture::DataPageHeaderSize(o.version) + a.second * f.built.slotLength;
  const std::vector<uint8_t> inserted(o.recordLength, 0x3C);
  f.built.bytes[slot] = 1;
  std::copy(inserted.begin(), inserted.end(), f.built.bytes.begin() + slot + 2);
  fixture::PointShadowPage(&f, a.first, committed);

  fixture::ScopedTempFile file(f.built.bytes);
  const HistoryReport history = History(file.path(), false);
  ASSERT_EQ(history.records.size(), 2u);
  for (const HistoryRecord& h : history.records) {
    EXPECT_EQ(Address(h.logicalPage, h.slot), a);
    const bool above = h.physicalPage == uncommitted;
    EXPECT_EQ(h.verdict, above ? HistoryVerdict::DeletedOrNeverCommitted : HistoryVerdict::Deleted);
    EXPECT_EQ(h.bytes, above ? inserted : before.at(a));
    EXPECT_EQ(h.copyUsage > h.currentUsage, above);
  }
}

// The current copy of the data page zeroed: salvage takes the newest old
// copy for current (the state before the last update), and history works
// from that choice: the deletions still come back, the update made before
// it is an earlier version, and the record of the lost update is live.
TEST(HistoryBuiltTest, OnADamagedFileTheCurrentCopyIsTheOneSalvageChooses) {
  for (const Layout& layout : kLayouts) {
    if (layout.variable || layout.compressed) continue;
    SCOPED_TRACE(layout.name);
    Changed c = ChangeFile(layout);
    const uint32_t logical = c.deleted.begin()->first.first;
    const size_t start = static_cast<size_t>(
        fixture::PhysicalPageOffset(c.file.options, c.file.current.at(logical)));
    std::fill(c.file.built.bytes.begin() + start,
              c.file.built.bytes.begin() + start + c.file.options.pageSize, 0);
    fixture::ScopedTempFile file(c.file.built.bytes);
    const HistoryReport history = History(file.path(), true);
    CheckAgainstCurrent(history, LiveByAddress(file.path()));
    Expected expected = c.deleted;
    expected.insert(*c.versions.begin());  // record 3, updated first
    EXPECT_TRUE(Given(history) == expected) << history.records.size() << " records";
  }
}

// A 0x0400 file whose free-slot chain links two of its empty slots: the
// engine of these versions keeps no old copies, only the chain's count.
std::vector<uint8_t> OldFileWithFreeChain() {
  fixture::FixtureOptions o;
  o.version = 0x0400;
  o.emptySlotsBefore = 1;
  fixture::BuiltFile built = fixture::BuildDataFile(o, fixture::MakeRecords(6, o.recordLength, 0, 4));
  const size_t page = static_cast<size_t>(built.dataPages[0]) * o.pageSize;
  const uint32_t slot0 = static_cast<uint32_t>(page + 6);
  const uint32_t slot2 = slot0 + 2 * built.slotLength;
  fixture::PutSwappedCount(built.bytes, 16, slot0);
  fixture::PutSwappedCount(built.bytes, slot0, slot2);
  fixture::PutSwappedCount(built.bytes, slot2, 0xFFFFFFFF);
  return built.bytes;
}

TEST(HistoryBuiltTest, BeforeTheCopiesOnlyTheFreeChainIsCounted) {
  fixture::ScopedTempFile old(OldFileWithFreeChain());
  const HistoryReport history = History(old.path(), true);
  EXPECT_FALSE(history.copiesKept);
  EXPECT_TRUE(history.records.empty());
  EXPECT_TRUE(history.freeChain.known);
  EXPECT_FALSE(history.freeChain.broken) << history.freeChain.problem;
  EXPECT_EQ(history.freeChain.slots, 2u);

  FileInfo info;
  GatherFileInfo(old.path(), &info);
  ASSERT_TRUE(info.historyKnown);
  EXPECT_EQ(info.history.freeChain.slots, 2u);
  EXPECT_EQ(info.history.oldCopiesWithRecords, 0u);

  // A file whose pages were changed: its old copies counted, those with
  // records apart (the oldest copy of the data page still holds all 12).
  const Changed c = ChangeFile(kLayouts[3]);
  fixture::ScopedTempFile changed(c.file.built.bytes);
  GatherFileInfo(changed.path(), &info);
  ASSERT_TRUE(info.historyKnown);
  EXPECT_TRUE(info.history.copiesKept);
  EXPECT_EQ(info.history.oldDataCopies, 4u);
  EXPECT_EQ(info.history.oldCopiesWithRecords, 4u);
}

std::string HexLine(const std::vector<uint8_t>& bytes) {
  std::string line;
  for (uint8_t b : bytes) {
    char hex[3];
    snprintf(hex, sizeof hex, "%02x", b);
    line += hex;
  }
  return line + "\r\n";
}

TEST(HistoryProcessTest, DumpsReportsExitCodesAndHelp) {
  ScopedTempDir dir;
  const Changed c = ChangeFile(kLayouts[4]);
  fixture::ScopedTempFile changed(c.file.built.bytes);
  const std::string dump = dir.File("h.dump");
  const std::string report = dir.File("h.json");
  ProcessResult r = RunProcess(GANDREL_PATH, {"history", changed.path(), "-o", dump, "--report",
                                              report, "--format", "hex"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::string expected;
  for (const auto& entry : c.deleted) expected += HexLine(entry.second.second);
  const std::vector<uint8_t> got = fixture::ReadFileBytes(dump);
  EXPECT_EQ(std::string(got.begin(), got.end()), expected);
  const std::vector<uint8_t> json = fixture::ReadFileBytes(report);
  const std::string text(json.begin(), json.end());
  EXPECT_NE(text.find("\"verdict\":\"deleted\""), std::string::npos) << text;
  EXPECT_EQ(text.find("\"verdict\":\"earlier version\""), std::string::npos) << text;
  EXPECT_NE(r.err.find("2 deleted"), std::string::npos) << r.err;

  r = RunProcess(GANDREL_PATH, {"history", changed.path(), "-o", dump, "--versions", "-q",
                                "--format", "hex"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.err.empty());
  const std::vector<uint8_t> all = fixture::ReadFileBytes(dump);
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 4);

  fixture::ScopedTempFile old(OldFileWithFreeChain());
  r = RunProcess(GANDREL_PATH, {"history", old.path(), "-o", dump});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.err.find("2 records deleted, erased by the file's engine"), std::string::npos) << r.err;
  EXPECT_FALSE(FileExists(dump));  // nothing came back, no dump

  fixture::ScopedTempFile garbage(std::vector<uint8_t>(5000, 0x5A));
  EXPECT_EQ(RunProcess(GANDREL_PATH, {"history", garbage.path(), "-o", dump}).exitCode, 2);
  EXPECT_EQ(RunProcess(GANDREL_PATH, {"history", changed.path()}).exitCode, 1);
  EXPECT_EQ(RunProcess(GANDREL_PATH, {"history", changed.path(), "-o", changed.path()}).exitCode, 1);
  EXPECT_EQ(fixture::ReadFileBytes(changed.path()), c.file.built.bytes);  // never written
  r = RunProcess(GANDREL_PATH, {"help", "history"});
  EXPECT_NE(r.out.find("--versions"), std::string::npos);
  EXPECT_NE(r.out.find("never committed"), std::string::npos);
}

// --- The engine's files ----------------------------------------------------

TEST(HistoryCorpusTest, LaterStatesGiveBackTheDeletionsOfEarlierOnes) {
  const std::string v7 = GANDREL_CORPUS_V7_DIR;
  if (!std::filesystem::exists(v7 + "/exchequer-plugin-user-defined-fields/FIELD.DDF") ||
      !std::filesystem::exists(v7 + "/exchequer-demo/TOOLS.DAT")) {
    GTEST_SKIP() << "no corpus at " << v7;
  }
  const std::pair<std::string, std::string> lineages[] = {
      {"exchequer-plugin-ccdeptvalidation/FIELD.DDF", "exchequer-plugin-user-defined-fields/FIELD.DDF"},
      {"exchequer-plugin-ccdeptvalidation/INDEX.DDF", "exchequer-plugin-user-defined-fields/INDEX.DDF"},
      {"exchequer-plugin-ccdeptvalidation/FILE.DDF", "exchequer-plugin-user-defined-fields/FILE.DDF"},
      {"exchequer-demo/TOOLS.DAT", "exchequer-blank-mc/TOOLS.DAT"},
      {"exchequer-demo/TOOLS.DAT", "exchequer-blank-sc/TOOLS.DAT"},
  };
  // The two blank companies' TOOLS.DAT are one file: counted once.
  LineageCount total;
  std::set<std::string> counted;
  for (const auto& [earlier, later] : lineages) {
    SCOPED_TRACE(later);
    const std::string laterPath = CorpusFile(GANDREL_CORPUS_V7_DIR, later);
    const LineageCount c = CompareLineage(CorpusFile(GANDREL_CORPUS_V7_DIR, earlier), laterPath);
    printf("lineage %s -> %s: %zu deletions, %zu back byte for byte, %zu other\n",
           earlier.c_str(), later.c_str(), c.deletions, c.back, c.other);
    EXPECT_EQ(c.other, 0u);
    const std::vector<uint8_t> bytes = fixture::ReadFileBytes(laterPath);
    if (!counted.insert(std::string(bytes.begin(), bytes.end())).second) continue;
    total.deletions += c.deletions;
    total.back += c.back;
  }
  printf("lineages: %zu of %zu deletions back\n", total.back, total.deletions);
  EXPECT_EQ(total.deletions, 26u);
  EXPECT_GE(total.back, 23u);

  // Not an earlier state: nothing of it comes back.
  for (const char* name : {"FIELD.DDF", "INDEX.DDF", "FILE.DDF"}) {
    const LineageCount c = CompareLineage(
        CorpusFile(GANDREL_CORPUS_V7_DIR, std::string("exchequer-plugin-contacts/") + name),
        CorpusFile(GANDREL_CORPUS_V7_DIR, std::string("exchequer-plugin-user-defined-fields/") + name));
    printf("wrong lineage %s: %zu deletions, %zu back\n", name, c.deletions, c.back);
    EXPECT_EQ(c.back, 0u) << name;
  }
}


TEST(HistoryCorpusTest, EveryFileGivesOnlyWhatItsCurrentCopyDoesNotHold) {
  const std::vector<std::string> files = CorpusFiles();
  if (files.empty()) GTEST_SKIP() << "no corpus at " << GANDREL_CORPUS_DIR;
  size_t records = 0, withRecords = 0, old = 0;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const HistoryReport history = History(file, true);
    if (!history.salvage.geometry.usable) {
      EXPECT_TRUE(history.records.empty());
      continue;
    }
    if (!history.copiesKept) {
      ++old;
      EXPECT_TRUE(history.records.empty());
      EXPECT_EQ(history.oldCopiesWithRecords, 0u);
      continue;
    }
    records += CheckAgainstCurrent(history, LiveByAddress(file));
    withRecords += !history.records.empty();
  }
  printf("corpus: %zu records from %zu files, none from %zu files before 0x0600\n", records,
         withRecords, old);
}

TEST(HistoryCorpusTest, TheExamplesComeBack) {
  const std::string fieldext = CorpusFile(GANDREL_CORPUS_V7_DIR, "exchequer-ddf/FIELDEXT.DDF");
  const std::string comment = CorpusFile(GANDREL_CORPUS_2_DIR, "exchequer/entrprse-ddf/COMMENT.DDF");
  const std::string tools = CorpusFile(GANDREL_CORPUS_V7_DIR, "exchequer-blank-mc/TOOLS.DAT");
  if (!std::filesystem::exists(fieldext) || !std::filesystem::exists(comment) ||
      !std::filesystem::exists(tools)) {
    GTEST_SKIP() << "no corpus";
  }
  auto find = [](const HistoryReport& r, uint32_t page, uint32_t slot) -> const HistoryRecord* {
    for (const HistoryRecord& h : r.records) {
      if (h.logicalPage == page && h.slot == slot && h.verdict == HistoryVerdict::Deleted) return &h;
    }
    return nullptr;
  };
  const HistoryReport f = History(fieldext, false);
  const HistoryRecord* one = find(f, 2, 1);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->physicalPage, 5u);

  const HistoryReport c = History(comment, false);
  const HistoryRecord* text = find(c, 2, 0);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->physicalPage, 8u);
  const std::string wanted = "'C' - Customer, 'S' - Suppliers";
  EXPECT_NE(std::search(text->bytes.begin(), text->bytes.end(), wanted.begin(), wanted.end()),
            text->bytes.end());

  const HistoryReport t = History(tools, false);
  size_t compressed = 0;
  for (const HistoryRecord& h : t.records) {
    EXPECT_EQ(h.logicalPage, 6u);
    EXPECT_EQ(h.physicalPage, 25u);
    EXPECT_EQ(h.bytes.size(), 2215u);
    compressed += h.verdict == HistoryVerdict::Deleted;
  }
  EXPECT_EQ(compressed, 8u);
}

// Damaged copies of the files that hold old copies: bytes flipped at
// random (fixed seed), then history must neither crash nor give bytes the
// damaged file holds live.
TEST(HistoryCorpusTest, DamagedCopiesNeitherCrashNorGiveLiveRecords) {
  std::vector<std::string> files;
  for (const std::string& file : CorpusFiles()) {
    if (History(file, false).oldCopiesWithRecords > 0) files.push_back(file);
  }
  if (files.empty()) GTEST_SKIP() << "no corpus with old page copies";
  uint32_t seed = 19;
  auto next = [&seed]() { return seed = seed * 1103515245u + 12345u; };
  size_t runs = 0;
  for (const std::string& file : files) {
    const std::vector<uint8_t> good = fixture::ReadFileBytes(file);
    for (int round = 0; round < 8 && !good.empty(); ++round) {
      std::vector<uint8_t> bad = good;
      for (int k = 0; k < 40; ++k) bad[(next() >> 8) % bad.size()] = static_cast<uint8_t>(next() >> 16);
      SCOPED_TRACE(file + " round " + std::to_string(round) + " seed " + std::to_string(seed));
      fixture::ScopedTempFile temp(bad);
      const HistoryReport history = History(temp.path(), true);
      CheckAgainstCurrent(history, LiveByAddress(temp.path()));
      ++runs;
    }
  }
  printf("damaged copies: %zu runs over %zu files\n", runs, files.size());
}

}  // namespace
