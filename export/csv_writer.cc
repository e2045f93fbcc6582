#include "export/csv_writer.h"

namespace {

// Writes the formed line and empties it.
ExportStatus FlushLine(ExportWriter* writer) {
  const size_t n = writer->line.size();
  const bool ok = fwrite(writer->line.data(), 1, n, writer->file) == n;
  writer->line.clear();
  return ok ? kExportOk : kExportWriteFailed;
}

}  // namespace

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

ExportStatus CsvBeginTable(ExportWriter* writer) {
  writer->file = CreateTableFile(writer->destination, writer->outputName + ".csv");
  if (writer->file == nullptr) return kExportCannotCreate;
  for (const ExportColumn& column : writer->columns) {
    AppendCsvField(column.name, &writer->line);
    writer->line += ',';
  }
  writer->line += "_page\r\n";
  return FlushLine(writer);
}

ExportStatus CsvWriteRow(ExportWriter* writer, int64_t page) {
  std::string text;
  for (const FieldValue& value : writer->values) {
    text.clear();
    AppendValueText(value, &text);
    AppendCsvField(text, &writer->line);
    writer->line += ',';
  }
  writer->line += std::to_string(page);
  writer->line += "\r\n";
  return FlushLine(writer);
}

ExportStatus CsvEndTable(ExportWriter* writer) {
  const bool ok = fclose(writer->file) == 0;
  writer->file = nullptr;
  return ok ? kExportOk : kExportWriteFailed;
}
