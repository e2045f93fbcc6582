#include "common/json_writer.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include <gtest/gtest.h>

// --- Structure and separators ------------------------------------------------

TEST(JsonWriterTest, CommasOnlyBetweenValuesAndIntegersAtTheirLimits) {
  JsonWriter w = {};
  JsonBeginObject(&w);
  JsonKey(&w, "a");
  JsonBeginArray(&w);
  JsonInt(&w, std::numeric_limits<int64_t>::min());
  JsonUint(&w, std::numeric_limits<uint64_t>::max());
  JsonBeginObject(&w);
  JsonEndObject(&w);
  JsonBeginArray(&w);
  JsonEndArray(&w);
  JsonNull(&w);
  JsonEndArray(&w);
  JsonKey(&w, "b");
  JsonBool(&w, false);
  JsonEndObject(&w);
  EXPECT_EQ(w.text, R"({"a":[-9223372036854775808,18446744073709551615,{},[],null],"b":false})");
}

// --- Strings ------------------------------------------------------------------

TEST(JsonWriterTest, EscapesQuotesBackslashesAndEveryControlCharacter) {
  std::string out;
  AppendJsonQuoted(std::string("q\"b\\n\nt\tz\x01\x1f\0e", 13), &out);
  EXPECT_EQ(out, "\"q\\\"b\\\\n\\nt\\tz\\u0001\\u001f\\u0000e\"");
}

TEST(JsonWriterTest, KeepsUtf8AndReplacesMalformedBytes) {
  std::string out;
  // Cyrillic and an emoji pass; a lone continuation byte, a truncated
  // sequence, an overlong '/' and an encoded surrogate are replaced.
  AppendJsonQuoted("\xD0\xAF\xF0\x9F\x98\x80|\x80|\xD0|\xC0\xAF|\xED\xA0\x80", &out);
  EXPECT_EQ(out,
            "\"\xD0\xAF\xF0\x9F\x98\x80|\xEF\xBF\xBD|\xEF\xBF\xBD|"
            "\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

// --- Doubles ------------------------------------------------------------------

TEST(JsonWriterTest, DoublesReadBackExactlyAndNonFiniteBecomesNull) {
  const double values[] = {0.1, -1.0 / 3.0, 1e300, 5e-324, 111111111111111.0, -0.0};
  for (double v : values) {
    JsonWriter w = {};
    JsonDouble(&w, v);
    EXPECT_EQ(std::strtod(w.text.c_str(), nullptr), v) << w.text;
  }
  JsonWriter w = {};
  JsonBeginArray(&w);
  JsonDouble(&w, std::nan(""));
  JsonDouble(&w, -std::numeric_limits<double>::infinity());
  JsonEndArray(&w);
  EXPECT_EQ(w.text, "[null,null]");
}
