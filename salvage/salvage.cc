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
// grid, skipped, held back or out of their places, chains broken.
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
         report.pages.crossed > 0 ||
         !report.skippedPages.empty() || !report.brokenChains.empty() ||
         report.brokenNotListed > 0;
}

// Forgets the records counted so far, when the sink has taken them back.
void ForgetRecords(SalvageReport* report) {
  report->recordsSalvaged = 0;
  report->recordsTooLong = 0;
  report->heldBack = HeldBackCounts{};
  report->recordsOverBlankSectors = 0;
  report->brokenChains.clear();
  report->brokenNotListed = 0;
  report->dataPagesWalked = 0;
  report->restarted = true;
}

// The pass gave `given` pages to the early walk.  Where its proof held, the
// record walk goes on after the last of them; where it did not, the sink
// takes their records back and the walk starts from the first page.  False
// when the sink could not take them back.
bool ContinueAfterEarlyWalk(uint64_t given, bool holds, uint32_t through,
                            const RecordSinkFunction& sink, SalvageReport* report,
                            uint32_t* firstLogical) {
  *firstLogical = 1;
  if (given == 0) return true;
  if (holds) {
    *firstLogical = through + 1;
    return true;
  }
  ForgetRecords(report);
  return sink.restart(sink.restartContext);
}

// Tables whose newer copy the control page's counter calls uncommitted
// are right to be passed over only where that counter is the last one
// committed.  With the other control copy damaged it may have held the
// next counter: the newer copies may then be the committed state, and the
// records salvaged those of the state before it.  Nothing in the pages
// tells the two apart, so the report says so.
void NoteUncertainCommit(const Geometry& g, const ScanResult& scan, SalvageReport* report) {
  if (scan.newerTablesPassedOver == 0) return;
  int damaged = -1;
  for (int c = 0; c < 2; ++c) {
    if (g.copies[c].offset >= 0 && !g.copies[c].sound) damaged = c;
  }
  if (damaged < 0) return;
  const uint32_t n = scan.newerTablesPassedOver;
  report->notes.push_back(
      std::to_string(n) + (n == 1 ? " allocation table keeps" : " allocation tables keep") +
      " a copy newer than the control page's counter " +
      std::to_string(g.controlUsage) + ", taken as a change never committed; control page copy " +
      std::to_string(damaged + 1) +
      " is damaged and may have committed it, so the records salvaged may be those of the "
      "state before that change");
}

// The page pass, the search for a moved grid where it found damage, and
// the record walk, with the geometry in `report` usable.  Fixed-length
// records need no other page than their own: where the sink can take
// records back, they go out as the page pass proves their pages.  False
// when records given out could not be taken back.
bool ScanAndWalk(InputFile* input, bool lostSectors, const RecordSinkFunction& sink,
                 SalvageReport* report) {
  const Geometry& g = report->geometry;
  EarlyWalk early;
  const bool walkEarly = sink.restart != nullptr && !g.variable && !g.compressed;
  if (walkEarly) BeginEarlyWalk(&early, g, lostSectors, sink, report);
  const ProvenPageSink proven{WalkProvenPage, &early};
  ScanResult scan;
  ScanDataFile(input, g, sink.progress, sink.progressContext, walkEarly ? &proven : nullptr,
               &scan);
  const uint64_t given = scan.provenPages;
  // The early walk held back records over sectors of zeros by the strict
  // rule (unless the user said sectors were lost); where the pass found
  // headers wiped, the walk's rule is another.
  bool holds = scan.provenHolds && (lostSectors || scan.counts.wipedHeaders == 0);
  if (ScanFoundDamage(g, scan)) {
    FindGridShifts(input, &report->geometry);
    if (!g.gridShifts.empty()) {
      ScanDataFile(input, g, nullptr, nullptr, nullptr, &scan);
      holds = false;  // every page after the shift moved
    }
  }
  report->pages = scan.counts;
  report->skippedPages = scan.skipped;
  if (scan.counts.crossed > 0) {
    report->notes.push_back(
        std::to_string(scan.counts.crossed) +
        " pages lie at each other's places (the page map, or before 0x0600 the page's "
        "number, puts each where the other lies): each is taken by the number it carries");
  }
  NoteUncertainCommit(g, scan, report);
  report->skippedNotListed = scan.skippedNotListed;
  uint32_t firstLogical = 1;
  if (!ContinueAfterEarlyWalk(given, holds, scan.provenThrough, sink, report, &firstLogical)) {
    report->error = "the records given out during the page pass could not be taken back";
    return false;
  }
  WalkRecords(input, g, scan, firstLogical, lostSectors, sink, report);
  return true;
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

  const bool walked = ScanAndWalk(&input, overrides.lostSectors, sink, report);
  CloseInputFile(&input);
  if (!walked) return finish(kSalvageNothing);
  if (!FoundDamage(*report)) return finish(kSalvageHealthy);
  return finish(report->recordsSalvaged > 0 ? kSalvageDamaged : kSalvageNothing);
}
