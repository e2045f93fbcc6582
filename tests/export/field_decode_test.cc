#include "export/field_decode.h"

#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

FieldDef Field(uint8_t type, uint16_t offset, uint16_t size, uint8_t decimals = 0) {
  return FieldDef{.id = 1, .name = "f", .dataType = type, .offset = offset,
                  .size = size, .decimals = decimals, .flags = 0};
}

const Codepage& Cp(uint16_t number) {
  const Codepage* codepage = nullptr;
  EXPECT_EQ(FindCodepage(number, &codepage), kCodepageOk);
  return *codepage;
}

// One field at offset 0 of a record that is exactly its bytes, with the
// value written as text the way CSV would show it (empty for NULL).
struct Case {
  const char* what;
  uint8_t type;
  uint8_t decimals;
  std::vector<uint8_t> bytes;
  DecodeStatus status;
  ValueKind kind;
  std::string expected;  // text, or the value's decimal/real form
};

std::string Shown(const FieldValue& v) {
  switch (v.kind) {
    case ValueKind::Null: return "";
    case ValueKind::Integer: return std::to_string(v.integer);
    case ValueKind::Real: {
      char buffer[40];
      return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, v.real).ptr);
    }
    case ValueKind::Text: return v.text;
    case ValueKind::Blob: return std::string(v.blob.begin(), v.blob.end());
  }
  return "?";
}

}  // namespace

// --- Every type, one table ----------------------------------------------------

