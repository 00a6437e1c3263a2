// Command bodies against a fake channel: what a command asks for and what it makes of the
// answers, without a bus daemon or a host process. The end-to-end tests prove the wire.

#include <gtest/gtest.h>

#include <memory>

#include "cli/errors.h"
#include "cli/parsed_arguments.h"
#include "commands/commands.h"
#include "contract/object_path.h"
#include "fake_channel.h"
#include "scripting/object_model.h"

namespace qor::commands {
namespace {

using contract::Value;
using testing::FakeChannel;

const std::string kMachine = contract::machinePathWithID("M1");
const std::string kFile = kMachine + "/file/1";

class CommandBodyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto channel = std::make_unique<FakeChannel>();
    fake_ = channel.get();
    application_ = scripting::QorApplication::withChannel(std::move(channel));
    fake_->answer("Application.VirtualMachines", Value::objectPathArray({kMachine}));
    fake_->answer("VirtualMachine.Id", Value::string("M1"));
    fake_->answer("VirtualMachine.OpenFile", Value::objectPath(kFile));
    fake_->on("GuestFile.Close",
              [](const scripting::Request&) { return FakeChannel::Answer{std::vector<Value>{}}; });
  }

  static cli::ParsedArguments pull(const std::string& path) {
    cli::ParsedArguments arguments;
    arguments.append("identifier", "M1");
    arguments.append("path", path);
    return arguments;
  }

  // Reads answer the given chunks in turn; past them, the read fails.
  void chunks(std::vector<std::string> answers) {
    auto next = std::make_shared<std::size_t>(0);
    fake_->on("GuestFile.Read", [answers, next](const scripting::Request&) {
      if (*next >= answers.size()) return FakeChannel::Answer{};
      return FakeChannel::Answer{std::vector{Value::string(answers[(*next)++])}};
    });
  }

  FakeChannel* fake_ = nullptr;
  std::unique_ptr<scripting::QorApplication> application_;
};

TEST_F(CommandBodyTest, PullWritesEveryChunkThenClosesOnce) {
  chunks({"aGVsbG8g", "d29ybGQ=", ""});  // "hello ", "world", end
  int status = -1;
  const auto out = testing::capturedStandardOutput(
      [&] { status = makeFilePull(pull("/a"))->execute(*application_); });
  EXPECT_EQ(out, "hello world");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(fake_->count("GuestFile.Read"), 3u);
  EXPECT_EQ(fake_->count("GuestFile.Close"), 1u);
  EXPECT_EQ(fake_->requests().back(), "GuestFile.Close");
}

TEST_F(CommandBodyTest, APullThatStopsEarlyClosesTheFileAndSaysHowFarItGot) {
  const struct {
    const char* label;
    std::vector<std::string> chunks;
    std::string message;
  } cases[] = {
      {"a read fails",
       {"aGVsbG8="},
       "The transfer stopped after 5 bytes; the output is incomplete."},
      {"a chunk is not base64",
       {"aGVsbG8=", "not base64!"},
       "The guest sent a chunk that is not valid base64. The transfer stopped after 5 bytes; the "
       "output is incomplete."},
  };
  for (const auto& c : cases) {
    SetUp();
    chunks(c.chunks);
    std::string message;
    const auto out = testing::capturedStandardOutput([&] {
      try {
        makeFilePull(pull("/a"))->execute(*application_);
      } catch (const cli::CommandError& error) {
        message = error.what();
      }
    });
    EXPECT_EQ(out, "hello") << c.label;
    EXPECT_EQ(message, c.message) << c.label;
    EXPECT_EQ(fake_->count("GuestFile.Close"), 1u) << c.label;
  }
}

TEST_F(CommandBodyTest, ListLeavesOutARowOfWhichNothingWasReceivedAndFails) {
  const std::string second = contract::machinePathWithID("M2");
  fake_->answer("Application.VirtualMachines", Value::objectPathArray({kMachine, second}));
  // Only the first machine answers; the second went away.
  for (const char* property : {"Status", "Id", "Name"}) {
    fake_->on(std::string("VirtualMachine.") + property, [=](const scripting::Request& request) {
      if (request.path != kMachine) return FakeChannel::Answer{};
      if (std::string_view(property) == "Status") {
        return FakeChannel::Answer{std::vector{Value::uint32(0x53745363)}};
      }
      return FakeChannel::Answer{
          std::vector{Value::string(property == std::string("Id") ? "M1" : "One")}};
    });
  }
  int status = -1;
  const auto out = testing::capturedStandardOutput(
      [&] { status = makeList(cli::ParsedArguments{})->execute(*application_); });
  EXPECT_EQ(out, "UUID                                 Status   Name\nM1 started  One\n");
  EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace qor::commands
