// gandrel export: the records of data files as tables (SQLite, CSV, JSON
// Lines), typed through the application's DDF dictionary when one is given.
//
//   gandrel export --ddf DIR [--data DIR] -o OUT [--format F] [--codepage N]
//   gandrel export --schema SCHEMA.json [--ddf DIR] [--data DIR] -o OUT ...
//   gandrel export FILE... -o OUT [--format F]
//
// The records come through the salvage walk (salvage/salvage.h), so a
// damaged file gives what can be salvaged, each row with the logical page it
// was found on.  The layout of the tables is export/export.h's.
#ifndef GANDREL_GANDREL_EXPORT_COMMAND_H_
#define GANDREL_GANDREL_EXPORT_COMMAND_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "export/export.h"
#include "export/schema.h"
#include "gandrel/command_line.h"
#include "salvage/salvage.h"

extern const CommandOption kExportOptions[];
extern const int kExportOptionCount;

// The run's settings, checked; `error` names the first bad one.
struct ExportSettings {
  std::vector<std::string> files;  // data files, when there is no dictionary
  std::string output;
  std::string ddf;     // dictionary folder; empty: none
  std::string schema;  // schema file; empty: none
  std::string data;    // folder of the data files; empty: the dictionary's
                       // (or the schema file's)
  std::string report;  // empty: no report
  ExportFormat format = ExportFormat::Csv;
  const Codepage* codepage = nullptr;
  bool quiet = false;
};

bool ReadExportSettings(const ParsedCommandLine& parsed, ExportSettings* settings,
                        std::string* error);

// Problem lines (undecodable fields, SQLite errors) kept per table; beyond
// that only counted.
constexpr size_t kKeptProblemLines = 100;

// What became of one table.
struct TableExport {
  std::string table;       // dictionary name, or the data file's stem
  std::string location;    // as the dictionary gives it; empty without one
  std::string path;        // the data file; empty when it was not found
  std::string outputName;  // CSV/JSONL file stem or SQLite table; empty
                           // when no table was written
  TableCounts counts = {};
  ExportStatus exportStatus = kExportOk;  // first failure of the writer
  SalvageStatus status = kSalvageNothing;
  SalvageReport salvage;
  uint64_t problemCount = 0;
  std::vector<std::string> problems;  // the first kKeptProblemLines
};

// Salvages the data file `path` into `writer` (open) as one table: typed by
// `table`, or raw (number, length, bytes) named `result->table` when
// `table` is null.  The table is begun with the first record, or after the
// walk when the file held none but is a data file, so a file that is no
// data file leaves no table.  `showProgress`: a bar on stderr for big files.
void ExportTableFile(ExportWriter* writer, const TableDef* table, const std::string& path,
                     bool showProgress, TableExport* result);

// Which records of a file a table takes: those RecordTypeOf(*table) puts
// in `type` (-1: those of no record type); every record when `table` is
// null.
struct RecordSelector {
  const SchemaTable* table = nullptr;
  int32_t type = -1;
};

// The same for the records `selector` takes.  A table with record types
// is begun only when a record comes for it.
void ExportTableFile(ExportWriter* writer, const TableDef* table, const RecordSelector& selector,
                     const std::string& path, bool showProgress, TableExport* result);

// One line per table (rows, NULLs, what the salvage walk found), then the
// first problem lines of each.
void PrintExportSummary(const std::vector<TableExport>& tables, FILE* out);

// The run as one JSON object: its settings, the dictionary's problems and,
// per table, its counts, problem lines and the salvage report
// (gandrel/salvage_report.h).
std::string ExportReportJson(const ExportSettings& settings,
                             const std::vector<std::string>& dictionaryProblems,
                             const std::vector<TableExport>& tables);

// --codepage N of a command line: *codepage its table (the default, 437,
// when it is not given).  False with *error one line for a number without
// a table.
bool ReadCodepageOption(const ParsedCommandLine& parsed, const Codepage** codepage,
                        std::string* error);

int RunExportCommand(const ParsedCommandLine& parsed);

#endif  // GANDREL_GANDREL_EXPORT_COMMAND_H_
