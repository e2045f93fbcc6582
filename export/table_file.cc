#include "export/table_file.h"

#include <charconv>
#include <filesystem>
#include <string_view>

namespace {

char LowerAsciiChar(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string LowerAscii(const std::string& s) {
  std::string lower = s;
  for (char& c : lower) c = LowerAsciiChar(c);
  return lower;
}

std::string UniqueName(const std::string& name, std::vector<std::string>* used) {
  auto taken = [&](const std::string& candidate) {
    const std::string lower = LowerAscii(candidate);
    for (const std::string& u : *used) {
      if (u == lower) return true;
    }
    return false;
  };
  std::string candidate = name;
  for (int n = 2; taken(candidate); ++n) candidate = name + "_" + std::to_string(n);
  used->push_back(LowerAscii(candidate));
  return candidate;
}

std::vector<ExportColumn> TableColumns(const TableDef& table) {
  std::vector<std::string> used = {"_page", "_record"};
  std::vector<ExportColumn> columns;
  for (size_t i = 0; i < table.fields.size(); ++i) {
    const FieldDef& field = table.fields[i];
    const std::string base =
        field.name.empty() ? "field_" + std::to_string(field.id) : field.name;
    columns.push_back({.name = UniqueName(base, &used),
                       .fieldIndex = static_cast<int32_t>(i),
                       .kind = ColumnKind(field)});
  }
  return columns;
}

std::string SafeFileStem(const std::string& name) {
  std::string stem = name;
  for (char& c : stem) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos) {
      c = '_';
    }
  }
  if (stem.empty() || stem == "." || stem == "..") stem = "table";
  // Windows opens devices for these names whatever the extension.
  static const char* const kDeviceNames[] = {"con", "prn", "aux", "nul"};
  const std::string lower = LowerAscii(stem);
  bool device = lower.size() == 4 && (lower.rfind("com", 0) == 0 || lower.rfind("lpt", 0) == 0) &&
                lower[3] >= '1' && lower[3] <= '9';
  for (const char* d : kDeviceNames) device = device || lower == d;
  if (device) stem += "_";
  return stem;
}

FILE* CreateTableFile(const std::string& folder, const std::string& utf8Name) {
  const std::u8string name(utf8Name.begin(), utf8Name.end());
  const std::filesystem::path path = std::filesystem::path(folder) / std::filesystem::path(name);
#ifdef _WIN32
  // fopen takes names in the ANSI code page, which cannot hold most table
  // names (doclife's are Cyrillic).
  return _wfopen(path.c_str(), L"wb");
#else
  return fopen(path.c_str(), "wb");
#endif
}

bool OpenTableFile(TableFile* table, const char* extension) {
  table->line.clear();
  table->file = CreateTableFile(table->folder, table->stem + extension);
  return table->file != nullptr;
}

bool FlushTableLine(TableFile* table) {
  const size_t n = table->line.size();
  const bool ok = fwrite(table->line.data(), 1, n, table->file) == n;
  table->line.clear();
  return ok;
}

bool CloseTableFile(TableFile* table) {
  const bool ok = fclose(table->file) == 0;
  table->file = nullptr;
  return ok;
}

void AppendValueText(const FieldValue& value, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
  char buffer[32];
  switch (value.kind) {
    case ValueKind::Null:
      return;
    case ValueKind::Integer: {
      const auto r = std::to_chars(buffer, buffer + sizeof buffer, value.integer);
      out->append(buffer, r.ptr);
      return;
    }
    case ValueKind::Real: {
      const auto r = std::to_chars(buffer, buffer + sizeof buffer, value.real);
      out->append(buffer, r.ptr);
      return;
    }
    case ValueKind::Text:
      out->append(value.text);
      return;
    case ValueKind::Blob:
      for (uint8_t b : value.blob) {
        out->push_back(kHex[b >> 4]);
        out->push_back(kHex[b & 0x0F]);
      }
      return;
  }
}
