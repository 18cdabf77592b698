#include "support/json.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>

namespace tarnwick_support {
namespace {

std::string roundtrip(std::string_view text) {
  auto v = parse_json(text);
  if (!v) return "ERR:" + v.error().message;
  return to_json(*v);
}

TEST(JsonReadWrite, CanonicalTextOfValidDocuments) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"null", "null"},
      {" \t\r\n true \n", "true"},
      {"false", "false"},
      {"0", "0"},
      {"-0", "-0.0"},
      {"-1", "-1"},
      {"18446744073709551615", "18446744073709551615"},
      {"18446744073709551616", "1.8446744073709552e19"},
      {"-9223372036854775808", "-9223372036854775808"},
      {"-9223372036854775809", "-9.223372036854776e18"},
      {"1.0", "1.0"},
      {"1.5", "1.5"},
      {"0.1", "0.1"},
      {"1e2", "100.0"},
      {"1E+2", "100.0"},
      {"1e15", "1000000000000000.0"},
      {"1e16", "1e16"},
      {"1.5e300", "1.5e300"},
      {"0.0001", "0.0001"},
      {"0.00001", "0.00001"},
      {"0.000001", "1e-6"},
      {"1.25e-7", "1.25e-7"},
      {"1e-400", "0.0"},
      {"-1e-400", "-0.0"},
      {"123.456", "123.456"},
      {"[3,1,2]", "[3,1,2]"},
      {"[]", "[]"},
      {"{}", "{}"},
      {R"({"b": 1, "a": [true, null]})", R"({"a":[true,null],"b":1})"},
      {R"({"a":1,"a":2})", R"({"a":2})"},
      {R"({"a":1,"b":0,"a":{"x":3}})", R"({"a":{"x":3},"b":0})"},
      {R"({"é":1,"z":2,"A":3})", R"({"A":3,"z":2,"é":1})"},
      {R"("\u00e9\ud83d\ude00")", "\"\xC3\xA9\xF0\x9F\x98\x80\""},
      {R"("a\"b\\c\/d")", R"("a\"b\\c/d")"},
      {R"("\b\f\n\r\t\u0001\u001f\u007f")", "\"\\b\\f\\n\\r\\t\\u0001\\u001f\x7f\""},
      {R"(["\u0000"])", R"(["\u0000"])"},
  };
  for (const auto& c : cases) EXPECT_EQ(roundtrip(c.in), c.out) << c.in;
}

TEST(JsonReadWrite, LargeUnsortedObjectsKeepLastDuplicate) {
  // More members than the small-object path handles, in reverse order, each
  // key given twice.
  std::string in = "{";
  std::string out = "{";
  for (int i = 0; i < 40; ++i) {
    char key[8];
    std::snprintf(key, sizeof key, "k%02d", 39 - i);
    in += std::string(i ? "," : "") + "\"" + key + "\":0,\"" + key + "\":" + std::to_string(i);
  }
  for (int i = 0; i < 40; ++i) {
    out += std::string(i ? "," : "") + "\"k" + (i < 10 ? "0" : "") + std::to_string(i) +
           "\":" + std::to_string(39 - i);
  }
  in += "}";
  out += "}";
  EXPECT_EQ(roundtrip(in), out);
}

TEST(JsonReadWrite, RejectsInvalidDocuments) {
  const char* cases[] = {
      "",         " ",     "{} x",     "nul",       "[1,]",        "{\"a\":1,}",  "01",  "-",
      "1.",       ".5",    "1e",       "+1",        "1e400",       "-1e400",      "[",   "{\"a\"}",
      "{a:1}",    "\"abc", "\"\t\"",   "\"\\x\"",   "\"\\ud800\"", "\"\\udc00\"", "'a'", "[1 2]",
      "\"\xff\"", "NaN",   "Infinity", "\"\\u12\"",
  };
  for (const char* c : cases) EXPECT_FALSE(parse_json(c).has_value()) << c;
}

TEST(JsonReadWrite, ErrorsCarryMessageAndPosition) {
  auto e = parse_json("{\n  \"a\": 1 x\n}");
  ASSERT_FALSE(e.has_value());
  EXPECT_EQ(e.error().line, 2u);
  EXPECT_NE(e.error().to_string().find(" at line 2 column "), std::string::npos);
  EXPECT_EQ(parse_json("").error().message, "EOF while parsing a value");
  EXPECT_EQ(parse_json("1 2").error().message, "trailing characters");
}

