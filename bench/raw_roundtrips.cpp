// The platform floor for the benchmarks: the same D-Bus round trips qorctl makes, with nothing
// around them (no parsing, no lookup, no output), over one sd-bus connection.
//
//   raw_roundtrips list  <bus name>                       1 + 3 per machine Get requests
//   raw_roundtrips read  <bus name> <vm path> <guest path>  open, 4 KiB reads to the end, close
//   raw_roundtrips write <bus name> <vm path> <guest path> <chunks>  open, chunks+1 writes, close
#include <systemd/sd-bus.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* kRoot = "/org/qor/Scripting1";
const char* kI = "org.qor.Scripting1.";
sd_bus* bus = nullptr;
const char* destination = nullptr;

[[noreturn]] void die(const char* what, int r) {
  std::fprintf(stderr, "raw_roundtrips: %s: %s\n", what, std::strerror(-r));
  std::exit(1);
}

sd_bus_message* get(const char* path, const std::string& interface, const char* property) {
  sd_bus_error error{};  // SD_BUS_ERROR_NULL is a C compound literal
  sd_bus_message* reply = nullptr;
  int r = sd_bus_call_method(bus, destination, path, "org.freedesktop.DBus.Properties", "Get",
                             &error, &reply, "ss", (kI + interface).c_str(), property);
  if (r < 0) die(property, r);
  return reply;
}

std::vector<std::string> machinePaths() {
  sd_bus_message* reply = get(kRoot, "Application", "VirtualMachines");
  std::vector<std::string> paths;
  sd_bus_message_enter_container(reply, 'v', "ao");
  sd_bus_message_enter_container(reply, 'a', "o");
  const char* path = nullptr;
  while (sd_bus_message_read(reply, "o", &path) > 0) paths.emplace_back(path);
  sd_bus_message_unref(reply);
  return paths;
}

std::string openFile(const char* vm, const char* guestPath, std::uint32_t mode) {
  sd_bus_error error{};  // SD_BUS_ERROR_NULL is a C compound literal
  sd_bus_message* reply = nullptr;
  int r = sd_bus_call_method(bus, destination, vm, (std::string(kI) + "VirtualMachine").c_str(),
                             "OpenFile", &error, &reply, "sub", guestPath, mode, 0);
  if (r < 0) die("OpenFile", r);
  const char* file = nullptr;
  sd_bus_message_read(reply, "o", &file);
  std::string out = file;
  sd_bus_message_unref(reply);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  destination = argv[2];
  if (int r = sd_bus_open_user(&bus); r < 0) die("session bus", r);
  const std::string mode = argv[1];
  const std::string file = std::string(kI) + "GuestFile";
  if (mode == "list") {
    for (const auto& path : machinePaths()) {
      for (const char* property : {"Status", "Id", "Name"}) {
        sd_bus_message_unref(get(path.c_str(), "VirtualMachine", property));
      }
    }
  } else if (mode == "read" && argc == 5) {
    const std::string path = openFile(argv[3], argv[4], 0x4F70526F);
    for (;;) {
      sd_bus_error error{};  // SD_BUS_ERROR_NULL is a C compound literal
      sd_bus_message* reply = nullptr;
      int r =
          sd_bus_call_method(bus, destination, path.c_str(), file.c_str(), "Read", &error, &reply,
                             "xuxbb", std::int64_t{0}, 0x43755272u, std::int64_t{4096}, 1, 0);
      if (r < 0) die("Read", r);
      const char* data = nullptr;
      sd_bus_message_read(reply, "s", &data);
      const bool end = data[0] == '\0';
      sd_bus_message_unref(reply);
      if (end) break;
    }
    sd_bus_call_method(bus, destination, path.c_str(), file.c_str(), "Close", nullptr, nullptr, "");
  } else if (mode == "write" && argc == 6) {
    const std::string path = openFile(argv[3], argv[4], 0x4F70576F);
    const std::string chunk(5464, 'A');  // the base64 length of 4096 bytes
    const long chunks = std::atol(argv[5]);
    for (long i = 0; i <= chunks; ++i) {
      const char* data = i < chunks ? chunk.c_str() : "";
      int r = sd_bus_call_method(bus, destination, path.c_str(), file.c_str(), "Write", nullptr,
                                 nullptr, "sxubb", data, std::int64_t{0}, 0x43755272u, 1, 0);
      if (r < 0) die("Write", r);
    }
    sd_bus_call_method(bus, destination, path.c_str(), file.c_str(), "Close", nullptr, nullptr, "");
  } else {
    return 2;
  }
  sd_bus_flush_close_unref(bus);
  return 0;
}
