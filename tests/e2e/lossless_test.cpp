// Large transfers arrive byte for byte, and file transfers stream: qorctl's memory stays far
// below the size of the file.
#include <fstream>

#include "tests/e2e/fault_matrix.h"

using namespace qor::e2e;

namespace {

// Under AddressSanitizer the shadow memory and the quarantine say nothing about the tool's own
// use, so the memory bound is checked in the normal build only.
constexpr bool kSanitized = kSanitizedBuild;

constexpr std::size_t kFileSize = 64u << 20;
constexpr long kMemoryBoundKiB = 32 << 10;

class LosslessTest : public FaultMatrixTest {
 protected:
  void SetUp() override {
    FaultMatrixTest::SetUp();
    setUpWorld(json::array());
  }

  void expectStreamed(const RunResult& result) {
    if (kSanitized) return;
    ASSERT_GT(result.peakMemoryKiB, 0) << "no peak memory measured; is /usr/bin/time there?";
    EXPECT_LT(result.peakMemoryKiB, kMemoryBoundKiB);
  }
};

TEST_F(LosslessTest, PullOf64MiBIsByteExactInBoundedMemory) {
  const std::string bytes = randomBytes(kFileSize, 64);
  writeGuestFile("big.bin", bytes);
  const auto result = runMeasuringMemory({"file", "pull", kGuestId, "big.bin"});
  ASSERT_EQ(result.err, "");
  ASSERT_EQ(result.status, 0);
  ASSERT_EQ(result.out.size(), bytes.size());
  EXPECT_TRUE(result.out == bytes);
  expectStreamed(result);
}

TEST_F(LosslessTest, PushOf64MiBIsByteExactInBoundedMemory) {
  const std::string bytes = randomBytes(kFileSize, 65);
  // From a file, so qorctl reads at its own pace and the test holds no pipe open.
  const auto source = dir() / "source.bin";
  std::ofstream(source, std::ios::binary) << bytes;
  RunOptions options;
  options.inputFile = source;
  const auto result = runMeasuringMemory({"file", "push", kGuestId, "big.bin"}, options);
  ASSERT_EQ(result.err, "");
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  const std::string written = readGuestFile("big.bin");
  ASSERT_EQ(written.size(), bytes.size());
  EXPECT_TRUE(written == bytes);
  expectStreamed(result);
}

TEST_F(LosslessTest, ExecPassesEightMiBOfBinaryInputAndOutputUnchanged) {
  const std::string bytes = randomBytes(8u << 20, 8);
  const auto result = run({"exec", kGuestId, "--input", "--cmd", "cat"}, bytes);
  ASSERT_EQ(result.err, "");
  ASSERT_EQ(result.status, 0);
  ASSERT_EQ(result.out.size(), bytes.size());
  EXPECT_TRUE(result.out == bytes);
}

}  // namespace
