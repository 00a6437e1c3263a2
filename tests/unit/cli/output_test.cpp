#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "cli/errors.h"
#include "cli/output.h"

namespace qor::cli {
namespace {

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    read = fds[0];
    write = fds[1];
  }
  ~Pipe() {
    closeRead();
    closeWrite();
  }
  void closeRead() {
    if (read >= 0) ::close(read);
    read = -1;
  }
  void closeWrite() {
    if (write >= 0) ::close(write);
    write = -1;
  }
  std::string drain() {
    closeWrite();
    return readAll();
  }
  std::string readAll() const {
    std::string bytes;
    char buffer[4096];
    for (ssize_t got; (got = ::read(read, buffer, sizeof buffer)) > 0;) {
      bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
  }
};

// Puts a pipe in place of one of the standard descriptors for the life of the object.
class Redirect {
 public:
  Redirect(int target, int replacement) : target_(target), saved_(::dup(target)) {
    ::dup2(replacement, target);
  }
  ~Redirect() {
    ::dup2(saved_, target_);
    ::close(saved_);
  }

 private:
  int target_;
  int saved_;
};

TEST(FileHandleTextStream, WritesEveryTextAsExactlyOneLine) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "\n"},
      {"Error from event: x", "Error from event: x\n"},
      {"ends in a newline\n", "ends in a newline\n\n"},
      {"caf\xC3\xA9", "caf\xC3\xA9\n"},
  };
  for (const auto& [text, bytes] : cases) {
    Pipe pipe;
    FileHandleTextStream(pipe.write).write(text);
    EXPECT_EQ(pipe.drain(), bytes);
  }
}

TEST(FileHandleTextStream, ReportsNothingWhenItCannotWrite) {
  std::signal(SIGPIPE, SIG_IGN);
  Pipe pipe;
  pipe.closeRead();
  EXPECT_NO_THROW(FileHandleTextStream(pipe.write).write("lost"));
}

TEST(WriteRaw, WritesLargeBuffersWhole) {
  std::string bytes(3 * 1024 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 % 251);
  Pipe pipe;
  std::string received;
  // The pipe holds far less than the data, so the writer sees short writes while this drains it.
  std::thread reader([&] { received = pipe.readAll(); });
  writeRaw(pipe.write, bytes);
  pipe.closeWrite();
  reader.join();
  EXPECT_EQ(received, bytes);
}

TEST(WriteRaw, RaisesWhenTheReaderIsGone) {
  std::signal(SIGPIPE, SIG_IGN);
  Pipe pipe;
  pipe.closeRead();
  try {
    writeRaw(pipe.write, "data");
    FAIL() << "no error raised";
  } catch (const CommandError& error) {
    EXPECT_NE(std::string(error.what()).find("Broken pipe"), std::string::npos) << error.what();
  }
  EXPECT_THROW(writeRaw(-1, "data"), CommandError);
}

TEST(Print, AddsOneNewlineThroughBufferedStandardOutput) {
  std::fflush(stdout);
  Pipe pipe;
  {
    Redirect redirect(STDOUT_FILENO, pipe.write);
    print("paused");
    print("");
    std::fflush(stdout);
  }
  EXPECT_EQ(pipe.drain(), "paused\n\n");
}

TEST(ReadStandardInput, ReadsFullChunksUntilTheEnd) {
  Pipe pipe;
  Redirect redirect(STDIN_FILENO, pipe.read);
  std::thread writer([&] {
    // Small pieces: a bounded read still returns full chunks until the input ends.
    for (int i = 0; i < 50; ++i) {
      std::string piece(100, static_cast<char>('a' + i % 26));
      (void)!::write(pipe.write, piece.data(), piece.size());
    }
    pipe.closeWrite();
  });
  std::string first = readStandardInput(4096);
  std::string second = readStandardInput(4096);
  std::string end = readStandardInput(4096);
  writer.join();
  EXPECT_EQ(first.size(), 4096u);
  EXPECT_EQ(second.size(), 904u);
  EXPECT_EQ(end, "");
  EXPECT_EQ(first.substr(0, 3), "aaa");
  EXPECT_EQ(second.back(), static_cast<char>('a' + 49 % 26));
}

TEST(ReadStandardInput, ReadsEverythingToTheEnd) {
  Pipe pipe;
  Redirect redirect(STDIN_FILENO, pipe.read);
  std::string bytes(200000, 'z');
  bytes[5] = '\0';
  std::thread writer([&] {
    (void)!::write(pipe.write, bytes.data(), bytes.size());
    pipe.closeWrite();
  });
  std::string all = readStandardInputToEnd();
  writer.join();
  EXPECT_EQ(all, bytes);
  EXPECT_EQ(readStandardInput(0), "");
}

TEST(ReadStandardInput, RaisesWhenStandardInputCannotBeRead) {
  Pipe pipe;
  Redirect redirect(STDIN_FILENO, pipe.write);  // a write-only descriptor
  EXPECT_THROW(readStandardInput(10), CommandError);
  EXPECT_THROW(readStandardInputToEnd(), CommandError);
}

}  // namespace
}  // namespace qor::cli
