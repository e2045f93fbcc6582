#include "gandrel/schema_command.h"
#include "gandrel/output_files.h"

#include <filesystem>

#include "export/dictionary.h"
#include "gandrel/export_command.h"
#include "gandrel/info_command.h"
#include "salvage/salvage.h"

const CommandOption kSchemaOptions[] = {
    {"output", 'o', "SCHEMA.json", "the schema file to write"},
    {"ddf", 0, "DIR", "dictionary whose names the draft takes, or to turn into a schema"},
    {"data", 0, "DIR", "with --ddf: the folder of the data files, when not beside it"},
    {"codepage", 0, "N", "code page of the text: 437 (default), 850, 866, 1252"},
    {"quiet", 'q', nullptr, "no summary on stderr"},
};
const int kSchemaOptionCount = sizeof kSchemaOptions / sizeof kSchemaOptions[0];

namespace {

namespace fs = std::filesystem;

void KeepRecord(void* context, const uint8_t* bytes, uint32_t length) {
  AddSampleRecord(static_cast<RecordSample*>(context), bytes, length);
}

// `path` as the schema at `schemaFile` names it: relative to the schema's
// folder where that can be said, with '/' between the parts.
std::string NameForSchema(const std::string& path, const std::string& schemaFile) {
  std::error_code ec;
  const fs::path folder = fs::absolute(fs::path(schemaFile), ec).parent_path();
  const fs::path file = fs::absolute(fs::path(path), ec);
  const fs::path relative = file.lexically_relative(folder);
  return relative.empty() ? file.generic_string() : relative.generic_string();
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return !a.empty() && !b.empty() && fs::equivalent(a, b, ec);
}

}  // namespace

std::vector<KnownField> KeyFieldsOf(const std::string& path, uint16_t* recordLength) {
  FileInfo info;
  GatherFileInfo(path, &info);
  *recordLength = info.read ? info.recordLength : 0;
  std::vector<KnownField> known;
  for (size_t k = 0; k < info.keys.size(); ++k) {
    const std::vector<KeySegment>& segments = info.keys[k].segments;
    for (size_t s = 0; s < segments.size(); ++s) {
      const KeySegment& seg = segments[s];
      if (seg.position == 0) continue;
      KnownField f = {};
      f.field.name = "key" + std::to_string(k) + (s == 0 ? "" : "_" + std::to_string(s + 1));
      f.field.offset = static_cast<uint16_t>(seg.position - 1);
      f.field.size = seg.length;
      f.field.dataType = seg.extendedType ? seg.extendedTypeCode
                         : seg.binary     ? static_cast<uint8_t>(kDdfUnsignedBinary)
                                          : static_cast<uint8_t>(kDdfString);
      f.evidence = "key " + std::to_string(k) + " segment " + std::to_string(s + 1) +
                   ": place, length and type from the file's key definitions" +
                   (seg.extendedType ? "" : " (no type kept: " +
                                                std::string(seg.binary ? "binary" : "text") + ")");
      known.push_back(f);
    }
  }
  return known;
}

bool DraftFileTable(const std::string& path, const std::string& file, const Codepage& codepage,
                    SchemaTable* table, std::string* error) {
  uint16_t recordLength = 0;
  const std::vector<KnownField> known = KeyFieldsOf(path, &recordLength);
  if (recordLength == 0) {
    *error = path + ": not readable as a data file";
    return false;
  }
  RecordSample sample;
  sample.fixedLength = recordLength;
  RecordSinkFunction sink;
  sink.write = KeepRecord;
  sink.context = &sample;
  SalvageReport report;
  SalvageFile(path.c_str(), GeometryOverrides{}, sink, &report);
  if (!report.opened || !report.geometry.usable) {
    *error = path + ": not readable as a data file" +
             (report.error.empty() ? "" : ": " + report.error);
    return false;
  }
  *table = SchemaTable{};
  table->file = file;
  table->name = fs::path(path).stem().string();
  table->codepage = codepage.number;
  DraftTable(sample, codepage, known, table);
  return true;
}

namespace {

// The dictionary's tables as a schema, their files named from `output`.
void SchemaOfDictionary(const Dictionary& dictionary, const std::string& output, Schema* schema) {
  for (const TableDef& t : dictionary.tables) {
    SchemaTable table = SchemaFromDictionary(t);
    if (!t.path.empty()) table.file = NameForSchema(t.path, output);
    schema->tables.push_back(std::move(table));
  }
}

void PrintSummary(const Schema& schema, const std::string& output) {
  fprintf(stderr, "gandrel schema: %zu table%s to %s\n", schema.tables.size(),
          schema.tables.size() == 1 ? "" : "s", output.c_str());
  for (const SchemaTable& t : schema.tables) {
    fprintf(stderr, "  %s  %s  %zu fields", t.name.c_str(), t.file.c_str(), t.fields.size());
    if (!t.recordTypes.empty()) fprintf(stderr, ", %zu record types", t.recordTypes.size());
    fprintf(stderr, "\n");
  }
}

}  // namespace

int RunSchemaCommand(const ParsedCommandLine& parsed) {
  const std::string* output = FindValue(parsed, "output");
  const std::string* ddf = FindValue(parsed, "ddf");
  std::string error;
  const Codepage* codepage = nullptr;
  if (output == nullptr || output->empty()) error = "no output given (-o SCHEMA.json)";
  if (error.empty() && parsed.positional.empty() && ddf == nullptr) {
    error = "no data file given, and no dictionary (--ddf DIR)";
  }
  if (error.empty()) ReadCodepageOption(parsed, &codepage, &error);
  if (!error.empty()) {
    fprintf(stderr, "gandrel schema: %s\n", error.c_str());
    return kExitUsage;
  }
  Dictionary dictionary;
  if (ddf != nullptr) {
    const DictionaryStatus status = LoadDictionary(*ddf, *codepage, &dictionary);
    if (status != kDictionaryOk) {
      fprintf(stderr, "gandrel schema: --ddf %s: %s\n", ddf->c_str(), DictionaryStatusName(status));
      return kExitNothing;
    }
    if (const std::string* data = FindValue(parsed, "data")) ResolveTablePaths(*data, &dictionary);
  }
  Schema schema;
  if (parsed.positional.empty()) SchemaOfDictionary(dictionary, *output, &schema);
  bool anyFailed = false;
  for (const std::string& path : parsed.positional) {
    if (SameFile(path, *output)) {
      fprintf(stderr, "gandrel schema: %s: is a data file, not written\n", output->c_str());
      return kExitUsage;
    }
    SchemaTable table;
    if (!DraftFileTable(path, NameForSchema(path, *output), *codepage, &table, &error)) {
      fprintf(stderr, "gandrel schema: %s\n", error.c_str());
      anyFailed = true;
      continue;
    }
    for (const TableDef& t : dictionary.tables) {
      if (!SameFile(t.path, path)) continue;
      table.name = t.name;
      NameFromDictionary(t, &table);
      break;
    }
    schema.tables.push_back(std::move(table));
  }
  if (schema.tables.empty()) return kExitNothing;
  if (!WriteTextFile(*output, SchemaJson(schema))) {
    fprintf(stderr, "gandrel schema: %s: cannot be written\n", output->c_str());
    return kExitNothing;
  }
  if (FindValue(parsed, "quiet") == nullptr) PrintSummary(schema, *output);
  return anyFailed ? kExitDamaged : kExitOk;
}
