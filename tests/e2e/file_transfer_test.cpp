#include <fstream>
#include <initializer_list>
#include <random>

#include "tests/e2e/harness.h"

using namespace qor::e2e;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

constexpr const char* kId = "55555555-5555-4555-8555-555555555555";

std::string randomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (auto& b : bytes) b = static_cast<char>(random());
  return bytes;
}

class FileTransferTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    setWorld({{"machines", {vm(kId, "guest", "StSc"), vm("stopped-id", "off", "StSa")}}});
    std::filesystem::create_directories(guestRoot(kId));
  }

  void writeGuestFile(const std::string& path, const std::string& bytes) {
    std::ofstream(guestRoot(kId) / path, std::ios::binary) << bytes;
  }
  std::string readGuestFile(const std::string& path) {
    std::ifstream in(guestRoot(kId) / path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::vector<Request> fileRequests(const std::string& member) {
    std::vector<Request> out;
    for (auto& r : requests()) {
      if (r.interface == "org.qor.Scripting1.GuestFile" && (member.empty() || r.member == member)) {
        out.push_back(r);
      }
    }
    return out;
  }
};

TEST_F(FileTransferTest, PushThenPullIsByteExactForEverySize) {
  for (std::size_t size :
       std::initializer_list<std::size_t>{0, 1, 4095, 4096, 4097, 10000, 3 * 1024 * 1024 + 17}) {
    SCOPED_TRACE(size);
    const std::string bytes = randomBytes(size, static_cast<unsigned>(size));
    const auto push = run({"file", "push", kId, "data.bin"}, bytes);
    ASSERT_EQ(push.err, "");
    ASSERT_EQ(push.status, 0);
    EXPECT_EQ(push.out, "");
    EXPECT_TRUE(readGuestFile("data.bin") == bytes);
    const auto pull = run({"file", "pull", kId, "data.bin"});
    ASSERT_EQ(pull.err, "");
    ASSERT_EQ(pull.status, 0);
    EXPECT_TRUE(pull.out == bytes);
  }
}

TEST_F(FileTransferTest, PullOfTenThousandBytesTakesFourReadsAndAClose) {
  writeGuestFile("ten.bin", randomBytes(10000, 1));
  ASSERT_EQ(run({"file", "pull", "guest", "ten.bin"}).status, 0);
  auto file = fileRequests("");
  ASSERT_EQ(file.size(), 5u);
  for (int i = 0; i < 4; ++i) {
    // offset 0, from the current position ('CuRr'), 4096 bytes, base64, not closing
    EXPECT_EQ(file[static_cast<std::size_t>(i)].label(),
              "GuestFile.Read [0,1131762290,4096,true,false]");
  }
  EXPECT_EQ(file[4].label(), "GuestFile.Close");
  const auto all = requests();
  const auto open =
      std::find_if(all.begin(), all.end(), [](const Request& r) { return r.member == "OpenFile"; });
  ASSERT_NE(open, all.end());
  EXPECT_EQ(open->args, json::parse(R"(["ten.bin", 1332761199, false])"));  // 'OpRo'
}

TEST_F(FileTransferTest, PushFromARegularFileSendsChunksThenAnEmptyWrite) {
  const auto source = dir() / "five-thousand.bin";
  const std::string bytes = randomBytes(5000, 2);
  std::ofstream(source, std::ios::binary) << bytes;
  RunOptions options;
  options.inputFile = source;
  ASSERT_EQ(run({"file", "push", "guest", "copy.bin"}, options).status, 0);
  auto writes = fileRequests("Write");
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0].args[0].get<std::string>().size(), 5464u);  // base64 of 4096 bytes
  EXPECT_EQ(writes[1].args[0].get<std::string>().size(), 1208u);  // base64 of 904 bytes
  EXPECT_EQ(writes[2].args[0], "");
  EXPECT_EQ(writes[2].args, json::parse(R"(["", 0, 1131762290, true, false])"));
  EXPECT_EQ(fileRequests("").back().member, "Close");
  EXPECT_TRUE(readGuestFile("copy.bin") == bytes);
}

TEST_F(FileTransferTest, EmptyTransfersStillOpenAndClose) {
  writeGuestFile("empty", "");
  const auto pull = run({"file", "pull", kId, "empty"});
  EXPECT_EQ(pull.out, "");
  EXPECT_EQ(pull.status, 0);
  clearRequests();
  ASSERT_EQ(run({"file", "push", kId, "new"}, "").status, 0);
  auto file = fileRequests("");
  ASSERT_EQ(file.size(), 2u);
  EXPECT_EQ(file[0].label(), "GuestFile.Write [\"\",0,1131762290,true,false]");
  EXPECT_EQ(file[1].label(), "GuestFile.Close");
}

TEST_F(FileTransferTest, PathsWithSpacesAndNonAsciiArePassedUnchanged) {
  const std::string name = "my file é 日本.txt";
  ASSERT_EQ(run({"file", "push", kId, name}, "hello").status, 0);
  EXPECT_EQ(readGuestFile(name), "hello");
  EXPECT_EQ(run({"file", "pull", kId, name}).out, "hello");
}

TEST_F(FileTransferTest, PushReplacesAnExistingFileWhole) {
  writeGuestFile("notes", std::string(9000, 'x'));
  ASSERT_EQ(run({"file", "push", kId, "notes"}, "short").status, 0);
  EXPECT_EQ(readGuestFile("notes"), "short");
}

