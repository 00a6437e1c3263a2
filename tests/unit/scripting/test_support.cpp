#include "test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace qor::scripting::testing {

namespace fs = std::filesystem;

TemporaryFolder::TemporaryFolder() {
  std::string pattern = (fs::temp_directory_path() / "qor-scripting-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void writeFile(const fs::path& file, const std::string& bytes, bool executable) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
  if (executable) {
    fs::permissions(file, fs::perms::owner_exec | fs::perms::owner_read | fs::perms::owner_write);
  }
}

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBundle(const fs::path& bundle, const std::optional<std::string>& identifier,
                 const std::optional<std::string>& executable) {
  std::string plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n<dict>\n";
  if (identifier) plist += "<key>CFBundleIdentifier</key><string>" + *identifier + "</string>\n";
  if (executable) plist += "<key>CFBundleExecutable</key><string>" + *executable + "</string>\n";
  plist += "</dict>\n</plist>\n";
  writeFile(bundle / "Contents" / "Info.plist", plist);
  fs::create_directories(bundle / "Contents" / "MacOS");
}

std::string uniqueBusName() {
  static int counter = 0;
  return "org.qor.test.p" + std::to_string(getpid()) + "n" + std::to_string(++counter);
}

StandardErrorCapture::StandardErrorCapture() {
  int ends[2];
  if (pipe(ends) != 0) throw std::runtime_error("pipe failed");
  saved_ = dup(STDERR_FILENO);
  dup2(ends[1], STDERR_FILENO);
  close(ends[1]);
  readEnd_ = ends[0];
}

StandardErrorCapture::~StandardErrorCapture() {
  finish();
}

std::string StandardErrorCapture::finish() {
  if (saved_ < 0) return {};
  dup2(saved_, STDERR_FILENO);
  close(saved_);
  saved_ = -1;
  std::string text;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = read(readEnd_, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(readEnd_);
  return text;
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) previous_ = old;
  if (value) {
    setenv(name_.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  if (previous_) {
    setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

PrivateBus::PrivateBus() {
  const fs::path config = folder_.path() / "bus.conf";
  writeFile(config,
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
            "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:dir=" +
                folder_.path().string() +
                "</listen><policy context=\"default\"><allow send_destination=\"*\"/>"
                "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n");
  int ends[2];
  if (pipe(ends) != 0) throw std::runtime_error("pipe failed");
  const std::string configArgument = "--config-file=" + config.string();
  daemon_ = fork();
  if (daemon_ == 0) {
    dup2(ends[1], STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);  // it complains about fd limits it may not raise
    execl("/usr/bin/dbus-daemon", "dbus-daemon", configArgument.c_str(), "--nofork",
          "--print-address=1", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ends[1]);
  std::string address;
  char c = 0;
  pollfd readable{ends[0], POLLIN, 0};
  while (poll(&readable, 1, 10000) > 0 && read(ends[0], &c, 1) == 1 && c != '\n') address += c;
  close(ends[0]);
  if (address.empty()) throw std::runtime_error("dbus-daemon printed no address");
  address_.emplace("DBUS_SESSION_BUS_ADDRESS", address);
}

PrivateBus::~PrivateBus() {
  stop();
}

void PrivateBus::stop() {
  if (daemon_ <= 0) return;
  kill(daemon_, SIGTERM);
  waitpid(daemon_, nullptr, 0);
  daemon_ = -1;
}

ScriptedHost::ScriptedHost(std::string busName, std::map<std::string, Handler> handlers,
                           std::optional<fs::path> takeNameWhen)
    : busName_(std::move(busName)),
      handlers_(std::move(handlers)),
      takeNameWhen_(std::move(takeNameWhen)) {
  if (sd_bus_open_user(&bus_) < 0) throw std::runtime_error("host cannot reach the bus");
  sd_bus_add_filter(bus_, nullptr, &ScriptedHost::filter, this);
  if (!takeNameWhen_ && sd_bus_request_name(bus_, busName_.c_str(), 0) < 0) {
    throw std::runtime_error("host cannot own its name");
  }
  thread_ = std::thread([this] { serve(); });
}

ScriptedHost::~ScriptedHost() {
  stop();
  if (bus_ != nullptr) sd_bus_flush_close_unref(bus_);
}

void ScriptedHost::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
}

std::vector<ReceivedRequest> ScriptedHost::received() {
  std::lock_guard lock(mutex_);
  return std::move(received_);
}

std::size_t ScriptedHost::count() {
  std::lock_guard lock(mutex_);
  return received_.size();
}

void ScriptedHost::serve() {
  bool named = !takeNameWhen_;
  while (!stopping_) {
    if (!named && fs::exists(*takeNameWhen_)) {
      named = sd_bus_request_name(bus_, busName_.c_str(), 0) >= 0;
    }
    const int r = sd_bus_process(bus_, nullptr);
    if (r < 0) return;  // the bus went away
    if (r == 0) sd_bus_wait(bus_, 20'000);
  }
}

int ScriptedHost::filter(sd_bus_message* message, void* self, sd_bus_error*) {
  auto& host = *static_cast<ScriptedHost*>(self);
  if (sd_bus_message_is_method_call(message, nullptr, nullptr) <= 0) return 0;
  ReceivedRequest request;
  request.path = sd_bus_message_get_path(message) ? sd_bus_message_get_path(message) : "";
  request.interface =
      sd_bus_message_get_interface(message) ? sd_bus_message_get_interface(message) : "";
  request.member = sd_bus_message_get_member(message) ? sd_bus_message_get_member(message) : "";
  request.signature = sd_bus_message_get_signature(message, 1);
  std::string key = request.member;
  if (request.interface == "org.freedesktop.DBus.Properties" && request.member == "Get") {
    const char* interface = nullptr;
    const char* property = nullptr;
    if (sd_bus_message_read(message, "ss", &interface, &property) > 0)
      key = "Get." + std::string(property);
    sd_bus_message_rewind(message, 1);
  }
  request.message.reset(sd_bus_message_ref(message));
  {
    std::lock_guard lock(host.mutex_);
    host.received_.push_back(std::move(request));
  }
  const auto handler = host.handlers_.find(key);
  if (handler == host.handlers_.end()) {
    sd_bus_reply_method_errorf(message, "org.freedesktop.DBus.Error.UnknownMethod",
                               "No handler for %s", key.c_str());
    return 1;
  }
  handler->second(message);
  sd_bus_message_rewind(message, 1);
  return 1;
}

ScriptedHost::Handler replyVariant(std::string signature,
                                   std::function<int(sd_bus_message*)> write) {
  return [signature, write](sd_bus_message* call) {
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_return(call, &reply);
    MessagePtr owned(reply);
    if (r >= 0) r = sd_bus_message_open_container(reply, 'v', signature.c_str());
    if (r >= 0) r = write(reply);
    if (r >= 0) r = sd_bus_message_close_container(reply);
    if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
    return r;
  };
}

ScriptedHost::Handler replyText(std::string text) {
  return replyVariant(
      "s", [text](sd_bus_message* m) { return sd_bus_message_append(m, "s", text.c_str()); });
}

ScriptedHost::Handler replyPaths(std::vector<std::string> paths) {
  return replyVariant("ao", [paths](sd_bus_message* m) {
    int r = sd_bus_message_open_container(m, 'a', "o");
    for (const auto& path : paths) {
      if (r >= 0) r = sd_bus_message_append(m, "o", path.c_str());
    }
    if (r >= 0) r = sd_bus_message_close_container(m);
    return r;
  });
}

ScriptedHost::Handler replyNothing() {
  return [](sd_bus_message* call) { return sd_bus_reply_method_return(call, ""); };
}

ScriptedHost::Handler replyError(std::string name, std::string message) {
  return [name, message](sd_bus_message* call) {
    const sd_bus_error error = {name.c_str(), message.empty() ? nullptr : message.c_str(), 0};
    return sd_bus_reply_method_error(call, &error);
  };
}

ScriptedHost::Handler byPath(std::map<std::string, ScriptedHost::Handler> handlers) {
  return [handlers](sd_bus_message* call) {
    const auto handler = handlers.find(sd_bus_message_get_path(call));
    if (handler == handlers.end()) {
      return replyError("org.freedesktop.DBus.Error.UnknownObject", "Nothing at this path.")(call);
    }
    return handler->second(call);
  };
}

std::vector<std::string> textArguments(const ReceivedRequest& request) {
  std::vector<std::string> texts;
  sd_bus_message* m = request.message.get();
  sd_bus_message_rewind(m, 1);
  char type = 0;
  while (sd_bus_message_peek_type(m, &type, nullptr) > 0 && type == 's') {
    const char* text = nullptr;
    if (sd_bus_message_read_basic(m, 's', &text) <= 0) break;
    texts.emplace_back(text);
  }
  return texts;
}

}  // namespace qor::scripting::testing
