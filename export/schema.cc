#include "export/schema.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/json_writer.h"
#include "export/codepage.h"
#include "export/field_decode.h"
#include "export/json_reader.h"

namespace {

// The types a schema may name, with the DDF codes they stand for.
struct TypeName {
  const char* name;
  uint8_t code;
};
const TypeName kTypeNames[] = {
    {"string", kDdfString},     {"integer", kDdfInteger},
    {"float", kDdfFloat},       {"date", kDdfDate},
    {"time", kDdfTime},         {"decimal", kDdfDecimal},
    {"money", kDdfMoney},       {"logical", kDdfLogical},
    {"numeric", kDdfNumeric},   {"bfloat", kDdfBfloat},
    {"lstring", kDdfLstring},   {"zstring", kDdfZstring},
    {"note", kDdfNote},         {"lvar", kDdfLvar},
    {"unsigned", kDdfUnsignedBinary}, {"unsigned binary", kDdfUnsignedBinary},
    {"autoinc", kDdfAutoincrement},   {"bit", kDdfBit},
    {"numericsts", kDdfNumericSts},   {"numericsa", kDdfNumericSa},
    {"currency", kDdfCurrency}, {"timestamp", kDdfTimestamp},
    {"wstring", kDdfWstring},   {"wzstring", kDdfWzstring},
    {"guid", kDdfGuid},         {"bytes", kSchemaBytes},
};

// Where in the file a check is, and the file's name, for messages.
struct Place {
  const std::string* file;
  std::string path;  // "tables[0].fields[2] (\"amount\")"
};

bool Fail(const Place& at, const std::string& what, std::string* error) {
  *error = *at.file + ": " + at.path + ": " + what;
  return false;
}

// An integer member in [low, high]; `required` or it keeps *out.
bool ReadInt(const JsonValue& object, const char* name, int64_t low, int64_t high,
             bool required, const Place& at, int64_t* out, std::string* error) {
  const JsonValue* v = JsonMember(object, name);
  if (v == nullptr) return required ? Fail(at, std::string("\"") + name + "\" is missing", error)
                                    : true;
  if (v->kind != JsonKind::Number || v->number != std::floor(v->number) ||
      v->number < static_cast<double>(low) || v->number > static_cast<double>(high)) {
    return Fail(at, std::string("\"") + name + "\" must be a whole number from " +
                        std::to_string(low) + " to " + std::to_string(high) + ", not " +
                        (v->kind == JsonKind::Number ? v->text : JsonKindName(v->kind)),
                error);
  }
  *out = static_cast<int64_t>(v->number);
  return true;
}

// A string member; `required` or it keeps *out.
bool ReadString(const JsonValue& object, const char* name, bool required, const Place& at,
                std::string* out, std::string* error) {
  const JsonValue* v = JsonMember(object, name);
  if (v == nullptr) return required ? Fail(at, std::string("\"") + name + "\" is missing", error)
                                    : true;
  if (v->kind != JsonKind::String) {
    return Fail(at, std::string("\"") + name + "\" must be a string, not " +
                        JsonKindName(v->kind), error);
  }
  *out = v->text;
  return true;
}

// Hex digits (pairs, spaces allowed between bytes) to bytes.
bool HexBytes(const std::string& hex, std::vector<uint8_t>* bytes) {
  bytes->clear();
  int high = -1;
  for (char c : hex) {
    if (c == ' ' && high < 0) continue;
    const int d = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
    if (d < 0) return false;
    if (high < 0) {
      high = d;
    } else {
      bytes->push_back(static_cast<uint8_t>(high * 16 + d));
      high = -1;
    }
  }
  return high < 0;
}

bool ReadField(const JsonValue& v, const Place& at, FieldDef* field, std::string* evidence,
               std::string* error) {
  if (v.kind != JsonKind::Object) return Fail(at, "a field must be an object", error);
  std::string type;
  int64_t offset = 0, length = 0, decimals = 0;
  if (!ReadString(v, "name", true, at, &field->name, error)) return false;
  const Place named{at.file, at.path + " (\"" + field->name + "\")"};
  if (field->name.empty()) return Fail(named, "\"name\" is empty", error);
  if (!ReadInt(v, "offset", 0, 65535, true, named, &offset, error) ||
      !ReadInt(v, "length", 1, 65535, true, named, &length, error) ||
      !ReadInt(v, "decimals", 0, 255, false, named, &decimals, error) ||
      !ReadString(v, "type", true, named, &type, error) ||
      !ReadString(v, "evidence", false, named, evidence, error)) {
    return false;
  }
  if (!DataTypeFromName(type, &field->dataType)) {
    return Fail(named, "type '" + type + "' is unknown (string, zstring, integer, ...)", error);
  }
  if (offset + length > 65535) return Fail(named, "offset + length passes 65535", error);
  field->offset = static_cast<uint16_t>(offset);
  field->size = static_cast<uint16_t>(length);
  field->decimals = static_cast<uint8_t>(decimals);
  field->flags = 0;
  return true;
}

bool ReadFields(const JsonValue& object, const Place& at, std::vector<FieldDef>* fields,
                std::vector<std::string>* evidence, std::string* error) {
  const JsonValue* list = JsonMember(object, "fields");
  if (list == nullptr) return Fail(at, "\"fields\" is missing", error);
  if (list->kind != JsonKind::Array) return Fail(at, "\"fields\" must be an array", error);
  for (size_t i = 0; i < list->items.size(); ++i) {
    FieldDef field = {};
    field.id = static_cast<uint16_t>(i + 1);
    std::string why;
    const Place place{at.file, at.path + ".fields[" + std::to_string(i) + "]"};
    if (!ReadField(list->items[i], place, &field, &why, error)) return false;
    fields->push_back(field);
    evidence->push_back(why);
  }
  SortFieldsByOffset(fields, evidence);
  return true;
}

bool ReadWhen(const JsonValue& object, const Place& at, RecordWhen* when, std::string* error) {
  const JsonValue* w = JsonMember(object, "when");
  if (w == nullptr) return Fail(at, "\"when\" is missing", error);
  if (w->kind != JsonKind::Object) return Fail(at, "\"when\" must be an object", error);
  const Place place{at.file, at.path + ".when"};
  int64_t offset = 0, length = 0;
  std::string equals, from, to;
  if (!ReadInt(*w, "offset", 0, 65535, true, place, &offset, error) ||
      !ReadInt(*w, "length", 1, 64, true, place, &length, error) ||
      !ReadString(*w, "equals", false, place, &equals, error) ||
      !ReadString(*w, "from", false, place, &from, error) ||
      !ReadString(*w, "to", false, place, &to, error)) {
    return false;
  }
  when->offset = static_cast<uint16_t>(offset);
  when->length = static_cast<uint16_t>(length);
  const bool range = !from.empty() || !to.empty();
  if (equals.empty() == !range) return Fail(place, "needs \"equals\", or \"from\" and \"to\"", error);
  if (!HexBytes(range ? from : equals, &when->from) || !HexBytes(range ? to : equals, &when->to) ||
      when->from.size() != static_cast<size_t>(length) ||
      when->to.size() != static_cast<size_t>(length)) {
    return Fail(place, "the value must be " + std::to_string(length) + " bytes in hex", error);
  }
  return true;
}

bool ReadTable(const JsonValue& v, const Place& at, SchemaTable* table, std::string* error) {
  if (v.kind != JsonKind::Object) return Fail(at, "a table must be an object", error);
  if (!ReadString(v, "file", true, at, &table->file, error)) return false;
  const Place place{at.file, at.path + " (\"" + table->file + "\")"};
  int64_t codepage = 0;
  if (!ReadString(v, "name", false, place, &table->name, error) ||
      !ReadInt(v, "codepage", 0, 65535, false, place, &codepage, error)) {
    return false;
  }
  const Codepage* found = nullptr;
  if (codepage != 0 && FindCodepage(static_cast<uint16_t>(codepage), &found) != kCodepageOk) {
    return Fail(place, "code page " + std::to_string(codepage) + " has no table (437, 850, 866, 1252)",
                error);
  }
  table->codepage = static_cast<uint16_t>(codepage);
  if (table->name.empty()) {
    const size_t slash = table->file.find_last_of("/\\");
    table->name = table->file.substr(slash == std::string::npos ? 0 : slash + 1);
    const size_t dot = table->name.rfind('.');
    if (dot != std::string::npos && dot > 0) table->name.resize(dot);
  }
  if (!ReadFields(v, place, &table->fields, &table->evidence, error)) return false;
  const JsonValue* types = JsonMember(v, "recordTypes");
  if (types == nullptr) return true;
  if (types->kind != JsonKind::Array) return Fail(place, "\"recordTypes\" must be an array", error);
  for (size_t i = 0; i < types->items.size(); ++i) {
    const JsonValue& t = types->items[i];
    const Place typePlace{at.file, place.path + ".recordTypes[" + std::to_string(i) + "]"};
    if (t.kind != JsonKind::Object) return Fail(typePlace, "a record type must be an object", error);
    SchemaRecordType type;
    if (!ReadString(t, "name", true, typePlace, &type.name, error) ||
        !ReadWhen(t, typePlace, &type.when, error) ||
        !ReadFields(t, typePlace, &type.fields, &type.evidence, error)) {
      return false;
    }
    table->recordTypes.push_back(std::move(type));
  }
  return true;
}

}  // namespace

