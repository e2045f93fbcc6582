#include "export/field_decode.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "reader/format.h"

namespace {

uint64_t DecodeLE64(const uint8_t* p) {
  return static_cast<uint64_t>(DecodeLE32(p)) |
         (static_cast<uint64_t>(DecodeLE32(p + 4)) << 32);
}

// Little-endian unsigned value of 1, 2, 4 or 8 bytes; false for other sizes.
bool DecodeUnsigned(const uint8_t* p, uint16_t size, uint64_t* out) {
  switch (size) {
    case 1: *out = p[0]; return true;
    case 2: *out = DecodeLE16(p); return true;
    case 4: *out = DecodeLE32(p); return true;
    case 8: *out = DecodeLE64(p); return true;
  }
  return false;
}

int64_t SignExtend(uint64_t value, uint16_t size) {
  const int shift = 64 - 8 * size;
  return static_cast<int64_t>(value << shift) >> shift;
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Civil date of a day count from 0001-01-01 (day 0), proleptic Gregorian.
void CivilFromDays(int64_t days, int* year, int* month, int* day) {
  // Shift to an era count from 0000-03-01, where leap days fall last.
  int64_t z = days + 306;
  const int64_t era = z / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yoe + era * 400 + (*month <= 2 ? 1 : 0));
}

void SetText(FieldValue* value, std::string text) {
  value->kind = ValueKind::Text;
  value->text = std::move(text);
}

void SetInteger(FieldValue* value, int64_t integer) {
  value->kind = ValueKind::Integer;
  value->integer = integer;
}

void SetReal(FieldValue* value, double real) {
  value->kind = ValueKind::Real;
  value->real = real;
}

// A decimal number given as its digits, sign and scale.  Integer when it is
// whole and fits; otherwise Real, read from the decimal text so the result
// is the double nearest to the stored value.
DecodeStatus SetDecimal(FieldValue* value, bool negative, const std::string& digits,
                        uint8_t decimals) {
  size_t first = 0;
  while (first + 1 < digits.size() && digits[first] == '0') ++first;
  const std::string significant = digits.substr(first);
  if (decimals == 0 && significant.size() <= 18) {
    int64_t magnitude = 0;
    for (char c : significant) magnitude = magnitude * 10 + (c - '0');
    SetInteger(value, negative ? -magnitude : magnitude);
    return kDecodeOk;
  }
  const std::string text = (negative ? "-" : "") + significant + "e-" +
                           std::to_string(decimals);
  double real = 0;
  std::from_chars(text.data(), text.data() + text.size(), real);
  SetReal(value, real);
  return kDecodeOk;
}

DecodeStatus DecodeBcd(const uint8_t* p, uint16_t size, uint8_t decimals,
                       FieldValue* value) {
  if (size == 0) return kDecodeBadSize;
  std::string digits;
  for (uint16_t i = 0; i < size; ++i) {
    const uint8_t high = p[i] >> 4;
    const uint8_t low = p[i] & 0x0F;
    if (high > 9) return kDecodeBadDigits;
    digits += static_cast<char>('0' + high);
    if (i + 1 < size) {
      if (low > 9) return kDecodeBadDigits;
      digits += static_cast<char>('0' + low);
    }
  }
  const uint8_t sign = p[size - 1] & 0x0F;
  bool negative;
  if (sign == 0x0D || sign == 0x0B) {
    negative = true;
  } else if (sign == 0x0C || sign == 0x0F || sign == 0x0A || sign == 0x0E) {
    negative = false;
  } else {
    return kDecodeBadDigits;
  }
  return SetDecimal(value, negative, digits, decimals);
}

// ASCII numeric forms.  Leading blanks are padding; every other byte but the
// sign position must be a digit.
DecodeStatus DecodeNumeric(const uint8_t* p, uint16_t size, uint8_t dataType,
                           uint8_t decimals, FieldValue* value) {
  uint16_t start = 0;
  while (start < size && p[start] == ' ') ++start;
  if (start == size) return kDecodeBadDigits;
  uint16_t end = size;
  bool negative = false;
  std::string digits;
  const uint8_t last = p[size - 1];
  if (dataType == kDdfNumericSts) {
    if (last != '+' && last != '-') return kDecodeBadDigits;
    negative = last == '-';
    --end;
  }
  for (uint16_t i = start; i < end; ++i) {
    uint8_t c = p[i];
    if (i + 1 == size && dataType == kDdfNumeric) {
      if (c == '{') c = '0';
      else if (c == '}') { c = '0'; negative = true; }
      else if (c >= 'A' && c <= 'I') c = static_cast<uint8_t>('1' + (c - 'A'));
      else if (c >= 'J' && c <= 'R') { c = static_cast<uint8_t>('1' + (c - 'J')); negative = true; }
    } else if (i + 1 == size && dataType == kDdfNumericSa) {
      if (c >= 'p' && c <= 'y') { c = static_cast<uint8_t>('0' + (c - 'p')); negative = true; }
    }
    if (c < '0' || c > '9') return kDecodeBadDigits;
    digits += static_cast<char>(c);
  }
  if (digits.empty()) return kDecodeBadDigits;
  return SetDecimal(value, negative, digits, decimals);
}

double DecodeBfloat(const uint8_t* p, uint16_t size) {
  // Microsoft binary format: exponent byte last, biased by 128 with the
  // binary point before the implied leading 1; the sign is the top bit of
  // the byte below it.  An exponent of 0 is zero whatever the mantissa.
  const uint8_t exponent = p[size - 1];
  if (exponent == 0) return 0.0;
  const bool negative = (p[size - 2] & 0x80) != 0;
  uint64_t mantissa = (p[size - 2] & 0x7F) | 0x80;
  for (int i = size - 3; i >= 0; --i) mantissa = (mantissa << 8) | p[i];
  const int mantissaBits = 8 * (size - 1);
  const double magnitude = std::ldexp(static_cast<double>(mantissa),
                                      exponent - 128 - mantissaBits);
  return negative ? -magnitude : magnitude;
}

// Text through the code page with trailing blanks and NULs removed.
std::string TrimmedText(const uint8_t* p, size_t size, const Codepage& codepage) {
  while (size > 0 && (p[size - 1] == ' ' || p[size - 1] == 0)) --size;
  std::string text;
  AppendCodepageText(codepage, p, size, &text);
  return text;
}

std::string Utf16Text(const uint8_t* p, uint16_t size, bool zeroTerminated) {
  size_t units = size / 2;
  if (zeroTerminated) {
    for (size_t i = 0; i < units; ++i) {
      if (DecodeLE16(p + 2 * i) == 0) { units = i; break; }
    }
  } else {
    while (units > 0 && (DecodeLE16(p + 2 * units - 2) == 0x20 ||
                         DecodeLE16(p + 2 * units - 2) == 0)) {
      --units;
    }
  }
  std::string text;
  for (size_t i = 0; i < units; ++i) {
    const uint32_t unit = DecodeLE16(p + 2 * i);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
      const uint32_t next = DecodeLE16(p + 2 * i + 2);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00), &text);
        ++i;
        continue;
      }
    }
    AppendUtf8(unit, &text);  // a lone surrogate becomes U+FFFD
  }
  return text;
}

