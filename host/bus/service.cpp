#include "host/bus/service.h"

#include <fcntl.h>
#include <signal.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <variant>
#include <vector>

#include "host/bus/bus_message.h"
#include "host/core/dispatcher.h"
#include "host/diagnostics/diagnostics.h"
#include "support/dbus_names.h"
#include "wire/value_codec.h"

namespace qor::host {
namespace {

struct EventUnref {
  void operator()(sd_event* e) const { sd_event_unref(e); }
};
struct BusUnref {
  void operator()(sd_bus* b) const { sd_bus_flush_close_unref(b); }
};

class Service {
 public:
  Service(const Settings& settings, std::unique_ptr<Backend> backend, std::vector<Fault> faults,
          std::span<const Route> routes, Loop& loop, sd_event* event, sd_bus* bus)
      : settings_(settings),
        event_(event),
        bus_(bus),
        backend_(std::move(backend)),
        backends_(backend_->concerns()),
        dispatcher_(backends_, routes, &loop),
        diagnostics_(dispatcher_, std::move(faults),
                     [this] { sd_bus_release_name(bus_, settings_.busName.c_str()); }) {}

  ~Service() {
    // Requests still held are not answered: the host is leaving, and its bus with it.
    closing_ = true;
    backend_.reset();
  }

  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  Result<Done> openLog() {
    if (!settings_.log) return Done{};
    return diagnostics_.openLog(*settings_.log);
  }

  int start() {
    int r = sd_bus_add_fallback(bus_, nullptr, "/", &Service::onMessage, this);
    if (r < 0) return r;
    // Before the name is taken, so that no client can open a handle and leave unseen.
    r = sd_bus_match_signal(bus_, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus", "NameOwnerChanged",
                            &Service::onNameOwnerChanged, this);
    if (r < 0) return r;
    r = sd_event_add_time_relative(event_, &idle_, CLOCK_MONOTONIC, idleMicroseconds(), 0,
                                   &Service::onIdle, this);
    if (r < 0) return r;
    return sd_bus_request_name(bus_, settings_.busName.c_str(), 0);
  }

 private:
  std::uint64_t idleMicroseconds() const { return std::uint64_t{settings_.idleSeconds} * 1000000; }

  static int onIdle(sd_event_source*, uint64_t, void* userdata) {
    auto* self = static_cast<Service*>(userdata);
    return sd_event_exit(self->event_, 0);
  }

  // A client connection that leaves the bus takes its guest files and processes with it.
  static int onNameOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error*) {
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
    if (name && name[0] == ':' && newOwner && newOwner[0] == '\0') {
      static_cast<Service*>(userdata)->dispatcher_.connectionLeft(name);
    }
    return 0;
  }

  // Every request restarts the idle count; with automatic termination off there is none.
  void touch() {
    if (!dispatcher_.autoTerminate()) {
      sd_event_source_set_enabled(idle_, SD_EVENT_OFF);
      return;
    }
    sd_event_source_set_time_relative(idle_, idleMicroseconds());
    sd_event_source_set_enabled(idle_, SD_EVENT_ONESHOT);
  }

  static int onMessage(sd_bus_message* message, void* userdata, sd_bus_error*) {
    static_cast<Service*>(userdata)->serve(message);
    return 1;  // answered here, whatever the path
  }

  // The answer to a call, whenever it is ready: the backend's state is saved first, so a
  // client that has its answer finds the change.
  Completion<Reply> answering(sd_bus_message* message) {
    std::shared_ptr<sd_bus_message> call(sd_bus_message_ref(message), &sd_bus_message_unref);
    return Completion<Reply>([this, call](Result<Reply> outcome) {
      if (closing_) return;
      Reply reply = std::holds_alternative<Reply>(outcome)
                        ? std::get<Reply>(std::move(outcome))
                        : Reply::failure(std::get<Failure>(outcome));
      if (backends_.persistence) {
        if (auto saved = backends_.persistence->persist(); !succeeded(saved)) {
          const auto& why = failureOf(saved)->message;
          std::cerr << "qor-host: cannot save the world: " << why << "\n";
          reply = Reply::failure(failed("The host could not save its state: " + why));
        }
      }
      touch();  // SetAutoTerminate may just have changed the rule
      send(call.get(), reply);
    });
  }

  void serve(sd_bus_message* message) {
    Request request;
    const bool readable = readRequest(message, request) >= 0;
    diagnostics_.record(request);
    touch();  // a request that is never answered still counts as activity
    if (!readable) {
      send(message, Reply::failure(invalidArgs("The request's arguments cannot be read.")));
      return;
    }
    diagnostics_.serve(request, answering(message));
  }

