#include "salvage/history.h"

#include <chrono>
#include <algorithm>
#include <unordered_set>
#include <utility>

#include "salvage/history_chain.h"
#include "salvage/page_rules.h"
#include "salvage/page_scan.h"
#include "salvage/records.h"

namespace {

// 64-bit FNV-1a of a record's bytes: live contents and given contents are
// kept as these, not as copies.  Two records that collide count as one,
// which can only leave a record out, never make one up.
uint64_t HashBytes(const std::vector<uint8_t>& bytes) {
  uint64_t h = 14695981039346656037ull;
  for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
  return (h ^ bytes.size()) * 1099511628211ull;
}

struct LiveSet {
  std::unordered_set<uint64_t> hashes;
};

void KeepLive(void* context, const uint8_t* bytes, uint32_t length) {
  std::vector<uint8_t> record(bytes, bytes + length);
  static_cast<LiveSet*>(context)->hashes.insert(HashBytes(record));
}

// What the history pass works from: the geometry and page pass of the
// file, as salvage decides them.
struct HistoryPass {
  InputFile input;
  Geometry geometry;
  ScanResult scan;
};

bool OpenPass(const char* path, const GeometryOverrides& overrides, HistoryPass* pass) {
  std::string error;
  if (!OpenInputFile(path, &pass->input, &error)) return false;
  DecideGeometry(&pass->input, overrides, &pass->geometry);
  if (!pass->geometry.usable) {
    CloseInputFile(&pass->input);
    return false;
  }
  ScanDataFile(&pass->input, pass->geometry, nullptr, nullptr, nullptr, &pass->scan);
  if (ScanFoundDamage(pass->geometry, pass->scan)) {
    FindGridShifts(&pass->input, &pass->geometry);
    if (!pass->geometry.gridShifts.empty()) {
      ScanDataFile(&pass->input, pass->geometry, nullptr, nullptr, nullptr, &pass->scan);
    }
  }
  return true;
}

// A data page read whole, with zeros past its end for the last slot's
// pointer (as the record walk supplies them).
struct PageBuffer {
  std::vector<uint8_t> bytes;
  uint32_t slots = 0;
};

void PreparePage(const Geometry& g, PageBuffer* page) {
  page->bytes.assign(static_cast<size_t>(g.pageSize) + g.slotLength + 64, 0);
  page->slots = SlotsPerPage(g);
}

bool ReadPage(HistoryPass* pass, uint32_t physical, PageBuffer* page) {
  const Geometry& g = pass->geometry;
  return ReadInputAt(&pass->input, PhysicalPageOffset(g, physical), page->bytes.data(),
                     g.pageSize) == g.pageSize;
}

uint32_t SlotOffset(const Geometry& g, uint32_t slot) {
  return g.layout->dataPageHeaderSize + slot * g.slotLength;
}

uint16_t PageUsage(const Geometry& g, const uint8_t* page) {
  return ClassifyPageHeader(*g.layout, page, 0, UINT64_MAX).usage;
}

// The current copy of one logical page: which slots hold records.
struct CurrentPage {
  uint32_t logical = 0;
  bool known = false;
  uint16_t usage = 0;
  std::vector<bool> used;
};

void LoadCurrent(HistoryPass* pass, uint32_t logical, PageBuffer* buffer, CurrentPage* current) {
  const Geometry& g = pass->geometry;
  *current = CurrentPage{};
  current->logical = logical;
  const std::vector<uint32_t>& data = pass->scan.directory.data;
  if (logical >= data.size() || data[logical] == kNoPhysicalPage) return;
  if (!ReadPage(pass, data[logical], buffer)) return;
  current->known = true;
  current->usage = PageUsage(g, buffer->bytes.data());
  current->used.resize(buffer->slots);
  for (uint32_t s = 0; s < buffer->slots; ++s) {
    current->used[s] = SlotHoldsRecord(g, buffer->bytes.data(), SlotOffset(g, s));
  }
}

// What the newer copies gave already: a record that several old copies
// hold (at its address, or moved between them) comes out once, from the
// newest copy; and an address's newest record is the one deleted there,
// its older contents earlier versions of it.
struct Given {
  std::unordered_set<uint64_t> contents;
  std::unordered_set<uint64_t> addresses;  // logical page << 32 | slot
};

// Decides what one rebuilt old record is and keeps it when it is given.
void Consider(const HistoryOptions& options, const CurrentPage& current, HistoryRecord record,
              const LiveSet& live, Given* given, HistoryReport* report) {
  const uint64_t hash = HashBytes(record.bytes);
  const uint64_t address = (static_cast<uint64_t>(record.logicalPage) << 32) | record.slot;
  // A copy above the current one may never have been committed: what it
  // holds does not make the committed copies' records earlier versions.
  const bool aboveCurrent = current.known && record.copyUsage > current.usage;
  const bool newerHere = given->addresses.count(address) != 0;
  if (!aboveCurrent) given->addresses.insert(address);
  if (live.hashes.count(hash) != 0) {
    ++report->live;  // unchanged, or moved to another address
    return;
  }
  if (given->contents.count(hash) != 0) {
    ++report->repeated;
    return;
  }
  given->contents.insert(hash);
  record.currentKnown = current.known;
  record.currentUsage = current.usage;
  const bool held = current.known && record.slot < current.used.size() &&
                    current.used[record.slot];
  if (held || newerHere) {
    record.verdict = HistoryVerdict::EarlierVersion;
    if (!options.versions) {
      ++report->versionsLeftOut;
      return;
    }
  } else {
    record.verdict =
        aboveCurrent ? HistoryVerdict::DeletedOrNeverCommitted : HistoryVerdict::Deleted;
  }
  report->records.push_back(std::move(record));
}

// Every used slot of one old data copy.
void ReadOldCopy(HistoryPass* pass, const PageCopy& copy, const HistoryOptions& options,
                 const CurrentPage& current, const LiveSet& live, CopyChain* chain,
                 PageBuffer* page, Given* given, HistoryReport* report) {
  const Geometry& g = pass->geometry;
  if (!ReadPage(pass, copy.physical, page)) return;
  bool any = false;
  std::string reason;
  for (uint32_t s = 0; s < page->slots; ++s) {
    const uint32_t at = SlotOffset(g, s);
    if (!SlotHoldsRecord(g, page->bytes.data(), at)) continue;
    any = true;
    ++report->usedSlots;
    HistoryRecord record;
    record.logicalPage = copy.logical;
    record.slot = s;
    record.physicalPage = copy.physical;
    record.copyUsage = copy.usage;
    if (!RebuildRecord(chain, page->bytes.data() + at, &record.bytes, &reason)) {
      report->unfinished.push_back(UnfinishedRecord{copy.logical, s, copy.physical, reason});
      continue;
    }
    Consider(options, current, std::move(record), live, given, report);
  }
  if (any) ++report->oldCopiesWithRecords;
}

void ReadOldCopies(HistoryPass* pass, const HistoryOptions& options, const LiveSet& live,
                   HistoryReport* report) {
  const Geometry& g = pass->geometry;
  CopyChain chain;
  PrepareCopyChain(&chain, &pass->input, &g, pass->scan);
  PageBuffer page;
  PreparePage(g, &page);
  CurrentPage current;
  current.logical = UINT32_MAX;
  Given given;
  for (const PageCopy& copy : pass->scan.superseded) {
    if (copy.variable) {
      ++report->oldVariableCopies;
      continue;
    }
    ++report->oldDataCopies;
    if (copy.logical != current.logical) LoadCurrent(pass, copy.logical, &page, &current);
    ReadOldCopy(pass, copy, options, current, live, &chain, &page, &given, report);
  }
  std::stable_sort(report->records.begin(), report->records.end(),
                   [](const HistoryRecord& a, const HistoryRecord& b) {
                     if (a.logicalPage != b.logicalPage) return a.logicalPage < b.logicalPage;
                     return a.slot < b.slot;
                   });
}

}  // namespace

