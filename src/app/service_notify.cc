#include "app/service_notify.h"

#include <systemd/sd-daemon.h>

#include <cstdlib>

#include "engine/engine.h"

namespace vkx {

ServiceNotifier::ServiceNotifier(Send send, uint64_t watchdog_usec, Healthy healthy)
    : send_(std::move(send)), watchdog_usec_(watchdog_usec), healthy_(std::move(healthy)) {}

ServiceNotifier ServiceNotifier::FromEnvironment(Healthy healthy) {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  if (socket == nullptr || *socket == '\0') return ServiceNotifier(nullptr, 0, std::move(healthy));
  uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) <= 0) usec = 0;
  return ServiceNotifier([](const std::string& state) { sd_notify(0, state.c_str()); }, usec,
                         std::move(healthy));
}

void ServiceNotifier::Start() {
  if (!send_ || watchdog_usec_ == 0) return;
  Ping();
}

void ServiceNotifier::Ping() {
  if (stopping_) return;
  // A page that its recovery cannot bring back gets no pings, so that the
  // service manager starts the whole kiosk anew.
  if (!healthy_ || healthy_()) send_("WATCHDOG=1");
  const auto half_ms = static_cast<int>(watchdog_usec_ / 2000);
  engine::PostDelayedToUiThread([this] { Ping(); }, half_ms > 0 ? half_ms : 1);
}

void ServiceNotifier::PageLoaded(const std::string& url) {
  if (!send_) return;
  if (!ready_) send_("READY=1");
  ready_ = true;
  send_("STATUS=" + url);
}

void ServiceNotifier::PageFailed(const std::string& url) {
  if (!send_ || ready_) return;
  ready_ = true;
  send_("READY=1\nSTATUS=Failed to load " + url);
}

void ServiceNotifier::Stopping() {
  if (!send_ || stopping_) return;
  stopping_ = true;
  send_("STOPPING=1");
}

}  // namespace vkx
