#include "observation/canonical.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick_observation {
namespace {

JsonValue Json(std::string_view text) { return tarnwick_support::parse_json(text).value(); }

std::string Nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

struct CanonicalCase {
  std::string name;
  std::string input;
  std::vector<std::string> volatile_fields;
  std::string expected;
};

TEST(CanonicalizeArgs, SortsKeysStripsFieldsAndReadsBadInputAsNull) {
  const std::vector<CanonicalCase> cases = {
      {"strips a named field and sorts keys",
       R"({"b": 1, "a": [true, null], "ts": 5})",
       {"ts"},
       R"({"a":[true,null],"b":1})"},
      {"not json", "not json", {}, "null"},
      {"empty text", "", {}, "null"},
      {"trailing characters", "{} x", {}, "null"},
      {"trailing whitespace", " {\"a\":1}\n\t ", {}, R"({"a":1})"},
      {"repeated key, last wins", R"({"a":1,"a":2})", {}, R"({"a":2})"},
      {"arrays keep their order", "[3,1,2]", {}, "[3,1,2]"},
      {"integral float keeps fraction", "1.0", {}, "1.0"},
      {"no whitespace, escapes", "{ \"k\" : \"a\\u0001\\\"\" }", {}, R"({"k":"a\u0001\""})"},
      {"127 nested levels accepted", Nested(127), {}, Nested(127)},
      {"128 nested levels rejected", Nested(128), {}, "null"},
      {"unresolvable path skipped", R"({"a":1})", {"b.c", "a.x", ""}, R"({"a":1})"},
      {"nested path", R"({"a":{"id":1,"v":2}})", {"$.a.id"}, R"({"a":{"v":2}})"},
      {"null input with paths", "oops", {"a"}, "null"},
  };
  for (const CanonicalCase& c : cases) {
    EXPECT_EQ(canonicalize_args(c.input, c.volatile_fields), c.expected) << c.name;
  }
}

struct StripCase {
  std::string document;
  std::vector<std::string> paths;
  std::string expected;
};

TEST(StripVolatileFields, PathSyntaxResolvesParentAndRemovesLastSegment) {
  const std::string doc = R"({"a":{"b":1,"c":2},"ts":5,"x":[{"id":7}]})";
  const std::vector<StripCase> cases = {
      {doc, {"ts"}, R"({"a":{"b":1,"c":2},"x":[{"id":7}]})"},
      {doc, {"$.ts"}, R"({"a":{"b":1,"c":2},"x":[{"id":7}]})"},
      {doc, {"a.b"}, R"({"a":{"c":2},"ts":5,"x":[{"id":7}]})"},
      {doc, {"x.0.id"}, R"({"a":{"b":1,"c":2},"ts":5,"x":[{}]})"},
      // The parent is the number 1, an array, or missing: nothing changes.
      {doc, {"a.b.c"}, doc},
      {doc, {"x.0"}, doc},
      {doc, {"missing.key"}, doc},
      // Array indices have no sign, no leading zeros and must be in range.
      {doc, {"x.00.id"}, doc},
      {doc, {"x.+0.id"}, doc},
      {doc, {"x.-1.id"}, doc},
      {doc, {"x.1.id"}, doc},
      {doc, {"x.99999999999999999999999.id"}, doc},
      // Only a leading "$." is dropped.
      {R"({"$":1,"$x":2,"ts":3})", {"$"}, R"({"$x":2,"ts":3})"},
      {R"({"$":1,"$x":2,"ts":3})", {"$x"}, R"({"$":1,"ts":3})"},
      {R"({"":1,"a":2})", {"$."}, R"({"a":2})"},
      {R"({"":1,"a":2})", {""}, R"({"a":2})"},
      // Empty segments are kept: "a..b" goes through the key "".
      {R"({"a":{"":{"b":1,"c":2}}})", {"a..b"}, R"({"a":{"":{"c":2}}})"},
      {R"({"":{"b":1}})", {".b"}, R"({"":{}})"},
      {R"({"a":{"":1,"b":2}})", {"a."}, R"({"a":{"b":2}})"},
      // Parent segments are read as a JSON Pointer: "/" splits, "~1" and "~0" unescape.
      {R"({"a":{"b":{"c":1,"d":2}}})", {"a/b.c"}, R"({"a":{"b":{"d":2}}})"},
      {R"({"a/b":{"c":1},"a~b":{"c":2}})", {"a~1b.c", "a~0b.c"}, R"({"a/b":{},"a~b":{}})"},
      {R"({"~1":{"c":1}})", {"~01.c"}, R"({"~1":{}})"},
      // The last segment is matched byte for byte, without unescaping.
      {R"({"a~1b":1,"a/b":2})", {"a~1b"}, R"({"a/b":2})"},
      // Roots that are not objects.
      {"[1,2]", {"0"}, "[1,2]"},
      {"7", {"ts"}, "7"},
      {R"("ts")", {"ts"}, R"("ts")"},
      {R"([{"id":1,"q":2}])", {"0.id"}, R"([{"q":2}])"},
      // Paths apply in order, each to what the previous left.
      {R"({"a":{"b":1},"c":2})", {"a", "a.b", "c"}, "{}"},
      {R"({"a":{"b":{"c":1}}})", {"a.b.c", "a.b"}, R"({"a":{}})"},
  };
  for (const StripCase& c : cases) {
    JsonValue value = Json(c.document);
    strip_volatile_fields(value, c.paths);
    EXPECT_EQ(value, Json(c.expected)) << c.document << " with " << c.paths.front();
  }
}

