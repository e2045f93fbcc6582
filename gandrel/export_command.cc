#include "gandrel/export_command.h"
#include "gandrel/output_files.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/json_writer.h"
#include "gandrel/platform.h"
#include "gandrel/progress.h"
#include "gandrel/salvage_report.h"

const CommandOption kExportOptions[] = {
    {"output", 'o', "OUT", "SQLite file, or folder for the CSV / JSON Lines files"},
#ifdef GANDREL_HAVE_SQLITE
    {"format", 0, "F", "sqlite|csv|jsonl (default sqlite)"},
#else
    {"format", 0, "F", "csv|jsonl (default csv; this build has no SQLite)"},
#endif
    {"ddf", 0, "DIR", "dictionary folder (FILE.DDF, FIELD.DDF, INDEX.DDF)"},
    {"schema", 0, "SCHEMA.json", "schema file (gandrel schema drafts one); with --ddf, corrects it"},
    {"data", 0, "DIR", "folder of the data files, when not beside the dictionary or schema"},
    {"codepage", 0, "N", "code page of the text: 437 (default), 850, 866, 1252"},
    {"report", 0, "REPORT.json", "JSON report: counts, problems, salvage of each table"},
    {"quiet", 'q', nullptr, "no summary on stderr"},
};
const int kExportOptionCount = sizeof kExportOptions / sizeof kExportOptions[0];

namespace {

namespace fs = std::filesystem;

// Problem lines of one table shown on stderr; the report keeps more.
constexpr size_t kShownProblemLines = 3;

#ifndef GANDREL_HAVE_SQLITE
bool EndsWith(const std::string& text, const char* suffix) {
  const size_t n = strlen(suffix);
  return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}
#endif

// The writer's problem lines, kept in the table's result.
void KeepProblem(void* context, const std::string& line) {
  TableExport* result = static_cast<TableExport*>(context);
  ++result->problemCount;
  if (result->problems.size() < kKeptProblemLines) result->problems.push_back(line);
}

// Between the salvage walk and the writer.
struct RowSink {
  ExportWriter* writer;
  const TableDef* table;
  TableExport* result;
  bool begun;
  ProgressBar bar;
  RecordSelector selector;
};

bool BeginOnce(RowSink* s) {
  if (s->begun) return s->writer->inTable;
  s->begun = true;
  const ExportStatus status = s->table != nullptr ? BeginTable(s->writer, *s->table)
                                                  : BeginRawTable(s->writer, s->result->table);
  if (status != kExportOk) {
    s->result->exportStatus = status;
    return false;
  }
  s->result->outputName = s->writer->outputName;
  return true;
}

void WriteRecordWithPage(void* context, const uint8_t* bytes, uint32_t length,
                         uint32_t logicalPage) {
  RowSink* s = static_cast<RowSink*>(context);
  // After the first failed row the table keeps what it has; the walk goes
  // on only to finish its report.
  if (s->selector.table != nullptr &&
      RecordTypeOf(*s->selector.table, bytes, length) != s->selector.type) {
    return;  // another record type's
  }
  if (s->result->exportStatus != kExportOk || !BeginOnce(s)) return;
  const ExportStatus status = WriteRow(s->writer, bytes, length, logicalPage);
  if (status != kExportOk) s->result->exportStatus = status;
}

void Progress(void* context, int64_t done) {
  StepProgress(&static_cast<RowSink*>(context)->bar, done);
}

// Columns of the summary are padded by characters, not bytes: the names
// are UTF-8 and often Cyrillic.
size_t DisplayWidth(const std::string& text) {
  size_t width = 0;
  for (char c : text) width += (static_cast<uint8_t>(c) & 0xC0) != 0x80 ? 1 : 0;
  return width;
}

std::string Padded(const std::string& text, size_t width) {
  const size_t shown = DisplayWidth(text);
  return shown >= width ? text : text + std::string(width - shown, ' ');
}

std::string FileShown(const TableExport& t) {
  return t.path.empty() ? t.location : fs::path(t.path).filename().string();
}

// What the salvage walk found, in a few words.
std::string SalvageText(const TableExport& t) {
  if (t.path.empty()) return "no data file";
  const SalvageReport& r = t.salvage;
  if (!r.opened || !r.geometry.usable) return "nothing salvaged: " + r.error;
  std::string text = SalvageStatusName(r.status);
  std::vector<std::string> parts;
  const uint64_t skipped = r.skippedPages.size() + r.skippedNotListed;
  const uint64_t broken = r.brokenChains.size() + r.brokenNotListed;
  if (skipped > 0) {
    parts.push_back(std::to_string(skipped) + (skipped == 1 ? " page" : " pages") + " skipped");
  }
  if (broken > 0) {
    parts.push_back(std::to_string(broken) + (broken == 1 ? " record" : " records") +
                    " with a broken chain");
  }
  if (r.recordsTooLong > 0) parts.push_back(std::to_string(r.recordsTooLong) + " too long");
  if (r.geometry.recordCountKnown && r.geometry.recordCount != r.recordsSalvaged) {
    parts.push_back("the header says " + std::to_string(r.geometry.recordCount));
  }
  for (size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? ": " : ", ") + parts[i];
  if (t.exportStatus != kExportOk) {
    text += std::string("; output: ") + ExportStatusName(t.exportStatus);
  }
  return text;
}

// `object`, a JSON object's text, with `member` ("\"key\":value") added at
// its end.
std::string WithMember(std::string object, const std::string& member) {
  while (!object.empty() && object.back() != '}') object.pop_back();
  object.pop_back();
  if (object.size() > 1) object += ',';
  return object + member + "}";
}

}  // namespace