TEST_F(FileTransferTest, AFileThatCannotBeOpenedReadsAsNoMachine) {
  const auto missing = run({"file", "pull", kId, "missing.txt"});
  EXPECT_EQ(missing.out, "");
  EXPECT_THAT(missing.err,
              HasSubstr("Error from event: The request VirtualMachine.OpenFile failed"));
  EXPECT_THAT(missing.err, testing::EndsWith("Error: Virtual machine not found.\n"));
  EXPECT_EQ(missing.status, 1);

  const auto stopped = run({"file", "push", "off", "x"}, "data");
  EXPECT_THAT(stopped.err, testing::EndsWith("Error: Virtual machine not found.\n"));
  EXPECT_EQ(stopped.status, 1);
}

TEST_F(FileTransferTest, GuestPathsCannotReachOutsideTheGuest) {
  std::ofstream(dir() / "secret.txt") << "host secret";
  for (const char* path : {"../../secret.txt", "/../../secret.txt"}) {
    const auto pull = run({"file", "pull", kId, path});
    EXPECT_EQ(pull.out, "") << path;
    EXPECT_EQ(pull.status, 1) << path;
  }
  std::filesystem::create_symlink(dir() / "secret.txt", guestRoot(kId) / "link");
  EXPECT_EQ(run({"file", "pull", kId, "link"}).out, "");
  run({"file", "push", kId, "link"}, "overwritten");
  run({"file", "push", kId, "../../secret.txt"}, "overwritten");
  std::ifstream in(dir() / "secret.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "host secret");
}

TEST_F(FileTransferTest, AFailedReadClosesTheFileAndFailsInsteadOfTruncatingSilently) {
  setWorld({{"machines", {vm(kId, "guest", "StSc")}},
            {"faults",
             {{{"member", "Read"},
               {"after", 1},
               {"error", "org.qor.Scripting1.Error.Failed"},
               {"message", "The guest agent stopped answering."}}}}});
  const std::string bytes = randomBytes(10000, 3);
  writeGuestFile("big", bytes);
  const auto pull = run({"file", "pull", kId, "big"});
  EXPECT_TRUE(pull.out == bytes.substr(0, 4096));  // only what was received
  EXPECT_THAT(pull.err, HasSubstr("The guest agent stopped answering.\n"));
  EXPECT_THAT(pull.err,
              testing::EndsWith("Error: The transfer stopped after 4096 bytes; the output is "
                                "incomplete.\n"));
  EXPECT_EQ(pull.status, 1);
  EXPECT_EQ(fileRequests("").back().member, "Close");
}

TEST_F(FileTransferTest, AFailedWriteStopsThePushAtOnce) {
  setWorld({{"machines", {vm(kId, "guest", "StSc")}},
            {"faults",
             {{{"member", "Write"},
               {"after", 1},
               {"times", 1},
               {"error", "org.qor.Scripting1.Error.Failed"},
               {"message", "The guest disk is full."}}}}});
  const auto push = run({"file", "push", kId, "out"}, randomBytes(20000, 4));
  EXPECT_THAT(push.err, HasSubstr("The guest disk is full.\n"));
  EXPECT_THAT(push.err, HasSubstr("Error: The upload stopped after "));
  EXPECT_EQ(push.status, 1);
  auto file = fileRequests("");
  ASSERT_EQ(file.size(), 3u);  // the write that passed, the one that failed, then close
  EXPECT_EQ(file[2].member, "Close");
}

TEST_F(FileTransferTest, ABrokenStandardOutputStillClosesTheGuestFile) {
  writeGuestFile("big", randomBytes(100000, 5));
  // Standard output is a pipe whose reader has gone: the first raw write fails with EPIPE.
  ensureBus();
  const std::string qorctl = (bundle() / "Contents/MacOS/qorctl").string();
  const auto result =
      runProgram({"/bin/sh", "-c", "\"$0\" file pull " + std::string(kId) + " big | true", qorctl},
                 childEnvironment(), "", 60);
  EXPECT_EQ(result.status, 0);  // the status of `true`; what matters is the host's side
  auto file = fileRequests("");
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(file.back().member, "Close");
}

// A push whose standard input cannot be read must leave the guest file as it was: nothing is
// opened for writing (which empties it) before the first read has succeeded.
TEST_F(FileTransferTest, AnUnreadableStandardInputLeavesTheGuestFileAlone) {
  const std::string before = randomBytes(5000, 9);
  writeGuestFile("app.conf", before);
  ensureBus();
  const std::string qorctl = (bundle() / "Contents/MacOS/qorctl").string();
  const std::string push = "\"$0\" file push " + std::string(kId) + " app.conf";
  const struct {
    std::string label;
    std::string redirection;
    std::string reason;
  } cases[] = {
      {"a folder", " < \"$1\"", "Is a directory"},
      {"closed", " <&-", "Bad file descriptor"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    clearRequests();
    const auto result = runProgram({"/bin/sh", "-c", push + c.redirection, qorctl, dir().string()},
                                   childEnvironment(), "", 60);
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("Error: Could not read from standard input"));
    EXPECT_THAT(result.err, HasSubstr(c.reason));
    EXPECT_TRUE(readGuestFile("app.conf") == before) << "the guest file was changed";
    EXPECT_TRUE(fileRequests("").empty());
    for (const auto& request : requests()) EXPECT_NE(request.member, "OpenFile");
  }
  // An empty input is a request to empty the file, and does so.
  ASSERT_EQ(run({"file", "push", kId, "app.conf"}, "").status, 0);
  EXPECT_EQ(readGuestFile("app.conf"), "");
}

}  // namespace
