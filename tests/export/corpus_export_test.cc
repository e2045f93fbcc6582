// The dictionary of a real application (doclife: 30 tables, names in code
// page 866) loaded through the reader, and values of its data files decoded
// and checked against the bytes.  Skips where the corpus is absent.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "export/dictionary.h"
#include "export/field_decode.h"
#include "reader/datafile.h"

namespace {

const char kDoclife[] = "/work/shared/corpus/doclife";

const TableDef* FindTable(const Dictionary& d, uint16_t id) {
  for (const TableDef& t : d.tables) {
    if (t.id == id) return &t;
  }
  return nullptr;
}

const FieldDef* FindField(const TableDef& t, const std::string& name) {
  for (const FieldDef& f : t.fields) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

// True when `text` is UTF-8 whose letters above ASCII are all Cyrillic
// (U+0400-U+04FF) and holds at least one.
bool IsCyrillicText(const std::string& text) {
  bool cyrillic = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    if (c < 0x80) continue;
    if ((c != 0xD0 && c != 0xD1 && c != 0xD2 && c != 0xD3) || i + 1 == text.size()) return false;
    cyrillic = true;
    ++i;
  }
  return cyrillic;
}

}  // namespace

TEST(CorpusExportTest, DoclifeDictionaryAndDecodedValues) {
  if (!std::filesystem::exists(kDoclife)) GTEST_SKIP() << kDoclife << " absent";
  const Codepage* cp866 = nullptr;
  ASSERT_EQ(FindCodepage(866, &cp866), kCodepageOk);
  Dictionary d;
  ASSERT_EQ(LoadDictionary(kDoclife, *cp866, &d), kDictionaryOk);
  ASSERT_EQ(d.tables.size(), 30u);
  EXPECT_EQ(d.tables[0].name, "X$File");
  EXPECT_EQ(d.tables[0].fields.size(), 4u);

  // Tables 10-30 are the application's, every name and column in Russian.
  size_t cyrillicColumns = 0;
  for (const TableDef& t : d.tables) {
    if (t.id < 10) continue;
    EXPECT_TRUE(IsCyrillicText(t.name)) << t.name;
    EXPECT_FALSE(t.path.empty()) << t.name << " at " << t.location;
    for (const FieldDef& f : t.fields) cyrillicColumns += IsCyrillicText(f.name) ? 1 : 0;
  }
  EXPECT_GT(cyrillicColumns, 100u);
  const TableDef* contracts = FindTable(d, 17);
  ASSERT_NE(contracts, nullptr);
  EXPECT_EQ(contracts->name, "\xD0\x94\xD0\xBE\xD0\xB3\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x80");  // Договор
  EXPECT_EQ(contracts->keys.size(), 3u);

  // F13.DAT (Движение_средств) holds one record: "дата" at 16 is the bytes
  // 0A 0A CA 07 (day 10, month 10, year 1994), "Сумма" at 20 the IEEE double
  // C0 71 BC 93 84 43 D9 42, which is 111111111111111.
  const TableDef* moves = FindTable(d, 13);
  ASSERT_NE(moves, nullptr);
  const FieldDef* date = FindField(*moves, "\xD0\xB4\xD0\xB0\xD1\x82\xD0\xB0");          // дата
  const FieldDef* sum = FindField(*moves, "\xD0\xA1\xD1\x83\xD0\xBC\xD0\xBC\xD0\xB0");  // Сумма
  ASSERT_NE(date, nullptr);
  ASSERT_NE(sum, nullptr);
  EXPECT_EQ(date->dataType, kDdfDate);
  EXPECT_EQ(sum->dataType, kDdfFloat);

  DataFile df = {};
  ASSERT_EQ(OpenDataFile(moves->path.c_str(), &df, ReaderVariant::Console), kReaderOk);
  std::vector<uint8_t> area(64000);
  RecordBuffer rb = {};
  rb.length = 64000;
  ReaderStatus status = ReadNextRecord(&df, &rb, area.data());
  CloseDataFile(&df, status);
  ASSERT_EQ(status, kReaderOk);
  const std::vector<uint8_t> dateBytes(area.begin() + 16, area.begin() + 20);
  const std::vector<uint8_t> sumBytes(area.begin() + 20, area.begin() + 28);
  ASSERT_EQ(dateBytes, (std::vector<uint8_t>{0x0A, 0x0A, 0xCA, 0x07}));
  ASSERT_EQ(sumBytes, (std::vector<uint8_t>{0xC0, 0x71, 0xBC, 0x93, 0x84, 0x43, 0xD9, 0x42}));

  FieldValue value = {};
  ASSERT_EQ(DecodeField(*date, area.data(), rb.length, *cp866, &value), kDecodeOk);
  EXPECT_EQ(value.text, "1994-10-10");
  ASSERT_EQ(DecodeField(*sum, area.data(), rb.length, *cp866, &value), kDecodeOk);
  ASSERT_EQ(value.kind, ValueKind::Real);
  EXPECT_EQ(value.real, 111111111111111.0);
}
