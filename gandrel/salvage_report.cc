#include "gandrel/salvage_report.h"

#include <cinttypes>
#include <map>

namespace {

// --- A small JSON writer: enough for one report ------------------------------

struct Json {
  std::string text;
  bool needComma = false;

  void Comma() {
    if (needComma) text += ',';
    needComma = false;
  }
  void Key(const char* key) {
    Comma();
    String(key);
    text += ':';
    needComma = false;
  }
  void String(const std::string& s) {
    text += '"';
    for (unsigned char c : s) {
      if (c == '"' || c == '\\') {
        text += '\\';
        text += static_cast<char>(c);
      } else if (c < 0x20) {
        char escape[8];
        snprintf(escape, sizeof escape, "\\u%04x", c);
        text += escape;
      } else {
        text += static_cast<char>(c);
      }
    }
    text += '"';
    needComma = true;
  }
  void Number(int64_t n) {
    Comma();
    text += std::to_string(n);
    needComma = true;
  }
  void Real(double d) {
    Comma();
    char number[32];
    snprintf(number, sizeof number, "%.3f", d);
    text += number;
    needComma = true;
  }
  void Bool(bool b) {
    Comma();
    text += b ? "true" : "false";
    needComma = true;
  }
  void Open(char c) {
    Comma();
    text += c;
  }
  void Close(char c) {
    text += c;
    needComma = true;
  }
  void Field(const char* key, const std::string& s) { Key(key); String(s); }
  void Field(const char* key, int64_t n) { Key(key); Number(n); }
  void Field(const char* key, bool b) { Key(key); Bool(b); }
};

std::string Hex16(uint16_t value) {
  char text[8];
  snprintf(text, sizeof text, "0x%04x", value);
  return text;
}

void WriteCopy(Json& j, const ControlCopy& copy) {
  j.Open('{');
  j.Field("offset", static_cast<int64_t>(copy.offset));
  j.Field("sound", copy.sound);
  if (!copy.sound) j.Field("problem", copy.problem);
  if (copy.version != 0) j.Field("version", Hex16(copy.version));
  j.Field("counter", static_cast<int64_t>(copy.counter));
  j.Close('}');
}

}  // namespace

void PrintSalvageSummary(const SalvageReport& r, FILE* out) {
  const Geometry& g = r.geometry;
  fprintf(out, "%s: %s\n", r.path.c_str(), SalvageStatusName(r.status));
  if (!g.usable) {
    fprintf(out, "  nothing salvaged: %s\n", r.error.c_str());
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
    fprintf(out, "  records with a broken chain (fixed part and what came before): %" PRIu64 "\n",
            r.brokenChains.size() + r.brokenNotListed);
  }
  for (const std::string& note : r.notes) fprintf(out, "  %s\n", note.c_str());
  fprintf(out,
          "  geometry: version 0x%04x (%s), page size %u (%s), record length %u (%s), "
          "slot length %u (%s)\n",
          g.version, ValueSourceName(g.versionSource), g.pageSize,
          ValueSourceName(g.pageSizeSource), g.recordLength,
          ValueSourceName(g.recordLengthSource), g.slotLength,
          ValueSourceName(g.slotLengthSource));
}

std::string SalvageReportJson(const SalvageReport& r) {
  const Geometry& g = r.geometry;
  Json j;
  j.Open('{');
  j.Key("file");
  j.Open('{');
  j.Field("path", r.path);
  j.Field("size", static_cast<int64_t>(r.fileSize));
  j.Close('}');
  j.Field("status", std::string(SalvageStatusName(r.status)));
  if (!r.error.empty()) j.Field("error", r.error);

  j.Key("geometry");
  j.Open('{');
  j.Field("usable", g.usable);
  j.Field("version", Hex16(g.version));
  j.Field("versionSource", std::string(ValueSourceName(g.versionSource)));
  j.Field("pageSize", static_cast<int64_t>(g.pageSize));
  j.Field("pageSizeSource", std::string(ValueSourceName(g.pageSizeSource)));
  j.Field("recordLength", static_cast<int64_t>(g.recordLength));
  j.Field("recordLengthSource", std::string(ValueSourceName(g.recordLengthSource)));
  j.Field("slotLength", static_cast<int64_t>(g.slotLength));
  j.Field("slotLengthSource", std::string(ValueSourceName(g.slotLengthSource)));
  j.Field("variable", g.variable);
  j.Field("compressed", g.compressed);
  j.Field("chosenCopy", static_cast<int64_t>(g.chosenCopy));
  j.Key("controlCopies");
  j.Open('[');
  for (const ControlCopy& copy : g.copies) {
    if (copy.offset >= 0) WriteCopy(j, copy);
  }
  j.Close(']');
  j.Close('}');

  j.Key("pages");
  j.Open('{');
  j.Field("physical", static_cast<int64_t>(r.pages.physical));
  j.Field("reserved", static_cast<int64_t>(r.pages.reserved));
  j.Field("data", static_cast<int64_t>(r.pages.data));
  j.Field("variable", static_cast<int64_t>(r.pages.variable));
  j.Field("other", static_cast<int64_t>(r.pages.other));
  j.Field("implausible", static_cast<int64_t>(r.pages.implausible));
  j.Field("unreadable", static_cast<int64_t>(r.pages.unreadable));
  j.Field("currentData", static_cast<int64_t>(r.pages.currentData));
  j.Field("currentVariable", static_cast<int64_t>(r.pages.currentVariable));
  j.Field("dataPagesWalked", static_cast<int64_t>(r.dataPagesWalked));
  j.Close('}');

  j.Key("skippedPages");
  j.Open('[');
  for (const SkippedPage& s : r.skippedPages) {
    j.Open('{');
    j.Field("offset", static_cast<int64_t>(s.offset));
    j.Field("logicalPage", static_cast<int64_t>(s.logicalPage));
    j.Field("reason", s.reason);
    j.Close('}');
  }
  j.Close(']');
  j.Field("skippedNotListed", static_cast<int64_t>(r.skippedNotListed));
  j.Key("brokenChains");
  j.Open('[');
  for (const BrokenChain& b : r.brokenChains) {
    j.Open('{');
    j.Field("record", static_cast<int64_t>(b.recordNumber));
    j.Field("page", static_cast<int64_t>(b.dataPage));
    j.Field("offset", static_cast<int64_t>(b.slotOffset));
    j.Field("bytesRecovered", static_cast<int64_t>(b.bytesRecovered));
    j.Field("reason", b.reason);
    j.Close('}');
  }
  j.Close(']');
  j.Field("brokenNotListed", static_cast<int64_t>(r.brokenNotListed));
  j.Key("notes");
  j.Open('[');
  for (const std::string& note : r.notes) j.String(note);
  j.Close(']');

  j.Key("records");
  j.Open('{');
  j.Field("salvaged", static_cast<int64_t>(r.recordsSalvaged));
  j.Field("tooLong", static_cast<int64_t>(r.recordsTooLong));
  j.Field("headerCountKnown", g.recordCountKnown);
  j.Field("headerCount", static_cast<int64_t>(g.recordCount));
  j.Close('}');
  j.Key("seconds");
  j.Real(r.seconds);
  j.Close('}');
  j.text += '\n';
  return j.text;
}