TEST(JsonReadWrite, NestingLimitIs127) {
  for (char open : {'[', '{'}) {
    auto nest = [open](int depth) {
      std::string s;
      for (int i = 0; i < depth; ++i) s += open == '[' ? "[" : "{\"k\":";
      s += "1";
      for (int i = 0; i < depth; ++i) s += open == '[' ? "]" : "}";
      return s;
    };
    EXPECT_TRUE(parse_json(nest(127)).has_value());
    auto deep = parse_json(nest(128));
    ASSERT_FALSE(deep.has_value());
    EXPECT_EQ(deep.error().message, "recursion limit exceeded");
    // Far deeper input is refused without exhausting the stack.
    EXPECT_FALSE(parse_json(std::string(1000000, open)).has_value());
  }
}

TEST(JsonReadWrite, NumberClasses) {
  EXPECT_TRUE(parse_json("5")->is_uint());
  EXPECT_TRUE(parse_json("-5")->is_int());
  EXPECT_TRUE(parse_json("5.0")->is_float());
  EXPECT_TRUE(parse_json("1e2")->is_float());
  EXPECT_TRUE(parse_json("-0")->is_float());
  EXPECT_TRUE(parse_json("99999999999999999999")->is_float());
}

TEST(JsonEquality, KindAndContent) {
  auto j = [](const char* t) { return *parse_json(t); };
  EXPECT_EQ(j("1"), JsonValue(int64_t{1}));  // signed and unsigned storage
  EXPECT_NE(j("1"), j("1.0"));
  EXPECT_NE(j("[1,2]"), j("[2,1]"));
  EXPECT_EQ(j(R"({"a":1,"b":[null]})"), j(R"({"b":[null],"a":1})"));
  EXPECT_NE(j(R"({"a":1})"), j(R"({"a":1,"b":1})"));
  EXPECT_NE(j("null"), j("false"));
  EXPECT_NE(j("\"1\""), j("1"));
  EXPECT_NE(JsonValue(int64_t{-1}), JsonValue(std::numeric_limits<uint64_t>::max()));
}

TEST(JsonObjectTest, KeepsByteOrderAndUniqueKeys) {
  JsonObject o;
  o.insert_or_assign("b", JsonValue(1));
  o.insert_or_assign("a", JsonValue(2));
  o.insert_or_assign("\xC3\xA9", JsonValue(3));
  o.insert_or_assign("b", JsonValue(4));
  EXPECT_EQ(to_json(JsonValue(o)), "{\"a\":2,\"b\":4,\"\xC3\xA9\":3}");
  EXPECT_TRUE(o.erase("a"));
  EXPECT_FALSE(o.erase("a"));
  EXPECT_EQ(o.find("a"), nullptr);
  ASSERT_NE(o.find("b"), nullptr);
  EXPECT_EQ(*o.find("b"), JsonValue(4));
}

TEST(JsonWriterTest, PrettyLayout) {
  auto v = *parse_json(R"({"a":[1,{"x":null}],"b":{},"c":[],"d":"t"})");
  EXPECT_EQ(to_json_pretty(v),
            "{\n"
            "  \"a\": [\n"
            "    1,\n"
            "    {\n"
            "      \"x\": null\n"
            "    }\n"
            "  ],\n"
            "  \"b\": {},\n"
            "  \"c\": [],\n"
            "  \"d\": \"t\"\n"
            "}");
  EXPECT_EQ(to_json_pretty(JsonValue(JsonArray{})), "[]");
}

TEST(JsonWriterTest, FloatsReadBackExactly) {
  const double values[] = {0.1,     1.0 / 3, 2.5e-8, 123456789.125,      5e-324,
                           1.7e308, -42.0,   1e21,   9007199254740993.0, 0.3};
  for (double d : values) {
    std::string s;
    append_json_float(d, &s);
    auto back = parse_json(s);
    ASSERT_TRUE(back.has_value()) << s;
    ASSERT_TRUE(back->is_float()) << s;
    EXPECT_EQ(back->as_float(), d) << s;
  }
  std::string nan;
  append_json_float(std::numeric_limits<double>::quiet_NaN(), &nan);
  EXPECT_EQ(nan, "null");
}

TEST(Utf8, Validation) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("plain ascii text, long enough for the fast path"));
  EXPECT_TRUE(is_valid_utf8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
  EXPECT_FALSE(is_valid_utf8("\xFF\xFE"));
  EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));          // overlong
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(is_valid_utf8("abc\xE2\x82"));       // truncated
}

}  // namespace
}  // namespace tarnwick_support
