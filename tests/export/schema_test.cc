// Schema files and drafts: the JSON reader and the schema parser with their
// one-line errors, drafts of records built in code with known layouts
// (text, integers, floats, dates, filler, two record types), and the
// round trip through `gandrel schema` and `gandrel export --schema` on a
// data file built by the fixture writer and on a real Exchequer file.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "export/json_reader.h"
#include "export/schema.h"
#include "export/schema_draft.h"
#include "gandrel/command_line.h"
#include "tests/console/process_runner.h"
#include "tests/fixture/fixture_writer.h"

namespace {

std::string ReadPath(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ReadText(const std::string& path) { return ReadPath(std::filesystem::path(path)); }

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

int Gandrel(std::vector<const char*> args) {
  args.insert(args.begin(), "gandrel");
  return RunGandrel(static_cast<int>(args.size()), args.data());
}

// --- The JSON reader ---------------------------------------------------------

TEST(JsonReaderTest, ReadsNestedValuesEscapesAndNumbers) {
  JsonValue v;
  std::string error;
  ASSERT_TRUE(ParseJson("\xEF\xBB\xBF {\"a\": [1, -2.5e1, true, null],\n \"b\": \"x\\u00e9\\ud83d\\ude00\\n\"}",
                        &v, &error))
      << error;
  ASSERT_EQ(v.kind, JsonKind::Object);
  const JsonValue* a = JsonMember(v, "a");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->items.size(), 4u);
  EXPECT_EQ(a->items[1].number, -25.0);
  EXPECT_EQ(a->items[2].kind, JsonKind::Bool);
  EXPECT_EQ(a->items[3].kind, JsonKind::Null);
  const JsonValue* b = JsonMember(v, "b");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->text, "x\xC3\xA9\xF0\x9F\x98\x80\n");
  EXPECT_EQ(b->line, 2);
  EXPECT_EQ(JsonMember(v, "c"), nullptr);
}

TEST(JsonReaderTest, BadTextGivesOneLineWithItsLineNumber) {
  const struct {
    const char* text;
    const char* error;
  } kCases[] = {
      {"", "line 1: a value is missing"},
      {"{\"a\" 1}", "line 1: expected ':' after a member name"},
      {"[1,\n2,\n]", "line 3: unexpected character ']'"},
      {"{\"a\": 1,}", "line 1: expected a member name"},
      {"\"abc", "line 1: string not closed"},
      {"[1] 2", "line 1: text after the value"},
      {"-", "line 1: a number needs digits"},
      {"\"\\q\"", "line 1: unknown escape \\q"},
      {"tru", "line 1: unknown word"},
  };
  for (const auto& c : kCases) {
    JsonValue v;
    std::string error;
    EXPECT_FALSE(ParseJson(c.text, &v, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
  // Hostile nesting is refused, not followed down the stack.
  JsonValue v;
  std::string error;
  EXPECT_FALSE(ParseJson(std::string(100000, '['), &v, &error));
  EXPECT_NE(error.find("nested too deeply"), std::string::npos) << error;
}

// --- Schema files -------------------------------------------------------------

const char kGoodSchema[] = R"({"tables": [
  {"file": "F17.DAT", "name": "Clients", "codepage": 866,
   "fields": [{"name": "amount", "offset": 8, "length": 8, "type": "float", "evidence": "x"},
              {"name": "id", "offset": 0, "length": 4, "type": "integer"},
              {"name": "raw", "offset": 4, "length": 4, "type": "bytes"}],
   "recordTypes": [{"name": "header", "when": {"offset": 0, "length": 1, "equals": "43"},
                    "fields": [{"name": "code", "offset": 1, "length": 5, "type": "zstring"}]},
                   {"name": "lines", "when": {"offset": 0, "length": 1, "from": "50", "to": "5A"},
                    "fields": []}]}]})";