TEST(FieldDecodeTest, EachTypeAndItsEdgeCases) {
  using K = ValueKind;
  const Case cases[] = {
      {"string trims blanks and NULs", kDdfString, 0, {'A', 'B', ' ', 'C', ' ', 0, 0}, kDecodeOk, K::Text, "AB C"},
      {"string all blank", kDdfString, 0, {' ', ' '}, kDecodeOk, K::Text, ""},
      {"empty lstring", kDdfLstring, 0, {0, 'x', 'y'}, kDecodeOk, K::Text, ""},
      {"lstring", kDdfLstring, 0, {2, 'h', 'i', 'z'}, kDecodeOk, K::Text, "hi"},
      {"lstring length past field", kDdfLstring, 0, {4, 'a', 'b', 'c'}, kDecodeBadLength, K::Null, ""},
      {"zstring to NUL", kDdfZstring, 0, {'a', 0, 'c'}, kDecodeOk, K::Text, "a"},
      {"zstring without NUL", kDdfZstring, 0, {'a', 'b', 'c'}, kDecodeOk, K::Text, "abc"},
      {"wstring trims", kDdfWstring, 0, {0x2F, 0x04, 0x20, 0, 0, 0}, kDecodeOk, K::Text, "\xD0\xAF"},
      {"wzstring surrogate pair", kDdfWzstring, 0, {0x3D, 0xD8, 0x00, 0xDE, 0, 0, 'x', 0}, kDecodeOk, K::Text, "\xF0\x9F\x98\x80"},
      {"wzstring lone surrogate", kDdfWzstring, 0, {0x3D, 0xD8, 'a', 0}, kDecodeOk, K::Text, "\xEF\xBF\xBD" "a"},
      {"integer 1", kDdfInteger, 0, {0x80}, kDecodeOk, K::Integer, "-128"},
      {"integer 2", kDdfInteger, 0, {0xFF, 0xFF}, kDecodeOk, K::Integer, "-1"},
      {"integer 4", kDdfInteger, 0, {0x78, 0x56, 0x34, 0x12}, kDecodeOk, K::Integer, "305419896"},
      {"integer 8 minimum", kDdfInteger, 0, {0, 0, 0, 0, 0, 0, 0, 0x80}, kDecodeOk, K::Integer, "-9223372036854775808"},
      {"integer 3 bytes", kDdfInteger, 0, {1, 2, 3}, kDecodeBadSize, K::Null, ""},
      {"autoinc", kDdfAutoincrement, 0, {0x2A, 0}, kDecodeOk, K::Integer, "42"},
      {"unsigned 2", kDdfUnsignedBinary, 0, {0xFF, 0xFF}, kDecodeOk, K::Integer, "65535"},
      {"unsigned 8 above int64", kDdfUnsignedBinary, 0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, kDecodeOk, K::Text, "18446744073709551615"},
      {"logical", kDdfLogical, 0, {0, 2}, kDecodeOk, K::Integer, "1"},
      {"logical false", kDdfLogical, 0, {0}, kDecodeOk, K::Integer, "0"},
      {"bit 2 set", kDdfBit, 2, {0x04}, kDecodeOk, K::Integer, "1"},
      {"bit 1 clear", kDdfBit, 1, {0x04}, kDecodeOk, K::Integer, "0"},
      {"bit position 8", kDdfBit, 8, {0xFF}, kDecodeBadBit, K::Null, ""},
      {"float 4", kDdfFloat, 0, {0, 0, 0xC0, 0x3F}, kDecodeOk, K::Real, "1.5"},
      {"float 8", kDdfFloat, 0, {0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0xBF}, kDecodeOk, K::Real, "-0.1"},
      {"float 6 bytes", kDdfFloat, 0, {0, 0, 0, 0, 0, 0}, kDecodeBadSize, K::Null, ""},
      {"bfloat 4 one", kDdfBfloat, 0, {0, 0, 0, 0x81}, kDecodeOk, K::Real, "1"},
      {"bfloat 4 minus 2.5", kDdfBfloat, 0, {0, 0, 0xA0, 0x82}, kDecodeOk, K::Real, "-2.5"},
      {"bfloat 8 one", kDdfBfloat, 0, {0, 0, 0, 0, 0, 0, 0, 0x81}, kDecodeOk, K::Real, "1"},
      {"bfloat 0 with mantissa", kDdfBfloat, 0, {0x12, 0x34, 0x56, 0}, kDecodeOk, K::Real, "0"},
      {"decimal negative", kDdfDecimal, 2, {0x12, 0x34, 0x5D}, kDecodeOk, K::Real, "-123.45"},
      {"decimal B negative, whole", kDdfDecimal, 0, {0x00, 0x7B}, kDecodeOk, K::Integer, "-7"},
      {"money positive F", kDdfMoney, 2, {0x01, 0x00, 0x0F}, kDecodeOk, K::Real, "10"},
      {"decimal bad digit", kDdfDecimal, 0, {0x1A, 0x3C}, kDecodeBadDigits, K::Null, ""},
      {"decimal bad sign", kDdfDecimal, 0, {0x12, 0x33}, kDecodeBadDigits, K::Null, ""},
      {"numeric plain", kDdfNumeric, 0, {' ', '0', '1', '2', '3'}, kDecodeOk, K::Integer, "123"},
      {"numeric J negative", kDdfNumeric, 0, {'0', '1', '2', 'J'}, kDecodeOk, K::Integer, "-121"},
      {"numeric } negative", kDdfNumeric, 0, {'1', '2', '}'}, kDecodeOk, K::Integer, "-120"},
      {"numeric { scaled", kDdfNumeric, 2, {'1', '2', '{'}, kDecodeOk, K::Real, "1.2"},
      {"numeric letter inside", kDdfNumeric, 0, {'1', 'A', '2'}, kDecodeBadDigits, K::Null, ""},
      {"numericsa q negative", kDdfNumericSa, 0, {'1', '2', 'q'}, kDecodeOk, K::Integer, "-121"},
      {"numericsts trailing minus", kDdfNumericSts, 0, {'1', '2', '3', '-'}, kDecodeOk, K::Integer, "-123"},
      {"numericsts no sign", kDdfNumericSts, 0, {'1', '2', '3'}, kDecodeBadDigits, K::Null, ""},
      {"currency", kDdfCurrency, 0, {0xB2, 0x9E, 0x43, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, kDecodeOk, K::Real, "-1234.5678"},
      {"date", kDdfDate, 0, {10, 10, 0xCA, 0x07}, kDecodeOk, K::Text, "1994-10-10"},
      {"date 0 is empty", kDdfDate, 0, {0, 0, 0, 0}, kDecodeOk, K::Null, ""},
      {"date 29 Feb 1900", kDdfDate, 0, {29, 2, 0x6C, 0x07}, kDecodeBadDate, K::Null, ""},
      {"date month 13", kDdfDate, 0, {1, 13, 0xD0, 0x07}, kDecodeBadDate, K::Null, ""},
      {"time", kDdfTime, 0, {5, 30, 15, 13}, kDecodeOk, K::Text, "13:15:30.05"},
      {"time hour 24", kDdfTime, 0, {0, 0, 0, 24}, kDecodeBadTime, K::Null, ""},
      {"timestamp", kDdfTimestamp, 0, {0x87, 0x6E, 0xDB, 0x84, 0xC8, 0x50, 0xC1, 0x08}, kDecodeOk, K::Text, "2000-02-29T12:34:56.1234567"},
      {"GUID", kDdfGuid, 0, {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}, kDecodeOk, K::Text, "00112233-4455-6677-8899-aabbccddeeff"},
      {"lvar", kDdfLvar, 0, {'r', 'a', 'w', 0}, kDecodeOk, K::Blob, std::string("raw\0", 4)},
      {"datetime not decoded", kDdfDatetime, 0, {0, 0, 0, 0, 0, 0, 0, 0}, kDecodeUnknownType, K::Null, ""},
      {"unknown type", 99, 0, {1, 2}, kDecodeUnknownType, K::Null, ""},
  };
  const Codepage& cp437 = Cp(437);
  for (const Case& c : cases) {
    const FieldDef field = Field(c.type, 0, static_cast<uint16_t>(c.bytes.size()), c.decimals);
    FieldValue value = {};
    value.kind = ValueKind::Text;  // must be reset on failure
    const DecodeStatus status =
        DecodeField(field, c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), cp437, &value);
    EXPECT_EQ(status, c.status) << c.what << ": " << DecodeStatusName(status);
    EXPECT_EQ(value.kind, c.kind) << c.what;
    EXPECT_EQ(Shown(value), c.expected) << c.what;
  }
}

