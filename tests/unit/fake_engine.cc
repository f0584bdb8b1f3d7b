#include "fake_engine.h"

namespace fake {
EngineLog& Log() {
  static EngineLog log;
  return log;
}
}  // namespace fake

namespace engine {
bool Initialize(const Settings&) { return true; }
void RunMessageLoop() {}
void QuitMessageLoop() { ++fake::Log().quit_calls; }
void Shutdown() {}
bool IsRunning() { return true; }
bool CreateBrowser(unsigned long, const Rect&, std::shared_ptr<Client>, const std::string&,
                   const BrowserSettings&) {
  return true;
}
bool CurrentlyOnUiThread() { return fake::Log().on_ui_thread; }
void PostToUiThread(std::function<void()> task) { task(); }
}  // namespace engine
