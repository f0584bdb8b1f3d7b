// Tells a service manager how the kiosk is, through the notify socket that
// systemd names in NOTIFY_SOCKET: ready once the first page has loaded (or
// failed to), a watchdog ping every half of WATCHDOG_USEC while the main
// loop runs and the page is healthy, the current page as status, and
// stopping when the kiosk begins to end. Without NOTIFY_SOCKET it is silent.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vkx {

class ServiceNotifier {
 public:
  using Send = std::function<void(const std::string& state)>;
  using Healthy = std::function<bool()>;

  // `send` delivers one state ("READY=1", …); `watchdog_usec` is the
  // manager's watchdog interval, 0 for none.
  ServiceNotifier(Send send, uint64_t watchdog_usec, Healthy healthy);

  // The notifier for this process: systemd's socket and interval, or a
  // silent one when the kiosk does not run under a service manager.
  static ServiceNotifier FromEnvironment(Healthy healthy);

  bool Enabled() const { return static_cast<bool>(send_); }
  // Starts the watchdog pings on the main loop.
  void Start();
  void PageLoaded(const std::string& url);
  void PageFailed(const std::string& url);
  void Stopping();

 private:
  void Ping();

  Send send_;
  uint64_t watchdog_usec_;
  Healthy healthy_;
  bool ready_ = false;
  bool stopping_ = false;
};

}  // namespace vkx