bool IsVariablePart(uint8_t dataType) {
  return dataType == kDdfNote || dataType == kDdfLvar;
}

}  // namespace

const char* DecodeStatusName(DecodeStatus status) {
  switch (status) {
    case kDecodeOk: return "ok";
    case kDecodePastEnd: return "field reaches past the record's end";
    case kDecodeBadSize: return "size not valid for the type";
    case kDecodeBadDate: return "date out of range";
    case kDecodeBadTime: return "time out of range";
    case kDecodeBadDigits: return "digit or sign not valid";
    case kDecodeBadLength: return "length byte beyond the field";
    case kDecodeUnknownType: return "data type not decoded";
    case kDecodeBadBit: return "bit position above 7";
  }
  return "unknown status";
}

std::string DataTypeName(uint8_t dataType) {
  switch (dataType) {
    case kDdfString: return "string";
    case kDdfInteger: return "integer";
    case kDdfFloat: return "float";
    case kDdfDate: return "date";
    case kDdfTime: return "time";
    case kDdfDecimal: return "decimal";
    case kDdfMoney: return "money";
    case kDdfLogical: return "logical";
    case kDdfNumeric: return "numeric";
    case kDdfBfloat: return "bfloat";
    case kDdfLstring: return "lstring";
    case kDdfZstring: return "zstring";
    case kDdfNote: return "note";
    case kDdfLvar: return "lvar";
    case kDdfUnsignedBinary: return "unsigned binary";
    case kDdfAutoincrement: return "autoinc";
    case kDdfBit: return "bit";
    case kDdfNumericSts: return "numericsts";
    case kDdfNumericSa: return "numericsa";
    case kDdfCurrency: return "currency";
    case kDdfTimestamp: return "timestamp";
    case kDdfWstring: return "wstring";
    case kDdfWzstring: return "wzstring";
    case kDdfGuid: return "GUID";
    case kDdfDatetime: return "datetime";
    case kSchemaBytes: return "bytes";
    case kDdfKeyName: return "key name";
  }
  return "type " + std::to_string(dataType);
}

