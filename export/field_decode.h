// Decodes one field of a record into a typed value by its DDF data type,
// size, decimals and flags.  A field that cannot be decoded gives NULL and a
// status naming why; decoding never guesses a value and never stops.
//
// What each data type becomes:
//   string, lstring, zstring, note  Text, through the code page; string and
//                               note lose trailing blanks and NULs, zstring
//                               ends at its first NUL (the whole field when
//                               it has none), lstring takes its length byte
//   wstring, wzstring           Text from UTF-16LE (unpaired surrogates give
//                               U+FFFD); wstring loses trailing U+0020/U+0000
//   integer, autoinc            Integer, signed little-endian, 1/2/4/8 bytes
//   unsigned binary             Integer, 1/2/4/8 bytes; an 8-byte value above
//                               INT64_MAX becomes Text (its decimal digits)
//   logical                     Integer 0 or 1 (any non-zero byte: 1)
//   bit                         Integer 0 or 1, bit `decimals` (0-7) of the
//                               field's first byte
//   float, bfloat               Real; bfloat is the old Microsoft binary
//                               format (exponent byte last, 0 = zero)
//   decimal, money              packed BCD, sign in the last nibble (0xD or
//   numeric, numericsts,        0xB negative; 0xA, 0xC, 0xE, 0xF positive);
//   numericsa                   ASCII digits with the sign in the last byte
//                               (numeric: '{' 'A'-'I' positive, '}' 'J'-'R'
//                               negative, plain digits positive; numericsa:
//                               '0'-'9' positive, 'p'-'y' negative;
//                               numericsts: a separate trailing '+' or '-').
//                               With decimals 0 and up to 18 digits Integer,
//                               else Real scaled by 10^-decimals
//   currency                    Real, a signed 8-byte count of 1/10000
//   date                        Text "YYYY-MM-DD"; all four bytes zero: NULL
//                               without a problem (an empty date)
//   time                        Text "HH:MM:SS.hh"
//   timestamp                   Text "YYYY-MM-DDTHH:MM:SS.fffffff", an 8-byte
//                               count of 10^-7 s since 0001-01-01
//   GUID                        Text, "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx"
//                               (first three groups stored little-endian)
//   lvar                        Blob
//   bytes (schema files only)   Blob, the field's bytes as they are
//   note, lvar                  take the record's variable part: every byte
//                               from the field's offset to the record's end
//   datetime and unknown codes  NULL with kDecodeUnknownType
#ifndef GANDREL_EXPORT_FIELD_DECODE_H_
#define GANDREL_EXPORT_FIELD_DECODE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "export/codepage.h"
#include "export/dictionary.h"

enum class ValueKind : uint8_t { Null = 0, Integer = 1, Real = 2, Text = 3, Blob = 4 };

struct FieldValue {
  ValueKind kind;
  int64_t integer;            // Integer
  double real;                // Real
  std::string text;           // Text, UTF-8
  std::vector<uint8_t> blob;  // Blob
};

// Why a field decoded to NULL.  kDecodeOk with a Null value is an empty
// date, the one NULL that is not a problem.
enum DecodeStatus : uint16_t {
  kDecodeOk = 0,
  kDecodePastEnd = 1,      // the field reaches past the record's end
  kDecodeBadSize = 2,      // a size the type does not have (e.g. a 3-byte int)
  kDecodeBadDate = 3,      // day, month or year out of range
  kDecodeBadTime = 4,      // hour, minute, second or hundredth out of range
  kDecodeBadDigits = 5,    // a BCD nibble or ASCII digit that is no digit,
                           // or a sign that is no sign
  kDecodeBadLength = 6,    // an lstring length byte beyond the field
  kDecodeUnknownType = 7,  // a data type code without a decoder
  kDecodeBadBit = 8,       // a bit position above 7
};

const char* DecodeStatusName(DecodeStatus status);

// The column type a field's values take (the SQLite column type, and what a
// reader of CSV or JSON may expect).  Values may still be NULL.
ValueKind ColumnKind(const FieldDef& field);

// Decodes `field` from `record` (`length` bytes).  Sets *value (Null on any
// non-zero status) and returns the status.
DecodeStatus DecodeField(const FieldDef& field, const uint8_t* record,
                         uint32_t length, const Codepage& codepage,
                         FieldValue* value);

// One line for the caller's report of a failed field, e.g.
// "field Amount (decimal, offset 10, size 6): BCD digit is no digit".
std::string DecodeProblemText(const FieldDef& field, DecodeStatus status);

// Short name of a data type code ("zstring"), or "type N" for unknown ones.
std::string DataTypeName(uint8_t dataType);

#endif  // GANDREL_EXPORT_FIELD_DECODE_H_
