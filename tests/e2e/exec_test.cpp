#include <filesystem>
#include <fstream>
#include <regex>

#include "tests/e2e/harness.h"

using namespace qor::e2e;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

constexpr const char* kId = "66666666-6666-4666-8666-666666666666";

class ExecTest : public HostTest {
 protected:
  // A machine whose processes answer GetResult with the given records, in order.
  void scriptResults(const json& records) {
    json machine = vm(kId, "guest", "StSc");
    machine["processResults"] = json::array({records});
    setWorld({{"machines", {machine}}});
  }
  void realGuest() { setWorld({{"machines", {vm(kId, "guest", "StSc")}}}); }

  std::vector<Request> processRequests(const std::string& member) {
    std::vector<Request> out;
    for (auto& r : requests()) {
      if (r.member == member) out.push_back(r);
    }
    return out;
  }
};

TEST_F(ExecTest, RunsAProgramInTheGuestAndEndsWithItsCode) {
  realGuest();
  const auto result =
      run({"exec", kId, "--cmd", "/bin/sh", "-c", "printf out; printf err >&2; exit 3"});
  EXPECT_EQ(result.out, "out");
  EXPECT_EQ(result.err, "err");
  EXPECT_EQ(result.status, 3);
}

TEST_F(ExecTest, SendsProgramArgumentsEnvironmentAndInputAsGiven) {
  realGuest();
  const auto result = run({"exec", "guest", "--env", "A=1", "--env", "EMPTY=", "--cmd", "/bin/echo",
                           "-n", "--input", "--hide", "two words"});
  EXPECT_EQ(result.out, "--input --hide two words");  // echo took -n as its own option
  EXPECT_EQ(result.status, 0);
  const auto execute = processRequests("Execute");
  ASSERT_EQ(execute.size(), 1u);
  EXPECT_EQ(execute[0].args, json::parse(R"(["/bin/echo", ["-n", "--input", "--hide", "two words"],
                                            ["A=1", "EMPTY="], "", true, true])"));
}

TEST_F(ExecTest, OneWordIsTheProgramWithNothingElse) {
  realGuest();
  ASSERT_EQ(run({"exec", kId, "--cmd", "true"}).status, 0);
  EXPECT_EQ(processRequests("Execute")[0].args, json::parse(R"(["true", [], [], "", true, true])"));
}

TEST_F(ExecTest, InputIsReadOnlyWhenAskedAndPassesByteExact) {
  realGuest();
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary += static_cast<char>(i * 7 % 256);
  const auto echoed = run({"exec", kId, "--input", "--cmd", "cat"}, binary);
  EXPECT_TRUE(echoed.out == binary);
  EXPECT_EQ(echoed.status, 0);

  clearRequests();
  RunOptions options;
  options.input = "must not be read";
  ASSERT_EQ(run({"exec", kId, "--cmd", "cat"}, options).out, "");
  EXPECT_EQ(processRequests("Execute")[0].args[3], "");
  clearRequests();
  ASSERT_EQ(run({"exec", kId, "--input", "--cmd", "cat"}, "").status, 0);
  EXPECT_EQ(processRequests("Execute")[0].args[3], "");
}

TEST_F(ExecTest, InputNoRequestCanCarryIsRefusedBeforeAnythingIsSent) {
  realGuest();
  const auto input = dir() / "input.bin";
  const auto fromFileOf = [&](std::uintmax_t size) {
    std::ofstream(input, std::ios::binary | std::ios::trunc).close();
    std::filesystem::resize_file(input, size);  // sparse: no disk is used
    RunOptions options;
    options.inputFile = input;
    clearRequests();
    return run({"exec", kId, "--input", "--cmd", "wc", "-c"}, options);
  };
  const std::regex refusal(
      "Error: The input is too large: (more than )?([0-9]+) bytes, and one request carries at "
      "most ([0-9]+) bytes of input \\(the bus takes messages below 128 MiB, and base64 makes "
      "the input a third larger\\)\\. Nothing was sent\\.\n");
  std::smatch words;

  const auto refused = fromFileOf(200'000'000);
  ASSERT_TRUE(std::regex_match(refused.err, words, refusal)) << refused.err;
  EXPECT_EQ(words[2], "200000000");  // a file tells its size
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(processRequests("Execute").empty());
  // 128 MiB as base64, less the rest of the request.
  const std::uintmax_t limit = std::stoull(words[3]);
  EXPECT_GT(limit, 100'600'000u);
  EXPECT_LT(limit, (128u << 20) / 4 * 3);

  // The limit is exact: one byte more is refused, the limit itself reaches the program whole.
  const auto oneMore = fromFileOf(limit + 1);
  ASSERT_TRUE(std::regex_match(oneMore.err, words, refusal)) << oneMore.err;
  EXPECT_EQ(words[2], std::to_string(limit + 1));
  EXPECT_TRUE(processRequests("Execute").empty());
  // An instrumented host takes longer than the bus's timeout over a request of 128 MiB.
  if (!kSanitizedBuild) {
    const auto carried = fromFileOf(limit);
    EXPECT_EQ(carried.err, "");
    EXPECT_EQ(carried.out, std::to_string(limit) + "\n");
    EXPECT_EQ(carried.status, 0);
  }

  // A pipe is read only up to the limit.
  clearRequests();
  const auto piped =
      run({"exec", kId, "--input", "--cmd", "wc", "-c"}, std::string(limit + 1, 'x'));
  ASSERT_TRUE(std::regex_match(piped.err, words, refusal)) << piped.err;
  EXPECT_EQ(words[1], "more than ");
  EXPECT_EQ(words[2], std::to_string(limit));
  EXPECT_TRUE(processRequests("Execute").empty());
}

