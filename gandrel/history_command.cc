#include "gandrel/history_command.h"
#include "gandrel/output_files.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/json_writer.h"
#include "dump/crc32.h"
#include "dump/dump_writer.h"
#include "gandrel/salvage_command.h"

const CommandOption kHistoryOptions[] = {
    {"output", 'o', "DUMP", "dump file (a directory for several files)"},
    {"format", 0, "F", "1|2|3|4|butil|butil-nolen|hex-crc|hex (default 1)"},
    {"report", 0, "REPORT.json", "JSON report (a directory for several files)"},
    {"versions", 0, nullptr, "also earlier versions of records still live"},
    {"page-size", 0, "N", "page size, over what the file says"},
    {"record-length", 0, "N", "fixed record length, over what the file says"},
    {"version", 0, "0xNNNN", "format version, over what the file says"},
    {"quiet", 'q', nullptr, "no summary on stderr"},
};
const int kHistoryOptionCount = sizeof kHistoryOptions / sizeof kHistoryOptions[0];

namespace {

namespace fs = std::filesystem;

uint64_t CountVerdict(const HistoryReport& r, HistoryVerdict verdict) {
  return static_cast<uint64_t>(
      std::count_if(r.records.begin(), r.records.end(),
                    [verdict](const HistoryRecord& h) { return h.verdict == verdict; }));
}

// The line that stands for an empty history before 0x0600.
std::string ErasedLine(const HistoryReport& r) {
  const FreeChainCount& chain = r.freeChain;
  if (!chain.known) return "no old page copies, and the free-slot chain cannot be read";
  std::string line = std::to_string(chain.slots) + " records deleted, erased by the file's engine";
  if (chain.broken) line += " (at least; the free-slot chain breaks: " + chain.problem + ")";
  return line;
}

void Key(JsonWriter* j, const char* key, uint64_t value) {
  JsonKey(j, key);
  JsonUint(j, value);
}

void Key(JsonWriter* j, const char* key, const std::string& value) {
  JsonKey(j, key);
  JsonString(j, value);
}

void WriteRecordJson(JsonWriter* j, const HistoryRecord& h) {
  JsonBeginObject(j);
  Key(j, "logicalPage", h.logicalPage);
  Key(j, "slot", h.slot);
  Key(j, "physicalPage", h.physicalPage);
  Key(j, "copyUsage", h.copyUsage);
  JsonKey(j, "currentUsage");
  if (h.currentKnown) JsonUint(j, h.currentUsage);
  else JsonNull(j);
  Key(j, "verdict", std::string(HistoryVerdictName(h.verdict)));
  Key(j, "length", h.bytes.size());
  JsonEndObject(j);
}

void WriteCountsJson(JsonWriter* j, const HistoryReport& r) {
  JsonKey(j, "freeChain");
  JsonBeginObject(j);
  JsonKey(j, "known");
  JsonBool(j, r.freeChain.known);
  Key(j, "slots", r.freeChain.slots);
  if (r.freeChain.broken) Key(j, "problem", r.freeChain.problem);
  JsonEndObject(j);
  JsonKey(j, "oldCopies");
  JsonBeginObject(j);
  Key(j, "data", r.oldDataCopies);
  Key(j, "dataWithRecords", r.oldCopiesWithRecords);
  Key(j, "variable", r.oldVariableCopies);
  Key(j, "usedSlots", r.usedSlots);
  Key(j, "live", r.live);
  Key(j, "repeated", r.repeated);
  Key(j, "versionsLeftOut", r.versionsLeftOut);
  JsonEndObject(j);
}

// Writes the records of `report` to `path`; false when it cannot.
bool WriteHistoryDump(const HistoryReport& report, const std::string& path, char format) {
  FILE* dump = fopen(path.c_str(), "wb");
  if (dump == nullptr) return false;
  static char textBuffer[kDumpBlockSize];
  DumpOutput output{dump, textBuffer, format, kDumpBlockSize};
  for (const HistoryRecord& h : report.records) {
    WriteDumpRecord(&output, static_cast<uint32_t>(h.bytes.size()), h.bytes.data());
  }
  WriteDumpTrailer(&output);
  const bool written = ferror(dump) == 0;
  return fclose(dump) == 0 && written;
}

// One file: its history into `dumpPath` (none when nothing came back).
int HistoryOne(const std::string& file, const std::string& dumpPath,
               const std::string& reportPath, const SalvageSettings& settings,
               bool versions) {
  std::error_code ec;
  if (fs::is_directory(file, ec)) {
    fprintf(stderr, "gandrel history: %s: is a directory\n", file.c_str());
    return kExitNothing;
  }
  if (NamesTheDataFile("history", file, dumpPath) || NamesTheDataFile("history", file, reportPath)) {
    return kExitUsage;
  }
  HistoryOptions options;
  options.versions = versions;
  options.overrides = settings.overrides;
  HistoryReport report;
  const SalvageStatus status = RecoverHistory(file.c_str(), options, &report);
  if (!report.salvage.opened) {
    fprintf(stderr, "gandrel history: %s: %s\n", file.c_str(), report.salvage.error.c_str());
    return kExitNothing;
  }
  if (!settings.quiet) PrintHistorySummary(report, stderr);
  remove(dumpPath.c_str());
  if (!report.records.empty() && !WriteHistoryDump(report, dumpPath, settings.format)) {
    fprintf(stderr, "gandrel history: %s: cannot write the dump: %s\n", dumpPath.c_str(),
            strerror(errno));
    return kExitNothing;
  }
  if (!reportPath.empty() && !WriteTextFile(reportPath, HistoryReportJson(report))) {
    fprintf(stderr, "gandrel history: %s: cannot write the report\n", reportPath.c_str());
  }
  return status == kSalvageHealthy ? kExitOk
         : status == kSalvageDamaged ? kExitDamaged
                                     : kExitNothing;
}

}  // namespace

