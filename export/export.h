// Moves the records of data files into typed tables: CSV files, JSON Lines
// files or one SQLite database.  The command drives it:
//
//   ExportWriter w = {};
//   OpenExport(ExportFormat::Csv, "out", codepage, &w);     // a folder for
//                                                           // CSV and JSONL,
//                                                           // a file for SQLite
//   BeginTable(&w, table);              // or BeginRawTable(&w, "F10") with
//                                       // no dictionary
//   for each record:  WriteRow(&w, record, length, page);
//   EndTable(&w, &counts);
//   CloseExport(&w);
//
// Output names: CSV and JSONL files are named by SafeFileStem(table name),
// SQLite tables by the table name ("_" in front of a name that begins
// "sqlite_"); a name used before in this export gets "_2", "_3", ...
//
// Columns: the table's fields in offset order, named as the fields (a name
// met before gets "_2", "_3", ...; an empty name becomes "field_<id>"),
// then `_page`, the logical page the record came from.  SQLite tables carry
// also `_record`, the raw record.  Without a dictionary the columns are
// `record` (1-based number), `length` and `data` (the record: hex in CSV and
// JSONL, a BLOB in SQLite), then `_page`.
//
// A field that does not decode is written as NULL (an empty CSV field, JSON
// null, SQL NULL), counted, and told to the reporter as one line:
//   "<table> record <n>: field <name> (<type>, offset <o>, size <s>): <why>"
// One writer, one thread.
#ifndef GANDREL_EXPORT_EXPORT_H_
#define GANDREL_EXPORT_EXPORT_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "export/codepage.h"
#include "export/dictionary.h"
#include "export/export_status.h"
#include "export/field_decode.h"
#include "export/table_file.h"

enum class ExportFormat : uint8_t { Csv = 0, Jsonl = 1, Sqlite = 2 };

const char* ExportStatusName(ExportStatus status);

struct TableCounts {
  int64_t rows;        // rows written
  int64_t nullFields;  // fields written as NULL because they did not decode
};

struct SqliteExport;  // export/sqlite_writer.cc

struct ExportWriter {
  ExportFormat format;
  std::string destination;
  const Codepage* codepage;
  ProblemReporter report;  // may be null: problems are then only counted
  void* reportContext;

  // The table being written.
  bool inTable;
  bool raw;
  TableDef table;
  std::string outputName;  // file stem or SQLite table name, unique
  std::vector<ExportColumn> columns;
  std::vector<FieldValue> values;  // one per column, the current row
  TableCounts counts;
  std::vector<std::string> usedOutputNames;

  TableFile tableFile;    // CSV, JSONL: the table's file
  SqliteExport* sqlite;   // SQLite: database and statements
};

// Prepares the writer.  CSV and JSONL write one file per table into the
// folder `destination` (created when missing); SQLite opens or creates the
// database file `destination`.  0, 1, or 4 for SQLite in a build without it.
ExportStatus OpenExport(ExportFormat format, const std::string& destination,
                        const Codepage& codepage, ExportWriter* writer);

// Starts a table: creates its file or its SQLite table.  The writer keeps a
// copy of `table`.
ExportStatus BeginTable(ExportWriter* writer, const TableDef& table);

// Starts a table without a dictionary, named `name`.
ExportStatus BeginRawTable(ExportWriter* writer, const std::string& name);

// Decodes and writes one record.  `record` holds `length` bytes; `page` is
// the logical page it was found on (-1 when unknown).
ExportStatus WriteRow(ExportWriter* writer, const uint8_t* record,
                      uint32_t length, int64_t page);

// Ends the table: closes its file, or commits and creates its indexes.
// *counts (may be null) gets the table's counts.
ExportStatus EndTable(ExportWriter* writer, TableCounts* counts);

// Ends an open table and releases everything.  Returns the first failure.
ExportStatus CloseExport(ExportWriter* writer);

// --- The formats ----------------------------------------------------------

// The format named `name` ("csv", "jsonl", "sqlite" where the build has
// SQLite): true and *format set, or false.
bool FindExportFormat(const std::string& name, ExportFormat* format);

// The name of a format ("csv"); "?" for one this build lacks.
const char* ExportFormatName(ExportFormat format);

// The column list, file stems and value text the formats share are
// export/table_file.h's.

#endif  // GANDREL_EXPORT_EXPORT_H_
