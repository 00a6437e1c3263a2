#pragma once

#include <string>
#include <vector>

#include "host/backend/completion.h"
#include "host/backend/objects.h"

namespace qor::host {

// Files inside a machine's guest. A handle is never reused for the host's whole run.
class GuestFiles {
 public:
  virtual ~GuestFiles() = default;
  // The open files of a machine that are there to be asked.
  virtual std::vector<GuestHandle> files(MachineKey key) = 0;
  virtual void open(MachineKey key, OpenFileArgs args, Completion<GuestHandle> done) = 0;
  virtual void read(MachineKey key, GuestHandle file, ReadArgs args,
                    Completion<std::string> done) = 0;
  virtual void write(MachineKey key, GuestHandle file, WriteArgs args, Completion<Done> done) = 0;
  virtual void close(MachineKey key, GuestHandle file, Completion<Done> done) = 0;
  // The client that opened the file has left the bus: close it. Nothing to answer; a handle
  // already gone is no error.
  virtual void releaseFile(GuestHandle file) = 0;
};

}  // namespace qor::host