bool ReadExportSettings(const ParsedCommandLine& parsed, ExportSettings* s,
                        std::string* error) {
  *s = ExportSettings{};
  s->files = parsed.positional;
  if (const std::string* ddf = FindValue(parsed, "ddf")) s->ddf = *ddf;
  if (const std::string* data = FindValue(parsed, "data")) s->data = *data;
  if (const std::string* report = FindValue(parsed, "report")) s->report = *report;
  s->quiet = FindValue(parsed, "quiet") != nullptr;
  if (const std::string* schema = FindValue(parsed, "schema")) s->schema = *schema;
  if (s->ddf.empty() && s->files.empty() && s->schema.empty()) {
    *error = "no data file given, and no dictionary (--ddf DIR)";
    return false;
  }
  if (!s->ddf.empty() && !s->files.empty()) {
    *error = "with --ddf the tables come from the dictionary: no FILE arguments";
    return false;
  }
  if (!s->schema.empty() && !s->files.empty()) {
    *error = "with --schema the tables come from the schema: no FILE arguments";
    return false;
  }
  if (s->ddf.empty() && s->schema.empty() && !s->data.empty()) {
    *error = "--data needs a dictionary (--ddf DIR)";
    return false;
  }
  const std::string* output = FindValue(parsed, "output");
  if (output == nullptr || output->empty()) {
    *error = "no output given (-o OUT)";
    return false;
  }
  s->output = *output;

#ifdef GANDREL_HAVE_SQLITE
  s->format = ExportFormat::Sqlite;
#else
  s->format = ExportFormat::Csv;
#endif
  const std::string* format = FindValue(parsed, "format");
  if (format != nullptr && !FindExportFormat(*format, &s->format)) {
    if (*format != "sqlite") {
      *error = "unknown --format '" + *format + "' (sqlite, csv, jsonl)";
      return false;
    }
    s->format = ExportFormat::Sqlite;  // a build without SQLite: refused below, saying why
  }
#ifndef GANDREL_HAVE_SQLITE
  // Without SQLite a default CSV export into a folder named OUT.sqlite
  // would surprise; say why instead.
  if (s->format == ExportFormat::Sqlite ||
      (format == nullptr && (EndsWith(s->output, ".sqlite") || EndsWith(s->output, ".db")))) {
    *error = "this build writes CSV and JSON Lines only, no SQLite (--format csv|jsonl)";
    return false;
  }
#endif

  return ReadCodepageOption(parsed, &s->codepage, error);
}