TEST_F(ExecTest, PollsWithoutPauseUntilTheProgramHasExited) {
  scriptResults(json::parse(R"([{"hasExited": false}, {"hasExited": false},
    {"hasExited": true, "exitCode": 3, "outputData": "b3V0", "errorData": "ZXJy"}])"));
  const auto result = run({"exec", kId, "--cmd", "anything"});
  EXPECT_EQ(result.out, "out");
  EXPECT_EQ(result.err, "err");
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(processRequests("GetResult").size(), 3u);
}

TEST_F(ExecTest, OddResultRecordsAreReadAsDocumented) {
  struct Case {
    const char* records;
    std::string out;
    int status;
    std::size_t polls;
  };
  const Case cases[] = {
      // A missing or non-Boolean hasExited ends the waiting at once.
      {R"([{"exitCode": 4, "outputData": "aGk="}])", "hi", 4, 1},
      {R"([{"hasExited": {"type": "s", "value": "no"}, "exitCode": 5}])", "", 5, 1},
      // A missing or non-integer exit code counts as 0; any integer type counts.
      {R"([{"hasExited": true, "outputData": "aGk="}])", "hi", 0, 1},
      {R"([{"hasExited": true, "exitCode": "3"}])", "", 0, 1},
      {R"([{"hasExited": true, "exitCode": {"type": "y", "value": 9}}])", "", 9, 1},
      // Codes the operating system would truncate never read as success.
      {R"([{"hasExited": true, "exitCode": 256}])", "", 255, 1},
      {R"([{"hasExited": true, "exitCode": -1}])", "", 255, 1},
      {R"([{"hasExited": true, "exitCode": 4294967297}])", "", 255, 1},
      // A non-text stream is no stream.
      {R"([{"hasExited": true, "outputData": 12, "errorData": "ZXJy"}])", "", 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.records);
    TearDown();
    SetUp();
    scriptResults(json::parse(c.records));
    const auto result = run({"exec", kId, "--cmd", "x"});
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(processRequests("GetResult").size(), c.polls);
  }
}

TEST_F(ExecTest, UndecodableOutputIsReportedNotDroppedSilently) {
  scriptResults(json::parse(R"([{"hasExited": true, "exitCode": 0, "outputData": "b3V0!",
                                 "errorData": "ZXJy"}])"));
  const auto result = run({"exec", kId, "--cmd", "x"});
  EXPECT_EQ(result.out, "");
  EXPECT_THAT(
      result.err,
      HasSubstr(
          "Error: The guest program's standard output is not valid base64; it was not written.\n"));
  EXPECT_THAT(result.err, testing::EndsWith("err"));
  EXPECT_EQ(result.status, 1);
}

TEST_F(ExecTest, AStreamTheHostCutIsWrittenReportedAndNeverReadsAsSuccess) {
  const std::string outCut =
      "Error: The guest program's standard output was cut after 2 bytes by the host; the rest "
      "was not received.\n";
  const std::string errCut =
      "Error: The guest program's standard error was cut after 3 bytes by the host; the rest "
      "was not received.\n";
  struct Case {
    const char* record;
    std::string err;
    int status;
  };
  const Case cases[] = {
      {R"({"exitCode": 0, "outputTruncated": true})", "err" + outCut, 1},
      // A failed guest program keeps its own code: it is not 0 either way.
      {R"({"exitCode": 3, "errorTruncated": true})", "err" + errCut, 3},
      {R"({"exitCode": 0, "outputTruncated": true, "errorTruncated": true})",
       "err" + outCut + errCut, 1},
      // false, or a flag of another type, says nothing about a cut.
      {R"({"exitCode": 0, "outputTruncated": false, "errorTruncated": false})", "err", 0},
      {R"({"exitCode": 0, "outputTruncated": "yes", "errorTruncated": 1})", "err", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.record);
    TearDown();
    SetUp();
    json record = json::parse(c.record);
    record["hasExited"] = true;
    record["outputData"] = "aGk=";
    record["errorData"] = "ZXJy";
    scriptResults(json::array({record}));
    const auto result = run({"exec", kId, "--cmd", "x"});
    EXPECT_EQ(result.out, "hi");
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.status);
  }

  // Nothing received of a cut stream is still a cut, after 0 bytes.
  TearDown();
  SetUp();
  scriptResults(json::parse(R"([{"hasExited": true, "outputTruncated": true}])"));
  const auto nothing = run({"exec", kId, "--cmd", "x"});
  EXPECT_THAT(nothing.err, HasSubstr("standard output was cut after 0 bytes"));
  EXPECT_EQ(nothing.status, 1);
}

