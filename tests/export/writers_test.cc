#include "export/export.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fixture/fixture_writer.h"

#ifdef GANDREL_HAVE_SQLITE
#include <sqlite3.h>
#endif

namespace {

namespace fs = std::filesystem;

struct ScopedFolder {
  fs::path path;
  ScopedFolder() {
    path = fs::temp_directory_path() /
           ("gandrel-export-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    fs::remove_all(path);
  }
  ~ScopedFolder() {
    std::error_code error;
    fs::remove_all(path, error);
  }
};

// A table of three fields: a 12-byte string, a 2-byte integer, a date; two
// of its names clash (case aside), and one key over the integer and the
// string.
TableDef SampleTable() {
  TableDef t = {};
  t.id = 40;
  t.name = "Orders";
  t.fields = {
      {.id = 1, .name = "Note", .dataType = kDdfString, .offset = 0, .size = 12, .decimals = 0, .flags = 0},
      {.id = 2, .name = "NOTE", .dataType = kDdfInteger, .offset = 12, .size = 2, .decimals = 0, .flags = 0},
      {.id = 3, .name = "When", .dataType = kDdfDate, .offset = 14, .size = 4, .decimals = 0, .flags = 0},
  };
  t.keys = {{.number = 0, .name = "", .segments = {{.fieldId = 2, .fieldIndex = 1, .segment = 1, .flags = 0},
                                                    {.fieldId = 1, .fieldIndex = 0, .segment = 2, .flags = 0}}}};
  return t;
}

std::vector<uint8_t> SampleRecord(const std::string& note, int16_t number, uint8_t month) {
  std::vector<uint8_t> r(18, ' ');
  for (size_t i = 0; i < note.size() && i < 12; ++i) r[i] = static_cast<uint8_t>(note[i]);
  fixture::PutLE16(r, 12, static_cast<uint16_t>(number));
  r[14] = 9;
  r[15] = month;
  fixture::PutLE16(r, 16, 2024);
  return r;
}

const std::vector<std::string> kNotes = {"a,b", "say \"hi\"", "l1\r\nl2", std::string("nul\0in", 6), "plain"};

// RFC 4180 reader for the round trip: quoted fields, doubled quotes, CR LF
// rows; a bare LF or CR inside a quoted field is data.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  size_t i = 0;
  bool quoted = false;
  while (i < text.size()) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') { field += '"'; i += 2; continue; }
      if (c == '"') { quoted = false; ++i; continue; }
      field += c;
      ++i;
    } else if (c == '"') {
      quoted = true;
      ++i;
    } else if (c == ',') {
      rows.back().push_back(field);
      field.clear();
      ++i;
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.back().push_back(field);
      field.clear();
      rows.emplace_back();
      i += 2;
    } else {
      field += c;
      ++i;
    }
  }
  if (rows.back().empty()) rows.pop_back();
  return rows;
}

std::string ReadText(const fs::path& path) {
  const std::vector<uint8_t> bytes = fixture::ReadFileBytes(path.string());
  return std::string(bytes.begin(), bytes.end());
}

void CollectProblem(void* context, const std::string& line) {
  static_cast<std::vector<std::string>*>(context)->push_back(line);
}

const Codepage& Cp437() {
  const Codepage* codepage = nullptr;
  FindCodepage(437, &codepage);
  return *codepage;
}

// Writes the notes as rows (number = index - 1, month = index + 9, so the
// fifth row's month 13 does not decode), and one record too short for the date.
TableCounts WriteSample(ExportFormat format, const std::string& destination,
                        std::vector<std::string>* problems) {
  ExportWriter w = {};
  w.report = CollectProblem;
  w.reportContext = problems;
  EXPECT_EQ(OpenExport(format, destination, Cp437(), &w), kExportOk);
  EXPECT_EQ(BeginTable(&w, SampleTable()), kExportOk);
  for (size_t i = 0; i < kNotes.size(); ++i) {
    const std::vector<uint8_t> r = SampleRecord(kNotes[i], static_cast<int16_t>(i) - 1,
                                                static_cast<uint8_t>(9 + i));
    EXPECT_EQ(WriteRow(&w, r.data(), static_cast<uint32_t>(r.size()), 100 + i), kExportOk);
  }
  const std::vector<uint8_t> cut = SampleRecord("cut", 7, 1);
  EXPECT_EQ(WriteRow(&w, cut.data(), 15, 200), kExportOk);
  TableCounts counts = {};
  EXPECT_EQ(EndTable(&w, &counts), kExportOk);
  EXPECT_EQ(CloseExport(&w), kExportOk);
  return counts;
}

}  // namespace

