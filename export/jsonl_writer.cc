#include "export/jsonl_writer.h"

#include "common/json_writer.h"

ExportStatus JsonlBeginTable(TableFile* table) {
  return OpenTableFile(table, ".jsonl") ? kExportOk : kExportCannotCreate;
}

ExportStatus JsonlWriteRow(TableFile* table, const std::vector<ExportColumn>& columns,
                           const std::vector<FieldValue>& values, int64_t page) {
  JsonWriter json = {};
  json.text.swap(table->line);  // reuse the line's storage
  json.text.clear();
  JsonBeginObject(&json);
  std::string hex;
  for (size_t i = 0; i < columns.size(); ++i) {
    const FieldValue& value = values[i];
    JsonKey(&json, columns[i].name);
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
  table->line.swap(json.text);
  return FlushTableLine(table) ? kExportOk : kExportWriteFailed;
}

ExportStatus JsonlEndTable(TableFile* table) {
  return CloseTableFile(table) ? kExportOk : kExportWriteFailed;
}
