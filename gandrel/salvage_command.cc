#include "gandrel/salvage_command.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "dump/crc32.h"
#include "dump/dump_writer.h"
#include "gandrel/output_files.h"
#include "gandrel/platform.h"
#include "gandrel/progress.h"
#include "gandrel/salvage_report.h"
#include "reader/page_geometry.h"
#include "reader/version_rules.h"
#include "salvage/salvage.h"

const CommandOption kSalvageOptions[] = {
    {"output", 'o', "DUMP", "dump file (a directory for several files)"},
    {"format", 0, "F", "1|2|3|4|butil|butil-nolen|hex-crc|hex (default 1)"},
    {"report", 0, "REPORT.json", "JSON report (a directory for several files)"},
    {"page-size", 0, "N", "page size, over what the file says"},
    {"record-length", 0, "N", "fixed record length, over what the file says"},
    {"version", 0, "0xNNNN", "format version, over what the file says"},
    {"keep-doubtful", 0, "DUMP2", "records the gate held back, to a second dump"},
    {"lost-sectors", 0, nullptr, "the disk lost sectors: hold back records over any zeroed one"},
    {"quiet", 'q', nullptr, "no summary on stderr"},
};
const int kSalvageOptionCount = sizeof kSalvageOptions / sizeof kSalvageOptions[0];

