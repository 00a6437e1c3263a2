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

TEST(PathElementTest, EscapesEveryByteButLettersAndDigits) {
  struct Case {
    std::string text;
    std::string element;
  };
  const Case cases[] = {
      {"", "_"},
      {"Debian", "Debian"},
      {"A1B2-C3", "A1B2_2dC3"},
      {"Windows 11", "Windows_2011"},
      {"_", "_5f"},
      {"a/b.c", "a_2fb_2ec"},
      {"\xC3\xA9", "_c3_a9"},  // é: each UTF-8 byte on its own
  };
  for (const auto& c : cases) {
    EXPECT_EQ(escapePathElement(c.text), c.element) << c.text;
    EXPECT_EQ(unescapePathElement(c.element), c.text) << c.element;
  }
}

TEST(PathElementTest, RefusesElementsNoTextEscapesTo) {
  // A truncated escape, a non-hex digit, an escaped NUL and an escaped letter would each
  // make two paths name the same machine, or none.
  for (const char* element : {"_2", "a_", "_zz", "_00", "_41", "__", ""}) {
    EXPECT_FALSE(unescapePathElement(element)) << element;
  }
  EXPECT_EQ(unescapePathElement("_2D"), "-");  // GLib reads hex digits of either case
}

}  // namespace
}  // namespace qor::contract
