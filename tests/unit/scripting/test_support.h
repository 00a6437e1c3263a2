#pragma once

#include <sys/types.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "scripting/bridge.h"
#include "scripting/event_error_handler.h"

namespace qor::scripting::testing {

// A fresh folder, removed with everything in it.
class TemporaryFolder {
 public:
  TemporaryFolder();
  ~TemporaryFolder();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Writes <folder>/Contents/Info.plist (XML) with the given keys; absent ones are left out.
void writeBundle(const std::filesystem::path& bundle, const std::optional<std::string>& identifier,
                 const std::optional<std::string>& executable = std::nullopt);
void writeFile(const std::filesystem::path& file, const std::string& bytes,
               bool executable = false);
std::string readFile(const std::filesystem::path& file);

// A bus name no other test uses at the same time.
std::string uniqueBusName();

// Everything written to descriptor 2 between construction and finish().
class StandardErrorCapture {
 public:
  StandardErrorCapture();
  ~StandardErrorCapture();
  std::string finish();

 private:
  int saved_ = -1;
  int readEnd_ = -1;
};

class RecordingDelegate : public EventDelegate {
 public:
  void eventDidFail(const PlatformError& error) override { errors.push_back(error); }
  std::vector<PlatformError> errors;
};

// Sets an environment variable for one scope, or unsets it (nullopt).
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::string name, const std::optional<std::string>& value);
  ~ScopedEnvironment();

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// A private dbus-daemon, made the session bus of this process for the object's life.
class PrivateBus {
 public:
  PrivateBus();
  ~PrivateBus();
  void stop();  // ends the daemon now, as if the session went away

 private:
  TemporaryFolder folder_;
  pid_t daemon_ = -1;
  std::optional<ScopedEnvironment> address_;
};

// A request as a host received it.
struct ReceivedRequest {
  std::string path;
  std::string interface;
  std::string member;
  std::string signature;
  MessagePtr message;  // read position at the first argument; inspect only after stop()
};

// A throwaway service on its own thread: answers requests through handlers keyed by member
// ("Start") or "Get.<Property>", and keeps every request it receives. Requests without a handler
// get UnknownMethod.
class ScriptedHost {
 public:
  using Handler = std::function<int(sd_bus_message* call)>;

  // Owns `busName` at once, or only once the file `takeNameWhen` exists.
  ScriptedHost(std::string busName, std::map<std::string, Handler> handlers,
               std::optional<std::filesystem::path> takeNameWhen = std::nullopt);
  ~ScriptedHost();
  void stop();
  std::vector<ReceivedRequest> received();  // call after stop()
  std::size_t count();

 private:
  static int filter(sd_bus_message* message, void* self, sd_bus_error* error);
  void serve();

  std::string busName_;
  std::map<std::string, Handler> handlers_;
  std::optional<std::filesystem::path> takeNameWhen_;
  sd_bus* bus_ = nullptr;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::vector<ReceivedRequest> received_;
  std::thread thread_;
};

// Handlers for common answers.
ScriptedHost::Handler replyVariant(std::string signature,
                                   std::function<int(sd_bus_message*)> write);
ScriptedHost::Handler replyText(std::string text);
ScriptedHost::Handler replyPaths(std::vector<std::string> paths);
ScriptedHost::Handler replyNothing();
ScriptedHost::Handler replyError(std::string name, std::string message);
// Dispatches on the request's object path; other paths get UnknownObject.
ScriptedHost::Handler byPath(std::map<std::string, ScriptedHost::Handler> handlers);

// Reads the arguments of a received request after the host has stopped.
std::vector<std::string> textArguments(const ReceivedRequest& request);

}  // namespace qor::scripting::testing