namespace {

namespace fs = std::filesystem;

struct FormatName {
  const char* name;
  char format;
};
constexpr FormatName kFormats[] = {
    {"1", kConsoleFormatButil},        {"butil", kConsoleFormatButil},
    {"2", kConsoleFormatButilNoLen},   {"butil-nolen", kConsoleFormatButilNoLen},
    {"3", kConsoleFormatHexCrc},       {"hex-crc", kConsoleFormatHexCrc},
    {"4", kConsoleFormatHex},          {"hex", kConsoleFormatHex},
};

// Whole string as an unsigned number (decimal, or hex after 0x) up to `max`.
bool ParseNumber(const std::string& text, unsigned long max, unsigned long* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long n = strtoul(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != 0 || n > max) return false;
  *value = n;
  return true;
}

// Dump writer behind the salvage sink.
struct DumpSink {
  DumpOutput output;
};

void WriteRecord(void* context, const uint8_t* bytes, uint32_t length) {
  WriteDumpRecord(&static_cast<DumpSink*>(context)->output, length, bytes);
}

void WriteRecords(void* context, const uint8_t* first, uint32_t stride, uint32_t length,
                  uint32_t count) {
  WriteDumpRecords(&static_cast<DumpSink*>(context)->output, length, first, stride, count);
}

// The dumps of one run, for a salvage that takes back the records it gave.
struct RunDumps {
  DumpSink* dump;
  DumpSink* doubtful;  // null: none
  const std::string* dumpPath;
  const std::string* doubtfulPath;
};

// The dump's entries are gathered in whole blocks before they are written:
// a buffer in the stream would copy each block once more and split its
// writes in two.
FILE* WithoutBuffer(FILE* file) {
  if (file != nullptr) setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

// Empties a dump by opening it afresh; false (and no stream) when that fails.
// The blocks already handed to the writer's thread are written first (to
// the old contents), the thread is stopped while the stream is opened
// again, and started again on it.
bool EmptyDump(DumpSink* sink, const std::string& path) {
  sink->output.pending = 0;
  const bool threaded = sink->output.writer != nullptr;
  StopDumpWriterThread(&sink->output);
  sink->output.outputFile = WithoutBuffer(freopen(path.c_str(), "wb", sink->output.outputFile));
  if (sink->output.outputFile == nullptr) return false;
  if (threaded) StartDumpWriterThread(&sink->output);
  return true;
}

bool RestartDumps(void* context) {
  RunDumps* dumps = static_cast<RunDumps*>(context);
  const bool dump = EmptyDump(dumps->dump, *dumps->dumpPath);
  const bool doubtful = dumps->doubtful == nullptr || EmptyDump(dumps->doubtful, *dumps->doubtfulPath);
  return dump && doubtful;
}

// Only a dump that is a file can be emptied: what went to a pipe or a
// device is gone.
bool CanEmpty(const std::string& path) {
  std::error_code ec;
  return path.empty() || fs::is_regular_file(path, ec);
}

// Writes out and closes a dump; false when anything written was lost.
bool CloseDump(DumpSink* sink) {
  FILE* file = sink->output.outputFile;
  if (file == nullptr) return false;  // emptying it failed
  StopDumpWriterThread(&sink->output);
  WriteDumpTrailer(&sink->output);
  const bool written = ferror(file) == 0;
  return fclose(file) == 0 && written;
}

void Progress(void* context, int64_t done) {
  StepProgress(static_cast<ProgressBar*>(context), done);
}

// Where the run of one file writes.
struct OutputPaths {
  std::string dump;
  std::string report;    // empty: none
  std::string doubtful;  // empty: none
};

// Salvages one file; returns its exit code.
int SalvageOne(const std::string& file, const OutputPaths& paths,
               const SalvageSettings& settings) {
  const std::string& dumpPath = paths.dump;
  const std::string& reportPath = paths.report;
  std::error_code ec;
  if (fs::is_directory(file, ec)) {
    fprintf(stderr, "gandrel salvage: %s: is a directory\n", file.c_str());
    return kExitNothing;
  }
  // The data file is never written: not even when -o or --report names it.
  for (const std::string* out : {&dumpPath, &reportPath, &paths.doubtful}) {
    if (NamesTheDataFile("salvage", file, *out)) return kExitUsage;
  }
  FILE* dump = WithoutBuffer(fopen(dumpPath.c_str(), "wb"));
  if (dump == nullptr) {
    fprintf(stderr, "gandrel salvage: %s: cannot create the dump: %s\n", dumpPath.c_str(),
            strerror(errno));
    return kExitUsage;
  }
  FILE* doubtful =
      paths.doubtful.empty() ? nullptr : WithoutBuffer(fopen(paths.doubtful.c_str(), "wb"));
  if (!paths.doubtful.empty() && doubtful == nullptr) {
    fprintf(stderr, "gandrel salvage: %s: cannot create the dump: %s\n",
            paths.doubtful.c_str(), strerror(errno));
    fclose(dump);
    return kExitUsage;
  }
  static char doubtfulBuffer[kDumpBlockSize];
  DumpSink doubtfulSink{DumpOutput{doubtful, doubtfulBuffer, settings.format, kDumpBlockSize}};
  // Whole entries go to the dump a block at a time (WriteDumpTrailer
  // writes out the last block).
  static char textBuffer[kDumpBlockSize];
  DumpSink dumpSink{DumpOutput{dump, textBuffer, settings.format, kDumpBlockSize}};
  // The blocks are written by a thread of their own while the walk goes
  // on (without one, by this thread).
  StartDumpWriterThread(&dumpSink.output);
  const int64_t size = static_cast<int64_t>(fs::file_size(file, ec));
  ProgressBar bar;
  StartProgress(&bar, stderr, StderrIsTerminal(), ec ? 0 : size, file.c_str());

  RecordSinkFunction sink;
  sink.write = WriteRecord;
  sink.writeRun = WriteRecords;
  sink.context = &dumpSink;
  sink.progress = Progress;
  sink.progressContext = &bar;
  if (doubtful != nullptr) {
    sink.writeDoubtful = WriteRecord;
    sink.doubtfulContext = &doubtfulSink;
  }
  RunDumps dumps{&dumpSink, doubtful != nullptr ? &doubtfulSink : nullptr, &dumpPath,
                 &paths.doubtful};
  if (CanEmpty(dumpPath) && CanEmpty(paths.doubtful)) {
    sink.restart = RestartDumps;
    sink.restartContext = &dumps;
  }
  SalvageReport report;
  const SalvageStatus status = SalvageFile(file.c_str(), settings.overrides, sink, &report);
  EndProgress(&bar);
  bool writeFailed = !CloseDump(&dumpSink);
  if (doubtful != nullptr) writeFailed = !CloseDump(&doubtfulSink) || writeFailed;

  if (!report.opened) {
    fprintf(stderr, "gandrel salvage: %s: %s\n", file.c_str(), report.error.c_str());
    remove(dumpPath.c_str());
    return kExitNothing;
  }
  if (!settings.quiet) PrintSalvageSummary(report, stderr);
  if (writeFailed) {
    fprintf(stderr, "gandrel salvage: %s: error writing the dump\n", dumpPath.c_str());
  }
  if (!reportPath.empty() && !WriteTextFile(reportPath, SalvageReportJson(report))) {
    fprintf(stderr, "gandrel salvage: %s: cannot write the report\n", reportPath.c_str());
  }
  if (status == kSalvageNothing && report.recordsSalvaged == 0) {
    // Nothing came out: no dump rather than an empty one.
    remove(dumpPath.c_str());
  }
  if (writeFailed) return kExitNothing;
  return status == kSalvageHealthy ? kExitOk
         : status == kSalvageDamaged ? kExitDamaged
                                     : kExitNothing;
}

}  // namespace

bool ReadSalvageSettings(const ParsedCommandLine& parsed, SalvageSettings* s,
                         std::string* error) {
  *s = SalvageSettings{};
  s->files = parsed.positional;
  if (s->files.empty()) {
    *error = "no data file given";
    return false;
  }
  const std::string* output = FindValue(parsed, "output");
  if (output == nullptr || output->empty()) {
    *error = "no output given (-o DUMP)";
    return false;
  }
  s->output = *output;
  if (const std::string* report = FindValue(parsed, "report")) s->report = *report;
  if (const std::string* format = FindValue(parsed, "format")) {
    bool known = false;
    for (const FormatName& f : kFormats) {
      if (*format == f.name) {
        s->format = f.format;
        known = true;
      }
    }
    if (!known) {
      *error = "unknown --format '" + *format + "' (1, 2, 3, 4, butil, butil-nolen, hex-crc, hex)";
      return false;
    }
  }
  unsigned long n = 0;
  if (const std::string* v = FindValue(parsed, "page-size")) {
    if (!ParseNumber(*v, 65535, &n) || !PageSizeAllowedByAnyRow(static_cast<uint32_t>(n))) {
      *error = "--page-size '" + *v + "' is not a page size (a multiple of 512)";
      return false;
    }
    s->overrides.pageSize = static_cast<uint32_t>(n);
  }
  if (const std::string* v = FindValue(parsed, "record-length")) {
    if (!ParseNumber(*v, 65535, &n) || n == 0) {
      *error = "--record-length '" + *v + "' is not a length from 1 to 65535";
      return false;
    }
    s->overrides.recordLength = static_cast<int32_t>(n);
  }
  if (const std::string* v = FindValue(parsed, "version")) {
    // Negative forms (0xF800 for 0x0800) name the same version.
    uint16_t version = 0;
    if (ParseNumber(*v, 0xFFFF, &n)) {
      const int16_t word = static_cast<int16_t>(n);
      version = static_cast<uint16_t>(word < 0 ? -static_cast<int32_t>(word) : word);
    }
    if (version == 0 || FindVersionRules(version) == nullptr) {
      *error = "--version '" + *v + "' is not a supported version (0x0300 .. 0x0900)";
      return false;
    }
    s->overrides.version = version;
  }
  if (const std::string* keep = FindValue(parsed, "keep-doubtful")) {
    if (keep->empty()) {
      *error = "--keep-doubtful needs a dump file";
      return false;
    }
    s->keepDoubtful = *keep;
  }
  s->quiet = FindValue(parsed, "quiet") != nullptr;
  s->overrides.lostSectors = FindValue(parsed, "lost-sectors") != nullptr;
  return true;
}


int RunSalvageCommand(const ParsedCommandLine& parsed) {
  SalvageSettings settings;
  std::string error;
  if (!ReadSalvageSettings(parsed, &settings, &error)) {
    fprintf(stderr, "gandrel salvage: %s\n", error.c_str());
    return kExitUsage;
  }
  if (settings.format == kConsoleFormatHexCrc) BuildCrcTable();
  std::error_code ec;
  const bool many = settings.files.size() > 1;
  const bool outputIsDir = fs::is_directory(settings.output, ec);
  if (many && !outputIsDir) {
    fs::create_directories(settings.output, ec);
    if (!fs::is_directory(settings.output, ec)) {
      fprintf(stderr, "gandrel salvage: -o %s: not a directory (needed for several files)\n",
              settings.output.c_str());
      return kExitUsage;
    }
  }
  const bool reportIsDir =
      !settings.report.empty() && (fs::is_directory(settings.report, ec) || many);
  if (reportIsDir && !fs::is_directory(settings.report, ec)) {
    fs::create_directories(settings.report, ec);
    if (!fs::is_directory(settings.report, ec)) {
      fprintf(stderr, "gandrel salvage: --report %s: not a directory (needed for several files)\n",
              settings.report.c_str());
      return kExitUsage;
    }
  }

  bool anySalvaged = false;
  bool allHealthy = true;
  const std::vector<std::string> names = OutputNames(settings.files);
  for (size_t i = 0; i < settings.files.size(); ++i) {
    const std::string& file = settings.files[i];
    const std::string& name = names[i];
    const std::string dump = (many || outputIsDir)
                                 ? (fs::path(settings.output) / (name + ".dump")).string()
                                 : settings.output;
    OutputPaths paths{dump, settings.report, settings.keepDoubtful};
    if (reportIsDir) paths.report = (fs::path(settings.report) / (name + ".json")).string();
    if (many && !paths.doubtful.empty()) {
      // Several files: the doubtful records of each beside its dump.
      paths.doubtful = dump + ".doubtful";
    }
    const int code = SalvageOne(file, paths, settings);
    if (code == kExitUsage) return kExitUsage;  // the output cannot be written at all
    allHealthy = allHealthy && code == kExitOk;
    anySalvaged = anySalvaged || code == kExitOk || code == kExitDamaged;
  }
  if (allHealthy) return kExitOk;
  return anySalvaged ? kExitDamaged : kExitNothing;
}
