#pragma once

#include <utility>

#include "scripting/object_model.h"

namespace qor::commands {

// Closes the guest file on every way out of a transfer, so a failed standard stream or a failed
// request never leaves the file open in the guest. The result of a close that the transfer
// itself asks for is checked through `close()`; the close on the way out may run while an
// exception is in flight, so nothing it meets leaves the destructor.
class OpenGuestFile {
 public:
  explicit OpenGuestFile(scripting::QorGuestFile file) : file_(std::move(file)) {}
  OpenGuestFile(const OpenGuestFile&) = delete;
  OpenGuestFile& operator=(const OpenGuestFile&) = delete;
  ~OpenGuestFile();

  const scripting::QorGuestFile& operator*() const { return file_; }
  const scripting::QorGuestFile* operator->() const { return &file_; }
  bool close() {
    closed_ = true;
    return file_.close();
  }

 private:
  scripting::QorGuestFile file_;
  bool closed_ = false;
};

}  // namespace qor::commands
