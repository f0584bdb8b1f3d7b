#include "cookies/cookies.h"

#include "config/config.h"
#include "cookies/cookie_file.h"
#include "cookies/cookie_jar.h"
#include "log/check.h"
#include "log/log.h"

namespace {

const char* BoolText(bool value) { return value ? "true" : "false"; }

std::string InjectionTrace(const std::string& host, const engine::Cookie& cookie) {
  std::string trace;
  trace += "  InjectCookiesFromFile hostname: " + host + "\n";
  trace += "  Name: " + cookie.name + "\n";
  trace += "  Value: " + cookie.value + "\n";
  trace += "  Domain: " + cookie.domain + "\n";
  trace += "  Path: " + cookie.path + "\n";
  trace += std::string("  Secure: ") + BoolText(cookie.secure) + "\n";
  trace += std::string("  HttpOnly: ") + BoolText(cookie.httponly) + "\n";
  trace += std::string("  HasExpire: ") + BoolText(cookie.has_expires) + "\n";
  trace += "  Expire: " + std::to_string(cookie.expires);
  return trace;
}

}  // namespace

void InjectCookiesFromFile(const std::string& url, const std::string& cookieFile,
                           const std::string& cookieFilter) {
  VKX_CHECK(engine::CurrentlyOnUiThread());
  vkx::CookieJar& jar = vkx::CookieJar::Instance();
  jar.Watch();
  const std::vector<std::string> filter = vkx::SplitCookieFilter(cookieFilter);
  const std::string host = vkx::HostFromUrl(url);
  std::vector<engine::Cookie> cookies = vkx::ReadCookieFile(cookieFile);
  jar.NoteFileRead(cookies);
  if (cookies.empty()) return;
  std::shared_ptr<engine::CookieManager> manager = engine::CookieManager::GetGlobalManager();
  for (engine::Cookie& cookie : cookies) {
    if (vkx::IsFiltered(cookie.name, filter)) continue;
    engine::Cookie stored = cookie;
    switch (vkx::FitCookieToHost(cookie.domain, host)) {
      case vkx::CookieFit::HostOnly:
        cookie.domain.clear();
        break;
      case vkx::CookieFit::Domain:
        break;
      case vkx::CookieFit::Mismatch:
        vkx::LogError("skipping cookie. Hostname " + host + ", domain " + cookie.domain);
        continue;
    }
    // Each cookie's trace leaves in one write: a navigation may set many.
    vkx::LogError(InjectionTrace(host, cookie));
    const bool set =
        manager && manager->SetCookie(url, cookie, std::make_shared<SetCookieCallback>(stored));
    vkx::LogError(set ? "SetCookie return true " : "Failed to inject cookie.");
  }
}

void SetCookieCallback::OnComplete(bool success) {
  vkx::LogError(std::string("SetCookieCallback::OnComplete success: ") + (success ? "1" : "0"));
  if (success) vkx::CookieJar::Instance().NoteInjected(from_file_);
}

SaveCookieVisitor::SaveCookieVisitor(Completion completion, Failure failure)
    : completion_(std::move(completion)), failure_(std::move(failure)) {}

SaveCookieVisitor::~SaveCookieVisitor() {
  // Released before the end: the list is incomplete and must not be saved.
  if (!finished_ && failure_) failure_("the cookie store stopped listing before its end");
}

bool SaveCookieVisitor::Visit(const engine::Cookie& cookie, int count, int total,
                              bool& /*deleteCookie*/) {
  cookies_.push_back(cookie);
  if (count + 1 == total) Finish();
  return true;
}

void SaveCookieVisitor::OnVisitDone(int /*total*/) { Finish(); }

void SaveCookieVisitor::OnVisitFailed(const std::string& reason) {
  if (finished_) return;
  finished_ = true;
  if (failure_) failure_("the cookie store could not be listed: " + reason);
}

void SaveCookieVisitor::Finish() {
  if (finished_) return;
  finished_ = true;
  if (completion_) completion_(std::move(cookies_));
}

namespace vkx {

void SaveCookies(engine::BrowserPtr /*browser*/) {
  if (!Config::Instance().GetCacheCookies()) return;
  CookieJar::Instance().SaveAtClose();
}

bool CookieSaveInProgress() { return CookieJar::Instance().SaveInProgress(); }

}  // namespace vkx
