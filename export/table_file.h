// What the file-based formats (CSV, JSON Lines) share: the table's file,
// its columns, and the text of a value.  Nothing here knows the formats or
// the export writer; the writers and export.cc call down into it.
#ifndef GANDREL_EXPORT_TABLE_FILE_H_
#define GANDREL_EXPORT_TABLE_FILE_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "export/dictionary.h"
#include "export/field_decode.h"

struct ExportColumn {
  std::string name;    // unique within the table
  int32_t fieldIndex;  // into the table's fields; -1 for the raw columns
  ValueKind kind;      // the column's type
};

// One table's output file, as a CSV or JSON Lines writer fills it.
struct TableFile {
  std::string folder;  // in the system's encoding
  std::string stem;    // UTF-8, unique within the export
  FILE* file;          // open between begin and end, else null
  std::string line;    // the row being formed (storage kept across rows)
};

// Column names of a table: the field names made unique (case-insensitively
// for ASCII letters, since SQLite compares names that way), never equal to
// a reserved name such as "_page" or "_record".
std::vector<ExportColumn> TableColumns(const TableDef& table);

// `name`, or `name_2`, `name_3`, ... : the first not in `used` (compared
// without ASCII case); the result is added to `used` (in lower case).
std::string UniqueName(const std::string& name, std::vector<std::string>* used);

// `s` with ASCII capitals made small.
std::string LowerAscii(const std::string& s);

// A table name usable as a file name: '/', '\', ':', '*', '?', '"', '<',
// '>', '|' and control characters become '_'; empty becomes "table"; a
// Windows device name (CON, NUL, COM1, ...) gets a trailing '_'.
std::string SafeFileStem(const std::string& name);

// Creates (or empties) the file `utf8Name` in `folder` for writing, in
// binary mode.  `folder` is in the system's encoding, as the command line
// gives it; `utf8Name` is UTF-8 (a table name), which Windows needs opened
// through its wide-character names.  Null when the file cannot be made.
FILE* CreateTableFile(const std::string& folder, const std::string& utf8Name);

// Opens table->file as folder/stem + `extension`: true, or false when it
// cannot be made.
bool OpenTableFile(TableFile* table, const char* extension);

// Writes table->line to the file and empties it: false when writing fails.
bool FlushTableLine(TableFile* table);

// Closes the file: false when closing fails.
bool CloseTableFile(TableFile* table);

// Appends a value as text: integers in decimal, reals in their shortest
// round-trip form, text as is, blobs as lowercase hex, NULL as nothing.
void AppendValueText(const FieldValue& value, std::string* out);

#endif  // GANDREL_EXPORT_TABLE_FILE_H_
