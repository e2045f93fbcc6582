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
#include "export/field_decode.h"

enum class ExportFormat : uint8_t { Csv = 0, Jsonl = 1, Sqlite = 2 };

enum ExportStatus : uint16_t {
  kExportOk = 0,
  kExportCannotCreate = 1,   // an output file or database could not be made
  kExportWriteFailed = 2,    // writing or closing an output file failed
  kExportDatabaseError = 3,  // SQLite refused a statement (message reported)
  kExportNoSqlite = 4,       // this build has no SQLite
  kExportNotInTable = 5,     // WriteRow or EndTable without BeginTable, or
                             // BeginTable inside a table
};

const char* ExportStatusName(ExportStatus status);

// Called with one line per problem (an undecodable field, an SQLite error).
using ProblemReporter = void (*)(void* context, const std::string& line);

struct TableCounts {
  int64_t rows;        // rows written
  int64_t nullFields;  // fields written as NULL because they did not decode
};

struct ExportColumn {
  std::string name;    // unique within the table
  int32_t fieldIndex;  // into the table's fields; -1 for the raw columns
  ValueKind kind;      // the column's type
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

  FILE* file;             // CSV, JSONL: the table's file
  std::string line;       // CSV, JSONL: the row being formed
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

// --- Helpers shared by the formats -------------------------------------------

// Column names of a table: the field names made unique (case-insensitively
// for ASCII letters, since SQLite compares names that way), never equal to
// a reserved name such as "_page" or "_record".
std::vector<ExportColumn> TableColumns(const TableDef& table);

// A table name usable as a file name: '/', '\', ':', '*', '?', '"', '<',
// '>', '|' and control characters become '_'; empty becomes "table"; a
// Windows device name (CON, NUL, COM1, ...) gets a trailing '_'.
std::string SafeFileStem(const std::string& name);

// Creates (or empties) the file `utf8Name` in `folder` for writing, in
// binary mode.  `folder` is in the system's encoding, as the command line
// gives it; `utf8Name` is UTF-8 (a table name), which Windows needs opened
// through its wide-character names.  Null when the file cannot be made.
FILE* CreateTableFile(const std::string& folder, const std::string& utf8Name);

// Appends a value as text: integers in decimal, reals in their shortest
// round-trip form, text as is, blobs as lowercase hex, NULL as nothing.
void AppendValueText(const FieldValue& value, std::string* out);

#endif  // GANDREL_EXPORT_EXPORT_H_
