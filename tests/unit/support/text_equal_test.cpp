#include <gtest/gtest.h>

#include "support/text_equal.h"

namespace qor::support {
namespace {

TEST(CanonicallyEqual, CanonicalEquivalenceOnlyNoFoldingNoTrimming) {
  const struct {
    const char* label;
    std::string a;
    std::string b;
    bool equal;
  } cases[] = {
      {"identical", "Debian", "Debian", true},
      {"both empty", "", "", true},
      {"precomposed and decomposed", "Caf\xc3\xa9", "Cafe\xcc\x81", true},
      {"Angstrom sign and A with ring", "\xe2\x84\xab", "\xc3\x85", true},
      {"letter case", "debian", "Debian", false},
      {"trailing space", "Debian ", "Debian", false},
      {"leading space", " Debian", "Debian", false},
      {"compatibility form is not canonical", "\xef\xac\x81", "fi", false},  // U+FB01 ligature
      {"same invalid bytes", "\xff\xfe", "\xff\xfe", true},
      {"invalid against valid", "Caf\xe9", "Caf\xc3\xa9", false},
      {"embedded NUL", std::string("ab\0c", 4), "ab", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(canonicallyEqual(c.a, c.b), c.equal) << c.label;
    EXPECT_EQ(canonicallyEqual(c.b, c.a), c.equal) << c.label << " (reversed)";
  }
}

TEST(TextEqualTest, ComparesUnderCanonicalEquivalenceOnly) {
  EXPECT_TRUE(support::canonicallyEqual("Caf\xC3\xA9",
                                        "Cafe\xCC\x81"));  // precomposed é vs e + combining acute
  EXPECT_FALSE(support::canonicallyEqual("debian", "Debian"));
  EXPECT_FALSE(support::canonicallyEqual("Debian ", "Debian"));
  EXPECT_FALSE(
      support::canonicallyEqual("\xEF\xAC\x81", "fi"));    // the ligature is only compatibly equal
  EXPECT_TRUE(support::canonicallyEqual("\xFF", "\xFF"));  // not UTF-8: compared as bytes
}

}  // namespace
}  // namespace qor::support
