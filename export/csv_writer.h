// CSV output (RFC 4180): a header row of column names, then one row per
// record; CR LF line ends.  A field holding a comma, a quote, CR or LF is
// quoted, its quotes doubled.  NUL bytes inside text are written as they
// are (quoted, so a reader can keep them); text is UTF-8.  NULL is an
// empty field, so a NULL and an empty string look alike in CSV.
#ifndef GANDREL_EXPORT_CSV_WRITER_H_
#define GANDREL_EXPORT_CSV_WRITER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "export/export_status.h"
#include "export/table_file.h"

// Appends one field, quoted when it must be.
void AppendCsvField(std::string_view text, std::string* out);

// Creates folder/stem.csv and writes the header row.
ExportStatus CsvBeginTable(TableFile* table, const std::vector<ExportColumn>& columns);

// One row: `values` (one per column), then the page.
ExportStatus CsvWriteRow(TableFile* table, const std::vector<FieldValue>& values,
                         int64_t page);

ExportStatus CsvEndTable(TableFile* table);

#endif  // GANDREL_EXPORT_CSV_WRITER_H_
