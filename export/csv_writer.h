// CSV output (RFC 4180): a header row of column names, then one row per
// record; CR LF line ends.  A field holding a comma, a quote, CR or LF is
// quoted, its quotes doubled.  NUL bytes inside text are written as they
// are (quoted, so a reader can keep them); text is UTF-8.  NULL is an
// empty field, so a NULL and an empty string look alike in CSV.
#ifndef GANDREL_EXPORT_CSV_WRITER_H_
#define GANDREL_EXPORT_CSV_WRITER_H_

#include <string>
#include <string_view>

#include "export/export.h"

// Appends one field, quoted when it must be.
void AppendCsvField(std::string_view text, std::string* out);

// Called by export.cc with the writer's columns and values set.
ExportStatus CsvBeginTable(ExportWriter* writer);
ExportStatus CsvWriteRow(ExportWriter* writer, int64_t page);
ExportStatus CsvEndTable(ExportWriter* writer);

#endif  // GANDREL_EXPORT_CSV_WRITER_H_