bool ReadCodepageOption(const ParsedCommandLine& parsed, const Codepage** codepage,
                        std::string* error) {
  FindCodepage(kDefaultCodepage, codepage);
  const std::string* v = FindValue(parsed, "codepage");
  if (v == nullptr) return true;
  char* end = nullptr;
  errno = 0;
  const unsigned long n = strtoul(v->c_str(), &end, 10);
  const bool isNumber = !v->empty() && (*v)[0] >= '0' && (*v)[0] <= '9' && *end == 0 &&
                        errno == 0 && n <= 0xFFFF;
  if (!isNumber || n == 0 || FindCodepage(static_cast<uint16_t>(n), codepage) != kCodepageOk) {
    *error = "--codepage '" + *v + "' has no table (437, 850, 866, 1252)";
    return false;
  }
  return true;
}

void ExportTableFile(ExportWriter* writer, const TableDef* table, const std::string& path,
                     bool showProgress, TableExport* result) {
  ExportTableFile(writer, table, RecordSelector{}, path, showProgress, result);
}

void ExportTableFile(ExportWriter* writer, const TableDef* table, const RecordSelector& selector,
                     const std::string& path, bool showProgress, TableExport* result) {
  result->path = path;
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    result->salvage.path = path;
    result->salvage.error = "is a directory";
    return;
  }
  RowSink rows{writer, table, result, false, ProgressBar{}, selector};
  const int64_t size = static_cast<int64_t>(fs::file_size(path, ec));
  StartProgress(&rows.bar, stderr, showProgress, ec ? 0 : size, path.c_str());
  writer->report = KeepProblem;
  writer->reportContext = result;

  RecordSinkFunction sink;
  sink.writeWithPage = WriteRecordWithPage;
  sink.context = &rows;
  sink.progress = Progress;
  sink.progressContext = &rows;
  result->status = SalvageFile(path.c_str(), GeometryOverrides{}, sink, &result->salvage);
  EndProgress(&rows.bar);

  // A data file without records is still a table, with its columns; not
  // so a record type that no record has.
  const bool typed = selector.table != nullptr && !selector.table->recordTypes.empty();
  if (!rows.begun && !typed && result->salvage.opened && result->salvage.geometry.usable) {
    BeginOnce(&rows);
  }
  if (writer->inTable) {
    const ExportStatus ended = EndTable(writer, &result->counts);
    if (result->exportStatus == kExportOk) result->exportStatus = ended;
  }
  writer->report = nullptr;
  writer->reportContext = nullptr;
}

void PrintExportSummary(const std::vector<TableExport>& tables, FILE* out) {
  size_t nameWidth = 5;
  size_t fileWidth = 4;
  for (const TableExport& t : tables) {
    nameWidth = std::max(nameWidth, std::min<size_t>(DisplayWidth(t.table), 32));
    fileWidth = std::max(fileWidth, std::min<size_t>(DisplayWidth(FileShown(t)), 24));
  }
  fprintf(out, "  %s  %s  %10s  %7s  salvage\n", Padded("table", nameWidth).c_str(),
          Padded("file", fileWidth).c_str(), "rows", "NULLs");
  for (const TableExport& t : tables) {
    const bool written = !t.outputName.empty();
    fprintf(out, "  %s  %s  %10s  %7s  %s\n", Padded(t.table, nameWidth).c_str(),
            Padded(FileShown(t), fileWidth).c_str(),
            written ? std::to_string(t.counts.rows).c_str() : "-",
            written ? std::to_string(t.counts.nullFields).c_str() : "-",
            SalvageText(t).c_str());
    const size_t shown = std::min(t.problems.size(), kShownProblemLines);
    for (size_t i = 0; i < shown; ++i) fprintf(out, "      %s\n", t.problems[i].c_str());
    if (t.problemCount > shown) {
      fprintf(out, "      ... and %" PRIu64 " more (see the report)\n", t.problemCount - shown);
    }
  }
}

