#include "export/dictionary.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fixture/fixture_writer.h"

namespace {

const Codepage& Cp(uint16_t number) {
  const Codepage* codepage = nullptr;
  EXPECT_EQ(FindCodepage(number, &codepage), kCodepageOk);
  return *codepage;
}

void PutText(std::vector<uint8_t>& bytes, size_t offset, const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) bytes[offset + i] = static_cast<uint8_t>(text[i]);
}

std::vector<uint8_t> FieldRecord(uint16_t id, uint16_t file, const std::string& name,
                                 uint8_t type, uint16_t offset, uint16_t size) {
  std::vector<uint8_t> r(kFieldRowLength, ' ');
  fixture::PutLE16(r, 0, id);
  fixture::PutLE16(r, 2, file);
  PutText(r, 4, name);
  r[24] = type;
  fixture::PutLE16(r, 25, offset);
  fixture::PutLE16(r, 27, size);
  r[29] = 2;
  fixture::PutLE16(r, 30, 0x0004);
  return r;
}

// A folder under the temporary directory, removed with everything in it.
struct ScopedFolder {
  std::filesystem::path path;
  ScopedFolder() {
    path = std::filesystem::temp_directory_path() /
           ("gandrel-dict-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    std::filesystem::create_directories(path);
  }
  ~ScopedFolder() {
    std::error_code error;
    std::filesystem::remove_all(path, error);
  }
};

}  // namespace

// --- Code pages -----------------------------------------------------------------

TEST(CodepageTest, UpperHalvesAndUnknownPages) {
  const uint8_t bytes[] = {'A', 0x80, 0xE1};
  std::string out;
  AppendCodepageText(Cp(866), bytes, 3, &out);
  EXPECT_EQ(out, "A\xD0\x90\xD1\x81");  // A, А, с
  out.clear();
  AppendCodepageText(Cp(437), bytes, 3, &out);
  EXPECT_EQ(out, "A\xC3\x87\xC3\x9F");  // A, Ç, ß
  out.clear();
  const uint8_t windows[] = {0x80, 0x81, 0xE9};
  AppendCodepageText(Cp(1252), windows, 3, &out);
  EXPECT_EQ(out, "\xE2\x82\xAC\xC2\x81\xC3\xA9");  // €, U+0081, é
  out.clear();
  AppendCodepageText(Cp(850), windows + 2, 1, &out);
  EXPECT_EQ(out, "\xC3\x9A");  // Ú
  const Codepage* codepage = nullptr;
  EXPECT_EQ(FindCodepage(999, &codepage), kCodepageUnknown);
  EXPECT_EQ(codepage, nullptr);
}

// --- Rows and table definitions ----------------------------------------------------

TEST(DictionaryTest, RowsParseAndShortRowsAreRefused) {
  std::vector<uint8_t> file(97, 0);
  fixture::PutLE16(file, 0, 12);
  PutText(file, 2, "\x84\xAE\xA3\xAE\xA2\xAE\xE0   ");  // Договор in cp866
  PutText(file, 22, "DATA\\F12.DAT");
  file[86] = 0x10;
  DdfFileRow row = {};
  ASSERT_EQ(ParseFileRow(file.data(), 97, Cp(866), &row), kDictionaryOk);
  EXPECT_EQ(row.id, 12);
  EXPECT_EQ(row.name, "\xD0\x94\xD0\xBE\xD0\xB3\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x80");
  EXPECT_EQ(row.location, "DATA\\F12.DAT");
  EXPECT_EQ(row.flags, 0x10);
  EXPECT_EQ(ParseFileRow(file.data(), 86, Cp(866), &row), kDictionaryShortRow);

  const std::vector<uint8_t> field = FieldRecord(7, 12, "Amount", kDdfDecimal, 300, 6);
  DdfFieldRow f = {};
  ASSERT_EQ(ParseFieldRow(field.data(), 32, Cp(437), &f), kDictionaryOk);
  EXPECT_EQ(f.name, "Amount");
  EXPECT_EQ(f.dataType, kDdfDecimal);
  EXPECT_EQ(f.offset, 300);
  EXPECT_EQ(f.size, 6);
  EXPECT_EQ(f.decimals, 2);
  EXPECT_EQ(f.flags, 4);
  EXPECT_EQ(ParseFieldRow(field.data(), 31, Cp(437), &f), kDictionaryShortRow);

  const std::vector<uint8_t> index = {3, 0, 7, 0, 1, 0, 2, 0, 0x10, 0x01};
  DdfIndexRow i = {};
  ASSERT_EQ(ParseIndexRow(index.data(), 10, &i), kDictionaryOk);
  EXPECT_EQ(i.fileId, 3);
  EXPECT_EQ(i.fieldId, 7);
  EXPECT_EQ(i.keyNumber, 1);
  EXPECT_EQ(i.segment, 2);
  EXPECT_EQ(i.flags, 0x110);
  EXPECT_EQ(ParseIndexRow(index.data(), 9, &i), kDictionaryShortRow);
}

