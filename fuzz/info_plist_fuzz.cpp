// Any bytes as a bundle's Contents/Info.plist (XML or binary property list). What the reader
// accepts is safe to use: the identifier is a well-known bus name the bus would take, and the
// program to launch is a plain file name, so the launch stays inside Contents/MacOS.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/checks.h"
#include "scripting/info_plist.h"

namespace {

namespace fs = std::filesystem;
using qor::fuzz::check;

// One temporary bundle for the whole run, removed when the fuzzer exits normally.
class TemporaryBundle {
 public:
  TemporaryBundle() {
    std::string pattern = (fs::temp_directory_path() / "qor-plist-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) qor::fuzz::fail("cannot create a temporary folder");
    folder_ = pattern;
    bundle_ = folder_ / "Qor.app";
    fs::create_directories(bundle_ / "Contents" / "MacOS");
  }
  ~TemporaryBundle() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  TemporaryBundle(const TemporaryBundle&) = delete;
  TemporaryBundle& operator=(const TemporaryBundle&) = delete;

  const fs::path& bundle() const { return bundle_; }

 private:
  fs::path folder_;
  fs::path bundle_;
};

bool isPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TemporaryBundle temporary;
  const fs::path& bundle = temporary.bundle();
  {
    std::ofstream out(bundle / "Contents" / "Info.plist", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    check(out.good(), "the property list is written");
  }

  const auto info = qor::scripting::readBundleInfo(bundle);
  if (!info) return 0;
  check(info->bundle == bundle, "the bundle is the one read");
  check(qor::fuzz::isWellKnownBusName(info->identifier), "the identifier is a well-known bus name",
        info->identifier);
  const auto program = info->program();
  check(program.has_value() == info->executable.has_value(),
        "a program exactly when the bundle names a usable one");
  if (info->executable) {
    check(isPlainFileName(*info->executable), "the executable is a plain file name",
          *info->executable);
    check(program->parent_path() == bundle / "Contents" / "MacOS",
          "the program lies in Contents/MacOS", program->string());
  }
  return 0;
}
