#include "export/jsonl_writer.h"

#include "common/json_writer.h"

ExportStatus JsonlBeginTable(ExportWriter* writer) {
  writer->file = CreateTableFile(writer->destination, writer->outputName + ".jsonl");
  return writer->file == nullptr ? kExportCannotCreate : kExportOk;
}

ExportStatus JsonlWriteRow(ExportWriter* writer, int64_t page) {
  JsonWriter json = {};
  json.text.swap(writer->line);  // reuse the line's storage
  json.text.clear();
  JsonBeginObject(&json);
  std::string hex;
  for (size_t i = 0; i < writer->columns.size(); ++i) {
    const FieldValue& value = writer->values[i];
    JsonKey(&json, writer->columns[i].name);
    switch (value.kind) {
      case ValueKind::Null: JsonNull(&json); break;
      case ValueKind::Integer: JsonInt(&json, value.integer); break;
      case ValueKind::Real: JsonDouble(&json, value.real); break;
      case ValueKind::Text: JsonString(&json, value.text); break;
      case ValueKind::Blob:
        hex.clear();
        AppendValueText(value, &hex);
        JsonString(&json, hex);
        break;
    }
  }
  JsonKey(&json, "_page");
  JsonInt(&json, page);
  JsonEndObject(&json);
  json.text += '\n';
  const size_t n = json.text.size();
  const bool ok = fwrite(json.text.data(), 1, n, writer->file) == n;
  writer->line.swap(json.text);
  return ok ? kExportOk : kExportWriteFailed;
}

ExportStatus JsonlEndTable(ExportWriter* writer) {
  const bool ok = fclose(writer->file) == 0;
  writer->file = nullptr;
  return ok ? kExportOk : kExportWriteFailed;
}
