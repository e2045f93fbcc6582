#include "export/json_reader.h"

#include <cstdlib>

#include "export/codepage.h"

namespace {

struct Parser {
  std::string_view text;
  size_t at;
  int line;
  std::string error;
};

bool Fail(Parser* p, const std::string& what) {
  if (p->error.empty()) p->error = "line " + std::to_string(p->line) + ": " + what;
  return false;
}

void SkipSpace(Parser* p) {
  while (p->at < p->text.size()) {
    const char c = p->text[p->at];
    if (c == '\n') ++p->line;
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return;
    ++p->at;
  }
}

bool Literal(Parser* p, std::string_view word) {
  if (p->text.substr(p->at, word.size()) != word) return Fail(p, "unknown word");
  p->at += word.size();
  return true;
}

// Four hex digits after "\u"; false when they are not.
bool Hex4(Parser* p, uint32_t* code) {
  if (p->at + 4 > p->text.size()) return Fail(p, "\\u needs four hex digits");
  *code = 0;
  for (int i = 0; i < 4; ++i) {
    const char c = p->text[p->at++];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return Fail(p, "\\u needs four hex digits");
    *code = *code * 16 + static_cast<uint32_t>(digit);
  }
  return true;
}

bool Escape(Parser* p, std::string* out) {
  if (p->at >= p->text.size()) return Fail(p, "string not closed");
  const char c = p->text[p->at++];
  static const std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
  const size_t simple = kFrom.find(c);
  if (simple != std::string_view::npos) {
    out->push_back(kTo[simple]);
    return true;
  }
  if (c != 'u') return Fail(p, std::string("unknown escape \\") + c);
  uint32_t code = 0;
  if (!Hex4(p, &code)) return false;
  if (code >= 0xD800 && code < 0xDC00 && p->text.substr(p->at, 2) == "\\u") {
    p->at += 2;
    uint32_t low = 0;
    if (!Hex4(p, &low)) return false;
    code = low >= 0xDC00 && low < 0xE000 ? 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00)
                                         : 0xFFFD;
  } else if (code >= 0xD800 && code < 0xE000) {
    code = 0xFFFD;
  }
  AppendUtf8(code, out);
  return true;
}

bool String(Parser* p, std::string* out) {
  ++p->at;  // the opening quote
  while (p->at < p->text.size()) {
    const char c = p->text[p->at++];
    if (c == '"') return true;
    if (static_cast<unsigned char>(c) < 0x20) return Fail(p, "control character in a string");
    if (c == '\\') {
      if (!Escape(p, out)) return false;
    } else {
      out->push_back(c);
    }
  }
  return Fail(p, "string not closed");
}

bool Number(Parser* p, JsonValue* value) {
  const size_t start = p->at;
  auto digits = [&] {
    const size_t from = p->at;
    while (p->at < p->text.size() && p->text[p->at] >= '0' && p->text[p->at] <= '9') ++p->at;
    return p->at > from;
  };
  if (p->text[p->at] == '-') ++p->at;
  if (!digits()) return Fail(p, "a number needs digits");
  if (p->at < p->text.size() && p->text[p->at] == '.') {
    ++p->at;
    if (!digits()) return Fail(p, "a number needs digits after '.'");
  }
  if (p->at < p->text.size() && (p->text[p->at] == 'e' || p->text[p->at] == 'E')) {
    ++p->at;
    if (p->at < p->text.size() && (p->text[p->at] == '+' || p->text[p->at] == '-')) ++p->at;
    if (!digits()) return Fail(p, "a number needs digits in its exponent");
  }
  value->kind = JsonKind::Number;
  value->text.assign(p->text.substr(start, p->at - start));
  value->number = strtod(value->text.c_str(), nullptr);
  return true;
}

bool Value(Parser* p, JsonValue* value, int depth);

bool Array(Parser* p, JsonValue* value, int depth) {
  value->kind = JsonKind::Array;
  ++p->at;
  SkipSpace(p);
  if (p->at < p->text.size() && p->text[p->at] == ']') return ++p->at, true;
  for (;;) {
    value->items.emplace_back();
    if (!Value(p, &value->items.back(), depth + 1)) return false;
    SkipSpace(p);
    if (p->at >= p->text.size()) return Fail(p, "array not closed");
    const char c = p->text[p->at++];
    if (c == ']') return true;
    if (c != ',') return Fail(p, "expected ',' or ']' in an array");
  }
}

bool Object(Parser* p, JsonValue* value, int depth) {
  value->kind = JsonKind::Object;
  ++p->at;
  SkipSpace(p);
  if (p->at < p->text.size() && p->text[p->at] == '}') return ++p->at, true;
  for (;;) {
    SkipSpace(p);
    if (p->at >= p->text.size() || p->text[p->at] != '"') return Fail(p, "expected a member name");
    value->members.emplace_back();
    if (!String(p, &value->members.back().first)) return false;
    SkipSpace(p);
    if (p->at >= p->text.size() || p->text[p->at] != ':') {
      return Fail(p, "expected ':' after a member name");
    }
    ++p->at;
    if (!Value(p, &value->members.back().second, depth + 1)) return false;
    SkipSpace(p);
    if (p->at >= p->text.size()) return Fail(p, "object not closed");
    const char c = p->text[p->at++];
    if (c == '}') return true;
    if (c != ',') return Fail(p, "expected ',' or '}' in an object");
  }
}

bool Value(Parser* p, JsonValue* value, int depth) {
  if (depth > kJsonMaxDepth) return Fail(p, "nested too deeply");
  SkipSpace(p);
  if (p->at >= p->text.size()) return Fail(p, "a value is missing");
  value->line = p->line;
  const char c = p->text[p->at];
  switch (c) {
    case '{': return Object(p, value, depth);
    case '[': return Array(p, value, depth);
    case '"': value->kind = JsonKind::String; return String(p, &value->text);
    case 't': value->kind = JsonKind::Bool; value->boolean = true; return Literal(p, "true");
    case 'f': value->kind = JsonKind::Bool; return Literal(p, "false");
    case 'n': return Literal(p, "null");
    default: break;
  }
  if (c == '-' || (c >= '0' && c <= '9')) return Number(p, value);
  return Fail(p, std::string("unexpected character '") + c + "'");
}

}  // namespace

bool ParseJson(std::string_view text, JsonValue* value, std::string* error) {
  Parser p{text, 0, 1, {}};
  *value = JsonValue{};
  if (text.substr(0, 3) == "\xEF\xBB\xBF") p.at = 3;  // a byte order mark some editors write
  bool ok = Value(&p, value, 0);
  SkipSpace(&p);
  if (ok && p.at != text.size()) ok = Fail(&p, "text after the value");
  if (!ok) *error = p.error;
  return ok;
}

const JsonValue* JsonMember(const JsonValue& object, std::string_view name) {
  for (const auto& member : object.members) {
    if (member.first == name) return &member.second;
  }
  return nullptr;
}

const char* JsonKindName(JsonKind kind) {
  switch (kind) {
    case JsonKind::Null: return "null";
    case JsonKind::Bool: return "a boolean";
    case JsonKind::Number: return "a number";
    case JsonKind::String: return "a string";
    case JsonKind::Array: return "an array";
    case JsonKind::Object: return "an object";
  }
  return "?";
}