  void send(sd_bus_message* call, const Reply& reply) {
    if (!sd_bus_message_get_expect_reply(call)) return;
    if (!reply.error) {
      sd_bus_message* out = nullptr;
      int r = sd_bus_message_new_method_return(call, &out);
      for (const auto& v : reply.values) {
        if (r >= 0) r = wire::appendValue(out, v);
      }
      if (r >= 0) r = sd_bus_send(bus_, out, nullptr);
      sd_bus_message_unref(out);
      if (r >= 0) return;
      sendError(call, contract::error_names::kHostFailed, "The host could not send its answer.");
      return;
    }
    const auto& e = *reply.error;
    if (!support::isErrorName(e.name)) {
      sendError(call, contract::error_names::kHostFailed, e.message);
    } else if (sendError(call, e.name, e.message) < 0) {
      sendError(call, contract::error_names::kHostFailed, "The host could not send its answer.");
    }
  }

  int sendError(sd_bus_message* call, std::string_view errorName, const std::string& message) {
    const std::string name(errorName);
    sd_bus_error error{};  // SD_BUS_ERROR_NULL is a C compound literal
    sd_bus_error_set(&error, name.c_str(), message.empty() ? nullptr : message.c_str());
    const int r = sd_bus_reply_method_error(call, &error);
    sd_bus_error_free(&error);
    return r;
  }

  const Settings& settings_;
  sd_event* event_;
  sd_bus* bus_;
  std::unique_ptr<Backend> backend_;
  Backends backends_;
  Dispatcher dispatcher_;
  Diagnostics diagnostics_;
  sd_event_source* idle_ = nullptr;
  bool closing_ = false;
};

// Standard streams closed at launch would let a pipe take descriptor 0, 1 or 2.
void keepStandardStreamsOpen() {
  for (int fd = 0; fd < 3; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0) ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
  }
}

}  // namespace

int runHostService(const Settings& settings, const BackendFactory& makeBackend,
                   std::span<const Route> routes) {
  keepStandardStreamsOpen();
  // Child processes are reaped by the event loop, which needs SIGCHLD blocked; a client that
  // goes away while a guest program's pipe is written must not kill the host.
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGCHLD);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGINT);
  sigprocmask(SIG_BLOCK, &blocked, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  sd_event* rawEvent = nullptr;
  if (sd_event_default(&rawEvent) < 0) {
    std::cerr << "qor-host: cannot create the event loop\n";
    return 1;
  }
  std::unique_ptr<sd_event, EventUnref> event(rawEvent);
  EventLoop loop(event.get());
  if (int r = loop.start(); r < 0) {
    std::cerr << "qor-host: cannot set up the event loop: " << std::strerror(-r) << "\n";
    return 1;
  }
  auto setup = makeBackend(loop);
  if (const auto* f = failureOf(setup)) {
    std::cerr << "qor-host: " << f->message << "\n";
    return 1;
  }
  auto faults = parseFaults(std::get<BackendSetup>(setup).faults);
  if (const auto* f = failureOf(faults)) {
    std::cerr << "qor-host: the fault switches cannot be used: " << f->message << "\n";
    return 64;
  }

  sd_bus* rawBus = nullptr;
  if (int r = sd_bus_open_user(&rawBus); r < 0) {
    std::cerr << "qor-host: cannot connect to the session bus: " << std::strerror(-r) << "\n";
    return 1;
  }
  std::unique_ptr<sd_bus, BusUnref> bus(rawBus);
  sd_bus_attach_event(bus.get(), event.get(), SD_EVENT_PRIORITY_NORMAL);
  sd_bus_set_exit_on_disconnect(bus.get(), 1);
  sd_event_add_signal(event.get(), nullptr, SIGTERM, nullptr, nullptr);
  sd_event_add_signal(event.get(), nullptr, SIGINT, nullptr, nullptr);

  auto service = std::make_unique<Service>(
      settings, std::move(std::get<BackendSetup>(setup).backend),
      std::get<std::vector<Fault>>(std::move(faults)), routes, loop, event.get(), bus.get());
  if (auto opened = service->openLog(); !succeeded(opened)) {
    std::cerr << "qor-host: cannot open the request log: " << failureOf(opened)->message << "\n";
    return 1;
  }
  if (int r = service->start(); r < 0) {
    std::cerr << "qor-host: cannot serve " << settings.busName << ": " << std::strerror(-r)
              << (r == -EEXIST ? " (another host owns the name)" : "") << "\n";
    return 1;
  }
  const int r = sd_event_loop(event.get());
  service.reset();  // ends running guest programs while the loop still exists
  return r < 0 ? 1 : 0;
}

}  // namespace qor::host