void SortFieldsByOffset(std::vector<FieldDef>* fields, std::vector<std::string>* evidence) {
  std::vector<size_t> order(fields->size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return (*fields)[a].offset < (*fields)[b].offset; });
  std::vector<FieldDef> sorted;
  std::vector<std::string> sortedEvidence;
  for (size_t i : order) {
    sorted.push_back((*fields)[i]);
    sortedEvidence.push_back(i < evidence->size() ? (*evidence)[i] : std::string());
  }
  fields->swap(sorted);
  evidence->swap(sortedEvidence);
}

bool DataTypeFromName(const std::string& name, uint8_t* dataType) {
  for (const TypeName& t : kTypeNames) {
    if (name == t.name) {
      *dataType = t.code;
      return true;
    }
  }
  return false;
}

std::string SchemaTypeName(uint8_t dataType) {
  for (const TypeName& t : kTypeNames) {
    if (t.code == dataType) return t.name;
  }
  return DataTypeName(dataType);
}

bool ParseSchema(const std::string& text, const std::string& name, Schema* schema,
                 std::string* error) {
  *schema = Schema{};
  JsonValue root;
  std::string why;
  if (!ParseJson(text, &root, &why)) {
    *error = name + ": " + why;
    return false;
  }
  const Place top{&name, "top level"};
  if (root.kind != JsonKind::Object) return Fail(top, "must be an object", error);
  const JsonValue* tables = JsonMember(root, "tables");
  if (tables == nullptr || tables->kind != JsonKind::Array) {
    return Fail(top, "\"tables\" must be an array", error);
  }
  for (size_t i = 0; i < tables->items.size(); ++i) {
    SchemaTable table;
    const Place place{&name, "tables[" + std::to_string(i) + "]"};
    if (!ReadTable(tables->items[i], place, &table, error)) return false;
    schema->tables.push_back(std::move(table));
  }
  return true;
}