void PrintHistorySummary(const HistoryReport& r, FILE* out) {
  const SalvageReport& s = r.salvage;
  fprintf(out, "%s: %s\n", s.path.c_str(), SalvageStatusName(s.status));
  if (!s.geometry.usable) {
    fprintf(out, "  nothing read: %s\n", s.error.c_str());
    return;
  }
  if (!r.copiesKept) {
    fprintf(out, "  version 0x%04x keeps no old page copies: %s\n", s.geometry.version,
            ErasedLine(r).c_str());
    return;
  }
  fprintf(out, "  records from old page copies: %zu (%" PRIu64 " deleted, %" PRIu64
               " earlier versions, %" PRIu64 " deleted or never committed)\n",
          r.records.size(), CountVerdict(r, HistoryVerdict::Deleted),
          CountVerdict(r, HistoryVerdict::EarlierVersion),
          CountVerdict(r, HistoryVerdict::DeletedOrNeverCommitted));
  fprintf(out, "  old copies: %" PRIu64 " data pages (%" PRIu64 " with records), %" PRIu64
               " variable pages; free-slot chain: %" PRIu64 " slots\n",
          r.oldDataCopies, r.oldCopiesWithRecords, r.oldVariableCopies, r.freeChain.slots);
  fprintf(out, "  used slots in old copies: %" PRIu64 " (%" PRIu64 " live records, %" PRIu64
               " repeated, %" PRIu64 " not whole)\n",
          r.usedSlots, r.live, r.repeated, static_cast<uint64_t>(r.unfinished.size()));
  if (r.versionsLeftOut > 0) {
    fprintf(out, "  earlier versions of live records left out: %" PRIu64 " (--versions)\n",
            r.versionsLeftOut);
  }
  const size_t shown = std::min<size_t>(r.records.size(), 20);
  for (size_t i = 0; i < shown; ++i) {
    const HistoryRecord& h = r.records[i];
    fprintf(out, "    logical page %u slot %u: %s, %zu bytes (physical page %u, usage %u",
            h.logicalPage, h.slot, HistoryVerdictName(h.verdict), h.bytes.size(),
            h.physicalPage, h.copyUsage);
    if (h.currentKnown) fprintf(out, ", current copy %u)\n", h.currentUsage);
    else fprintf(out, ", no current copy)\n");
  }
  if (shown < r.records.size()) {
    fprintf(out, "    ... and %zu more (see the report)\n", r.records.size() - shown);
  }
  for (const UnfinishedRecord& u : r.unfinished) {
    fprintf(out, "    logical page %u slot %u (physical page %u): not whole, %s\n",
            u.logicalPage, u.slot, u.physicalPage, u.reason.c_str());
  }
}