std::string ExportReportJson(const ExportSettings& settings,
                             const std::vector<std::string>& dictionaryProblems,
                             const std::vector<TableExport>& tables) {
  JsonWriter head = {};
  JsonBeginObject(&head);
  JsonKey(&head, "output");
  JsonString(&head, settings.output);
  JsonKey(&head, "format");
  JsonString(&head, ExportFormatName(settings.format));
  JsonKey(&head, "codepage");
  JsonInt(&head, settings.codepage != nullptr ? settings.codepage->number : 0);
  JsonKey(&head, "dictionary");
  settings.ddf.empty() ? JsonNull(&head) : JsonString(&head, settings.ddf);
  JsonKey(&head, "schema");
  settings.schema.empty() ? JsonNull(&head) : JsonString(&head, settings.schema);
  JsonKey(&head, "data");
  settings.data.empty() ? JsonNull(&head) : JsonString(&head, settings.data);
  JsonKey(&head, "dictionaryProblems");
  JsonBeginArray(&head);
  for (const std::string& line : dictionaryProblems) JsonString(&head, line);
  JsonEndArray(&head);
  JsonEndObject(&head);

  // The salvage reports are whole JSON texts of their own: each goes in as
  // the last member of its table's object.
  std::string list = "\"tables\":[";
  for (size_t i = 0; i < tables.size(); ++i) {
    const TableExport& t = tables[i];
    JsonWriter j = {};
    JsonBeginObject(&j);
    JsonKey(&j, "table");
    JsonString(&j, t.table);
    JsonKey(&j, "location");
    JsonString(&j, t.location);
    JsonKey(&j, "file");
    t.path.empty() ? JsonNull(&j) : JsonString(&j, t.path);
    JsonKey(&j, "output");
    t.outputName.empty() ? JsonNull(&j) : JsonString(&j, t.outputName);
    JsonKey(&j, "rows");
    JsonInt(&j, t.counts.rows);
    JsonKey(&j, "nullFields");
    JsonInt(&j, t.counts.nullFields);
    JsonKey(&j, "outputStatus");
    JsonString(&j, ExportStatusName(t.exportStatus));
    JsonKey(&j, "problems");
    JsonBeginArray(&j);
    for (const std::string& line : t.problems) JsonString(&j, line);
    JsonEndArray(&j);
    JsonKey(&j, "problemsNotListed");
    JsonUint(&j, t.problemCount - t.problems.size());
    JsonEndObject(&j);
    std::string salvage = t.path.empty() ? "null" : SalvageReportJson(t.salvage);
    while (!salvage.empty() && salvage.back() == '\n') salvage.pop_back();
    list += (i == 0 ? "" : ",") + WithMember(j.text, "\"salvage\":" + salvage);
  }
  return WithMember(head.text, list + "]") + "\n";
}