std::string DecodeProblemText(const FieldDef& field, DecodeStatus status) {
  return "field " + field.name + " (" + DataTypeName(field.dataType) + ", offset " +
         std::to_string(field.offset) + ", size " + std::to_string(field.size) +
         "): " + DecodeStatusName(status);
}

ValueKind ColumnKind(const FieldDef& field) {
  switch (field.dataType) {
    case kDdfInteger: case kDdfUnsignedBinary: case kDdfAutoincrement:
    case kDdfLogical: case kDdfBit:
      return ValueKind::Integer;
    case kDdfFloat: case kDdfBfloat: case kDdfCurrency:
      return ValueKind::Real;
    case kDdfDecimal: case kDdfMoney:
      return field.decimals == 0 && field.size * 2 - 1 <= 18 ? ValueKind::Integer
                                                              : ValueKind::Real;
    case kDdfNumeric: case kDdfNumericSa: case kDdfNumericSts:
      return field.decimals == 0 && field.size <= 18 ? ValueKind::Integer
                                                      : ValueKind::Real;
    case kDdfString: case kDdfLstring: case kDdfZstring: case kDdfNote:
    case kDdfWstring: case kDdfWzstring: case kDdfDate: case kDdfTime:
    case kDdfTimestamp: case kDdfGuid:
      return ValueKind::Text;
  }
  return ValueKind::Blob;
}