struct InferCase {
  std::string name;
  std::string current;
  std::vector<std::pair<std::string, std::string>> history;  // tool, arguments
  size_t min_samples;
  std::vector<std::string> expected;  // sorted
};

std::vector<std::string> Infer(const InferCase& c) {
  std::vector<JsonValue> values;
  values.reserve(c.history.size());
  for (const auto& entry : c.history) values.push_back(Json(entry.second));
  std::vector<std::pair<std::string_view, const JsonValue*>> pairs;
  for (size_t i = 0; i < values.size(); ++i) pairs.emplace_back(c.history[i].first, &values[i]);
  std::vector<std::string> keys =
      auto_infer_volatile_fields(Json(c.current), pairs, "search", c.min_samples);
  std::sort(keys.begin(), keys.end());
  return keys;
}

TEST(AutoInferVolatileFields, InfersKeysThatWereSoleDifferenceAndDifferedOften) {
  const std::string cur = R"({"q":"x","ts":3})";
  const std::vector<InferCase> cases = {
      {"sole difference twice, differs thrice",
       cur,
       {{"search", R"({"q":"x","ts":1})"},
        {"search", R"({"q":"x","ts":2})"},
        {"search", R"({"q":"y","ts":2})"}},
       2,
       {"ts"}},
      {"sole difference once, differs twice",
       cur,
       {{"search", R"({"q":"x","ts":2})"}, {"search", R"({"q":"y","ts":2})"}},
       2,
       {"ts"}},
      {"never the sole difference",
       cur,
       {{"search", R"({"q":"y","ts":2})"}, {"search", R"({"q":"z","ts":9})"}},
       2,
       {}},
      {"fewer samples than min_samples", cur, {{"search", R"({"q":"x","ts":1})"}}, 2, {}},
      {"other tools are ignored",
       cur,
       {{"search", R"({"q":"x","ts":1})"},
        {"fetch", R"({"q":"x","ts":2})"},
        {"Search", R"({"q":"x","ts":2})"}},
       2,
       {}},
      {"non-object samples contribute nothing",
       cur,
       {{"search", R"({"q":"x","ts":1})"}, {"search", "null"}, {"search", R"("x")"}},
       2,
       {}},
      {"non-object samples between objects",
       cur,
       {{"search", R"({"q":"x","ts":1})"}, {"search", "[1]"}, {"search", R"({"q":"x","ts":2})"}},
       2,
       {"ts"}},
      {"key missing from current counts",
       R"({"q":"x"})",
       {{"search", R"({"q":"x","nonce":1})"}, {"search", R"({"q":"x","nonce":2})"}},
       2,
       {"nonce"}},
      {"key missing from sample counts",
       R"({"q":"x","nonce":1})",
       {{"search", R"({"q":"x"})"}, {"search", R"({"q":"x"})"}},
       2,
       {"nonce"}},
      {"integer and float differ",
       R"({"n":1})",
       {{"search", R"({"n":1.0})"}, {"search", R"({"n":1.0})"}},
       2,
       {"n"}},
      {"equal values are no difference",
       cur,
       {{"search", R"({"q":"x","ts":3})"}, {"search", R"({"q":"x","ts":3})"}},
       2,
       {}},
      {"two sole keys",
       R"({"a":1,"b":1})",
       {{"search", R"({"a":2,"b":1})"},
        {"search", R"({"a":1,"b":2})"},
        {"search", R"({"a":3,"b":3})"}},
       2,
       {"a", "b"}},
      {"threshold three",
       cur,
       {{"search", R"({"q":"x","ts":1})"}, {"search", R"({"q":"x","ts":2})"}},
       3,
       {}},
      {"current not an object", R"([1])", {{"search", "[2]"}, {"search", "[3]"}}, 2, {}},
      {"dotted key stays one key",
       R"({"a.b":3,"q":1})",
       {{"search", R"({"a.b":1,"q":1})"}, {"search", R"({"a.b":2,"q":1})"}},
       2,
       {"a.b"}},
  };
  for (const InferCase& c : cases) EXPECT_EQ(Infer(c), c.expected) << c.name;
}

}  // namespace
}  // namespace tarnwick_observation
