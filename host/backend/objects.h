#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qor::host {

// The backend's own number for a machine, stable while the host runs; key paths use it.
using MachineKey = std::uint64_t;
// The number of a guest file or process, unique for the host's whole run and never reused.
using GuestHandle = std::uint64_t;

// What the host knows of an object at the moment it is asked; an absent value is read as
// NoValue, not as a default.
struct MachineInfo {
  MachineKey key = 0;
  std::optional<std::string> id;
  std::optional<std::string> name;
  std::optional<std::uint32_t> backend;
  std::optional<std::uint32_t> status;
};

struct SerialPortInfo {
  std::optional<std::int64_t> id;
  std::optional<std::uint32_t> interface;
  std::optional<std::string> address;
  std::optional<std::int64_t> port;
  std::string server = {};  // the computer the address is on; "" for this one
};

struct UsbDeviceInfo {
  std::optional<std::int64_t> id;
  std::optional<std::string> name;
  std::optional<std::string> manufacturerName;
  std::optional<std::string> productName;
  std::optional<std::int64_t> vendorId;
  std::optional<std::int64_t> productId;
  std::string connection = {};  // the URI of the connection it is plugged into; "" for the only one
};

struct WindowInfo {
  std::uint64_t key = 0;  // its path element; stable while the window exists
  std::optional<std::string> name;
  bool visible = true;
};

// The arguments of the guest requests as the client sent them; data travels in the encoding
// the request names, so a backend whose guest speaks base64 can pass it through.
struct OpenFileArgs {
  std::string path;
  std::uint32_t mode = 0;
  bool updating = false;
};
struct ReadArgs {
  std::int64_t offset = 0;
  std::uint32_t whence = 0;
  std::int64_t length = 0;
  bool base64 = true;
  bool closing = false;
};
struct WriteArgs {
  std::string data;
  std::int64_t offset = 0;
  std::uint32_t whence = 0;
  bool base64 = true;
  bool closing = false;
};
struct ExecuteArgs {
  std::string program;
  std::vector<std::string> arguments;
  std::vector<std::string> environment;
  std::string input;
  bool base64 = true;
  bool capture = true;
};

// What a guest program has left so far, its streams already in the encoding it was started
// with: what processRecord turns into GetResult's record.
struct ProcessState {
  bool exited = false;
  std::int64_t exitCode = 0;
  std::string output;
  std::string error;
  bool outputTruncated = false;
  bool errorTruncated = false;
};

}  // namespace qor::host
