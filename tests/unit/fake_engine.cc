#include "fake_engine.h"

namespace fake {
EngineLog& Log() {
  static EngineLog log;
  return log;
}

std::shared_ptr<CookieManager>& Cookies() {
  static std::shared_ptr<CookieManager> manager = std::make_shared<CookieManager>();
  return manager;
}

bool CookieManager::SetCookie(const std::string& url, const engine::Cookie& cookie,
                              std::shared_ptr<engine::SetCookieCallback> callback) {
  set_calls.push_back({url, cookie, std::move(callback)});
  return set_result;
}

bool CookieManager::VisitAllCookies(std::shared_ptr<engine::CookieVisitor> visitor) {
  ++visit_calls;
  if (!start_result || !visitor) return false;
  if (defer) {
    pending = std::move(visitor);
  } else {
    Run(*visitor, cookies.size() + 1);
  }
  return true;
}

void CookieManager::CompletePending() {
  std::shared_ptr<engine::CookieVisitor> visitor = std::move(pending);
  pending.reset();
  if (visitor) Run(*visitor, cookies.size() + 1);
}

void CookieManager::AbandonPending(size_t visits) {
  std::shared_ptr<engine::CookieVisitor> visitor = std::move(pending);
  pending.reset();
  if (visitor) Run(*visitor, visits);
}

void CookieManager::Run(engine::CookieVisitor& visitor, size_t limit) {
  const int total = static_cast<int>(cookies.size());
  for (size_t i = 0; i < cookies.size(); ++i) {
    if (i == limit) return;
    bool remove = false;
    if (!visitor.Visit(cookies[i], static_cast<int>(i), total, remove)) return;
  }
  if (limit > cookies.size()) visitor.OnVisitDone(total);
}

}  // namespace fake

namespace engine {
void StartEarly() {}
bool Initialize(const Settings&) { return true; }
void RunMessageLoop() {}
void QuitMessageLoop() { ++fake::Log().quit_calls; }
void Shutdown() {}
void RemoveRuntimeFiles() {}
bool IsRunning() { return true; }
void SetNetworkProxy(const std::string&, const std::string&) {}
// A certificate "loads" when its name does not start with "missing".
ClientCertificatePtr LoadClientCertificate(const std::string& certificate, const std::string&,
                                           std::string& error) {
  if (certificate.rfind("missing", 0) == 0) {
    error = "No such file";
    return nullptr;
  }
  return std::make_shared<ClientCertificate>();
}
bool CreateBrowser(unsigned long, const Rect&, std::shared_ptr<Client>, const std::string&,
                   const BrowserSettings&) {
  return true;
}
bool CurrentlyOnUiThread() { return fake::Log().on_ui_thread; }
void PostToUiThread(std::function<void()> task) { task(); }
std::shared_ptr<CookieManager> CookieManager::GetGlobalManager() { return fake::Cookies(); }
void PostDelayedToUiThread(std::function<void()> task, int delay_ms) {
  fake::Log().delayed.push_back({std::move(task), delay_ms});
}
}  // namespace engine
