// Build-time generator of the documents that are installed beside qorctl: the manual page and the
// three completion scripts, all from the one command table. Not part of qorctl itself.
// Usage: gen_docs <output folder>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "cli/completion.h"
#include "cli/manpage.h"
#include "entry/command_tree.h"
#include "version.h"

namespace {

bool writeFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out) {
    std::fprintf(stderr, "gen_docs: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gen_docs <output folder>\n");
    return 64;
  }
  const std::filesystem::path folder = argv[1];
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    std::fprintf(stderr, "gen_docs: cannot create %s: %s\n", argv[1], error.message().c_str());
    return 1;
  }

  using qor::cli::Shell;
  const qor::cli::CommandSpec& root = qor::entry::rootCommand();
  const std::string tool = root.commandName();
  // File names as each shell looks them up: bash by command name, zsh by function name.
  const bool written =
      writeFile(folder / (tool + ".1"), qor::cli::manPage(root, qor::kVersion)) &&
      writeFile(folder / (tool + ".bash"), qor::cli::completionScript(root, Shell::bash)) &&
      writeFile(folder / ("_" + tool), qor::cli::completionScript(root, Shell::zsh)) &&
      writeFile(folder / (tool + ".fish"), qor::cli::completionScript(root, Shell::fish));
  return written ? 0 : 1;
}
