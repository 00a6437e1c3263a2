#include "scripting/record.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "scripting/bridge.h"
#include "wire/value_codec.h"

namespace qor::scripting {
namespace {

using contract::Value;

// A record as it leaves and arrives: through the one codec of values, then the record's own
// reading of a value.
int readRecord(sd_bus_message* m, Record& record) {
  Value value;
  if (const int r = wire::readValue(m, value); r < 0) return r;
  auto read = recordOf(value);
  if (!read) return -EBADMSG;
  record = std::move(*read);
  return 1;
}

int appendRecord(sd_bus_message* m, const Record& record) {
  const auto value = valueOfRecord(record);
  if (!value) return -EINVAL;
  return wire::appendValue(m, *value);
}

int appendText(sd_bus_message* m, const std::string& text) {
  return wire::appendValue(m, Value::string(text));
}

int appendTexts(sd_bus_message* m, const std::vector<std::string>& texts) {
  return wire::appendValue(m, Value::stringArray(texts));
}

int readStrings(sd_bus_message* m, std::vector<std::string>& out) {
  Value value;
  if (const int r = wire::readValue(m, value); r < 0) return r;
  out.clear();
  for (const auto& element : *contract::elementsOf(value))
    out.push_back(*contract::textOf(element));
  return 1;
}

// Messages built and read back without a bus daemon: a bus over one end of a socket pair is
// enough for sd-bus to create them, and sealing makes them readable.
class MessageFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends_), 0);
    ASSERT_GE(sd_bus_new(&bus_), 0);
    ASSERT_GE(sd_bus_set_fd(bus_, ends_[0], ends_[0]), 0);
    ASSERT_GE(sd_bus_start(bus_), 0);
  }
  void TearDown() override {
    sd_bus_close_unref(bus_);
    close(ends_[1]);
  }

  MessagePtr message() {
    sd_bus_message* m = nullptr;
    EXPECT_GE(sd_bus_message_new_method_call(bus_, &m, "org.qor.Qor", "/org/qor/Scripting1",
                                             "org.qor.Scripting1.GuestProcess", "GetResult"),
              0);
    return MessagePtr(m);
  }
  static void seal(sd_bus_message* m) {
    ASSERT_GE(sd_bus_message_seal(m, 1, 0), 0);
    ASSERT_GE(sd_bus_message_rewind(m, 1), 0);
  }

  int ends_[2] = {-1, -1};
  sd_bus* bus_ = nullptr;
};

TEST_F(MessageFixture, RecordReadsIntegersBooleansTextsAndNestedRecords) {
  auto m = message();
  ASSERT_GE(sd_bus_message_append(m.get(), "a{sv}", 13, "y", "y", std::uint8_t{200}, "n", "n",
                                  std::int16_t{-7}, "q", "q", std::uint16_t{65535}, "i", "i",
                                  std::int32_t{-3}, "u", "u", std::uint32_t{4000000000}, "x", "x",
                                  std::numeric_limits<std::int64_t>::min(), "t big", "t",
                                  std::numeric_limits<std::uint64_t>::max(), "t edge", "t",
                                  std::uint64_t{9223372036854775807ULL}, "hasExited", "b", 1,
                                  "outputData", "s", "aGk=", "double", "d", 1.5, "list", "as", 1,
                                  "x", "nested", "a{sv}", 1, "name", "s", "copy"),
            0);
  seal(m.get());

  Record record;
  ASSERT_GE(readRecord(m.get(), record), 0);
  ASSERT_EQ(record.size(), 13u);
  const struct {
    const char* key;
    std::int64_t value;
  } integers[] = {
      {"y", 200},
      {"n", -7},
      {"q", 65535},
      {"i", -3},
      {"u", 4000000000},
      {"x", std::numeric_limits<std::int64_t>::min()},
      {"t big", std::numeric_limits<std::int64_t>::max()},  // saturates
      {"t edge", std::numeric_limits<std::int64_t>::max()},
  };
  for (const auto& c : integers) {
    const RecordValue* value = find(record, c.key);
    ASSERT_NE(value, nullptr) << c.key;
    ASSERT_NE(value->integer(), nullptr) << c.key;
    EXPECT_EQ(*value->integer(), c.value) << c.key;
  }
  ASSERT_NE(find(record, "hasExited")->boolean(), nullptr);
  EXPECT_TRUE(*find(record, "hasExited")->boolean());
  EXPECT_EQ(*find(record, "outputData")->text(), "aGk=");
  // Values of other types are kept as Other, and reading goes on past them.
  EXPECT_TRUE(std::holds_alternative<RecordValue::Other>(find(record, "double")->value));
  EXPECT_TRUE(std::holds_alternative<RecordValue::Other>(find(record, "list")->value));
  const auto* nested = std::get_if<Record>(&find(record, "nested")->value);
  ASSERT_NE(nested, nullptr);
  EXPECT_EQ(*find(*nested, "name")->text(), "copy");
  EXPECT_EQ(find(record, "absent"), nullptr);
}

