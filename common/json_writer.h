// A streaming JSON text writer: values are appended to `text` as they are
// written, with commas and colons placed by the writer.
//
//   JsonWriter w = {};
//   JsonBeginObject(&w);
//   JsonKey(&w, "name");  JsonString(&w, "value");
//   JsonKey(&w, "count"); JsonInt(&w, 3);
//   JsonEndObject(&w);
//   // w.text == {"name":"value","count":3}
//
// The writer does not check the grammar beyond what it needs to place
// separators: the caller pairs every Begin with its End and writes a key
// before each value inside an object.  Strings are taken as UTF-8; byte
// sequences that are not UTF-8 are written as U+FFFD.  Standard library only.
#ifndef GANDREL_COMMON_JSON_WRITER_H_
#define GANDREL_COMMON_JSON_WRITER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct JsonWriter {
  std::string text;            // the JSON written so far; the caller may
                               // take it (and clear it) between values
  std::vector<bool> needComma; // one entry per open object or array
  bool afterKey;               // a key was written, its value comes next
};

void JsonBeginObject(JsonWriter* writer);
void JsonEndObject(JsonWriter* writer);
void JsonBeginArray(JsonWriter* writer);
void JsonEndArray(JsonWriter* writer);

// An object member's name; the next call writes its value.
void JsonKey(JsonWriter* writer, std::string_view key);

void JsonString(JsonWriter* writer, std::string_view utf8);
void JsonInt(JsonWriter* writer, int64_t value);
void JsonUint(JsonWriter* writer, uint64_t value);
// Shortest text that reads back as the same double; NaN and infinities,
// which JSON cannot carry, are written as null.
void JsonDouble(JsonWriter* writer, double value);
void JsonBool(JsonWriter* writer, bool value);
void JsonNull(JsonWriter* writer);

// Appends `utf8` to `out` as a quoted JSON string: quote, backslash and the
// control characters U+0000-U+001F escaped (\n, \r, \t, \b, \f or \u00XX),
// malformed UTF-8 replaced by U+FFFD.
void AppendJsonQuoted(std::string_view utf8, std::string* out);

#endif  // GANDREL_COMMON_JSON_WRITER_H_
