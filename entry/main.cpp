#include "entry/entry.h"

int main(int argc, char** argv) {
  return qor::entry::runEntry(argc, argv);
}