// --- The record's end ------------------------------------------------------------

TEST(FieldDecodeTest, EveryTypeCutByTheRecordsEndIsNullPastEnd) {
  const uint8_t types[] = {kDdfString, kDdfInteger, kDdfFloat, kDdfDate, kDdfTime,
                           kDdfDecimal, kDdfLstring, kDdfZstring, kDdfBfloat,
                           kDdfCurrency, kDdfTimestamp, kDdfGuid, kDdfWstring};
  const std::vector<uint8_t> record(40, 0x11);
  for (uint8_t type : types) {
    const uint16_t size = type == kDdfGuid ? 16 : (type == kDdfDate || type == kDdfTime) ? 4 : 8;
    const FieldDef field = Field(type, 30, size);
    for (uint32_t length = 0; length < 30u + size; ++length) {
      FieldValue value = {};
      EXPECT_EQ(DecodeField(field, record.data(), length, Cp(437), &value), kDecodePastEnd)
          << DataTypeName(type) << " length " << length;
      EXPECT_EQ(value.kind, ValueKind::Null);
    }
  }
}

TEST(FieldDecodeTest, NoteAndLvarTakeTheVariablePartToTheRecordsEnd) {
  const uint8_t record[] = {1, 2, 'n', 'o', 't', 'e', ' ', 0};
  FieldValue value = {};
  ASSERT_EQ(DecodeField(Field(kDdfNote, 2, 0), record, sizeof record, Cp(437), &value), kDecodeOk);
  EXPECT_EQ(value.text, "note");
  ASSERT_EQ(DecodeField(Field(kDdfLvar, 2, 0), record, 5, Cp(437), &value), kDecodeOk);
  EXPECT_EQ(value.blob, std::vector<uint8_t>({'n', 'o', 't'}));
  ASSERT_EQ(DecodeField(Field(kDdfLvar, 2, 0), record, 2, Cp(437), &value), kDecodeOk);
  EXPECT_TRUE(value.blob.empty());
  EXPECT_EQ(DecodeField(Field(kDdfLvar, 2, 0), record, 1, Cp(437), &value), kDecodePastEnd);
}

TEST(FieldDecodeTest, TextGoesThroughTheCodePage) {
  const uint8_t privet[] = {0x8F, 0xE0, 0xA8, 0xA2, 0xA5, 0xE2, ' '};  // cp866
  FieldValue value = {};
  ASSERT_EQ(DecodeField(Field(kDdfString, 0, 7), privet, 7, Cp(866), &value), kDecodeOk);
  EXPECT_EQ(value.text, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");  // Привет
  EXPECT_EQ(DecodeProblemText(Field(kDdfDate, 4, 4), kDecodeBadDate),
            "field f (date, offset 4, size 4): date out of range");
}
