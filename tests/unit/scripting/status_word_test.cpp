#include "scripting/status_word.h"

#include <gtest/gtest.h>

namespace qor::scripting {
namespace {

TEST(StatusWord, EachCodeOfTheTableAndAnythingElse) {
  const struct {
    std::uint32_t code;
    std::string_view word;
  } cases[] = {
      {0x53745361, "stopped"},  {0x53745362, "starting"}, {0x53745363, "started"},
      {0x53745364, "pausing"},  {0x53745365, "paused"},   {0x53745366, "resuming"},
      {0x53745367, "stopping"}, {0x53745368, "unknown"},  // the next code after the table
      {0x73747361, "unknown"},                            // "stsa": case is part of the code
      {0x53745300, "unknown"},  {0, "unknown"},           {0xFFFFFFFF, "unknown"},
  };
  for (const auto& c : cases) EXPECT_EQ(statusWord(c.code), c.word) << std::hex << c.code;
}

TEST(FourCharCode, FirstCharacterIsTheMostSignificantByteAndSpacesCount) {
  EXPECT_EQ(contract::fourCharCode("StSa"), 0x53745361u);
  EXPECT_EQ(static_cast<std::uint32_t>(QorSerialInterface::tcp), 0x54635020u);
  EXPECT_EQ(static_cast<std::uint32_t>(QorSaveOptions::no), 0x6E6F2020u);
}

}  // namespace
}  // namespace qor::scripting