namespace {

// --- The tables of a run ------------------------------------------------------

// One table to write: its definition (when typed), which records it takes
// and the code page of its text.
struct PlannedTable {
  bool typed = false;
  TableDef def;
  RecordSelector selector;
  const Codepage* codepage = nullptr;
};

struct ExportPlan {
  Dictionary dictionary;
  Schema schema;                       // the schema file's, merged with the
                                       // dictionary when both are given
  std::vector<PlannedTable> planned;   // one per entry of `tables`
  std::vector<TableExport> tables;
};

// The dictionary of --ddf, its tables found in --data when given.
int LoadPlanDictionary(const ExportSettings& settings, Dictionary* dictionary) {
  std::error_code ec;
  const DictionaryStatus status = LoadDictionary(settings.ddf, *settings.codepage, dictionary);
  if (status != kDictionaryOk) {
    fprintf(stderr, "gandrel export: --ddf %s: %s\n", settings.ddf.c_str(),
            DictionaryStatusName(status));
    for (const std::string& line : dictionary->problems) fprintf(stderr, "  %s\n", line.c_str());
    return kExitNothing;
  }
  if (!settings.data.empty()) {
    if (!fs::is_directory(settings.data, ec)) {
      fprintf(stderr, "gandrel export: --data %s: not a folder\n", settings.data.c_str());
      return kExitUsage;
    }
    // A table not found in the data folder is still looked for beside the
    // dictionary: the dictionary's own tables (FILE.DDF ...) live there.
    std::vector<std::string> beside;
    for (const TableDef& t : dictionary->tables) beside.push_back(t.path);
    ResolveTablePaths(settings.data, dictionary);
    for (size_t i = 0; i < beside.size(); ++i) {
      if (dictionary->tables[i].path.empty()) dictionary->tables[i].path = beside[i];
    }
  }
  return kExitOk;
}

// The data file a schema table names: relative to --data, else to the
// schema file's folder; an absolute name as it is.
std::string SchemaTablePath(const ExportSettings& settings, const SchemaTable& table) {
  std::error_code ec;
  const fs::path file(table.file);
  if (file.is_absolute()) return fs::exists(file, ec) ? table.file : std::string();
  const std::string folder = !settings.data.empty()
                                 ? settings.data
                                 : fs::absolute(fs::path(settings.schema), ec).parent_path().string();
  return ResolveLocation(folder, table.file);
}

// The schema's tables; with a dictionary, each corrects the dictionary's
// table of its name (or else the first of its file), and the others join.
void MergeSchemaTables(const ExportSettings& settings, const Schema& loaded, ExportPlan* plan,
                       std::vector<std::string>* paths) {
  for (const TableDef& t : plan->dictionary.tables) {
    plan->schema.tables.push_back(SchemaFromDictionary(t));
    paths->push_back(t.path);
  }
  const size_t fromDictionary = plan->schema.tables.size();
  for (const SchemaTable& s : loaded.tables) {
    const std::string path = SchemaTablePath(settings, s);
    size_t match = fromDictionary;
    for (size_t i = 0; i < fromDictionary && match == fromDictionary; ++i) {
      if (LowerAscii(plan->schema.tables[i].name) == LowerAscii(s.name)) match = i;
    }
    std::error_code ec;
    for (size_t i = 0; i < fromDictionary && match == fromDictionary; ++i) {
      if (!path.empty() && !(*paths)[i].empty() && fs::equivalent(path, (*paths)[i], ec)) match = i;
    }
    if (match == fromDictionary) {
      plan->schema.tables.push_back(s);
      paths->push_back(path);
    } else {
      MergeSchemaInto(s, &plan->schema.tables[match]);
      if ((*paths)[match].empty()) (*paths)[match] = path;
    }
  }
}

// Every table of a schema table: the table itself, then its record types.
void PlanSchemaTable(const SchemaTable& s, const std::string& path,
                     const Codepage* defaultCodepage, ExportPlan* plan) {
  const Codepage* codepage = defaultCodepage;
  if (s.codepage != 0) FindCodepage(s.codepage, &codepage);
  for (int32_t type = -1; type < static_cast<int32_t>(s.recordTypes.size()); ++type) {
    PlannedTable p;
    p.typed = true;
    p.def = SchemaTableDef(s, type);
    p.selector = {&s, type};
    p.codepage = codepage;
    TableExport r;
    r.table = p.def.name;
    r.location = s.file;
    r.path = path;
    plan->planned.push_back(std::move(p));
    plan->tables.push_back(std::move(r));
  }
}

int PlanTables(const ExportSettings& settings, ExportPlan* plan) {
  if (!settings.ddf.empty()) {
    const int loaded = LoadPlanDictionary(settings, &plan->dictionary);
    if (loaded != kExitOk) return loaded;
  }
  if (settings.schema.empty() && !settings.ddf.empty()) {
    for (const TableDef& t : plan->dictionary.tables) {
      plan->planned.push_back({true, t, RecordSelector{}, settings.codepage});
      TableExport r;
      r.table = t.name;
      r.location = t.location;
      r.path = t.path;
      plan->tables.push_back(std::move(r));
    }
    return kExitOk;
  }
  if (settings.schema.empty()) {
    for (const std::string& file : settings.files) {
      plan->planned.push_back({false, TableDef{}, RecordSelector{}, settings.codepage});
      TableExport r;
      r.table = fs::path(file).stem().string();
      r.path = file;
      plan->tables.push_back(std::move(r));
    }
    return kExitOk;
  }
  Schema loaded;
  std::string error;
  if (!LoadSchema(settings.schema, &loaded, &error)) {
    fprintf(stderr, "gandrel export: --schema %s\n", error.c_str());
    return kExitUsage;
  }
  std::vector<std::string> paths;
  MergeSchemaTables(settings, loaded, plan, &paths);
  // The selectors point into plan->schema: it is complete before they are
  // taken and not changed after.
  for (size_t i = 0; i < plan->schema.tables.size(); ++i) {
    PlanSchemaTable(plan->schema.tables[i], paths[i], settings.codepage, plan);
  }
  return kExitOk;
}

}  // namespace

