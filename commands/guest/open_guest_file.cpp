#include "commands/guest/open_guest_file.h"

#include <exception>
#include <string>

#include "cli/output.h"

namespace qor::commands {

OpenGuestFile::~OpenGuestFile() {
  if (closed_) return;
  closed_ = true;
  // A close that fails in the host has been reported by the event error handler. Anything thrown
  // on the way (out of memory, a delegate that throws) would end the process from here, so it is
  // reported instead and the error that is unwinding, if any, goes on to the entry point.
  try {
    file_.close();
  } catch (const std::exception& error) {
    try {
      cli::standardErrorStream().write("Error: The guest file could not be closed: " +
                                       std::string(error.what()));
    } catch (...) {
      cli::standardErrorStream().write("Error: The guest file could not be closed.");
    }
  } catch (...) {
    cli::standardErrorStream().write("Error: The guest file could not be closed.");
  }
}

}  // namespace qor::commands
