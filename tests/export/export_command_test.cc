// gandrel export run in process: a damaged file built in code exported raw,
// and the real dictionaries of the corpus exported to SQLite and read back
// (row counts against the reader's record counts, values against the
// bytes); and the gandrel program run as a child process, drafting a schema
// and exporting typed SQLite through it.  The corpus tests skip where the
// corpus is absent.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#ifdef GANDREL_HAVE_SQLITE
#include <sqlite3.h>
#endif

#include "export/dictionary.h"
#include "gandrel/command_line.h"
#include "reader/datafile.h"
#include "tests/console/process_runner.h"
#include "tests/fixture/fixture_writer.h"

namespace {

int Export(std::vector<const char*> args) {
  args.insert(args.begin(), {"gandrel", "export", "-q"});
  return RunGandrel(static_cast<int>(args.size()), args.data());
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) text += {kHex[b >> 4], kHex[b & 15]};
  return text;
}

TEST(ExportCommandTest, DamagedFileExportsWhatSalvageFindsWithPagesAndReport) {
  fixture::FixtureOptions o;
  o.version = 0x0800;
  o.pageSize = 512;
  o.recordLength = 40;
  fixture::BuiltFile built = fixture::BuildDataFile(o, fixture::MakeRecords(60, 40, 0, 7));
  ASSERT_GT(built.dataPages.size(), 3u);
  // The second data page's header no longer names a data page.
  const size_t damaged = static_cast<size_t>(fixture::PhysicalPageOffset(o, built.dataPages[1]));
  for (size_t i = 0; i < 6; ++i) built.bytes[damaged + i] = 0xEE;
  fixture::ScopedTempFile file(built.bytes, ".dat");
  ScopedTempDir dir;
  ASSERT_EQ(Export({file.path().c_str(), "--format", "csv", "-o", dir.File("csv").c_str(),
                    "--report", dir.File("r.json").c_str()}),
            kExitDamaged);

  // Every row is one record of an undamaged page, with that page's number.
  const std::string stem = std::filesystem::path(file.path()).stem().string();
  std::istringstream csv(ReadText(dir.File("csv") + "/" + stem + ".csv"));
  std::string line;
  std::getline(csv, line);
  EXPECT_EQ(line, "record,length,data,_page\r");
  size_t rows = 0;
  for (size_t i = 0; i < built.records.size(); ++i) {
    size_t page = 0;
    while (built.dataPages[page] != built.recordPages[i][0]) ++page;
    if (page == 1) continue;
    ASSERT_TRUE(std::getline(csv, line));
    EXPECT_EQ(line, std::to_string(++rows) + ",40," + Hex(built.records[i].fixed) + "," +
                        std::to_string(built.dataPageNumbers[page]) + "\r");
  }
  EXPECT_FALSE(std::getline(csv, line)) << line;
  EXPECT_LT(rows, built.records.size());
  const std::string report = ReadText(dir.File("r.json"));
  EXPECT_NE(report.find("\"rows\":" + std::to_string(rows)), std::string::npos);
  EXPECT_NE(report.find("\"status\":\"damaged\""), std::string::npos) << report;
  EXPECT_NE(report.find("\"headerCount\":60"), std::string::npos) << report;

  // The data file is never the output.
  EXPECT_EQ(Export({file.path().c_str(), "--format", "jsonl", "--report", file.path().c_str(),
                    "-o", dir.File("j").c_str()}),
            kExitUsage);
  EXPECT_EQ(fixture::ReadFileBytes(file.path()), built.bytes);
}

#ifdef GANDREL_HAVE_SQLITE
struct Database {
  sqlite3* db = nullptr;
  explicit Database(const std::string& path) {
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  }
  ~Database() { sqlite3_close(db); }
  // The first column of the first row as text ("" when there is none).
  std::string One(const std::string& sql) const {
    sqlite3_stmt* q = nullptr;
    std::string text = "(prepare failed: " + sql + ")";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr) == SQLITE_OK) {
      const bool row = sqlite3_step(q) == SQLITE_ROW && sqlite3_column_text(q, 0) != nullptr;
      text = row ? reinterpret_cast<const char*>(sqlite3_column_text(q, 0)) : "";
    }
    sqlite3_finalize(q);
    return text;
  }
};