TEST(DictionaryTest, FieldsSortByOffsetKeysGroupBySegmentAndStraysAreReported) {
  const std::vector<DdfFileRow> files = {{.id = 5, .name = "T", .location = "t.dat", .flags = 0}};
  std::vector<DdfFieldRow> fields;
  auto add = [&](uint16_t id, uint16_t file, const char* name, uint8_t type, uint16_t offset) {
    fields.push_back({.id = id, .fileId = file, .name = name, .dataType = type,
                      .offset = offset, .size = 2, .decimals = 0, .flags = 0});
  };
  add(1, 5, "c", kDdfInteger, 4);
  add(2, 5, "a", kDdfInteger, 0);
  add(3, 5, "b1", kDdfInteger, 2);
  add(4, 5, "b2", kDdfInteger, 2);   // same offset: stays after b1
  add(5, 5, "ByName", kDdfKeyName, 1);  // names key 1, not a field
  add(6, 9, "stray", kDdfInteger, 0);   // no such file
  const std::vector<DdfIndexRow> indexes = {
      {.fileId = 5, .fieldId = 1, .keyNumber = 1, .segment = 2, .flags = 0},
      {.fileId = 5, .fieldId = 2, .keyNumber = 0, .segment = 1, .flags = 0},
      {.fileId = 5, .fieldId = 3, .keyNumber = 1, .segment = 1, .flags = 0},
      {.fileId = 5, .fieldId = 77, .keyNumber = 2, .segment = 1, .flags = 0},
  };
  Dictionary d;
  BuildDictionary(files, fields, indexes, "", &d);
  ASSERT_EQ(d.tables.size(), 1u);
  const TableDef& t = d.tables[0];
  ASSERT_EQ(t.fields.size(), 4u);
  EXPECT_EQ(t.fields[0].name, "a");
  EXPECT_EQ(t.fields[1].name, "b1");
  EXPECT_EQ(t.fields[2].name, "b2");
  EXPECT_EQ(t.fields[3].name, "c");
  ASSERT_EQ(t.keys.size(), 3u);
  EXPECT_EQ(t.keys[0].number, 0);
  EXPECT_EQ(t.keys[1].name, "ByName");
  ASSERT_EQ(t.keys[1].segments.size(), 2u);
  EXPECT_EQ(t.keys[1].segments[0].fieldIndex, 1);  // b1
  EXPECT_EQ(t.keys[1].segments[1].fieldIndex, 3);  // c
  EXPECT_EQ(t.keys[2].segments[0].fieldIndex, -1);
  EXPECT_EQ(d.problems.size(), 2u);  // the stray field and the unknown key field
}

TEST(DictionaryTest, LocationsResolveWithoutCaseAndWithEitherSeparator) {
  ScopedFolder dir;
  std::filesystem::create_directories(dir.path / "data");
  std::ofstream(dir.path / "data" / "cust.dat") << "x";
  std::ofstream(dir.path / "Stock.Dat") << "x";
  const std::string folder = dir.path.string();
  const std::filesystem::path cust = dir.path / "data" / "cust.dat";
  const std::filesystem::path stock = dir.path / "Stock.Dat";
  // The same file, however the file system spells it back: Windows finds
  // "DATA\CUST.DAT" as it stands.
  auto resolvesTo = [&](const char* location, const std::filesystem::path& file) {
    const std::string got = ResolveLocation(folder, location);
    return !got.empty() && std::filesystem::equivalent(got, file);
  };
  EXPECT_TRUE(resolvesTo("DATA\\CUST.DAT", cust));
  EXPECT_TRUE(resolvesTo("data/Cust.dat", cust));
  EXPECT_TRUE(resolvesTo(".\\data\\CUST.DAT", cust));
  // Where the path does not exist here, the file beside the dictionary.
  EXPECT_TRUE(resolvesTo("C:\\EXCH\\STOCK\\STOCK.DAT", stock));
  EXPECT_EQ(ResolveLocation(folder, "data\\none.dat"), "");
  EXPECT_EQ(ResolveLocation(folder, ""), "");
}
