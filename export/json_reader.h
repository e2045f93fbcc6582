// A small JSON reader (RFC 8259) for the files people and scripts write for
// gandrel, such as schema files: the whole text into a tree of values.
// Standard library only; no exceptions.  Numbers are kept as doubles (and
// their text, so that integers can be checked exactly); strings are UTF-8,
// \u escapes decoded (surrogate pairs joined, a lone one gives U+FFFD).
// Nesting deeper than kJsonMaxDepth is refused, so hostile input cannot
// exhaust the stack.
#ifndef GANDREL_EXPORT_JSON_READER_H_
#define GANDREL_EXPORT_JSON_READER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

constexpr int kJsonMaxDepth = 64;

enum class JsonKind : uint8_t { Null, Bool, Number, String, Array, Object };

struct JsonValue {
  JsonKind kind = JsonKind::Null;
  bool boolean = false;
  double number = 0;
  std::string text;  // String: the string; Number: the number as written
  std::vector<JsonValue> items;                            // Array
  std::vector<std::pair<std::string, JsonValue>> members;  // Object, in order
  int line = 0;  // 1-based line where the value begins
};

// Parses `text` (one value, white space around it).  True, or false with
// *error one line such as "line 3: expected ':' after a member name".
bool ParseJson(std::string_view text, JsonValue* value, std::string* error);

// The member `name` of an object, or null (also for a value that is no
// object).  The first one when a name repeats.
const JsonValue* JsonMember(const JsonValue& object, std::string_view name);

// The kind's name for messages: "an object", "a string", ...
const char* JsonKindName(JsonKind kind);

#endif  // GANDREL_EXPORT_JSON_READER_H_