TEST_F(ExecTest, AFailedExecuteOrResultNeverReadsAsSuccess) {
  scriptResults(json::parse(R"([{"hasExited": false}])"));
  setWorld({{"machines", {vm(kId, "guest", "StSc"), vm("off", "off", "StSa")}},
            {"faults",
             {{{"member", "GetResult"},
               {"after", 1},
               {"error", "org.qor.Scripting1.Error.Failed"},
               {"message", "The guest agent went away."}}}}});
  const auto lost = run({"exec", kId, "--cmd", "/bin/sleep", "1"});
  EXPECT_THAT(lost.err, HasSubstr("The guest agent went away.\n"));
  EXPECT_THAT(lost.err,
              testing::EndsWith("Error: The result of the guest program could not be read.\n"));
  EXPECT_EQ(lost.status, 1);

  clearRequests();
  const auto stopped = run({"exec", "off", "--cmd", "true"});
  EXPECT_THAT(stopped.err,
              HasSubstr("Error from event: The request VirtualMachine.Execute failed"));
  EXPECT_THAT(stopped.err, testing::EndsWith("Error: Virtual machine not found.\n"));
  EXPECT_EQ(stopped.status, 1);
  EXPECT_TRUE(processRequests("GetResult").empty());
}

TEST_F(ExecTest, NoProgramOrAnEmptyOneSendsNothing) {
  realGuest();
  const std::string emptyProgram =
      "Error: The program to execute is an empty word: the first word after --cmd must name "
      "it.\n";
  const struct {
    std::vector<std::string> words;
    std::string err;
    int status;
  } cases[] = {
      // No word at all is the parser's to refuse, as a wrong command line.
      {{"--cmd"}, "Error: Missing value for '--cmd <cmd> ...'\n", 64},
      {{"--cmd", ""}, emptyProgram, 1},
      {{"--cmd=", "-c", "true"}, emptyProgram, 1},
      {{"--input", "--cmd", "", "x"}, emptyProgram, 1},
  };
  for (const auto& c : cases) {
    std::vector<std::string> words{"exec", kId};
    words.insert(words.end(), c.words.begin(), c.words.end());
    SCOPED_TRACE(testing::PrintToString(words));
    const auto result = run(words, "input");
    EXPECT_THAT(result.err, testing::StartsWith(c.err));
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(requests().empty());  // not even the machine lookup
  }
}

// What the guest would get would differ from what was asked: refused before anything is sent.
TEST_F(ExecTest, WordsThatAreNotUtf8AndNamelessVariablesSendNothing) {
  realGuest();
  const std::vector<std::vector<std::string>> commandLines = {
      {"exec", "guest", "--cmd", "printf",
       "a\xff"
       "b"},
      {"exec", "guest", "--cmd", "/bin/ech\xc3"},
      {"exec", "guest", "--env", "V=\x80", "--cmd", "env"},
      {"exec", "guest", "--env", "A", "--cmd", "env"},
      {"exec", "guest", "--env", "=x", "--cmd", "env"},
      {"clone", "--name", "copy\xfe", "guest"},
      {"file", "push", "guest", "a\xff"},
      {"file", "pull", "guest", "a\xff"},
  };
  for (const auto& words : commandLines) {
    SCOPED_TRACE(testing::PrintToString(words));
    const auto result = run(words, "input");
    EXPECT_EQ(result.status, 64);
    EXPECT_THAT(result.err, testing::StartsWith("Error: "));
    EXPECT_THAT(result.err, testing::AnyOf(HasSubstr("is not valid UTF-8 (byte 0x"),
                                           HasSubstr("it must read NAME=VALUE")));
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(requests().empty());
  }
  EXPECT_EQ(readWorld()["machines"].size(), 1u);
}

TEST_F(ExecTest, AnUnknownMachineReadsNoInput) {
  realGuest();
  const auto result = run({"exec", "nope", "--input", "--cmd", "cat"}, "input");
  EXPECT_EQ(result.err, "Error: Virtual machine not found.\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(processRequests("Execute").empty());
}

}  // namespace
