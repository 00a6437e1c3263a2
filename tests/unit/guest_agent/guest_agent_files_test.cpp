#include <gtest/gtest.h>

#include <random>

#include "contract/errors.h"
#include "fake_agent.h"

namespace qor::host::libvirt {
namespace {

using namespace testing;
namespace names = contract::error_names;

std::string randomBytes(std::size_t n, unsigned seed = 1) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

class GuestFilesTest : public ::testing::Test {
 protected:
  GuestHandle openFile(const std::string& path, std::uint32_t mode, bool updating = false) {
    return value(guest.open(kDomain, path, mode, updating));
  }
  // What `file pull` does: 4096 bytes at a time from the current position until an empty one.
  std::string pull(const std::string& path) {
    GuestHandle f = openFile(path, kReading);
    std::string out;
    for (int i = 0; i < 100000; ++i) {
      auto chunk =
          support::base64Decode(value(guest.read(kDomain, f, 0, kCurrent, 4096, true, false)));
      EXPECT_TRUE(chunk.has_value());
      if (!chunk || chunk->empty()) break;
      EXPECT_LE(chunk->size(), 4096u);
      out += *chunk;
    }
    EXPECT_TRUE(std::holds_alternative<Done>(guest.close(kDomain, f)));
    return out;
  }
  void push(const std::string& path, const std::string& bytes) {
    GuestHandle f = openFile(path, kWriting);
    for (std::size_t at = 0;; at += 4096) {
      const std::string chunk = bytes.substr(std::min(at, bytes.size()), 4096);
      value(guest.write(kDomain, f, support::base64Encode(chunk), 0, kCurrent, true, false));
      if (chunk.empty()) break;
    }
    value(guest.close(kDomain, f));
  }

