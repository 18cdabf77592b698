#include "observation/http_status.h"

#include <gtest/gtest.h>

namespace tarnwick_observation {
namespace {

TEST(HttpReasonPhraseTest, RegisteredCodesHavePhrasesOthersDoNot) {
  struct Case {
    long code;
    const char* phrase;
  };
  const Case cases[] = {
      {100, "Continue"},
      {200, "OK"},
      {203, "Non-Authoritative Information"},
      {308, "Permanent Redirect"},
      {404, "Not Found"},
      {418, "I'm a teapot"},
      {429, "Too Many Requests"},
      {451, "Unavailable For Legal Reasons"},
      {503, "Service Unavailable"},
      {511, "Network Authentication Required"},
      // Gaps and values outside the status range.
      {0, "<unknown status code>"},
      {-1, "<unknown status code>"},
      {199, "<unknown status code>"},
      {306, "<unknown status code>"},
      {509, "<unknown status code>"},
      {600, "<unknown status code>"},
  };
  for (const Case& c : cases) EXPECT_EQ(http_reason_phrase(c.code), c.phrase) << c.code;
}

}  // namespace
}  // namespace tarnwick_observation