bool LoadSchema(const std::string& path, Schema* schema, std::string* error) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *error = path + ": cannot be opened";
    return false;
  }
  std::string text;
  char buffer[65536];
  size_t got = 0;
  // A schema file is a few kilobytes; 64 MB is far past any real one.
  while ((got = fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() < (64u << 20)) {
    text.append(buffer, got);
  }
  const bool failed = ferror(f) != 0;
  fclose(f);
  if (failed) {
    *error = path + ": cannot be read";
    return false;
  }
  return ParseSchema(text, path, schema, error);
}

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) {
    text += kHex[b >> 4];
    text += kHex[b & 0x0F];
  }
  return text;
}

std::string Quoted(const std::string& text) {
  std::string out;
  AppendJsonQuoted(text, &out);
  return out;
}

void AppendFields(const std::vector<FieldDef>& fields, const std::vector<std::string>& evidence,
                  const std::string& indent, std::string* out) {
  *out += "\"fields\": [";
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldDef& f = fields[i];
    *out += (i == 0 ? "\n" : ",\n") + indent + "  {\"name\": " + Quoted(f.name) +
            ", \"offset\": " + std::to_string(f.offset) + ", \"length\": " +
            std::to_string(f.size) + ", \"type\": " + Quoted(SchemaTypeName(f.dataType));
    if (f.decimals != 0) *out += ", \"decimals\": " + std::to_string(f.decimals);
    if (i < evidence.size() && !evidence[i].empty()) *out += ", \"evidence\": " + Quoted(evidence[i]);
    *out += "}";
  }
  *out += fields.empty() ? "]" : "\n" + indent + "]";
}

void AppendRecordType(const SchemaRecordType& t, std::string* out) {
  const RecordWhen& w = t.when;
  *out += "        {\"name\": " + Quoted(t.name) + ", \"when\": {\"offset\": " +
          std::to_string(w.offset) + ", \"length\": " + std::to_string(w.length);
  *out += w.from == w.to ? ", \"equals\": \"" + Hex(w.from) + "\"}"
                         : ", \"from\": \"" + Hex(w.from) + "\", \"to\": \"" + Hex(w.to) + "\"}";
  *out += ",\n         ";
  AppendFields(t.fields, t.evidence, "         ", out);
  *out += "}";
}

}  // namespace