// Exports the dictionary of `ddf` (data in `data`, when given) and checks
// that every table whose file exists holds the reader's record count.
void ExportAndCountRows(const std::string& ddf, const std::string& data, uint16_t codepage,
                        const std::string& out) {
  const std::string cp = std::to_string(codepage);
  std::vector<const char*> args = {"--ddf", ddf.c_str(), "--codepage", cp.c_str(), "-o",
                                   out.c_str()};
  if (!data.empty()) args.insert(args.end(), {"--data", data.c_str()});
  ASSERT_EQ(Export(args), kExitOk);
  const Codepage* table = nullptr;
  ASSERT_EQ(FindCodepage(codepage, &table), kCodepageOk);
  Dictionary d;
  ASSERT_EQ(LoadDictionary(ddf, *table, &d), kDictionaryOk);
  if (!data.empty()) ResolveTablePaths(data, &d);
  const Database db(out);
  int found = 0;
  for (const TableDef& t : d.tables) {
    if (t.path.empty()) continue;
    DataFile df = {};
    ASSERT_EQ(OpenDataFile(t.path.c_str(), &df, ReaderVariant::Console), kReaderOk) << t.path;
    EXPECT_EQ(db.One("SELECT count(*) FROM \"" + t.name + "\""), std::to_string(df.recordCount))
        << t.name << " " << t.path;
    CloseDataFile(&df, kReaderOk);
    ++found;
  }
  EXPECT_GT(found, 0);
}

TEST(ExportCommandCorpusTest, DoclifeToSqliteWithCyrillicColumnsDatesAndFloats) {
  const std::string doclife = GANDREL_CORPUS_DIR "/doclife";
  if (!std::filesystem::exists(doclife)) GTEST_SKIP() << doclife << " absent";
  ScopedTempDir dir;
  const std::string out = dir.File("doclife.sqlite");
  ExportAndCountRows(doclife, "", 866, out);
  const Database db(out);
  // 27 of the 30 tables have a data file (form, report and view do not).
  EXPECT_EQ(db.One("SELECT count(*) FROM sqlite_master WHERE type = 'table'"), "27");
  // F13.DAT's one record, on the data page at 12288 whose header names
  // logical page 3: дата 0A 0A CA 07, Сумма the double C0 71 BC 93 84 43 D9 42.
  EXPECT_EQ(db.One("SELECT дата || ' ' || Сумма || ' ' || _page || ' ' || hex(substr(_record, 17, "
                   "12)) FROM Движение_средств"),
            "1994-10-10 111111111111111.0 3 0A0ACA07C071BC938443D942");
  // Договор: Дата_окончания 1F 0C CB 07 (1995-12-31); three keys, three indexes.
  EXPECT_EQ(db.One("SELECT Дата_окончания FROM Договор WHERE Номер_договора = '00-002513 (2'"),
            "1995-12-31");
  EXPECT_EQ(db.One("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND "
                   "tbl_name = 'Договор'"),
            "3");
}

