#include "commands/complete_values.h"

#include <gtest/gtest.h>

namespace qor::commands {
namespace {

TEST(CompleteValues, TellsTheBeginningOfAUuidFromANameThatLooksHex) {
  for (const char* text : {"5", "5d3e", "5D3E2A1C", "5D3E2A1C-", "5D3E2A1C-7B4F-4E8A-9C61-2F0B",
                           "5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01", "Deb", "beef"}) {
    EXPECT_TRUE(startsLikeUuid(text)) << text;
  }
  for (const char* text : {"", "Debian", "Windows 11", "5D3E2A1C7", "5D3E-", "-5D3E",
                           "5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01F", "5D3E2A1C 7B4F", "g"}) {
    EXPECT_FALSE(startsLikeUuid(text)) << text;
  }
}

}  // namespace
}  // namespace qor::commands
