#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/json_text.h"

namespace qor::cli::json {
namespace {

// Every byte below 0x20, and DEL, in one text: each is escaped, and a JSON parser reads the
// document back as the very bytes.
TEST(JsonText, EveryControlCharacterIsEscapedAndReadsBack) {
  std::string all;
  for (int c = 0; c < 0x20; ++c) all += static_cast<char>(c);
  all += "\x7f\"\\/ é ✓ 🚀";
  const std::string text = string(all);
  for (char c : text) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7f);
  EXPECT_TRUE(text.starts_with(R"("\u0000\u0001\u0002\u0003\u0004\u0005\u0006\u0007\b)"));
  EXPECT_NE(text.find(R"(\b\t\n\u000b\f\r)"), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(text).get<std::string>(), all);
}

TEST(JsonText, BytesThatAreNotUtf8BecomeTheReplacementCharacter) {
  EXPECT_EQ(string("a\xff"
                   "b"),
            "\"a\xEF\xBF\xBD"
            "b\"");
  EXPECT_TRUE(nlohmann::json::accept(string("\xc3")));
}

TEST(JsonText, ObjectsAndArraysKeepTheirOrderOnOneLine) {
  EXPECT_EQ(Object().add("b", number(-2)).add("a", stringOrNull(std::nullopt)).text(),
            R"({"b": -2, "a": null})");
  EXPECT_EQ(array({}), "[]");
  EXPECT_EQ(array({string("x"), numberOrNull(7), Object().text()}), R"(["x", 7, {}])");
}

}  // namespace
}  // namespace qor::cli::json
