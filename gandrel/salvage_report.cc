#include "gandrel/salvage_report.h"

#include <cinttypes>

#include "common/json_writer.h"
#include "salvage/page_scan.h"

namespace {

// Report fields, through the common JSON writer.
void Field(JsonWriter* j, const char* key, const std::string& value) {
  JsonKey(j, key);
  JsonString(j, value);
}
void Field(JsonWriter* j, const char* key, int64_t value) {
  JsonKey(j, key);
  JsonInt(j, value);
}
void Field(JsonWriter* j, const char* key, bool value) {
  JsonKey(j, key);
  JsonBool(j, value);
}

std::string Hex16(uint16_t value) {
  char text[8];
  snprintf(text, sizeof text, "0x%04x", value);
  return text;
}

// One candidate geometry the pages were scored against.
void WriteCandidate(JsonWriter* j, const char* key, const GeometryCandidate& c) {
  JsonKey(j, key);
  if (c.layout == nullptr) {
    JsonNull(j);
    return;
  }
  JsonBeginObject(j);
  Field(j, "version", Hex16(c.layout->version));
  Field(j, "pageSize", static_cast<int64_t>(c.pageSize));
  Field(j, "headers", static_cast<int64_t>(c.headers));
  Field(j, "pages", static_cast<int64_t>(c.pages));
  JsonKey(j, "score");
  JsonDouble(j, c.score);
  if (c.slotLength != 0) {
    Field(j, "slotLength", static_cast<int64_t>(c.slotLength));
    JsonKey(j, "slotScore");
    JsonDouble(j, c.slotScore);
  }
  JsonEndObject(j);
}

// The scores behind inferred values: the candidate taken and the
// runner-ups of the (version, page size) ranking and of the slot length.
void WriteInference(JsonWriter* j, const Geometry& g) {
  JsonKey(j, "inference");
  if (!g.inferred) {
    JsonNull(j);
    return;
  }
  JsonBeginObject(j);
  WriteCandidate(j, "chosen", g.best);
  WriteCandidate(j, "runnerUp", g.runnerUp);
  WriteCandidate(j, "slotRunnerUp", g.slotRunnerUp);
  JsonEndObject(j);
}

void WriteCopy(JsonWriter* j, const ControlCopy& copy) {
  JsonBeginObject(j);
  Field(j, "offset", static_cast<int64_t>(copy.offset));
  Field(j, "sound", copy.sound);
  if (!copy.sound) Field(j, "problem", copy.problem);
  if (copy.version != 0) Field(j, "version", Hex16(copy.version));
  Field(j, "counter", static_cast<int64_t>(copy.counter));
  JsonEndObject(j);
}

}  // namespace