DecodeStatus DecodeField(const FieldDef& field, const uint8_t* record,
                         uint32_t length, const Codepage& codepage,
                         FieldValue* value) {
  value->kind = ValueKind::Null;
  value->text.clear();
  value->blob.clear();
  // Every read below stays inside [offset, offset + size), checked here
  // once; the variable part ends at the record's end instead.
  const uint32_t end = static_cast<uint32_t>(field.offset) + field.size;
  if (IsVariablePart(field.dataType) ? field.offset > length : end > length) {
    return kDecodePastEnd;
  }
  const uint8_t* p = record + field.offset;
  const uint16_t size = field.size;
  uint64_t bits = 0;

  switch (field.dataType) {
    case kDdfString:
      SetText(value, TrimmedText(p, size, codepage));
      return kDecodeOk;
    case kDdfLstring: {
      if (size == 0) return kDecodeBadSize;
      if (p[0] > size - 1) return kDecodeBadLength;
      std::string text;
      AppendCodepageText(codepage, p + 1, p[0], &text);
      SetText(value, std::move(text));
      return kDecodeOk;
    }
    case kDdfZstring: {
      uint16_t n = 0;
      while (n < size && p[n] != 0) ++n;
      std::string text;
      AppendCodepageText(codepage, p, n, &text);
      SetText(value, std::move(text));
      return kDecodeOk;
    }
    case kDdfNote:
      SetText(value, TrimmedText(p, length - field.offset, codepage));
      return kDecodeOk;
    case kDdfLvar:
      value->kind = ValueKind::Blob;
      value->blob.assign(p, record + length);
      return kDecodeOk;
    case kSchemaBytes:
      value->kind = ValueKind::Blob;
      value->blob.assign(p, p + size);
      return kDecodeOk;
    case kDdfWstring:
    case kDdfWzstring:
      SetText(value, Utf16Text(p, size, field.dataType == kDdfWzstring));
      return kDecodeOk;
    case kDdfInteger:
    case kDdfAutoincrement:
      if (!DecodeUnsigned(p, size, &bits)) return kDecodeBadSize;
      SetInteger(value, SignExtend(bits, size));
      return kDecodeOk;
    case kDdfUnsignedBinary:
      if (!DecodeUnsigned(p, size, &bits)) return kDecodeBadSize;
      if (bits > static_cast<uint64_t>(INT64_MAX)) SetText(value, std::to_string(bits));
      else SetInteger(value, static_cast<int64_t>(bits));
      return kDecodeOk;
    case kDdfLogical: {
      if (size == 0) return kDecodeBadSize;
      bool set = false;
      for (uint16_t i = 0; i < size; ++i) set = set || p[i] != 0;
      SetInteger(value, set ? 1 : 0);
      return kDecodeOk;
    }
    case kDdfBit:
      if (size == 0) return kDecodeBadSize;
      if (field.decimals > 7) return kDecodeBadBit;
      SetInteger(value, (p[0] >> field.decimals) & 1);
      return kDecodeOk;
    case kDdfFloat:
      if (size == 4) SetReal(value, std::bit_cast<float>(DecodeLE32(p)));
      else if (size == 8) SetReal(value, std::bit_cast<double>(DecodeLE64(p)));
      else return kDecodeBadSize;
      return kDecodeOk;
    case kDdfBfloat:
      if (size != 4 && size != 8) return kDecodeBadSize;
      SetReal(value, DecodeBfloat(p, size));
      return kDecodeOk;
    case kDdfCurrency: {
      if (size != 8) return kDecodeBadSize;
      const int64_t units = static_cast<int64_t>(DecodeLE64(p));
      const uint64_t magnitude = units < 0 ? 0 - static_cast<uint64_t>(units)
                                           : static_cast<uint64_t>(units);
      return SetDecimal(value, units < 0, std::to_string(magnitude), 4);
    }
    case kDdfDecimal:
    case kDdfMoney:
      return DecodeBcd(p, size, field.decimals, value);
    case kDdfNumeric:
    case kDdfNumericSa:
    case kDdfNumericSts:
      return DecodeNumeric(p, size, field.dataType, field.decimals, value);
    case kDdfDate: {
      if (size != 4) return kDecodeBadSize;
      const int day = p[0], month = p[1], year = DecodeLE16(p + 2);
      // An all-zero date is how applications store "no date".
      if (day == 0 && month == 0 && year == 0) return kDecodeOk;
      if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
          day > DaysInMonth(year, month)) {
        return kDecodeBadDate;
      }
      char text[16];
      snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
      SetText(value, text);
      return kDecodeOk;
    }
    case kDdfTime: {
      if (size != 4) return kDecodeBadSize;
      const int hundredths = p[0], seconds = p[1], minutes = p[2], hours = p[3];
      if (hundredths > 99 || seconds > 59 || minutes > 59 || hours > 23) {
        return kDecodeBadTime;
      }
      char text[16];
      snprintf(text, sizeof text, "%02d:%02d:%02d.%02d", hours, minutes, seconds,
               hundredths);
      SetText(value, text);
      return kDecodeOk;
    }
    case kDdfTimestamp: {
      if (size != 8) return kDecodeBadSize;
      const uint64_t ticks = DecodeLE64(p);
      constexpr uint64_t kTicksPerDay = 86400ull * 10000000ull;
      int year, month, day;
      CivilFromDays(static_cast<int64_t>(ticks / kTicksPerDay), &year, &month, &day);
      if (year > 9999) return kDecodeBadDate;
      const uint64_t inDay = ticks % kTicksPerDay;
      const uint64_t secondsInDay = inDay / 10000000ull;
      char text[64];
      snprintf(text, sizeof text, "%04d-%02d-%02dT%02u:%02u:%02u.%07u", year, month,
               day, static_cast<unsigned>(secondsInDay / 3600),
               static_cast<unsigned>(secondsInDay / 60 % 60),
               static_cast<unsigned>(secondsInDay % 60),
               static_cast<unsigned>(inDay % 10000000ull));
      SetText(value, text);
      return kDecodeOk;
    }
    case kDdfGuid: {
      if (size != 16) return kDecodeBadSize;
      char text[40];
      snprintf(text, sizeof text,
               "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
               static_cast<unsigned>(DecodeLE32(p)), DecodeLE16(p + 4),
               DecodeLE16(p + 6), p[8], p[9], p[10], p[11], p[12], p[13], p[14], p[15]);
      SetText(value, text);
      return kDecodeOk;
    }
  }
  // datetime among them: its byte layout is not confirmed by any file we
  // have, so it is left to the raw record rather than guessed.
  return kDecodeUnknownType;
}
