#include "common/json_writer.h"

#include <charconv>
#include <cmath>

namespace {

// Places the separator in front of a new value (or key).
void BeforeValue(JsonWriter* writer) {
  if (writer->afterKey) {
    writer->afterKey = false;
    return;
  }
  if (!writer->needComma.empty()) {
    if (writer->needComma.back()) writer->text += ',';
    writer->needComma.back() = true;
  }
}

// Length of the well-formed UTF-8 sequence at s[i], or 0 when the bytes
// there are not one (overlong forms, surrogates and values above U+10FFFF
// included).
size_t Utf8SequenceLength(std::string_view s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t lead = byte(i);
  size_t length;
  uint32_t minimum;
  uint32_t cp;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2; minimum = 0x80; cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3; minimum = 0x800; cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4; minimum = 0x10000; cp = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

void AppendJsonQuoted(std::string_view utf8, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
  out->push_back('"');
  size_t i = 0;
  while (i < utf8.size()) {
    const uint8_t c = static_cast<uint8_t>(utf8[i]);
    if (c < 0x80) {
      switch (c) {
        case '"': *out += "\\\""; break;
        case '\\': *out += "\\\\"; break;
        case '\n': *out += "\\n"; break;
        case '\r': *out += "\\r"; break;
        case '\t': *out += "\\t"; break;
        case '\b': *out += "\\b"; break;
        case '\f': *out += "\\f"; break;
        default:
          if (c < 0x20) {
            *out += "\\u00";
            out->push_back(kHex[c >> 4]);
            out->push_back(kHex[c & 0x0F]);
          } else {
            out->push_back(static_cast<char>(c));
          }
      }
      ++i;
      continue;
    }
    const size_t length = Utf8SequenceLength(utf8, i);
    if (length == 0) {
      *out += "\xEF\xBF\xBD";  // U+FFFD for one bad byte, then resynchronise
      ++i;
    } else {
      out->append(utf8.substr(i, length));
      i += length;
    }
  }
  out->push_back('"');
}

void JsonBeginObject(JsonWriter* writer) {
  BeforeValue(writer);
  writer->text += '{';
  writer->needComma.push_back(false);
}

void JsonEndObject(JsonWriter* writer) {
  writer->text += '}';
  if (!writer->needComma.empty()) writer->needComma.pop_back();
}

void JsonBeginArray(JsonWriter* writer) {
  BeforeValue(writer);
  writer->text += '[';
  writer->needComma.push_back(false);
}

void JsonEndArray(JsonWriter* writer) {
  writer->text += ']';
  if (!writer->needComma.empty()) writer->needComma.pop_back();
}

void JsonKey(JsonWriter* writer, std::string_view key) {
  BeforeValue(writer);
  AppendJsonQuoted(key, &writer->text);
  writer->text += ':';
  writer->afterKey = true;
}

void JsonString(JsonWriter* writer, std::string_view utf8) {
  BeforeValue(writer);
  AppendJsonQuoted(utf8, &writer->text);
}

void JsonInt(JsonWriter* writer, int64_t value) {
  BeforeValue(writer);
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  writer->text.append(buffer, result.ptr);
}

void JsonUint(JsonWriter* writer, uint64_t value) {
  BeforeValue(writer);
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  writer->text.append(buffer, result.ptr);
}

void JsonDouble(JsonWriter* writer, double value) {
  BeforeValue(writer);
  if (!std::isfinite(value)) {
    writer->text += "null";
    return;
  }
  // to_chars without a format gives the shortest text that reads back
  // exactly; its forms ("1e+20", "-0", "0.5") are all JSON numbers.
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  writer->text.append(buffer, result.ptr);
}

void JsonBool(JsonWriter* writer, bool value) {
  BeforeValue(writer);
  writer->text += value ? "true" : "false";
}

void JsonNull(JsonWriter* writer) {
  BeforeValue(writer);
  writer->text += "null";
}