TEST(ExportCommandCorpusTest, ExchequerDictionaryWithDataInSiblingFolders) {
  const std::string v7 = GANDREL_CORPUS_V7_DIR;
  if (!std::filesystem::exists(v7 + "/exchequer-ddf")) GTEST_SKIP() << v7 << " absent";
  ScopedTempDir dir;
  for (const char* data : {"exchequer-demo", "exchequer-blank-mc", "exchequer-blank-sc"}) {
    SCOPED_TRACE(data);
    ExportAndCountRows(v7 + "/exchequer-ddf", v7 + "/" + data, 437, dir.File(data));
  }
  ExportAndCountRows(v7 + "/exchequer-plugin-contacts", "", 437, dir.File("contacts"));
  // SOR000066 of the demo company: thLineType4 at 763 is the double
  // 29 5C 8F C2 45 1C D1 40, thTransDate at 52 the lstring 08 "19990211".
  const Database db(dir.File("exchequer-demo"));
  EXPECT_EQ(db.One("SELECT thLineType4 || ' ' || hex(substr(_record, 764, 8)) || ' ' || "
                   "hex(substr(_record, 53, 9)) || ' ' || thTransDate FROM Transactions "
                   "WHERE thOurRef = 'SOR000066'"),
            "17521.09 295C8FC2451CD140 083139393930323131 19990211");
}
// 40-byte records: 0 16 blank-padded text, 16 4 integer, 20 8 double,
// 28 4 date (day, month, year), 32 8 zero.
std::vector<uint8_t> PeopleRecord(uint32_t i) {
  std::vector<uint8_t> r(40, 0);
  const std::string names[] = {"Anna", "Boris Petrov", "Clara", "Dmitri Ivanov", "Eva"};
  memset(r.data(), ' ', 16);
  const std::string name = names[i % 5] + std::to_string(i);
  memcpy(r.data(), name.data(), name.size());
  const uint32_t n = 100000 + i * 13;
  for (int k = 0; k < 4; ++k) r[16 + k] = static_cast<uint8_t>(n >> (8 * k));
  const double amount = 3.75 * i + 0.5;
  uint64_t bits = 0;
  memcpy(&bits, &amount, 8);
  for (int k = 0; k < 8; ++k) r[20 + k] = static_cast<uint8_t>(bits >> (8 * k));
  r[28] = static_cast<uint8_t>(1 + i % 28);
  r[29] = static_cast<uint8_t>(1 + i % 12);
  r[30] = static_cast<uint8_t>((2001 + i % 5) & 0xFF);
  r[31] = static_cast<uint8_t>((2001 + i % 5) >> 8);
  return r;
}

TEST(SqliteProcessTest, ProgramDraftsASchemaAndExportsTypedSqlite) {
  fixture::FixtureOptions o;
  o.version = 0x0700;
  o.pageSize = 1024;
  o.recordLength = 40;
  std::vector<fixture::FixtureRecord> records;
  for (uint32_t i = 0; i < 90; ++i) records.push_back({PeopleRecord(i), {}});
  const fixture::BuiltFile built = fixture::BuildDataFile(o, records);
  ScopedTempDir dir;
  const std::string data = dir.File("PEOPLE.DAT");
  std::ofstream(data, std::ios::binary)
      .write(reinterpret_cast<const char*>(built.bytes.data()),
             static_cast<std::streamsize>(built.bytes.size()));
  // The program itself, as a child process (under Wine for the Windows
  // build): what shows that a build writes SQLite.
  const std::string schema = dir.File("people.json");
  ProcessResult r = RunProcess(GANDREL_PATH, {"schema", data, "-o", schema});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string out = dir.File("people.sqlite");
  r = RunProcess(GANDREL_PATH, {"export", "--schema", schema, "-o", out});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("(sqlite, code page 437)"), std::string::npos) << r.err;

  const Database db(out);
  EXPECT_EQ(db.One("SELECT count(*) FROM PEOPLE"), "90");
  EXPECT_EQ(db.One("SELECT f0000_string || '|' || typeof(f0016_integer) || ' ' || f0016_integer "
                    "|| '|' || typeof(f0020_float) || ' ' || f0020_float || '|' || f0028_date "
                    "FROM PEOPLE ORDER BY f0016_integer LIMIT 1 OFFSET 7"),
            "Clara7|integer 100091|real 26.75|2003-08-08")
      << ReadText(schema);
  EXPECT_EQ(db.One("SELECT count(*) FROM PEOPLE WHERE length(_record) = 40"), "90");
}

#endif

}  // namespace