TEST(SchemaFileTest, ReadsTablesFieldsInOffsetOrderAndRecordTypes) {
  Schema s;
  std::string error;
  ASSERT_TRUE(ParseSchema(kGoodSchema, "s.json", &s, &error)) << error;
  ASSERT_EQ(s.tables.size(), 1u);
  const SchemaTable& t = s.tables[0];
  EXPECT_EQ(t.name, "Clients");
  EXPECT_EQ(t.codepage, 866);
  ASSERT_EQ(t.fields.size(), 3u);
  EXPECT_EQ(t.fields[0].name, "id");
  EXPECT_EQ(t.fields[1].dataType, kSchemaBytes);
  EXPECT_EQ(t.fields[2].dataType, kDdfFloat);
  EXPECT_EQ(t.evidence[2], "x");
  ASSERT_EQ(t.recordTypes.size(), 2u);
  const uint8_t header[] = {0x43, 'a'}, line[] = {0x55, 'b'}, other[] = {0x5B, 'c'};
  EXPECT_EQ(RecordTypeOf(t, header, 2), 0);
  EXPECT_EQ(RecordTypeOf(t, line, 2), 1);
  EXPECT_EQ(RecordTypeOf(t, other, 2), -1);
  EXPECT_EQ(RecordTypeOf(t, header, 0), -1);  // too short to say
  const TableDef typed = SchemaTableDef(t, 0);
  EXPECT_EQ(typed.name, "Clients_header");
  ASSERT_EQ(typed.fields.size(), 1u);
  EXPECT_EQ(typed.fields[0].dataType, kDdfZstring);

  // What SchemaJson writes reads back the same.
  Schema again;
  ASSERT_TRUE(ParseSchema(SchemaJson(s), "again.json", &again, &error)) << error;
  EXPECT_EQ(SchemaJson(again), SchemaJson(s));
}