namespace {

// The summary, the report and the exit code of a run whose tables are
// written and whose writer is closed (`closed`).
int FinishRun(const ExportSettings& settings, const ExportPlan& plan, ExportStatus closed) {
  const std::vector<TableExport>& tables = plan.tables;
  const Dictionary& dictionary = plan.dictionary;
  std::error_code ec;
  bool anyWritten = false;
  bool allHealthy = true;
  bool outputFailed = closed != kExportOk;
  int64_t rows = 0;
  for (const TableExport& t : tables) {
    anyWritten = anyWritten || !t.outputName.empty();
    if (!t.path.empty()) allHealthy = allHealthy && t.status == kSalvageHealthy;
    outputFailed = outputFailed || t.exportStatus != kExportOk;
    rows += t.counts.rows;
  }
  if (!settings.quiet) {
    const std::string& source = settings.ddf.empty() ? settings.schema : settings.ddf;
    fprintf(stderr, "gandrel export: %zu table%s%s%s to %s (%s, code page %u)\n", tables.size(),
            tables.size() == 1 ? "" : "s",
            source.empty() ? "" : " of ", source.c_str(), settings.output.c_str(),
            ExportFormatName(settings.format), settings.codepage->number);
    PrintExportSummary(tables, stderr);
    if (!dictionary.problems.empty()) {
      fprintf(stderr, "  dictionary: %zu rows skipped or unmatched, e.g. %s\n",
              dictionary.problems.size(), dictionary.problems[0].c_str());
    }
    fprintf(stderr, "  %" PRId64 " rows written\n", rows);
  }
  if (closed != kExportOk) {
    fprintf(stderr, "gandrel export: %s: %s\n", settings.output.c_str(), ExportStatusName(closed));
  }
  if (!settings.report.empty() &&
      !WriteTextFile(settings.report, ExportReportJson(settings, dictionary.problems, tables))) {
    fprintf(stderr, "gandrel export: %s: cannot write the report\n", settings.report.c_str());
  }
  // Nothing came out: no database rather than an empty one.
  if (!anyWritten && settings.format == ExportFormat::Sqlite) fs::remove(settings.output, ec);
  if (outputFailed || !anyWritten) return kExitNothing;
  return allHealthy ? kExitOk : kExitDamaged;
}

}  // namespace

int RunExportCommand(const ParsedCommandLine& parsed) {
  ExportSettings settings;
  std::string error;
  if (!ReadExportSettings(parsed, &settings, &error)) {
    fprintf(stderr, "gandrel export: %s\n", error.c_str());
    return kExitUsage;
  }
  std::error_code ec;
  ExportPlan plan;
  const int planned = PlanTables(settings, &plan);
  if (planned != kExitOk) return planned;
  std::vector<TableExport>& tables = plan.tables;

  // The data files are never written: not even when -o or --report names
  // one of them.
  for (const TableExport& t : tables) {
    for (const std::string* out : {&settings.output, &settings.report}) {
      if (!t.path.empty() && !out->empty() && fs::exists(*out, ec) &&
          fs::equivalent(t.path, *out, ec)) {
        fprintf(stderr, "gandrel export: %s: is a data file, not written\n", out->c_str());
        return kExitUsage;
      }
    }
  }
  if (settings.format == ExportFormat::Sqlite) {
    // A new database each run: tables of an earlier export would clash.
    if (fs::is_directory(settings.output, ec)) {
      fprintf(stderr, "gandrel export: -o %s: is a folder, not an SQLite file\n",
              settings.output.c_str());
      return kExitUsage;
    }
    fs::remove(settings.output, ec);
  }
  ExportWriter writer = {};
  const ExportStatus opened =
      OpenExport(settings.format, settings.output, *settings.codepage, &writer);
  if (opened != kExportOk) {
    fprintf(stderr, "gandrel export: -o %s: %s\n", settings.output.c_str(),
            ExportStatusName(opened));
    return kExitUsage;
  }
  const bool showProgress = !settings.quiet && StderrIsTerminal();
  for (size_t i = 0; i < tables.size(); ++i) {
    if (tables[i].path.empty()) continue;
    const PlannedTable& p = plan.planned[i];
    writer.codepage = p.codepage;
    ExportTableFile(&writer, p.typed ? &p.def : nullptr, p.selector, tables[i].path, showProgress,
                    &tables[i]);
  }
  const ExportStatus closed = CloseExport(&writer);

  return FinishRun(settings, plan, closed);
}
