#include "support/yaml_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace tarnwick_support {
namespace {

std::string parse_error(std::string_view text) {
  auto doc = YamlDocument::parse(text);
  if (doc) return "<parsed>";
  return doc.error().to_string();
}

std::string nested_sequences(size_t depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

TEST(YamlDocumentTest, DocumentCountAndSyntaxFaults) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"", "EOF while parsing a value"},
      {"# only a comment\n\n", "EOF while parsing a value"},
      {"a: 1\n---\nb: 2\n",
       "deserializing from YAML containing more than one document is not supported"},
      {"---\n---\n", "deserializing from YAML containing more than one document is not supported"},
      {"a: [1, 2\n",
       "did not find expected ',' or ']' at line 2 column 1, while parsing a flow sequence at "
       "line 1 column 4"},
      {"a: *nowhere\n", "unknown anchor at line 1 column 4"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_error(c.text), c.expected) << c.text;
  }
}

TEST(YamlDocumentTest, NestingIsLimitedTo128Levels) {
  EXPECT_EQ(parse_error(nested_sequences(128)), "<parsed>");
  EXPECT_EQ(parse_error(nested_sequences(129)), "recursion limit exceeded at line 1 column 129");
  EXPECT_EQ(parse_error("a: " + nested_sequences(128)),
            "recursion limit exceeded at line 1 column 131");
  // Deep input is refused while reading, long before any stack could grow.
  EXPECT_EQ(parse_error(nested_sequences(10'000)), "recursion limit exceeded at line 1 column 129");
  EXPECT_EQ(parse_error(std::string(10'000, '[')), "recursion limit exceeded at line 1 column 129");
  std::string block;
  for (int i = 0; i < 10'000; ++i) block += std::string(i, ' ') + "k:\n";
  EXPECT_EQ(parse_error(block).rfind("recursion limit exceeded", 0), 0u);
}

TEST(YamlDocumentTest, AliasesCountTheirDepth) {
  // The alias reads as its value, so it adds that value's levels.
  const std::string deep = "a: &x " + nested_sequences(100) + "\nb: " + std::string(30, '[') +
                           "*x" + std::string(30, ']') + "\n";
  EXPECT_EQ(parse_error(deep).rfind("recursion limit exceeded", 0), 0u);
  const std::string fits = "a: &x " + nested_sequences(100) + "\nb: " + std::string(27, '[') +
                           "*x" + std::string(27, ']') + "\n";
  EXPECT_EQ(parse_error(fits), "<parsed>");
}

TEST(YamlDocumentTest, AliasBombIsRefused) {
  std::string bomb =
      "a: &a [\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\"]\n";
  for (char c = 'b'; c <= 'i'; ++c) {
    bomb += std::string(1, c) + ": &" + c + " [";
    for (int i = 0; i < 9; ++i) bomb += std::string(i ? "," : "") + "*" + char(c - 1);
    bomb += "]\n";
  }
  EXPECT_EQ(parse_error(bomb).rfind("alias expansion limit exceeded at line", 0), 0u)
      << parse_error(bomb);

  // Replays within the budget are fine.
  std::string modest = "a: &a [1, 2, 3]\nb: [";
  for (int i = 0; i < 1000; ++i) modest += std::string(i ? "," : "") + "*a";
  modest += "]\n";
  EXPECT_EQ(parse_error(modest), "<parsed>");
}

TEST(YamlDocumentTest, HostileInputNeverCrashes) {
  std::mt19937 rng(7);
  std::string garbage(10 << 20, '\0');
  for (char& c : garbage) c = static_cast<char>(rng());
  const std::vector<std::string> inputs = {
      garbage,
      std::string("a: b\0c\n", 7),
      "a: \xff\xfe\n",
      "a:\n\tb: 1\n",
      "a: " + std::string(1 << 20, 'x'),
      std::string(1 << 20, '{'),
      std::string(1 << 20, '-'),
      "&a [*a]",
  };
  for (const auto& input : inputs) {
    auto doc = YamlDocument::parse(input);
    if (!doc) {
      EXPECT_FALSE(doc.error().message.empty());
    }
  }
  EXPECT_EQ(parse_error("&a [*a]"), "unknown anchor at line 1 column 5");
}

struct ScalarCase {
  std::string text;
  YamlScalar::Kind kind;
  std::string description;
};

TEST(YamlScalarTest, CoreSchemaResolution) {
  using K = YamlScalar::Kind;
  const std::vector<ScalarCase> cases = {
      {"~", K::kNull, "unit value"},
      {"null", K::kNull, "unit value"},
      {"Null", K::kNull, "unit value"},
      {"NULL", K::kNull, "unit value"},
      {"", K::kNull, "unit value"},
      {"nULL", K::kString, "string \"nULL\""},
      {"!!null whatever", K::kNull, "unit value"},
      {"true", K::kBool, "boolean `true`"},
      {"True", K::kBool, "boolean `true`"},
      {"FALSE", K::kBool, "boolean `false`"},
      {"yes", K::kString, "string \"yes\""},
      {"5", K::kUInt, "integer `5`"},
      {"+5", K::kUInt, "integer `5`"},
      {"-1", K::kInt, "integer `-1`"},
      {"0x1F", K::kUInt, "integer `31`"},
      {"0o17", K::kUInt, "integer `15`"},
      {"0b11", K::kString, "string \"0b11\""},
      {"18446744073709551615", K::kUInt, "integer `18446744073709551615`"},
      {"-9223372036854775808", K::kInt, "integer `-9223372036854775808`"},
      {"1.5", K::kFloat, "floating point `1.5`"},
      {"1e3", K::kFloat, "floating point `1000.0`"},
      {".5", K::kFloat, "floating point `0.5`"},
      {"-.inf", K::kFloat, "floating point `-inf`"},
      {".NaN", K::kFloat, "floating point `NaN`"},
      {"1.2.3", K::kString, "string \"1.2.3\""},
      {"'5'", K::kString, "string \"5\""},
      {"\"true\"", K::kString, "string \"true\""},
      {"!!str 5", K::kString, "string \"5\""},
      {"!!int \"7\"", K::kUInt, "integer `7`"},
      {"\"a\\\"b\"", K::kString, "string \"a\\\"b\""},
  };
  for (const auto& c : cases) {
    auto doc = YamlDocument::parse("v: " + c.text + "\n");
    ASSERT_TRUE(doc) << c.text << ": " << doc.error().to_string();
    const YamlValue v = doc->root().value(0, nullptr);
    EXPECT_EQ(v.scalar().kind, c.kind) << c.text;
    EXPECT_EQ(v.describe(), c.description) << c.text;
  }
}

TEST(YamlScalarTest, ContainersDescribeThemselves) {
  auto doc = YamlDocument::parse("[[1], {a: 1}]");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->root().describe(), "sequence");
  EXPECT_EQ(doc->root().item(0, nullptr).describe(), "sequence");
  EXPECT_EQ(doc->root().item(1, nullptr).describe(), "map");
}

// A small record family to exercise the declarative reader on its own.
struct Inner {
  std::string label;
  std::optional<std::vector<std::string>> tags;
  friend bool operator==(const Inner&, const Inner&) = default;
};
struct Outer {
  uint32_t size = 7;
  std::vector<Inner> items;
  friend bool operator==(const Outer&, const Outer&) = default;
};

const YamlRecord<Inner> kInner{
    "struct Inner",
    {yaml_field("label", &Inner::label, yaml_text(), YamlPresence::kRequired),
     yaml_field("tags", &Inner::tags, yaml_optional(yaml_sequence(yaml_text())),
                YamlPresence::kDefaulted)}};
const YamlRecord<Outer> kOuter{
    "struct Outer",
    {yaml_field("size", &Outer::size, yaml_u32(), YamlPresence::kDefaulted),
     yaml_field("items", &Outer::items, yaml_sequence(yaml_record(kInner)),
                YamlPresence::kRequired)}};

std::string read_outer_error(std::string_view text) {
  auto outer = yaml_read(text, yaml_record(kOuter));
  return outer ? "<ok>" : outer.error().to_string();
}

TEST(YamlRecordTest, ErrorsCarryPathAndPosition) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"{}", "missing field `items`"},
      {"size: 1", "missing field `items`"},
      {"x: 1\nsize: 1", "missing field `items`"},
      {"items: [{}]", "items[0]: missing field `label` at line 1 column 9"},
      {"items:\n- label: a\n- label: b\n  label: c\n",
       "items[1]: duplicate field `label` at line 4 column 3"},
      {"items: [{label: a, tags: {x: 1}}]",
       "items[0].tags: invalid type: map, expected a sequence at line 1 column 26"},
      {"items: [{label: a, tags: [x, [y]]}]",
       "items[0].tags[1]: invalid type: sequence, expected a string at line 1 column 30"},
      {"items: []\nsize: 4294967296",
       "size: invalid value: integer `4294967296`, expected u32 at line 2 column 7"},
      {"items: []\nsize: '4'", "size: invalid type: string \"4\", expected u32 at line 2 column 7"},
      {"items: []\nsize: 1.0",
       "size: invalid type: floating point `1.0`, expected u32 at line 2 column 7"},
      {"items: []\nsize: ~", "size: invalid type: unit value, expected u32 at line 2 column 7"},
      {"items: []\n[k]: 1", "invalid type: sequence, expected field identifier at line 2 column 1"},
      {"- 1", "invalid type: sequence, expected struct Outer"},
      {"items: [5]",
       "items[0]: invalid type: integer `5`, expected struct Inner at line 1 column 9"},
      {"items: [{label: a, unknown: [[[{deep: 1}]]], tags: ~}]", "<ok>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read_outer_error(c.text), c.expected) << c.text;
  }
}

TEST(YamlRecordTest, DefaultsEmptyValuesAndAliases) {
  auto outer = yaml_read("base: &b {label: 5, tags: [true, ~, x]}\nitems: [*b, {label: z, tags: }]",
                         yaml_record(kOuter));
  ASSERT_TRUE(outer) << outer.error().to_string();
  const Outer expected{
      7, {Inner{"5", std::vector<std::string>{"true", "~", "x"}}, Inner{"z", std::nullopt}}};
  EXPECT_EQ(*outer, expected);

  // An empty value reads as an empty sequence or mapping.
  auto empty = yaml_read("items:", yaml_record(kOuter));
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->items.empty());
  EXPECT_EQ(read_outer_error("items: [\"\"]"),
            "items[0]: invalid type: string \"\", expected struct Inner at line 1 column 9");
  EXPECT_EQ(read_outer_error("items:\n-\n"), "items[0]: missing field `label` at line 2 column 2");
}

TEST(YamlRecordTest, EnumsNameTheirVariants) {
  enum class Color { kRed, kGreen };
  const auto read = yaml_enum<Color>({{"red", Color::kRed}, {"green", Color::kGreen}});
  auto doc = YamlDocument::parse("[red, Red, 5, [x]]");
  ASSERT_TRUE(doc);
  const YamlValue root = doc->root();
  EXPECT_EQ(read(root.item(0, nullptr)), Color::kRed);
  EXPECT_EQ(read(root.item(1, nullptr)).error().message,
            "unknown variant `Red`, expected `red` or `green`");
  EXPECT_EQ(read(root.item(2, nullptr)).error().message,
            "unknown variant `5`, expected `red` or `green`");
  EXPECT_EQ(read(root.item(3, nullptr)).error().message,
            "invalid type: sequence, expected a string");
}

TEST(YamlJsonTest, ValuesConvertToTheJsonModel) {
  auto value = yaml_read(
      "{b: [1, -2, 1.5, true, ~, 'x', .inf, .nan], a: {k: 1, k: 2}, 3: \"4\", e: }", yaml_json());
  ASSERT_TRUE(value) << value.error().to_string();
  EXPECT_EQ(to_json(*value),
            R"({"3":"4","a":{"k":2},"b":[1,-2,1.5,true,null,"x",null,null],"e":null})");
  EXPECT_TRUE(value->as_object().find("b")->as_array()[0].is_uint());
  EXPECT_TRUE(value->as_object().find("b")->as_array()[1].is_int());

  auto bad = yaml_read("{a: {[1]: 2}}", yaml_json());
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().to_string(),
            "a: invalid type: sequence, expected a string at line 1 column 6");
}

}  // namespace
}  // namespace tarnwick_support