std::string SchemaJson(const Schema& schema) {
  std::string out = "{\"tables\": [";
  for (size_t i = 0; i < schema.tables.size(); ++i) {
    const SchemaTable& t = schema.tables[i];
    out += (i == 0 ? "\n" : ",\n");
    out += "  {\"file\": " + Quoted(t.file) + ", \"name\": " + Quoted(t.name);
    if (t.codepage != 0) out += ", \"codepage\": " + std::to_string(t.codepage);
    out += ",\n    ";
    AppendFields(t.fields, t.evidence, "    ", &out);
    if (!t.recordTypes.empty()) {
      out += ",\n    \"recordTypes\": [\n";
      for (size_t r = 0; r < t.recordTypes.size(); ++r) {
        if (r > 0) out += ",\n";
        AppendRecordType(t.recordTypes[r], &out);
      }
      out += "\n    ]";
    }
    out += "}";
  }
  out += schema.tables.empty() ? "]}\n" : "\n]}\n";
  return out;
}

bool RecordMatches(const RecordWhen& when, const uint8_t* record, uint32_t length) {
  if (static_cast<uint32_t>(when.offset) + when.length > length) return false;
  const uint8_t* p = record + when.offset;
  return !std::lexicographical_compare(p, p + when.length, when.from.begin(), when.from.end()) &&
         !std::lexicographical_compare(when.to.begin(), when.to.end(), p, p + when.length);
}

int32_t RecordTypeOf(const SchemaTable& table, const uint8_t* record, uint32_t length) {
  for (size_t i = 0; i < table.recordTypes.size(); ++i) {
    if (RecordMatches(table.recordTypes[i].when, record, length)) return static_cast<int32_t>(i);
  }
  return -1;
}

TableDef SchemaTableDef(const SchemaTable& table, int32_t type) {
  TableDef def = {};
  def.name = type < 0 ? table.name : table.name + "_" + table.recordTypes[type].name;
  def.location = table.file;
  def.fields = type < 0 ? table.fields : table.recordTypes[type].fields;
  for (size_t i = 0; i < def.fields.size(); ++i) def.fields[i].id = static_cast<uint16_t>(i + 1);
  // The dictionary's keys name fields by index: only the table's own
  // fields keep them.
  if (type < 0) def.keys = table.keys;
  return def;
}

SchemaTable SchemaFromDictionary(const TableDef& table) {
  SchemaTable s = {};
  s.file = table.location;
  s.name = table.name;
  s.fields = table.fields;
  s.evidence.assign(table.fields.size(), "");
  s.keys = table.keys;
  return s;
}

bool IsPositionalName(const std::string& name) {
  if (name.size() < 5 || name[0] != 'f') return false;
  for (size_t i = 1; i < 5; ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  return name.size() == 5 || name[5] == '_';
}

void MergeSchemaInto(const SchemaTable& schema, SchemaTable* table) {
  std::vector<FieldDef> merged;
  std::vector<std::string> evidence;
  for (size_t i = 0; i < schema.fields.size(); ++i) {
    FieldDef f = schema.fields[i];
    for (const FieldDef& d : table->fields) {
      if (d.offset == f.offset && d.size == f.size && IsPositionalName(f.name)) f.name = d.name;
    }
    merged.push_back(f);
    evidence.push_back(i < schema.evidence.size() ? schema.evidence[i] : "");
  }
  for (const FieldDef& d : table->fields) {
    bool overlapped = false;
    for (const FieldDef& f : schema.fields) {
      overlapped = overlapped || (d.offset < f.offset + f.size && f.offset < d.offset + d.size);
    }
    if (!overlapped) {
      merged.push_back(d);
      evidence.push_back("");
    }
  }
  SortFieldsByOffset(&merged, &evidence);
  // The dictionary's keys point at its field indexes: moved to the field
  // of the same place and size, dropped where the schema changed it.
  const std::vector<FieldDef> before = table->fields;
  table->fields = std::move(merged);
  table->evidence = std::move(evidence);
  for (KeyDef& key : table->keys) {
    for (DdfKeySegment& segment : key.segments) {
      if (segment.fieldIndex < 0 || static_cast<size_t>(segment.fieldIndex) >= before.size()) continue;
      const FieldDef& old = before[segment.fieldIndex];
      segment.fieldIndex = -1;
      for (size_t i = 0; i < table->fields.size(); ++i) {
        if (table->fields[i].offset == old.offset && table->fields[i].size == old.size) {
          segment.fieldIndex = static_cast<int32_t>(i);
        }
      }
    }
  }
  table->recordTypes = schema.recordTypes;
  if (schema.codepage != 0) table->codepage = schema.codepage;
}
