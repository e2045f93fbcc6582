// The gandrel program itself, run as a child process (under Wine for the
// Windows build), drafts a schema for a data file built in code and exports
// through it to SQLite: the database holds every record, in typed columns.
// This is what shows that a build, the 32-bit Windows one included, writes
// SQLite.
#ifdef GANDREL_HAVE_SQLITE
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "tests/console/process_runner.h"
#include "tests/fixture/fixture_writer.h"

namespace {

// 40-byte records: 0 16 blank-padded text, 16 4 integer, 20 8 double,
// 28 4 date (day, month, year), 32 8 zero.
std::vector<uint8_t> Record(uint32_t i) {
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

std::string One(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* q = nullptr;
  std::string text = "(prepare failed: " + sql + ")";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr) == SQLITE_OK) {
    const bool row = sqlite3_step(q) == SQLITE_ROW && sqlite3_column_text(q, 0) != nullptr;
    text = row ? reinterpret_cast<const char*>(sqlite3_column_text(q, 0)) : "";
  }
  sqlite3_finalize(q);
  return text;
}

TEST(SqliteProcessTest, ProgramDraftsASchemaAndExportsTypedSqlite) {
  fixture::FixtureOptions o;
  o.version = 0x0700;
  o.pageSize = 1024;
  o.recordLength = 40;
  std::vector<fixture::FixtureRecord> records;
  for (uint32_t i = 0; i < 90; ++i) records.push_back({Record(i), {}});
  const fixture::BuiltFile built = fixture::BuildDataFile(o, records);
  ScopedTempDir dir;
  const std::string data = dir.File("PEOPLE.DAT");
  std::ofstream(data, std::ios::binary)
      .write(reinterpret_cast<const char*>(built.bytes.data()),
             static_cast<std::streamsize>(built.bytes.size()));
  const std::string schema = dir.File("people.json");
  ProcessResult r = RunProcess(GANDREL_PATH, {"schema", data, "-o", schema});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string out = dir.File("people.sqlite");
  r = RunProcess(GANDREL_PATH, {"export", "--schema", schema, "-o", out});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("(sqlite, code page 437)"), std::string::npos) << r.err;

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(out.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  EXPECT_EQ(One(db, "SELECT count(*) FROM PEOPLE"), "90");
  EXPECT_EQ(One(db, "SELECT f0000_string || '|' || typeof(f0016_integer) || ' ' || f0016_integer "
                    "|| '|' || typeof(f0020_float) || ' ' || f0020_float || '|' || f0028_date "
                    "FROM PEOPLE ORDER BY f0016_integer LIMIT 1 OFFSET 7"),
            "Clara7|integer 100091|real 26.75|2003-08-08")
      << std::string(std::istreambuf_iterator<char>(std::ifstream(schema).rdbuf()), {});
  EXPECT_EQ(One(db, "SELECT count(*) FROM PEOPLE WHERE length(_record) = 40"), "90");
  sqlite3_close(db);
}

}  // namespace
#endif  // GANDREL_HAVE_SQLITE
