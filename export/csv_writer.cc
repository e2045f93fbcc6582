#include "export/csv_writer.h"

void AppendCsvField(std::string_view text, std::string* out) {
  // A NUL needs no quoting by RFC 4180, but quoting it tells a reader that
  // the field holds more than plain text.
  if (text.find_first_of(std::string_view(",\"\r\n\0", 5)) == std::string_view::npos) {
    out->append(text);
    return;
  }
  out->push_back('"');
  for (char c : text) {
    if (c == '"') out->push_back('"');
    out->push_back(c);
  }
  out->push_back('"');
}

ExportStatus CsvBeginTable(TableFile* table, const std::vector<ExportColumn>& columns) {
  if (!OpenTableFile(table, ".csv")) return kExportCannotCreate;
  for (const ExportColumn& column : columns) {
    AppendCsvField(column.name, &table->line);
    table->line += ',';
  }
  table->line += "_page\r\n";
  return FlushTableLine(table) ? kExportOk : kExportWriteFailed;
}

ExportStatus CsvWriteRow(TableFile* table, const std::vector<FieldValue>& values,
                         int64_t page) {
  std::string text;
  for (const FieldValue& value : values) {
    text.clear();
    AppendValueText(value, &text);
    AppendCsvField(text, &table->line);
    table->line += ',';
  }
  table->line += std::to_string(page);
  table->line += "\r\n";
  return FlushTableLine(table) ? kExportOk : kExportWriteFailed;
}

ExportStatus CsvEndTable(TableFile* table) {
  return CloseTableFile(table) ? kExportOk : kExportWriteFailed;
}
