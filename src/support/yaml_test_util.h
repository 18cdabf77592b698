// File: yaml_test_util.h
//
// Builders of hostile YAML texts shared by the tests of every YAML document
// (policies, verifier configurations).

#ifndef TARNWICK_SUPPORT_YAML_TEST_UTIL_H_
#define TARNWICK_SUPPORT_YAML_TEST_UTIL_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick_support::testing {

// `unit` written `n` times.
inline std::string repeat(std::string_view unit, size_t n) {
  std::string out;
  out.reserve(unit.size() * n);
  for (size_t i = 0; i < n; ++i) out += unit;
  return out;
}

// Root mapping entries l0..l8: nine levels of ten aliases each, a billion
// leaves once expanded.
inline std::string alias_bomb_anchors() {
  std::string text = "l0: &l0 [x, x, x, x, x, x, x, x, x, x]\n";
  for (int level = 1; level < 9; ++level) {
    const std::string prev = "*l" + std::to_string(level - 1);
    text += "l" + std::to_string(level) + ": &l" + std::to_string(level) + " [";
    for (int i = 0; i < 10; ++i) text += (i ? ", " : "") + prev;
    text += "]\n";
  }
  return text;
}

}  // namespace tarnwick_support::testing

#endif  // TARNWICK_SUPPORT_YAML_TEST_UTIL_H_