  FakeAgent agent;
  GuestAgent guest{agent};
};

TEST_F(GuestFilesTest, OpenModesAreFopenModes) {
  agent.disk["/f"] = "x";
  struct Case {
    std::uint32_t mode;
    bool updating;
    const char* fopen;
  } cases[] = {{kReading, false, "r"},
               {kReading, true, "r+"},
               {kWriting, false, "w"},
               {kWriting, true, "w+"}};
  for (const auto& c : cases) {
    agent.sent.clear();
    openFile("/f", c.mode, c.updating);
    ASSERT_EQ(agent.sent.size(), 1u);
    EXPECT_EQ(agent.sent[0]["arguments"], (nlohmann::json{{"path", "/f"}, {"mode", c.fopen}}));
  }
  agent.sent.clear();
  EXPECT_EQ(errorOf(guest.open(kDomain, "/f", contract::fourCharCode("OpAp"), false)).errorName(),
            names::kInvalidArgs);
  EXPECT_TRUE(agent.sent.empty());
}

TEST_F(GuestFilesTest, ByteExactRoundTripsInBothDirections) {
  for (std::size_t size : {0u, 1u, 4095u, 4096u, 4097u, 10000u, 3u * 1024 * 1024 + 5}) {
    SCOPED_TRACE(size);
    const std::string bytes = randomBytes(size, static_cast<unsigned>(size));
    agent.sent.clear();
    push("/up", bytes);
    EXPECT_EQ(agent.disk["/up"], bytes);
    // Written behind the client in pieces larger than its chunks (each request small enough
    // for the agent, as the fake checks).
    EXPECT_LE(agent.count("guest-file-write"), size / 65536 + 1);
    agent.sent.clear();
    EXPECT_EQ(pull("/up"), bytes);
    EXPECT_LE(agent.count("guest-file-read"), size / 65536 + 2);
    for (const auto& r : agent.sent) {
      if (r["execute"] == "guest-file-read") {
        EXPECT_LE(r["arguments"]["count"], 2 * 1024 * 1024);
      }
    }
    EXPECT_TRUE(agent.open.empty());
  }
}

// Reads and writes at offsets from the current position, against a model of the file.
TEST_F(GuestFilesTest, PositionsFollowTheClientThroughReadAheadAndWriteBehind) {
  std::mt19937 gen(7);
  for (bool updating : {false, true}) {
    SCOPED_TRACE(updating);
    std::string model = randomBytes(300000, 3);
    agent.disk["/m"] = model;
    GuestHandle f = openFile("/m", kReading, updating);
    std::int64_t position = 0;
    for (int step = 0; step < 400; ++step) {
      std::int64_t offset = static_cast<std::int64_t>(gen() % 20000) - 10000;
      if (gen() % 2) offset = 0;
      if (position + offset < 0) offset = -position;
      const auto length = static_cast<std::int64_t>(gen() % 9000);
      position += offset;
      if (updating && gen() % 3 == 0) {
        const std::string bytes =
            randomBytes(static_cast<std::size_t>(length), static_cast<unsigned>(step));
        value(guest.write(kDomain, f, support::base64Encode(bytes), offset, kCurrent, true, false));
        const auto at = static_cast<std::size_t>(position);
        if (model.size() < at) model.resize(at, '\0');
        model.replace(at, std::min(bytes.size(), model.size() - at), bytes);
        position += length;
      } else {
        auto got = support::base64Decode(
            value(guest.read(kDomain, f, offset, kCurrent, length, true, false)));
        const auto at = static_cast<std::size_t>(position);
        const std::string expected =
            at < model.size() ? model.substr(at, static_cast<std::size_t>(length)) : "";
        ASSERT_EQ(got, expected) << "step " << step;
        position += static_cast<std::int64_t>(expected.size());
      }
    }
    value(guest.close(kDomain, f));
    EXPECT_EQ(agent.disk["/m"], model);
  }
}

// While the client takes one piece the next is asked for; its failure reaches the client at
// the read that needs its bytes, after every byte before them, and the client can go on.
TEST_F(GuestFilesTest, TheNextPieceIsOnItsWayWhileTheClientTakesTheLast) {
  const std::string bytes = randomBytes(1024 * 1024, 5);
  agent.disk["/big"] = bytes;
  GuestHandle f = openFile("/big", kReading);
  agent.sent.clear();
  EXPECT_EQ(support::base64Decode(value(guest.read(kDomain, f, 0, kCurrent, 4096, true, false))),
            bytes.substr(0, 4096));
  value(guest.close(kDomain, f));
  EXPECT_EQ(agent.commands(),
            (std::vector<std::string>{"guest-file-read", "guest-file-read", "guest-file-close"}));

  f = openFile("/big", kReading);
  int reads = 0;
  agent.fault = [&reads](const nlohmann::json& r) -> std::optional<Reply> {
    if (r["execute"] == "guest-file-read" && ++reads == 2) {
      return agentRefusal("guest-file-read", "failed to read file: Input/output error");
    }
    return std::nullopt;
  };
  std::string got;
  std::optional<Failure> failedRead;
  for (int i = 0; i < 100 && !failedRead; ++i) {
    auto chunk = guest.read(kDomain, f, 0, kCurrent, 4096, true, false);
    if (auto* e = std::get_if<Failure>(&chunk)) {
      failedRead = *e;
    } else {
      got += support::base64Decode(std::get<std::string>(chunk)).value_or("?");
    }
  }
  ASSERT_TRUE(failedRead);
  EXPECT_EQ(failedRead->message,
            "Cannot read '/big' in the guest: failed to read file: Input/output error.");
  EXPECT_EQ(got, bytes.substr(0, got.size()));
  EXPECT_GT(got.size(), 0u);
  EXPECT_EQ(support::base64Decode(value(guest.read(kDomain, f, 0, kCurrent, 4096, true, false))),
            bytes.substr(got.size(), 4096));
  value(guest.close(kDomain, f));
  agent.fault = nullptr;
  EXPECT_TRUE(agent.open.empty());
}

TEST_F(GuestFilesTest, RawTextReadsStopBeforeACutCharacterAndRefuseBinary) {
  agent.disk["/t"] =
      "ab\xC3\xA9"
      "cd\xFF"
      "ef";  // "abécd", then a byte that is no text
  GuestHandle f = openFile("/t", kReading);
  EXPECT_EQ(value(guest.read(kDomain, f, 0, kCurrent, 3, false, false)), "ab");
  EXPECT_EQ(value(guest.read(kDomain, f, 0, kCurrent, 4, false, false)),
            "\xC3\xA9"
            "cd");
  EXPECT_EQ(errorOf(guest.read(kDomain, f, 0, kCurrent, 3, false, false)).errorName(),
            names::kHostFailed);
  // Refused bytes stay unread.
  EXPECT_EQ(support::base64Decode(value(guest.read(kDomain, f, 0, kCurrent, 10, true, false))),
            "\xFF"
            "ef");
  // A write after a raw read that held back a byte lands where the client is.
  agent.disk["/u"] = "ab\xC3\xA9";
  GuestHandle u = openFile("/u", kReading, true);
  EXPECT_EQ(value(guest.read(kDomain, u, 0, kCurrent, 3, false, false)), "ab");
  value(guest.write(kDomain, u, "eA==", 0, kCurrent, true, true));
  EXPECT_EQ(agent.disk["/u"], "abx\xA9");
}

TEST_F(GuestFilesTest, AFailedOrShortWriteFailsEveryLaterWriteAndTheClose) {
  struct Case {
    const char* name;
    Reply reply;
  } cases[] = {
      {"short", ok({{"count", 100}, {"eof", false}})},
      {"refused",
       agentRefusal("guest-file-write", "failed to write to file: No space left on device")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GuestHandle f = openFile("/w", kWriting);
    agent.fault = [&](const nlohmann::json& r) -> std::optional<Reply> {
      if (r["execute"] == "guest-file-write") return c.reply;
      return std::nullopt;
    };
    const std::string chunk = support::base64Encode(randomBytes(4096));
    std::optional<Failure> failed;
    for (int i = 0; i < 300 && !failed; ++i) {
      auto written = guest.write(kDomain, f, chunk, 0, kCurrent, true, false);
      if (auto* e = std::get_if<Failure>(&written)) failed = *e;
    }
    ASSERT_TRUE(failed) << "a write the guest did not take was reported as done";
    EXPECT_EQ(failed->errorName(), names::kHostFailed);
    agent.fault = nullptr;
    EXPECT_EQ(errorOf(guest.write(kDomain, f, chunk, 0, kCurrent, true, false)).message,
              failed->message);
    EXPECT_EQ(errorOf(guest.close(kDomain, f)).message, failed->message);
    EXPECT_TRUE(agent.open.empty());
  }
}

TEST_F(GuestFilesTest, ACloseSendsWhatWasWrittenBehind) {
  GuestHandle f = openFile("/w", kWriting);
  value(guest.write(kDomain, f, "aGVsbG8=", 0, kCurrent, true, false));
  EXPECT_EQ(agent.disk["/w"], "");
  agent.fault = [](const nlohmann::json& r) -> std::optional<Reply> {
    if (r["execute"] == "guest-file-write")
      return agentRefusal("guest-file-write", "failed to write to file: Input/output error");
    return std::nullopt;
  };
  auto closed = errorOf(guest.close(kDomain, f));
  EXPECT_NE(closed.message.find("Input/output error"), std::string::npos) << closed.message;
  EXPECT_TRUE(agent.open.empty());
}

TEST_F(GuestFilesTest, ReleaseFlushesAndClosesInTheGuest) {
  agent.disk["/r"] = "data";
  GuestHandle reader = openFile("/r", kReading);
  GuestHandle writer = openFile("/w", kWriting);
  value(guest.write(kDomain, writer, "aGVsbG8=", 0, kCurrent, true, false));
  EXPECT_EQ(agent.open.size(), 2u);
  guest.releaseFile(reader);
  guest.releaseFile(writer);
  guest.releaseFile(writer);  // already gone: nothing
  EXPECT_TRUE(agent.open.empty());
  EXPECT_EQ(agent.disk["/w"], "hello");
  EXPECT_TRUE(guest.files(kDomain).empty());
  EXPECT_EQ(errorOf(guest.read(kDomain, reader, 0, kCurrent, 1, true, false)).errorName(),
            names::kUnknownObject);
}

TEST_F(GuestFilesTest, ACloseTheAgentDidNotAnswerIsTriedAgainLater) {
  agent.disk["/r"] = "data";
  GuestHandle f = openFile("/r", kReading);
  agent.script.push_back(
      failure("Guest agent is not responding: Guest agent not available for now"));
  EXPECT_EQ(errorOf(guest.close(kDomain, f)).errorName(), names::kHostFailed);
  EXPECT_EQ(agent.open.size(), 1u);
  // The next answer of that agent brings the close along.
  openFile("/r", kReading);
  EXPECT_EQ(agent.open.size(), 1u);
  EXPECT_EQ(agent.count("guest-file-close"), 2u);
}

TEST_F(GuestFilesTest, ClosingRequestsCloseAfterTheirData) {
  agent.disk["/r"] = "data";
  GuestHandle f = openFile("/r", kReading);
  EXPECT_EQ(value(guest.read(kDomain, f, 0, kCurrent, 2, false, true)), "da");
  GuestHandle w = openFile("/w", kWriting);
  value(guest.write(kDomain, w, "aGk=", 0, kCurrent, true, true));
  EXPECT_TRUE(agent.open.empty());
  EXPECT_EQ(agent.disk["/w"], "hi");
  EXPECT_TRUE(guest.files(kDomain).empty());
}

TEST_F(GuestFilesTest, RequestsTheFileCannotTakeAreRefusedBeforeTheAgent) {
  agent.disk["/r"] = "data";
  GuestHandle r = openFile("/r", kReading);
  GuestHandle w = openFile("/w", kWriting);
  agent.sent.clear();
  EXPECT_EQ(errorOf(guest.write(kDomain, r, "aGk=", 0, kCurrent, true, false)).errorName(),
            names::kInvalidState);
  EXPECT_EQ(errorOf(guest.read(kDomain, w, 0, kCurrent, 1, true, false)).errorName(),
            names::kInvalidState);
  EXPECT_EQ(errorOf(guest.write(kDomain, w, "not base64!", 0, kCurrent, true, false)).errorName(),
            names::kInvalidArgs);
  EXPECT_EQ(errorOf(guest.read(kDomain, r, 0, contract::fourCharCode("StRt"), 1, true, false))
                .errorName(),
            names::kInvalidArgs);
  EXPECT_EQ(errorOf(guest.read(kDomain, r, 0, kCurrent, -1, true, false)).errorName(),
            names::kInvalidArgs);
  EXPECT_EQ(errorOf(guest.read(kDomain, r, 0, kCurrent, 17 * 1024 * 1024, true, false)).errorName(),
            names::kInvalidArgs);
  // A handle belongs to the machine that opened it.
  EXPECT_EQ(
      errorOf(guest.read("11111111-2222-3333-4444-555555555555", r, 0, kCurrent, 1, true, false))
          .errorName(),
      names::kUnknownObject);
  EXPECT_TRUE(agent.sent.empty());
  // The same machine in capitals is the same machine.
  std::string upper = kDomain;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(value(guest.read(upper, r, 0, kCurrent, 4, false, false)), "data");
}

TEST_F(GuestFilesTest, AgentFailuresNameTheFile) {
  agent.script.push_back(
      agentRefusal("guest-file-open",
                   "failed to open file '/nowhere/x' (mode: 'w'): No such file or directory"));
  auto e = errorOf(guest.open(kDomain, "/nowhere/x", kWriting, false));
  EXPECT_EQ(e.errorName(), names::kHostFailed);
  EXPECT_EQ(e.message,
            "Cannot open '/nowhere/x' in the guest: failed to open file '/nowhere/x' "
            "(mode: 'w'): No such file or directory.");
  agent.disk["/dir"] = "";
  GuestHandle d = openFile("/dir", kReading);
  agent.script.push_back(agentRefusal("guest-file-read", "failed to read file: Is a directory"));
  EXPECT_EQ(errorOf(guest.read(kDomain, d, 0, kCurrent, 4096, true, false)).message,
            "Cannot read '/dir' in the guest: failed to read file: Is a directory.");
}

// A transfer open across a guest reboot: the new agent hands another client the old handle's
// number. Whether the host heard of the restart (an event) or only sees it in that hand-out,
// the old transfer fails with the restart's message, sends nothing through its handle, and the
// other client's file is untouched.
TEST_F(GuestFilesTest, AHandleOfAnEarlierAgentRunNeverReachesTheNewRun) {
  for (bool told : {true, false}) {
    SCOPED_TRACE(told ? "restart told" : "restart seen at the next open");
    FakeAgent fresh;
    GuestAgent g{fresh};
    fresh.disk["/a"] = std::string(100000, 'A');
    fresh.disk["/b"] = std::string(100000, 'B');
    const GuestHandle puller = value(g.open(kDomain, "/a", kReading, false));
    const GuestHandle pusher = value(g.open(kDomain, "/pushed", kWriting, false));
    EXPECT_EQ(value(g.read(kDomain, puller, 0, kCurrent, 4, false, false)), "AAAA");
    value(g.write(kDomain, pusher, "QUFBQQ==", 0, kCurrent, true, false));  // kept behind

    fresh.restart(true);
    if (told) g.agentRestarted(kDomain);
    const GuestHandle reader = value(g.open(kDomain, "/b", kReading, false));
    const GuestHandle writer = value(g.open(kDomain, "/c", kWriting, false));
    EXPECT_EQ(fresh.open.begin()->first, 1000);  // the puller's old number
    const auto sent = fresh.sent.size();

    for (const Failure& e :
         {errorOf(g.read(kDomain, puller, 0, kCurrent, 4, false, false)),
          errorOf(g.write(kDomain, pusher, "QUFBQQ==", 0, kCurrent, true, false)),
          errorOf(g.close(kDomain, puller)), errorOf(g.close(kDomain, pusher))}) {
      EXPECT_EQ(e.errorName(), names::kUnknownObject);
      EXPECT_EQ(e.message, "The guest agent restarted; the file is no longer open.");
    }
    EXPECT_EQ(fresh.sent.size(), sent);
    EXPECT_EQ(g.files(kDomain), (std::vector<GuestHandle>{reader, writer}));
    EXPECT_EQ(value(g.read(kDomain, reader, 0, kCurrent, 3, false, false)), "BBB");
    value(g.write(kDomain, writer, "Q0M=", 0, kCurrent, true, true));
    EXPECT_EQ(fresh.disk["/c"], "CC");
    EXPECT_EQ(fresh.disk["/pushed"], "");
    EXPECT_EQ(fresh.disk["/b"], std::string(100000, 'B'));
  }
}

// A close the old agent did not answer is owed to it alone: retried after a restart, it would
// close another client's file of the same number.
TEST_F(GuestFilesTest, AClosePutOffIsNeverSentToANewAgentRun) {
  for (bool told : {true, false}) {
    SCOPED_TRACE(told ? "restart told" : "restart seen at the next open");
    FakeAgent fresh;
    GuestAgent g{fresh};
    fresh.disk["/a"] = "a";
    fresh.disk["/b"] = "b";
    const GuestHandle old = value(g.open(kDomain, "/a", kReading, false));
    fresh.script.push_back(
        failure("Guest agent is not responding: Guest agent not available for now"));
    (void)g.close(kDomain, old);
    fresh.restart(true);
    if (told) g.agentRestarted(kDomain);
    const GuestHandle b = value(g.open(kDomain, "/b", kReading, false));
    value(g.open(kDomain, "/a", kReading, false));
    EXPECT_EQ(fresh.count("guest-file-close"), 1u);
    EXPECT_EQ(fresh.open.size(), 2u);
    EXPECT_EQ(value(g.read(kDomain, b, 0, kCurrent, 1, false, false)), "b");
  }
}

TEST_F(GuestFilesTest, AnAgentThatLostTheHandleRestartedWithinTheBoot) {
  agent.disk["/a"] = "data";
  GuestHandle f = openFile("/a", kReading);
  agent.restart(false);
  const Failure e = errorOf(guest.read(kDomain, f, 0, kCurrent, 4, false, false));
  EXPECT_EQ(e.errorName(), names::kUnknownObject);
  EXPECT_EQ(e.message, "The guest agent restarted; the file is no longer open.");
  // Its counter went on, so the next handle is a new number and nothing else is stale.
  GuestHandle g = openFile("/a", kReading);
  EXPECT_EQ(value(guest.read(kDomain, g, 0, kCurrent, 4, false, false)), "data");
}

}  // namespace
}  // namespace qor::host::libvirt
