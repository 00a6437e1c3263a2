#include "host/core/object_path.h"

#include <gtest/gtest.h>

#include "support/text_equal.h"

namespace qor::host {
namespace {

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

TEST(ParsePathTest, NamesTheObjectOfEveryForm) {
  struct Case {
    const char* path;
    PathKind kind;
    const char* machineText;
    std::uint64_t element;
  };
  const Case cases[] = {
      {"/org/qor/Scripting1", PathKind::kApplication, "", 0},
      {"/org/qor/Scripting1/vm/id/A1_2d2", PathKind::kMachine, "A1-2", 0},
      {"/org/qor/Scripting1/vm/name/_", PathKind::kMachine, "", 0},
      {"/org/qor/Scripting1/vm/key/7", PathKind::kMachine, "7", 0},
      {"/org/qor/Scripting1/vm/name/Debian/serial/1", PathKind::kSerialPort, "Debian", 1},
      {"/org/qor/Scripting1/vm/id/X/file/12", PathKind::kGuestFile, "X", 12},
      {"/org/qor/Scripting1/vm/id/X/process/3", PathKind::kGuestProcess, "X", 3},
      {"/org/qor/Scripting1/usb/0", PathKind::kUsbDevice, "", 0},
      {"/org/qor/Scripting1/window/4", PathKind::kWindow, "", 4},
      {"/", PathKind::kNode, "", 0},
      {"/org/qor/Scripting1/vm/id", PathKind::kNode, "", 0},
      {"/org/qor/Scripting1/vm/id/X/serial", PathKind::kNode, "X", 0},
  };
  for (const auto& c : cases) {
    const ParsedPath p = parsePath(c.path);
    EXPECT_EQ(p.kind, c.kind) << c.path;
    EXPECT_EQ(p.machineText, c.machineText) << c.path;
    EXPECT_EQ(p.element, c.element) << c.path;
  }
}

TEST(ParsePathTest, MalformedPathsNameNothing) {
  for (const char* path :
       {"/org/qor/Scripting10", "/org/qor/Scripting1/", "/org/qor/Scripting1/vm/uuid/X",
        "/org/qor/Scripting1/vm/id/_zz", "/org/qor/Scripting1/vm/id/X/disk/1",
        "/org/qor/Scripting1/vm/id/X/serial/01", "/org/qor/Scripting1/vm/id/X/serial/-1",
        "/org/qor/Scripting1/vm/id/X/serial/1/2", "/org/qor/Scripting1/usb/x",
        "/org/qor/Scripting1/vm/key/abc", "/elsewhere", ""}) {
    EXPECT_EQ(parsePath(path).kind, PathKind::kNone) << path;
  }
}

TEST(TextEqualTest, ComparesUnderCanonicalEquivalenceOnly) {
  EXPECT_TRUE(support::canonicallyEqual("Caf\xC3\xA9", "Cafe\xCC\x81"));  // precomposed é vs e + combining acute
  EXPECT_FALSE(support::canonicallyEqual("debian", "Debian"));
  EXPECT_FALSE(support::canonicallyEqual("Debian ", "Debian"));
  EXPECT_FALSE(support::canonicallyEqual("\xEF\xAC\x81", "fi"));  // the ligature is only compatibly equal
  EXPECT_TRUE(support::canonicallyEqual("\xFF", "\xFF"));         // not UTF-8: compared as bytes
}

}  // namespace
}  // namespace qor::host
