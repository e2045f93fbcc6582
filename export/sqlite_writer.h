// SQLite output (native builds only, GANDREL_HAVE_SQLITE): one database,
// one table per data table.  Columns take the SQLite type of their field
// (INTEGER, REAL, TEXT, BLOB; dates and times as ISO 8601 TEXT), then
// `_record` BLOB (the raw record) and `_page` INTEGER.  The rows of a table
// go in within one transaction through one prepared statement; the
// dictionary's keys become indexes ("<table>_key<n>") once the rows are in.
// A table that already exists in the database is an error.
#ifndef GANDREL_EXPORT_SQLITE_WRITER_H_
#define GANDREL_EXPORT_SQLITE_WRITER_H_

#include <cstdint>
#include <string>

#include "export/export.h"

// Called by export.cc with the writer's columns and values set.
ExportStatus SqliteOpen(ExportWriter* writer);
ExportStatus SqliteBeginTable(ExportWriter* writer);
ExportStatus SqliteWriteRow(ExportWriter* writer, const uint8_t* record,
                            uint32_t length, int64_t page);
ExportStatus SqliteEndTable(ExportWriter* writer);
ExportStatus SqliteClose(ExportWriter* writer);

// `name` as an SQL identifier: in double quotes, inner quotes doubled.
std::string QuoteSqlName(const std::string& name);

#endif  // GANDREL_EXPORT_SQLITE_WRITER_H_
