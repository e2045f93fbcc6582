// Single-byte code pages of DOS and Windows applications, converted to
// UTF-8.  Bytes 0x00-0x7F are ASCII in every table here; each code page is a
// table of the 128 code points of bytes 0x80-0xFF.
//
// The tables were generated from Python's cp437, cp850, cp866 and cp1252
// codecs.  Code page 1252 leaves 0x81, 0x8D, 0x8F, 0x90 and 0x9D undefined;
// they map to the C1 code points U+0081, U+008D, U+008F, U+0090 and U+009D
// (as Windows converts them), so no byte of a salvaged record is lost.
#ifndef GANDREL_EXPORT_CODEPAGE_H_
#define GANDREL_EXPORT_CODEPAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>

enum CodepageStatus : uint16_t {
  kCodepageOk = 0,
  kCodepageUnknown = 1,  // no table for this code page number
};

const char* CodepageStatusName(CodepageStatus status);

struct Codepage {
  uint16_t number;         // 437, 850, 866, 1252
  const char16_t* upper;   // 128 code points, for bytes 0x80-0xFF
};

constexpr uint16_t kDefaultCodepage = 437;

// Finds the table of a code page.  0 with *codepage set, or 1 (and
// *codepage untouched) for a number without a table.
CodepageStatus FindCodepage(uint16_t number, const Codepage** codepage);

// Appends the UTF-8 form of `length` bytes of text in `codepage` to `out`.
void AppendCodepageText(const Codepage& codepage, const uint8_t* bytes,
                        size_t length, std::string* out);

// Appends one code point as UTF-8; surrogates and values above U+10FFFF
// become U+FFFD.
void AppendUtf8(uint32_t codePoint, std::string* out);

#endif  // GANDREL_EXPORT_CODEPAGE_H_
