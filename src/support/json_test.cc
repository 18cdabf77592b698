#include "support/json.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

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

TEST(ScanJson, RootKindAndTopLevelKeys) {
  using K = JsonValue::Kind;
  struct Case {
    const char* text;
    K kind;
    std::vector<std::string> keys = {};
  } cases[] = {
      {R"({"query": "alpha", "limit": 10, "filters": {"lang": "en"}})",
       K::kObject,
       {"query", "limit", "filters"}},
      // Repeats are listed each time; escaped keys are decoded.
      {R"( {"a":1,"b\n":[],"a":2,"\u00e9\ud83d\ude00":null} )",
       K::kObject,
       {"a", "b\n", "a", "\xC3\xA9\xF0\x9F\x98\x80"}},
      {"{}", K::kObject, {}},
      {R"([{"nested": 1}])", K::kArray, {}},
      {R"("text")", K::kString, {}},
      {"7", K::kUInt},
      {"-7", K::kInt},
      {"-1e-400", K::kFloat},
      {"-0", K::kFloat},
      {"true", K::kBool},
      {"\t\r\n null \n", K::kNull},
  };
  for (const Case& c : cases) {
    auto shape = scan_json(c.text);
    ASSERT_TRUE(shape.has_value()) << c.text;
    EXPECT_EQ(shape->kind, c.kind) << c.text;
    EXPECT_EQ(shape->keys, c.keys) << c.text;
  }
}

TEST(ScanJson, RefusesWhatTheReaderRefusesWithTheSameError) {
  const char* cases[] = {
      "",
      "{} x",
      "[1,]",
      "{\"a\":1,}",
      "01",
      "1e400",
      "-1e400",
      "{\"a\"}",
      "{a:1}",
      "\"\t\"",
      "\"\\x\"",
      "\"\\ud800\"",
      "\"\\udc00\"",
      "[1 2]",
      "\"\xff\"",
      "{\"\xC0\xAF\":1}",
      "[[]",
      "{\"a\":{\"b\":tru}}",
  };
  for (const char* c : cases) {
    auto scanned = scan_json(c);
    auto read = parse_json(c);
    ASSERT_FALSE(read.has_value()) << c;
    ASSERT_FALSE(scanned.has_value()) << c;
    EXPECT_EQ(scanned.error().to_string(), read.error().to_string()) << c;
  }
  const std::string deepest = std::string(kJsonMaxDepth, '[') + std::string(kJsonMaxDepth, ']');
  EXPECT_TRUE(scan_json(deepest).has_value());
  auto too_deep = scan_json("[" + deepest + "]");
  ASSERT_FALSE(too_deep.has_value());
  EXPECT_EQ(too_deep.error().message, "recursion limit exceeded");
  EXPECT_FALSE(scan_json(std::string(1000000, '{')).has_value());
}

// Numbers around the top of the float range, where only some overflow.
TEST(ScanJson, NumberRangeMatchesTheReader) {
  const std::string cases[] = {
      "1e308",
      "9.99e307",
      "1.7976931348623157e308",
      "1.7976931348623159e308",
      "1.8e308",
      "-1.8e308",
      "123e306",
      "1797e305",
      "0.0001e312",
      "0.0e999",
      "-0e400",
      "1e-400",
      "1e99999999999",
      std::string(308, '9'),
      std::string(309, '9'),
  };
  for (const std::string& c : cases) {
    auto scanned = scan_json(c);
    auto read = parse_json(c);
    ASSERT_EQ(scanned.has_value(), read.has_value()) << c;
    if (read) {
      EXPECT_EQ(scanned->kind, read->kind()) << c;
    }
  }
}

// Random edits of varied documents: the scan and the reader agree on every
// text, on the verdict, the error, the root's kind and the root's keys.
TEST(ScanJson, AgreesWithTheReaderOnMutatedTexts) {
  const std::string seeds[] = {
      R"({"query": "alpha", "limit": 10, "tags": ["a", "b"], "deep": {"x": [1, {"y": null}]}})",
      R"([1, -0.25, 3e5, -1E-2, 18446744073709551616, "s\\t", true, false, null, {"k": {}}])",
      R"({"a":{"a":{"a":[[[0]]]}},"b":"\/","c\u0041":"\ud83d\ude00","\u00e9":"caf)"
      "\xC3\xA9"
      R"("})",
      R"({"n": 1.5e308, "m": 2e-320, "z": -0, "k\"q": "\b\f\n\r\t"})",
  };
  const std::string alphabet = "{}[]\",:\\ -0123456789.eE+trufalsnu\"abcdDF\n\t\x01\xC3\xA9\xFF";
  std::mt19937 rng(20260);
  for (const std::string& seed : seeds) {
    for (int round = 0; round < 4000; ++round) {
      std::string text = seed;
      const int edits = round == 0 ? 0 : 1 + static_cast<int>(rng() % 3);
      for (int e = 0; e < edits && !text.empty(); ++e) {
        const size_t at = rng() % text.size();
        switch (rng() % 3) {
          case 0: text[at] = alphabet[rng() % alphabet.size()]; break;
          case 1: text.erase(at, 1); break;
          default: text.insert(at, 1, alphabet[rng() % alphabet.size()]); break;
        }
      }
      auto scanned = scan_json(text);
      auto read = parse_json(text);
      ASSERT_EQ(scanned.has_value(), read.has_value()) << text;
      if (!read) {
        ASSERT_EQ(scanned.error().to_string(), read.error().to_string()) << text;
        continue;
      }
      ASSERT_EQ(scanned->kind, read->kind()) << text;
      std::vector<std::string> keys = scanned->keys;
      std::sort(keys.begin(), keys.end());
      keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
      std::vector<std::string> members;
      if (const JsonObject* object = read->if_object()) {
        for (const auto& [key, value] : *object) members.push_back(key);
      }
      ASSERT_EQ(keys, members) << text;
    }
  }
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
