#include <gtest/gtest.h>

#include "commands/guest/exit_status.h"
#include "commands/usb/name_field.h"

namespace qor::commands {
namespace {

TEST(Utf16Field, PadsAndCutsByUtf16CodeUnits) {
  EXPECT_EQ(utf16Field("Keyboard", 32), "Keyboard" + std::string(24, ' '));
  EXPECT_EQ(utf16Field(std::string(40, 'x'), 32), std::string(32, 'x'));
  EXPECT_EQ(utf16Field("", 4), "    ");
  // "é" is one code unit whatever its UTF-8 length.
  EXPECT_EQ(utf16Field("Caméra", 8), "Caméra  ");
}

TEST(Utf16Field, NeverSplitsASurrogatePair) {
  const std::string emoji = "\xF0\x9F\x98\x80";  // U+1F600, two UTF-16 units
  // 31 units of text, then the emoji would need units 32 and 33: it is left out.
  EXPECT_EQ(utf16Field(std::string(31, 'a') + emoji + "z", 32), std::string(31, 'a') + " ");
  // With room for it, it stays whole and counts two.
  EXPECT_EQ(utf16Field(std::string(30, 'a') + emoji + "z", 32), std::string(30, 'a') + emoji);
  EXPECT_EQ(utf16Field(emoji, 4), emoji + "  ");
}

TEST(ExitStatusFor, NeverTurnsAFailureIntoSuccess) {
  EXPECT_EQ(exitStatusFor(0), 0);
  EXPECT_EQ(exitStatusFor(1), 1);
  EXPECT_EQ(exitStatusFor(3), 3);
  EXPECT_EQ(exitStatusFor(255), 255);
  const std::int64_t failures[] = {256, 512, 257, -1, -256, 4294967296, INT64_MIN, INT64_MAX};
  for (std::int64_t code : failures) EXPECT_EQ(exitStatusFor(code), 255) << code;
}

}  // namespace
}  // namespace qor::commands
