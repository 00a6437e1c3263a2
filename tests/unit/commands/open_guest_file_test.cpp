#include "commands/guest/open_guest_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "cli/errors.h"
#include "scripting/bridge.h"
#include "scripting/event_error_handler.h"

namespace qor::commands {
namespace {

using scripting::Bridge;
using scripting::PlatformError;
using scripting::QorGuestFile;

// Counts the failed requests it is told of, and throws from each when asked to.
class Delegate : public scripting::EventDelegate {
 public:
  explicit Delegate(bool throws) : throws_(throws) {}
  void eventDidFail(const PlatformError& error) override {
    descriptions.push_back(error.localizedDescription);
    if (throws_) throw std::runtime_error("the delegate gave up");
  }
  std::vector<std::string> descriptions;

 private:
  bool throws_;
};

// Descriptor 2 goes to a temporary file for the object's life.
class StandardErrorToFile {
 public:
  StandardErrorToFile() : file_(std::tmpfile()), saved_(dup(2)) { dup2(fileno(file_), 2); }
  ~StandardErrorToFile() {
    restore();
    std::fclose(file_);
  }
  std::string finish() {
    restore();
    std::string text;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) text += static_cast<char>(c);
    return text;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }
  std::FILE* file_;
  int saved_;
};

// Without a session bus every request fails at once, before anything could be sent.
class OpenGuestFileTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1); }
  Bridge bridge_{{"/nonexistent/Qor.app", "org.qor.Test", std::nullopt}};
  const std::string path_ = "/org/qor/Scripting1/vm/id/A1/file/1";
};

TEST_F(OpenGuestFileTest, AFailingCloseWhileAnErrorUnwindsLetsThatErrorThrough) {
  for (const bool throws : {false, true}) {
    SCOPED_TRACE(throws ? "the close throws" : "the close fails in the host");
    Delegate delegate(throws);
    bridge_.setDelegate(&delegate);
    StandardErrorToFile err;
    try {
      OpenGuestFile file{QorGuestFile(bridge_, path_)};
      throw cli::CommandError("the transfer failed");
    } catch (const cli::CommandError& error) {
      EXPECT_STREQ(error.what(), "the transfer failed");
    }
    ASSERT_EQ(delegate.descriptions.size(), 1u);  // the close was sent, once
    EXPECT_EQ(delegate.descriptions[0],
              "The request GuestFile.Close failed: no session bus (OSStatus error -1743.)");
    EXPECT_EQ(err.finish(),
              throws ? "Error: The guest file could not be closed: the delegate gave up\n" : "");
  }
}

TEST_F(OpenGuestFileTest, AClosedFileIsNotClosedAgain) {
  Delegate delegate(false);
  bridge_.setDelegate(&delegate);
  {
    OpenGuestFile file{QorGuestFile(bridge_, path_)};
    EXPECT_FALSE(file.close());
  }
  EXPECT_EQ(delegate.descriptions.size(), 1u);
}

}  // namespace
}  // namespace qor::commands
