#include "salvage/salvage.h"

#include <chrono>

#include "reader/input_stream.h"
#include "salvage/page_scan.h"
#include "salvage/records.h"

const char* SalvageStatusName(SalvageStatus status) {
  switch (status) {
    case kSalvageHealthy: return "healthy";
    case kSalvageDamaged: return "damaged";
    case kSalvageNothing: return "nothing salvaged";
  }
  return "unknown";
}

namespace {

// Whether the run met damage.  Copy 1 is always written by the engine, copy
// 2 may never have been; and a copy older than the chosen one may hold stale
// fields.  Damage is a copy 1 that is not a control page at all, or one not
// older than the copy chosen; a count the records do not meet; pages off the
// grid, skipped or held back, chains broken.
bool FoundDamage(const SalvageReport& report) {
  const Geometry& g = report.geometry;
  const ControlCopy& copy1 = g.copies[0];
  const ControlCopy* chosen = g.chosenCopy == 2 ? &g.copies[1] : nullptr;
  const VersionRules* copy1Layout = FindVersionRules(copy1.version);
  const bool copy1Damaged =
      !copy1.sound && (copy1Layout == nullptr || chosen == nullptr ||
                       !SameVersionClass(*copy1Layout, *g.layout) ||
                       copy1.counter >= chosen->counter);
  const uint64_t found = report.recordsSalvaged + report.recordsTooLong;
  const bool countsDiffer = !g.recordCountKnown || found != g.recordCount;
  return copy1Damaged || countsDiffer || !g.gridShifts.empty() || report.heldBack.total() > 0 ||
         !report.skippedPages.empty() || !report.brokenChains.empty() ||
         report.brokenNotListed > 0;
}

}  // namespace

SalvageStatus SalvageFile(const char* path, const GeometryOverrides& overrides,
                          const RecordSinkFunction& sink, SalvageReport* report) {
  const auto started = std::chrono::steady_clock::now();
  *report = SalvageReport{};
  report->path = path;
  auto finish = [&](SalvageStatus status) {
    report->status = status;
    report->seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return status;
  };

  InputFile input;
  if (!OpenInputFile(path, &input, &report->error)) return finish(kSalvageNothing);
  report->opened = true;
  report->fileSize = input.size;

  DecideGeometry(&input, overrides, &report->geometry);
  const Geometry& g = report->geometry;
  for (int c = 0; c < 2; ++c) {
    const ControlCopy& copy = g.copies[c];
    if (copy.offset >= 0 && !copy.sound) {
      report->notes.push_back("control page copy " + std::to_string(c + 1) + " at offset " +
                              std::to_string(copy.offset) + ": " + copy.problem);
    }
  }
  if (!g.usable) {
    report->error = g.problem;
    CloseInputFile(&input);
    return finish(kSalvageNothing);
  }

  ScanResult scan;
  ScanDataFile(&input, g, sink.progress, sink.progressContext, &scan);
  if (ScanFoundDamage(g, scan)) {
    FindGridShifts(&input, &report->geometry);
    if (!g.gridShifts.empty()) ScanDataFile(&input, g, nullptr, nullptr, &scan);
  }
  report->pages = scan.counts;
  report->skippedPages = scan.skipped;
  report->skippedNotListed = scan.skippedNotListed;
  WalkRecords(&input, g, scan, sink, report);
  CloseInputFile(&input);

  if (!FoundDamage(*report)) return finish(kSalvageHealthy);
  return finish(report->recordsSalvaged > 0 ? kSalvageDamaged : kSalvageNothing);
}