TEST_F(MessageFixture, RecordSentIsTheRecordRead) {
  const Record configuration{{"name", RecordValue{std::string("Debian copy")}}};
  const Record properties{{"configuration", RecordValue{configuration}},
                          {"flag", RecordValue{false}},
                          {"count", RecordValue{std::int64_t{-5}}}};
  auto m = message();
  ASSERT_GE(appendRecord(m.get(), properties), 0);
  seal(m.get());
  EXPECT_STREQ(sd_bus_message_get_signature(m.get(), 1), "a{sv}");

  Record back;
  ASSERT_GE(readRecord(m.get(), back), 0);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[0].first, "configuration");
  const auto* inner = std::get_if<Record>(&back[0].second.value);
  ASSERT_NE(inner, nullptr);
  ASSERT_EQ(inner->size(), 1u);
  EXPECT_EQ(*find(*inner, "name")->text(), "Debian copy");
  EXPECT_FALSE(*find(back, "flag")->boolean());
  EXPECT_EQ(*find(back, "count")->integer(), -5);
}

TEST_F(MessageFixture, EmptyRecordIsAnEmptyDictionary) {
  auto m = message();
  ASSERT_GE(appendRecord(m.get(), {{"configuration", RecordValue{Record{}}}}), 0);
  seal(m.get());
  Record back;
  ASSERT_GE(readRecord(m.get(), back), 0);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_TRUE(std::get<Record>(back[0].second.value).empty());
}

TEST_F(MessageFixture, TextsThatCannotTravelWholeAreRefusedNotCut) {
  const std::string withNul("ab\0cd", 5);
  EXPECT_EQ(appendText(message().get(), withNul), -EINVAL);
  EXPECT_EQ(appendTexts(message().get(), {"ok", withNul}), -EINVAL);
  EXPECT_EQ(appendRecord(message().get(), {{withNul, RecordValue{true}}}), -EINVAL);
  EXPECT_EQ(appendRecord(message().get(), {{"k", RecordValue{withNul}}}), -EINVAL);
  EXPECT_LT(appendText(message().get(), "caf\xe9"), 0);                       // not UTF-8
  EXPECT_EQ(appendRecord(message().get(), {{"k", RecordValue{}}}), -EINVAL);  // Other
}

TEST_F(MessageFixture, ArraysOfPathsAndTexts) {
  auto m = message();
  ASSERT_GE(sd_bus_message_append(m.get(), "aoas", 2, "/a", "/b", 0), 0);
  seal(m.get());
  std::vector<std::string> paths{"stale"};
  std::vector<std::string> texts{"stale"};
  ASSERT_GE(readStrings(m.get(), paths), 0);
  ASSERT_GE(readStrings(m.get(), texts), 0);
  EXPECT_EQ(paths, (std::vector<std::string>{"/a", "/b"}));
  EXPECT_TRUE(texts.empty());
}

}  // namespace
}  // namespace qor::scripting
