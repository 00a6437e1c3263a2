#include "commands/usb/device_identifier.h"

#include <gtest/gtest.h>

#include <limits>

namespace qor::commands {
namespace {

struct IdentifierCase {
  const char* text;
  DeviceIdentifier expected;
};

class DeviceIdentifierTest : public ::testing::TestWithParam<IdentifierCase> {};

TEST_P(DeviceIdentifierTest, ReadsAsPairLocationOrInvalid) {
  EXPECT_EQ(parseDeviceIdentifier(GetParam().text), GetParam().expected) << GetParam().text;
}

constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
constexpr auto kMax = std::numeric_limits<std::int64_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Identifiers, DeviceIdentifierTest,
    ::testing::Values(
        IdentifierCase{"DEAD:BEEF", VendorProduct{0xDEAD, 0xBEEF}},
        IdentifierCase{"dead:beef", VendorProduct{0xDEAD, 0xBEEF}},
        IdentifierCase{"10:20", VendorProduct{0x10, 0x20}},  // never location 10
        IdentifierCase{"12", Location{12}},                  // never 0x12
        IdentifierCase{"+4", Location{4}}, IdentifierCase{"-1", Location{-1}},
        IdentifierCase{"::DEAD::BEEF::", VendorProduct{0xDEAD, 0xBEEF}},
        IdentifierCase{"-1:+2", VendorProduct{-1, 2}}, IdentifierCase{":4", InvalidIdentifier{}},
        IdentifierCase{"4:", InvalidIdentifier{}}, IdentifierCase{"::4", InvalidIdentifier{}},
        IdentifierCase{"1:2:3", InvalidIdentifier{}},
        IdentifierCase{"0x12:0x34", InvalidIdentifier{}},
        IdentifierCase{"+:1", InvalidIdentifier{}}, IdentifierCase{"", InvalidIdentifier{}},
        IdentifierCase{"+", InvalidIdentifier{}}, IdentifierCase{" 4", InvalidIdentifier{}},
        IdentifierCase{"4 ", InvalidIdentifier{}}, IdentifierCase{"AB", InvalidIdentifier{}},
        IdentifierCase{"9223372036854775807", Location{kMax}},
        IdentifierCase{"-9223372036854775808", Location{kMin}},
        IdentifierCase{"9223372036854775808", InvalidIdentifier{}},
        IdentifierCase{"12345678901234567890", InvalidIdentifier{}},
        IdentifierCase{"7FFFFFFFFFFFFFFF:-8000000000000000", VendorProduct{kMax, kMin}},
        // A pair piece that overflows is no pair, and the whole text is no decimal number.
        IdentifierCase{"10000000000000000:1", InvalidIdentifier{}}));

TEST(ParseSignedInteger, RejectsSignsAloneAndForeignDigits) {
  EXPECT_EQ(parseSignedInteger("-", 10), std::nullopt);
  EXPECT_EQ(parseSignedInteger("+-1", 10), std::nullopt);
  EXPECT_EQ(parseSignedInteger("1a", 10), std::nullopt);
  EXPECT_EQ(parseSignedInteger("1g", 16), std::nullopt);
  EXPECT_EQ(parseSignedInteger("٣", 10), std::nullopt);  // non-ASCII digits are not digits
  EXPECT_EQ(parseSignedInteger("-0", 10), 0);
}

}  // namespace
}  // namespace qor::commands
