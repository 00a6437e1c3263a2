#include "support/base64.h"

#include <gtest/gtest.h>

#include <random>

namespace qor::support {
namespace {

TEST(Base64, EncodesTheRfcVectors) {
  const std::pair<const char*, const char*> vectors[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {"foob", "Zm9vYg=="},
                                                         {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
  for (auto [plain, encoded] : vectors) {
    EXPECT_EQ(base64Encode(plain), encoded);
    EXPECT_EQ(base64Decode(encoded), plain);
  }
}

TEST(Base64, RoundTripsEveryByteValueAndLength) {
  std::mt19937 random(7);
  for (std::size_t length = 0; length < 300; ++length) {
    std::string bytes(length, '\0');
    for (auto& b : bytes) b = static_cast<char>(random());
    EXPECT_EQ(base64Decode(base64Encode(bytes)), bytes) << length;
  }
}

TEST(Base64, DecodingIsStrict) {
  for (const char* text : {"Zg", "Zg=", "Zm9v\n", "Zm 9v", "Z=g=", "=Zg=", "Zg==Zg==", "Zm9-",
                           "Zm9_", "Zm9v====", "Zg===", "\xC3\xA9\xC3\xA9"}) {
    EXPECT_EQ(base64Decode(text), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace qor::support
