#include "contract/object_path.h"

#include <gtest/gtest.h>

namespace qor::contract {
namespace {

TEST(EscapePathElement, KeepsOnlyAsciiLettersAndDigits) {
  const struct {
    std::string text;
    std::string element;
  } cases[] = {
      {"", "_"},
      {"Debian12", "Debian12"},
      {"_", "_5f"},  // the escape character itself is escaped, so escaping is one-to-one
      {"A1B2-C3", "A1B2_2dC3"},
      {"my vm", "my_20vm"},
      {"it's \"x\"", "it_27s_20_22x_22"},
      {"a/b.c", "a_2fb_2ec"},
      {"\xc3\xa9t\xc3\xa9", "_c3_a9t_c3_a9"},    // UTF-8 bytes, lower-case hex
      {std::string("\xff\x00z", 3), "_ff_00z"},  // not UTF-8, NUL included
  };
  for (const auto& c : cases) EXPECT_EQ(escapePathElement(c.text), c.element) << c.text;
}

TEST(MachinePaths, ByIdAndByNameUnderTheRoot) {
  EXPECT_EQ(machinePathWithID("A-1"), "/org/qor/Scripting1/vm/id/A_2d1");
  EXPECT_EQ(machinePathWithName(""), "/org/qor/Scripting1/vm/name/_");
}

}  // namespace
}  // namespace qor::contract