const char* HistoryVerdictName(HistoryVerdict verdict) {
  switch (verdict) {
    case HistoryVerdict::Deleted: return "deleted";
    case HistoryVerdict::EarlierVersion: return "earlier version";
    case HistoryVerdict::DeletedOrNeverCommitted: return "deleted or never committed";
  }
  return "unknown";
}

SalvageStatus RecoverHistory(const char* path, const HistoryOptions& options,
                             HistoryReport* report) {
  const auto started = std::chrono::steady_clock::now();
  *report = HistoryReport{};
  LiveSet live;
  RecordSinkFunction sink;
  sink.write = KeepLive;
  sink.context = &live;
  const SalvageStatus status = SalvageFile(path, options.overrides, sink, &report->salvage);
  HistoryPass pass;
  if (report->salvage.geometry.usable && OpenPass(path, options.overrides, &pass)) {
    CountFreeChain(&pass.input, pass.geometry, pass.scan, &report->freeChain);
    report->copiesKept = KeepsOldPageCopies(*pass.geometry.layout);
    if (report->copiesKept) ReadOldCopies(&pass, options, live, report);
    CloseInputFile(&pass.input);
  }
  report->salvage.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return status;
}

bool SummarizeHistory(const char* path, const GeometryOverrides& overrides,
                      HistorySummary* summary) {
  *summary = HistorySummary{};
  HistoryPass pass;
  if (!OpenPass(path, overrides, &pass)) return false;
  const Geometry& g = pass.geometry;
  CountFreeChain(&pass.input, g, pass.scan, &summary->freeChain);
  summary->copiesKept = KeepsOldPageCopies(*g.layout);
  PageBuffer page;
  PreparePage(g, &page);
  for (const PageCopy& copy : pass.scan.superseded) {
    if (copy.variable) continue;
    ++summary->oldDataCopies;
    if (!summary->copiesKept || !ReadPage(&pass, copy.physical, &page)) continue;
    for (uint32_t s = 0; s < page.slots; ++s) {
      if (SlotHoldsRecord(g, page.bytes.data(), SlotOffset(g, s))) {
        ++summary->oldCopiesWithRecords;
        break;
      }
    }
  }
  CloseInputFile(&pass.input);
  return true;
}