TEST(SchemaFileTest, BadSchemasNameFileFieldAndWhatIsWrong) {
  const struct {
    const char* text;
    const char* error;
  } kCases[] = {
      {"[]", "s.json: top level: must be an object"},
      {"{\"tables\": 3}", "s.json: top level: \"tables\" must be an array"},
      {"{\"tables\": [{\"fields\": []}]}", "s.json: tables[0]: \"file\" is missing"},
      {"{\"tables\": [{\"file\": \"A\"}]}", "s.json: tables[0] (\"A\"): \"fields\" is missing"},
      {"{\"tables\": [{\"file\": \"A\", \"codepage\": 999, \"fields\": []}]}",
       "s.json: tables[0] (\"A\"): code page 999 has no table (437, 850, 866, 1252)"},
      {"{\"tables\": [{\"file\": \"A\", \"fields\": [{\"name\": \"x\", \"offset\": 0, "
       "\"length\": 4, \"type\": \"money2\"}]}]}",
       "s.json: tables[0] (\"A\").fields[0] (\"x\"): type 'money2' is unknown (string, zstring, "
       "integer, ...)"},
      {"{\"tables\": [{\"file\": \"A\", \"fields\": [{\"name\": \"x\", \"offset\": -1, "
       "\"length\": 4, \"type\": \"integer\"}]}]}",
       "s.json: tables[0] (\"A\").fields[0] (\"x\"): \"offset\" must be a whole number from 0 to "
       "65535, not -1"},
      {"{\"tables\": [{\"file\": \"A\", \"fields\": [{\"name\": \"x\", \"offset\": 1.5, "
       "\"length\": 4, \"type\": \"integer\"}]}]}",
       "s.json: tables[0] (\"A\").fields[0] (\"x\"): \"offset\" must be a whole number from 0 to "
       "65535, not 1.5"},
      {"{\"tables\": [{\"file\": \"A\", \"fields\": [{\"offset\": 0, \"length\": 4, "
       "\"type\": \"integer\"}]}]}",
       "s.json: tables[0] (\"A\").fields[0]: \"name\" is missing"},
      {"{\"tables\": [{\"file\": \"A\", \"fields\": [], \"recordTypes\": [{\"name\": \"t\", "
       "\"when\": {\"offset\": 0, \"length\": 2, \"equals\": \"4\"}, \"fields\": []}]}]}",
       "s.json: tables[0] (\"A\").recordTypes[0].when: the value must be 2 bytes in hex"},
      {"{\"tables\": [{\"file\": \"A\", \"fields\": [], \"recordTypes\": [{\"name\": \"t\", "
       "\"when\": {\"offset\": 0, \"length\": 1}, \"fields\": []}]}]}",
       "s.json: tables[0] (\"A\").recordTypes[0].when: needs \"equals\", or \"from\" and \"to\""},
      {"{\"tables\": [\n{\"file\": 7}]}", "s.json: tables[0]: \"file\" must be a string, not a number"},
      {"{\"tables\": [\n{\"file\": }]}", "s.json: line 2: unexpected character '}'"},
  };
  for (const auto& c : kCases) {
    Schema s;
    std::string error;
    EXPECT_FALSE(ParseSchema(c.text, "s.json", &s, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(SchemaFileTest, SchemaCorrectsADictionaryTableKeepingItsNamesAndKeys) {
  SchemaTable dictionary = {};
  dictionary.name = "Orders";
  dictionary.fields = {{1, "OrderNo", kDdfInteger, 0, 4, 0, 0},
                       {2, "Amount", kDdfInteger, 4, 8, 0, 0},
                       {3, "Note", kDdfString, 12, 10, 0, 0}};
  dictionary.keys = {{0, "", {{1, 0, 0, 0}}}};
  SchemaTable schema = {};
  schema.fields = {{1, "f0004_float", kDdfFloat, 4, 8, 0, 0},
                   {2, "Flag", kDdfLogical, 22, 1, 0, 0}};
  schema.evidence = {"IEEE double", ""};
  schema.recordTypes.resize(1);
  MergeSchemaInto(schema, &dictionary);
  ASSERT_EQ(dictionary.fields.size(), 4u);
  EXPECT_EQ(dictionary.fields[0].name, "OrderNo");
  EXPECT_EQ(dictionary.fields[1].name, "Amount");  // the positional name gives way
  EXPECT_EQ(dictionary.fields[1].dataType, kDdfFloat);
  EXPECT_EQ(dictionary.fields[3].name, "Flag");
  ASSERT_EQ(dictionary.keys.size(), 1u);
  EXPECT_EQ(dictionary.keys[0].segments[0].fieldIndex, 0);
  EXPECT_EQ(dictionary.recordTypes.size(), 1u);
}

// --- Drafts of known layouts ------------------------------------------------

void PutLE(uint8_t* p, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutText(uint8_t* p, const std::string& text, size_t width, uint8_t pad) {
  memset(p, pad, width);
  memcpy(p, text.data(), std::min(width, text.size()));
}

const char* const kNames[] = {"ALPHA", "BRAVO CHARLIE", "Delta", "echo foxtrot", "GOLF",
                              "Hotel India", "JULIETT", "kilo lima mike"};

// Layout A, 64 bytes:
//   0 20 string (blank padded)   20 4 integer   24 8 float    32 4 date
//  36 16 zstring ("C-" + number)  52 2 integer   54 4 zero    58 6 random
std::vector<uint8_t> RecordA(uint32_t i) {
  std::vector<uint8_t> r(64, 0);
  PutText(r.data(), kNames[i % 8] + std::string(i % 3, 'x'), 20, ' ');
  PutLE(r.data() + 20, 1000 + i * 37, 4);
  const double amount = 10.5 + i * 1.25;
  uint64_t bits = 0;
  memcpy(&bits, &amount, 8);
  PutLE(r.data() + 24, bits, 8);
  r[32] = static_cast<uint8_t>(1 + i % 28);
  r[33] = static_cast<uint8_t>(1 + i % 12);
  PutLE(r.data() + 34, 1990 + i % 20, 2);
  PutText(r.data() + 36, "C-" + std::to_string(i * 7), 16, 0);
  PutLE(r.data() + 52, static_cast<uint16_t>(static_cast<int16_t>(i % 500) - 100), 2);
  uint32_t state = 77 + i;
  for (int k = 58; k < 64; ++k) {
    state = state * 1103515245u + 12345u;
    r[k] = static_cast<uint8_t>(state >> 16);
  }
  return r;
}

struct Expected {
  uint16_t offset, size;
  uint8_t type;
};

const Expected kLayoutA[] = {{0, 20, kDdfString},   {20, 4, kDdfInteger}, {24, 8, kDdfFloat},
                             {32, 4, kDdfDate},     {36, 16, kDdfZstring}, {52, 2, kDdfInteger},
                             {54, 4, kSchemaBytes}, {58, 6, kSchemaBytes}};

std::string Describe(const std::vector<FieldDef>& fields) {
  std::string text;
  for (const FieldDef& f : fields) {
    text += std::to_string(f.offset) + "+" + std::to_string(f.size) + " " + f.name + "\n";
  }
  return text;
}

const Codepage& Cp437() {
  const Codepage* c = nullptr;
  FindCodepage(437, &c);
  return *c;
}

TEST(SchemaDraftTest, FindsTextIntegersFloatsDatesFillerAndRawBytes) {
  RecordSample sample;
  sample.fixedLength = 64;
  for (uint32_t i = 0; i < 300; ++i) {
    const std::vector<uint8_t> r = RecordA(i);
    AddSampleRecord(&sample, r.data(), static_cast<uint32_t>(r.size()));
  }
  SchemaTable table;
  DraftTable(sample, Cp437(), {}, &table);
  ASSERT_EQ(table.fields.size(), std::size(kLayoutA)) << Describe(table.fields);
  for (size_t i = 0; i < table.fields.size(); ++i) {
    const FieldDef& f = table.fields[i];
    EXPECT_EQ(f.offset, kLayoutA[i].offset) << Describe(table.fields);
    EXPECT_EQ(f.size, kLayoutA[i].size) << f.name;
    EXPECT_EQ(f.dataType, kLayoutA[i].type) << f.name;
    EXPECT_TRUE(IsPositionalName(f.name)) << f.name;
    EXPECT_NE(table.evidence[i].find("300 records"), std::string::npos) << table.evidence[i];
  }
  EXPECT_EQ(table.fields[3].name, "f0032_date");
  EXPECT_TRUE(table.recordTypes.empty());

  // A key the file declares is taken as it is, and the draft goes around it.
  KnownField key = {};
  key.field = {0, "key0", kDdfUnsignedBinary, 20, 4, 0, 0};
  DraftTable(sample, Cp437(), {key}, &table);
  ASSERT_GE(table.fields.size(), 2u);
  EXPECT_EQ(table.fields[1].name, "key0");
  EXPECT_EQ(table.fields[1].dataType, kDdfUnsignedBinary);
}

// Record type 'A': 1 12 lstring, 13 4 integer, 17 8 float.
// Record type 'B': 1 4 date, 5 20 string, 25 0 filler to the end (32).
std::vector<uint8_t> TypedRecord(uint32_t i) {
  std::vector<uint8_t> r(32, 0);
  if (i % 3 != 0) {
    r[0] = 'A';
    const std::string text = kNames[i % 8];
    r[1] = static_cast<uint8_t>(std::min<size_t>(text.size(), 11));
    memcpy(r.data() + 2, text.data(), r[1]);
    PutLE(r.data() + 13, 5000 + i * 11, 4);
    const double v = 0.5 + i;
    uint64_t bits = 0;
    memcpy(&bits, &v, 8);
    PutLE(r.data() + 17, bits, 8);
  } else {
    r[0] = 'B';
    r[1] = static_cast<uint8_t>(1 + i % 28);
    r[2] = static_cast<uint8_t>(1 + i % 12);
    PutLE(r.data() + 3, 2000 + i % 9, 2);
    PutText(r.data() + 5, kNames[(i / 3) % 8], 20, ' ');
  }
  return r;
}

TEST(SchemaDraftTest, TwoRecordTypesByLeadingByteEachWithItsLayout) {
  RecordSample sample;
  sample.fixedLength = 32;
  for (uint32_t i = 0; i < 300; ++i) {
    const std::vector<uint8_t> r = TypedRecord(i);
    AddSampleRecord(&sample, r.data(), 32);
  }
  SchemaTable table;
  DraftTable(sample, Cp437(), {}, &table);
  ASSERT_EQ(table.recordTypes.size(), 2u);
  const SchemaRecordType& a = table.recordTypes[0];
  const SchemaRecordType& b = table.recordTypes[1];
  EXPECT_EQ(a.when.offset, 0);
  EXPECT_EQ(a.when.from, std::vector<uint8_t>{'A'});
  EXPECT_EQ(b.when.from, std::vector<uint8_t>{'B'});
  auto has = [](const SchemaRecordType& t, uint16_t offset, uint16_t size, uint8_t type) {
    for (const FieldDef& f : t.fields) {
      if (f.offset == offset && f.size == size && f.dataType == type) return true;
    }
    return false;
  };
  EXPECT_TRUE(has(a, 0, 1, kDdfString)) << Describe(a.fields);
  EXPECT_TRUE(has(a, 13, 4, kDdfInteger)) << Describe(a.fields);
  EXPECT_TRUE(has(a, 17, 8, kDdfFloat)) << Describe(a.fields);
  EXPECT_TRUE(has(b, 1, 4, kDdfDate)) << Describe(b.fields);
  EXPECT_TRUE(has(b, 5, 20, kDdfString)) << Describe(b.fields);
  EXPECT_FALSE(has(b, 17, 8, kDdfFloat)) << Describe(b.fields);

  // One layout throughout, whatever the first byte: no record types.
  RecordSample one;
  one.fixedLength = 64;
  for (uint32_t i = 0; i < 300; ++i) {
    std::vector<uint8_t> r = RecordA(i);
    r[0] = static_cast<uint8_t>('A' + i % 4);
    AddSampleRecord(&one, r.data(), 64);
  }
  DraftTable(one, Cp437(), {}, &table);
  EXPECT_TRUE(table.recordTypes.empty()) << table.recordTypes.size();
}

// --- gandrel schema and gandrel export --schema -----------------------------

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(SchemaCommandTest, DraftedSchemaExportsTheSameRowsWithTypedColumns) {
  fixture::FixtureOptions o;
  o.version = 0x0600;
  o.pageSize = 1024;
  o.recordLength = 64;
  std::vector<fixture::FixtureRecord> records;
  for (uint32_t i = 0; i < 120; ++i) records.push_back({RecordA(i), {}});
  const fixture::BuiltFile built = fixture::BuildDataFile(o, records);
  ScopedTempDir dir;
  const std::string data = dir.File("ORDERS.DAT");
  WriteText(data, std::string(built.bytes.begin(), built.bytes.end()));
  const std::string schema = dir.File("orders.json");
  ASSERT_EQ(Gandrel({"schema", "-q", data.c_str(), "-o", schema.c_str()}), kExitOk);
  const std::string text = ReadText(schema);
  EXPECT_NE(text.find("\"file\": \"ORDERS.DAT\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"f0032_date\""), std::string::npos) << text;

  const std::string typed = dir.File("typed"), raw = dir.File("raw");
  ASSERT_EQ(Gandrel({"export", "-q", "--schema", schema.c_str(), "--format", "csv", "-o",
                     typed.c_str()}),
            kExitOk);
  ASSERT_EQ(Gandrel({"export", "-q", data.c_str(), "--format", "csv", "-o", raw.c_str()}),
            kExitOk);
  const std::vector<std::string> t = Lines(ReadText(typed + "/ORDERS.csv"));
  const std::vector<std::string> r = Lines(ReadText(raw + "/ORDERS.csv"));
  ASSERT_EQ(t.size(), 121u);
  ASSERT_EQ(r.size(), t.size());
  EXPECT_EQ(t[0],
            "f0000_string,f0020_integer,f0024_float,f0032_date,f0036_zstring,f0052_integer,"
            "f0054_filler,f0058_bytes,_page\r");
  for (size_t i = 1; i < t.size(); ++i) {
    const uint32_t n = static_cast<uint32_t>(i - 1);
    char date[16];
    snprintf(date, sizeof date, "%04u-%02u-%02u", 1990 + n % 20, 1 + n % 12, 1 + n % 28);
    const std::string expected = kNames[n % 8] + std::string(n % 3, 'x') + "," +
                                 std::to_string(1000 + n * 37) + ",";
    EXPECT_EQ(t[i].rfind(expected, 0), 0u) << t[i];
    EXPECT_NE(t[i].find(std::string(",") + date + ",C-" + std::to_string(n * 7) + ","),
              std::string::npos)
        << t[i];
    // The same page as the raw row of the same record.
    EXPECT_EQ(t[i].substr(t[i].rfind(',')), r[i].substr(r[i].rfind(','))) << i;
  }

  // The dictionary-less run's schema, with a field moved out of every record
  // by hand: that field is NULL and counted, the others still decode.
  std::string edited = text;
  const std::string last = "\"offset\": 58, \"length\": 6";
  const size_t at = edited.find(last);
  ASSERT_NE(at, std::string::npos);
  edited.replace(at, last.size(), "\"offset\": 60, \"length\": 6");
  WriteText(schema, edited);
  const std::string report = dir.File("report.json");
  ASSERT_EQ(Gandrel({"export", "-q", "--schema", schema.c_str(), "--format", "jsonl",
                     "--report", report.c_str(), "-o", dir.File("j").c_str()}),
            kExitOk);
  EXPECT_NE(ReadText(report).find("\"nullFields\":120"), std::string::npos) << ReadText(report);

  // A bad schema stops the export with its one line.
  WriteText(schema, "{\"tables\": [{\"file\": \"ORDERS.DAT\"}]}");
  EXPECT_EQ(Gandrel({"export", "-q", "--schema", schema.c_str(), "-o", dir.File("x").c_str()}),
            kExitUsage);
  // The data file was only read.
  EXPECT_EQ(fixture::ReadFileBytes(data), built.bytes);
}

TEST(SchemaCommandCorpusTest, ExchequerFileWithRecordTypesBecomesOneTablePerType) {
  const std::string file = GANDREL_CORPUS_V7_DIR "/exchequer-demo/MLocStk.Dat";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << file << " absent";
  ScopedTempDir dir;
  const std::string schema = dir.File("mlocstk.json");
  ASSERT_EQ(Gandrel({"schema", "-q", file.c_str(), "-o", schema.c_str()}), kExitOk);
  Schema s;
  std::string error;
  ASSERT_TRUE(LoadSchema(schema, &s, &error)) << error;
  ASSERT_EQ(s.tables.size(), 1u);
  const size_t types = s.tables[0].recordTypes.size();
  ASSERT_GE(types, 2u);
  const std::string report = dir.File("r.json");
  ASSERT_EQ(Gandrel({"export", "-q", "--schema", schema.c_str(), "--format", "csv", "--report",
                     report.c_str(), "-o", dir.File("csv").c_str()}),
            kExitOk);
  // One CSV per record type (and one for the records of none, if any),
  // together holding every record once.
  size_t tables = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("csv"))) {
    EXPECT_EQ(entry.path().extension(), ".csv");
    ++tables;
  }
  const std::string text = ReadText(report);
  size_t rows = 0;
  for (size_t at = text.find("\"rows\":"); at != std::string::npos;
       at = text.find("\"rows\":", at + 1)) {
    rows += std::stoul(text.substr(at + 7));
  }
  EXPECT_GE(tables, types);
  EXPECT_LE(tables, types + 1);
  EXPECT_EQ(rows, 2241u);  // the reader's record count of the file
}


TEST(SchemaCommandCorpusTest, DictionaryAsSchemaExportsExactlyAsTheDictionary) {
  const std::string doclife = GANDREL_CORPUS_DIR "/doclife";
  if (!std::filesystem::exists(doclife)) GTEST_SKIP() << doclife << " absent";
  ScopedTempDir dir;
  const std::string schema = dir.File("doclife.json");
  ASSERT_EQ(Gandrel({"schema", "-q", "--ddf", doclife.c_str(), "--codepage", "866", "-o",
                     schema.c_str()}),
            kExitOk);
  const std::string byDictionary = dir.File("ddf"), bySchema = dir.File("schema");
  ASSERT_EQ(Gandrel({"export", "-q", "--ddf", doclife.c_str(), "--codepage", "866", "--format",
                     "csv", "-o", byDictionary.c_str()}),
            kExitOk);
  ASSERT_EQ(Gandrel({"export", "-q", "--schema", schema.c_str(), "--codepage", "866", "--format",
                     "csv", "-o", bySchema.c_str()}),
            kExitOk);
  // The same files, byte for byte: names, columns, typing, NULLs, pages.
  // (Paths as path objects: the names are Cyrillic, which Windows opens
  // only through its wide-character names.)
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(byDictionary)) {
    const std::string text = ReadPath(entry.path());
    EXPECT_FALSE(text.empty()) << entry.path();
    EXPECT_EQ(text, ReadPath(std::filesystem::path(bySchema) / entry.path().filename()))
        << entry.path();
    ++files;
  }
  EXPECT_EQ(files, 27u);  // the tables whose data file is there

  // --ddf with a schema that corrects one field of one table: Договор's
  // Дата_заключения at 15 read as raw bytes instead; other tables as before.
  WriteText(schema, R"({"tables": [{"file": "F17.DAT", "name": "Договор", "fields": [
      {"name": "f0015_bytes", "offset": 15, "length": 4, "type": "bytes"}]}]})");
  const std::string corrected = dir.File("corrected");
  ASSERT_EQ(Gandrel({"export", "-q", "--ddf", doclife.c_str(), "--schema", schema.c_str(),
                     "--codepage", "866", "--format", "csv", "-o", corrected.c_str()}),
            kExitOk);
  const std::filesystem::path contracts(std::u8string(u8"Договор.csv"));
  const std::filesystem::path payments(std::u8string(u8"Оплаты_по_договору.csv"));
  const std::vector<std::string> before =
      Lines(ReadPath(std::filesystem::path(byDictionary) / contracts));
  const std::vector<std::string> after = Lines(ReadPath(std::filesystem::path(corrected) / contracts));
  ASSERT_EQ(before.size(), after.size());
  ASSERT_GT(before.size(), 1u);
  // The positional name gives way to the dictionary's; the value is now
  // the field's four bytes in hex (01 04 CB 07: 1995-04-01).
  EXPECT_EQ(before[0], after[0]);
  EXPECT_NE(before[1].find(",1995-04-01,"), std::string::npos) << before[1];
  EXPECT_NE(after[1].find(",0104cb07,"), std::string::npos) << after[1];
  const std::string paid = ReadPath(std::filesystem::path(byDictionary) / payments);
  EXPECT_FALSE(paid.empty());
  EXPECT_EQ(paid, ReadPath(std::filesystem::path(corrected) / payments));
}

}  // namespace