// --- CSV ----------------------------------------------------------------------

TEST(CsvWriterTest, RoundTripKeepsCommasQuotesLineBreaksAndNuls) {
  ScopedFolder dir;
  std::vector<std::string> problems;
  const TableCounts counts = WriteSample(ExportFormat::Csv, dir.path.string(), &problems);
  EXPECT_EQ(counts.rows, 6);
  EXPECT_EQ(counts.nullFields, 2);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0], "Orders record 5: field When (date, offset 14, size 4): date out of range");
  EXPECT_EQ(problems[1],
            "Orders record 6: field When (date, offset 14, size 4): field reaches past the record's end");

  const std::string text = ReadText(dir.path / "Orders.csv");
  // Only fields that need it are quoted; a NUL is quoted too.
  EXPECT_NE(text.find(std::string("\r\n\"nul\0in\",2,2024-12-09,103\r\nplain,3,,104\r\n", 43)),
            std::string::npos);
  const std::vector<std::vector<std::string>> rows = ParseCsv(text);
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"Note", "NOTE_2", "When", "_page"}));
  for (size_t i = 0; i < kNotes.size(); ++i) {
    ASSERT_EQ(rows[i + 1].size(), 4u) << i;
    EXPECT_EQ(rows[i + 1][0], kNotes[i]);
    EXPECT_EQ(rows[i + 1][1], std::to_string(static_cast<int>(i) - 1));
    EXPECT_EQ(rows[i + 1][2], i < 4 ? "2024-" + std::string(i < 1 ? "0" : "") +
                                          std::to_string(9 + i) + "-09"
                                    : "");
    EXPECT_EQ(rows[i + 1][3], std::to_string(100 + i));
  }
  EXPECT_EQ(rows[6], (std::vector<std::string>{"cut", "7", "", "200"}));
}

// --- JSON Lines and the raw form ------------------------------------------------------

TEST(JsonlWriterTest, OneObjectPerRecordWithTypedMembers) {
  ScopedFolder dir;
  std::vector<std::string> problems;
  WriteSample(ExportFormat::Jsonl, dir.path.string(), &problems);
  const std::string text = ReadText(dir.path / "Orders.jsonl");
  const std::string first = text.substr(0, text.find('\n'));
  EXPECT_EQ(first, R"({"Note":"a,b","NOTE_2":-1,"When":"2024-09-09","_page":100})");
  EXPECT_NE(text.find(R"({"Note":"nul\u0000in","NOTE_2":2,"When":"2024-12-09","_page":103})"),
            std::string::npos);
  EXPECT_NE(text.find(R"("When":null,"_page":200})"), std::string::npos);
}

TEST(JsonlWriterTest, RawTablesCarryNumberLengthAndHex) {
  ScopedFolder dir;
  ExportWriter w = {};
  ASSERT_EQ(OpenExport(ExportFormat::Jsonl, dir.path.string(), Cp437(), &w), kExportOk);
  EXPECT_EQ(WriteRow(&w, nullptr, 0, 0), kExportNotInTable);
  ASSERT_EQ(BeginRawTable(&w, "F10/x"), kExportOk);
  const uint8_t r1[] = {0x00, 0xAB, 0xFF};
  ASSERT_EQ(WriteRow(&w, r1, 3, 7), kExportOk);
  ASSERT_EQ(WriteRow(&w, r1, 1, 8), kExportOk);
  EXPECT_EQ(BeginRawTable(&w, "other"), kExportNotInTable);
  ASSERT_EQ(EndTable(&w, nullptr), kExportOk);
  // A name met before, or one Windows keeps for a device, gets a new file.
  for (const char* name : {"f10:X", "nul"}) {
    ASSERT_EQ(BeginRawTable(&w, name), kExportOk);
    ASSERT_EQ(EndTable(&w, nullptr), kExportOk);
  }
  ASSERT_EQ(CloseExport(&w), kExportOk);
  EXPECT_TRUE(fs::exists(dir.path / "f10_X_2.jsonl"));
  EXPECT_TRUE(fs::exists(dir.path / "nul_.jsonl"));
  EXPECT_EQ(ReadText(dir.path / "F10_x.jsonl"),
            "{\"record\":1,\"length\":3,\"data\":\"00abff\",\"_page\":7}\n"
            "{\"record\":2,\"length\":1,\"data\":\"00\",\"_page\":8}\n");
}

