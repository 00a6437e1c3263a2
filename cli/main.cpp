#include "cli/entry.h"

int main(int argc, char** argv) {
  return qor::cli::runEntry(argc, argv);
}