std::string HistoryReportJson(const HistoryReport& r) {
  const SalvageReport& s = r.salvage;
  JsonWriter writer = {};
  JsonWriter* j = &writer;
  JsonBeginObject(j);
  Key(j, "file", s.path);
  Key(j, "status", std::string(SalvageStatusName(s.status)));
  if (!s.error.empty()) Key(j, "error", s.error);
  char version[8];
  snprintf(version, sizeof version, "0x%04x", s.geometry.version);
  Key(j, "version", std::string(version));
  JsonKey(j, "copiesKept");
  JsonBool(j, r.copiesKept);
  if (s.geometry.usable && !r.copiesKept) Key(j, "message", ErasedLine(r));
  WriteCountsJson(j, r);
  JsonKey(j, "records");
  JsonBeginArray(j);
  for (const HistoryRecord& h : r.records) WriteRecordJson(j, h);
  JsonEndArray(j);
  JsonKey(j, "unfinished");
  JsonBeginArray(j);
  for (const UnfinishedRecord& u : r.unfinished) {
    JsonBeginObject(j);
    Key(j, "logicalPage", u.logicalPage);
    Key(j, "slot", u.slot);
    Key(j, "physicalPage", u.physicalPage);
    Key(j, "reason", u.reason);
    JsonEndObject(j);
  }
  JsonEndArray(j);
  JsonKey(j, "seconds");
  JsonDouble(j, s.seconds);
  JsonEndObject(j);
  writer.text += '\n';
  return writer.text;
}

int RunHistoryCommand(const ParsedCommandLine& parsed) {
  SalvageSettings settings;
  std::string error;
  if (!ReadSalvageSettings(parsed, &settings, &error)) {
    fprintf(stderr, "gandrel history: %s\n", error.c_str());
    return kExitUsage;
  }
  if (settings.format == kConsoleFormatHexCrc) BuildCrcTable();
  const bool versions = FindValue(parsed, "versions") != nullptr;
  std::error_code ec;
  const bool many = settings.files.size() > 1;
  for (const std::string* dir : {&settings.output, &settings.report}) {
    if (!many || dir->empty() || fs::is_directory(*dir, ec)) continue;
    fs::create_directories(*dir, ec);
    if (!fs::is_directory(*dir, ec)) {
      fprintf(stderr, "gandrel history: %s: not a directory (needed for several files)\n",
              dir->c_str());
      return kExitUsage;
    }
  }
  const bool outputIsDir = fs::is_directory(settings.output, ec);
  const bool reportIsDir = !settings.report.empty() && fs::is_directory(settings.report, ec);
  bool anyRead = false;
  bool allHealthy = true;
  const std::vector<std::string> names = OutputNames(settings.files);
  for (size_t i = 0; i < settings.files.size(); ++i) {
    const std::string& file = settings.files[i];
    const std::string& name = names[i];
    const std::string dump =
        outputIsDir ? (fs::path(settings.output) / (name + ".dump")).string() : settings.output;
    const std::string report =
        reportIsDir ? (fs::path(settings.report) / (name + ".json")).string() : settings.report;
    const int code = HistoryOne(file, dump, report, settings, versions);
    if (code == kExitUsage) return kExitUsage;
    allHealthy = allHealthy && code == kExitOk;
    anyRead = anyRead || code == kExitOk || code == kExitDamaged;
  }
  if (allHealthy) return kExitOk;
  return anyRead ? kExitDamaged : kExitNothing;
}