// --- SQLite -----------------------------------------------------------------------

#ifdef GANDREL_HAVE_SQLITE
TEST(SqliteWriterTest, RowsTypesRawRecordsAndIndexesReadBack) {
  ScopedFolder dir;
  fs::create_directories(dir.path);
  const std::string file = (dir.path / "out.sqlite").string();
  std::vector<std::string> problems;
  const TableCounts counts = WriteSample(ExportFormat::Sqlite, file, &problems);
  EXPECT_EQ(counts.rows, 6);
  EXPECT_EQ(counts.nullFields, 2);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* q = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db,
                               "SELECT Note, typeof(NOTE_2), NOTE_2, typeof(\"When\"), \"When\", "
                               "_record, _page FROM Orders ORDER BY rowid",
                               -1, &q, nullptr),
            SQLITE_OK);
  size_t row = 0;
  while (sqlite3_step(q) == SQLITE_ROW) {
    const std::string note(reinterpret_cast<const char*>(sqlite3_column_blob(q, 0)),
                           sqlite3_column_bytes(q, 0));
    const std::vector<uint8_t> record(
        static_cast<const uint8_t*>(sqlite3_column_blob(q, 5)),
        static_cast<const uint8_t*>(sqlite3_column_blob(q, 5)) + sqlite3_column_bytes(q, 5));
    if (row < kNotes.size()) {
      EXPECT_EQ(note, kNotes[row]);
      EXPECT_EQ(record, SampleRecord(kNotes[row], static_cast<int16_t>(row) - 1,
                                     static_cast<uint8_t>(9 + row)));
      EXPECT_EQ(sqlite3_column_int64(q, 2), static_cast<int64_t>(row) - 1);
    } else {
      EXPECT_EQ(record.size(), 15u);
    }
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(q, 1)), "integer");
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(q, 3)),
                 row < 4 ? "text" : "null");
    EXPECT_EQ(sqlite3_column_int64(q, 6), row < 5 ? static_cast<int64_t>(100 + row) : 200);
    ++row;
  }
  EXPECT_EQ(row, 6u);
  sqlite3_finalize(q);
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_master WHERE type = 'index'", -1, &q,
                               nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)),
               "CREATE INDEX \"Orders_key0\" ON \"Orders\" (\"NOTE_2\", \"Note\")");
  EXPECT_EQ(sqlite3_step(q), SQLITE_DONE);
  sqlite3_finalize(q);
  sqlite3_close(db);

  // A second export into the same database meets the table and says so.
  ExportWriter w = {};
  w.report = CollectProblem;
  w.reportContext = &problems;
  ASSERT_EQ(OpenExport(ExportFormat::Sqlite, file, Cp437(), &w), kExportOk);
  EXPECT_EQ(BeginTable(&w, SampleTable()), kExportDatabaseError);
  EXPECT_EQ(CloseExport(&w), kExportOk);
  EXPECT_NE(problems.back().find("already exists"), std::string::npos) << problems.back();
}
#else
TEST(SqliteWriterTest, BuildWithoutSqliteSaysSo) {
  ExportWriter w = {};
  EXPECT_EQ(OpenExport(ExportFormat::Sqlite, "x.sqlite", Cp437(), &w), kExportNoSqlite);
}
#endif