void PrintSalvageSummary(const SalvageReport& r, FILE* out) {
  const Geometry& g = r.geometry;
  fprintf(out, "%s: %s\n", r.path.c_str(), SalvageStatusName(r.status));
  if (!g.usable) {
    fprintf(out, "  nothing salvaged: %s\n", r.error.c_str());
    for (const std::string& note : r.notes) fprintf(out, "  %s\n", note.c_str());
    return;
  }
  if (g.recordCountKnown) {
    fprintf(out, "  records salvaged: %" PRIu64 " (the header says %u)\n", r.recordsSalvaged,
            g.recordCount);
  } else {
    fprintf(out, "  records salvaged: %" PRIu64 " (no sound header count)\n", r.recordsSalvaged);
  }
  if (r.recordsTooLong > 0) {
    fprintf(out, "  records longer than %u bytes, left out: %" PRIu64 "\n", kMaxRecordBytes,
            r.recordsTooLong);
  }
  if (r.heldBack.total() > 0) {
    fprintf(out,
            "  records held back by the gate: %" PRIu64 " (tail pointer outside the file %" PRIu64
            ", chain that does not end %" PRIu64 ", chain broken short %" PRIu64
            ", compressed stream that does not decode whole %" PRIu64
            ", slot over a sector of zeros %" PRIu64
            ", slot that bytes inserted or lost may have moved %" PRIu64 ")\n",
            r.heldBack.total(), r.heldBack.tailOutsideFile, r.heldBack.endlessChain,
            r.heldBack.brokenChain, r.heldBack.streamNotExact, r.heldBack.zeroedSector,
            r.heldBack.movedByShift);
  }
  if (r.recordsOverBlankSectors > 0) {
    fprintf(out,
            "  records over a sector of zeros, handed out: %" PRIu64
            " (blank record bytes, or sectors the disk lost: --lost-sectors holds them back)\n",
            r.recordsOverBlankSectors);
  }
  for (const GridShift& s : g.gridShifts) {
    fprintf(out, "  page grid moved by %+" PRId64 " bytes from physical page %" PRIu64
                 " on (bytes %s before it)\n",
            s.shift, s.fromPage, s.shift > 0 ? "inserted" : "lost");
  }
  fprintf(out, "  pages read: %" PRIu64 " (%" PRIu64 " data pages walked), skipped: %" PRIu64 "\n",
          r.pages.physical, r.dataPagesWalked, r.skippedPages.size() + r.skippedNotListed);
  const size_t shown = r.skippedPages.size() < 5 ? r.skippedPages.size() : 5;
  for (size_t i = 0; i < shown; ++i) {
    fprintf(out, "    offset %" PRId64 ": %s\n", r.skippedPages[i].offset,
            r.skippedPages[i].reason.c_str());
  }
  if (shown < r.skippedPages.size()) {
    fprintf(out, "    ... and %" PRIu64 " more (see the report)\n",
            r.skippedPages.size() - shown + r.skippedNotListed);
  }
  if (!r.brokenChains.empty() || r.brokenNotListed > 0) {
    fprintf(out, "  records with a broken chain (held back; --keep-doubtful writes them): %" PRIu64 "\n",
            r.brokenChains.size() + r.brokenNotListed);
  }
  for (const std::string& note : r.notes) fprintf(out, "  %s\n", note.c_str());
  char length[64];
  if (g.compressed && g.recordLength == 0) {
    snprintf(length, sizeof length, "compressed records, each as long as its stream");
  } else {
    snprintf(length, sizeof length, "record length %u (%s)", g.recordLength,
             ValueSourceName(g.recordLengthSource));
  }
  fprintf(out, "  geometry: version 0x%04x (%s), page size %u (%s), %s, slot length %u (%s)\n",
          g.version, ValueSourceName(g.versionSource), g.pageSize,
          ValueSourceName(g.pageSizeSource), length, g.slotLength,
          ValueSourceName(g.slotLengthSource));
}

std::string SalvageReportJson(const SalvageReport& r) {
  const Geometry& g = r.geometry;
  JsonWriter writer = {};
  JsonWriter* j = &writer;
  JsonBeginObject(j);
  JsonKey(j, "file");
  JsonBeginObject(j);
  Field(j, "path", r.path);
  Field(j, "size", static_cast<int64_t>(r.fileSize));
  JsonEndObject(j);
  Field(j, "status", std::string(SalvageStatusName(r.status)));
  if (!r.error.empty()) Field(j, "error", r.error);

  JsonKey(j, "geometry");
  JsonBeginObject(j);
  Field(j, "usable", g.usable);
  // Where bytes inserted or lost moved the pages off the grid.
  JsonKey(j, "gridShifts");
  JsonBeginArray(j);
  for (const GridShift& s : g.gridShifts) {
    JsonBeginObject(j);
    Field(j, "fromPhysicalPage", static_cast<int64_t>(s.fromPage));
    Field(j, "offset", PhysicalPageOffset(g, s.fromPage));
    Field(j, "shift", s.shift);
    JsonEndObject(j);
  }
  JsonEndArray(j);
  Field(j, "version", Hex16(g.version));
  Field(j, "versionSource", std::string(ValueSourceName(g.versionSource)));
  Field(j, "pageSize", static_cast<int64_t>(g.pageSize));
  Field(j, "pageSizeSource", std::string(ValueSourceName(g.pageSizeSource)));
  Field(j, "recordLength", static_cast<int64_t>(g.recordLength));
  Field(j, "recordLengthSource", std::string(ValueSourceName(g.recordLengthSource)));
  Field(j, "slotLength", static_cast<int64_t>(g.slotLength));
  Field(j, "slotLengthSource", std::string(ValueSourceName(g.slotLengthSource)));
  Field(j, "variable", g.variable);
  Field(j, "compressed", g.compressed);
  Field(j, "chosenCopy", static_cast<int64_t>(g.chosenCopy));
  JsonKey(j, "controlCopies");
  JsonBeginArray(j);
  for (const ControlCopy& copy : g.copies) {
    if (copy.offset >= 0) WriteCopy(j, copy);
  }
  JsonEndArray(j);
  WriteInference(j, g);
  JsonEndObject(j);

  JsonKey(j, "pages");
  JsonBeginObject(j);
  Field(j, "physical", static_cast<int64_t>(r.pages.physical));
  Field(j, "reserved", static_cast<int64_t>(r.pages.reserved));
  Field(j, "data", static_cast<int64_t>(r.pages.data));
  Field(j, "variable", static_cast<int64_t>(r.pages.variable));
  Field(j, "other", static_cast<int64_t>(r.pages.other));
  Field(j, "implausible", static_cast<int64_t>(r.pages.implausible));
  Field(j, "unreadable", static_cast<int64_t>(r.pages.unreadable));
  Field(j, "currentData", static_cast<int64_t>(r.pages.currentData));
  Field(j, "headerless", static_cast<int64_t>(r.pages.headerless));
  Field(j, "headerlessVariable", static_cast<int64_t>(r.pages.headerlessVariable));
  Field(j, "crossed", static_cast<int64_t>(r.pages.crossed));
  Field(j, "currentVariable", static_cast<int64_t>(r.pages.currentVariable));
  Field(j, "dataPagesWalked", static_cast<int64_t>(r.dataPagesWalked));
  JsonEndObject(j);

  JsonKey(j, "skippedPages");
  JsonBeginArray(j);
  for (const SkippedPage& s : r.skippedPages) {
    JsonBeginObject(j);
    Field(j, "offset", static_cast<int64_t>(s.offset));
    Field(j, "logicalPage", static_cast<int64_t>(s.logicalPage));
    Field(j, "reason", s.reason);
    JsonEndObject(j);
  }
  JsonEndArray(j);
  Field(j, "skippedNotListed", static_cast<int64_t>(r.skippedNotListed));
  JsonKey(j, "brokenChains");
  JsonBeginArray(j);
  for (const BrokenChain& b : r.brokenChains) {
    JsonBeginObject(j);
    Field(j, "record", static_cast<int64_t>(b.recordNumber));
    Field(j, "page", static_cast<int64_t>(b.dataPage));
    Field(j, "offset", static_cast<int64_t>(b.slotOffset));
    Field(j, "bytesRecovered", static_cast<int64_t>(b.bytesRecovered));
    Field(j, "reason", b.reason);
    JsonEndObject(j);
  }
  JsonEndArray(j);
  Field(j, "brokenNotListed", static_cast<int64_t>(r.brokenNotListed));
  JsonKey(j, "notes");
  JsonBeginArray(j);
  for (const std::string& note : r.notes) JsonString(j, note);
  JsonEndArray(j);

  JsonKey(j, "records");
  JsonBeginObject(j);
  Field(j, "salvaged", static_cast<int64_t>(r.recordsSalvaged));
  Field(j, "tooLong", static_cast<int64_t>(r.recordsTooLong));
  JsonKey(j, "heldBack");
  JsonBeginObject(j);
  Field(j, "tailOutsideFile", static_cast<int64_t>(r.heldBack.tailOutsideFile));
  Field(j, "endlessChain", static_cast<int64_t>(r.heldBack.endlessChain));
  Field(j, "brokenChain", static_cast<int64_t>(r.heldBack.brokenChain));
  Field(j, "streamNotExact", static_cast<int64_t>(r.heldBack.streamNotExact));
  Field(j, "zeroedSector", static_cast<int64_t>(r.heldBack.zeroedSector));
  Field(j, "movedByShift", static_cast<int64_t>(r.heldBack.movedByShift));
  JsonEndObject(j);
  Field(j, "overBlankSectors", static_cast<int64_t>(r.recordsOverBlankSectors));
  Field(j, "headerCountKnown", g.recordCountKnown);
  Field(j, "headerCount", static_cast<int64_t>(g.recordCount));
  JsonEndObject(j);
  JsonKey(j, "seconds");
  JsonDouble(j, r.seconds);
  JsonEndObject(j);
  writer.text += '\n';
  return writer.text;
}
