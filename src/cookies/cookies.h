// Cookies carried across runs: injected from the cookie file before each
// navigation, and written back to it as they change and when the browser
// closes.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine.h"

// Sets the file's cookies that belong to the URL's host into the engine's
// cookie store. UI thread only.
void InjectCookiesFromFile(const std::string& url, const std::string& cookieFile,
                           const std::string& cookieFilter);

// Reports whether one injected cookie was stored; a stored one counts as
// injected from then on (its line's fate is then the store's).
class SetCookieCallback : public engine::SetCookieCallback {
 public:
  explicit SetCookieCallback(engine::Cookie from_file) : from_file_(std::move(from_file)) {}
  void OnComplete(bool success) override;

 private:
  engine::Cookie from_file_;
};

// Gathers the store's cookies for one save. `completion` runs once with
// every cookie when the enumeration has reached its end, `failure` once
// with the reason when it cannot (an error, or released before its end).
class SaveCookieVisitor : public engine::CookieVisitor {
 public:
  using Completion = std::function<void(std::vector<engine::Cookie>)>;
  using Failure = std::function<void(const std::string&)>;
  SaveCookieVisitor(Completion completion, Failure failure);
  ~SaveCookieVisitor() override;
  SaveCookieVisitor(const SaveCookieVisitor&) = delete;
  SaveCookieVisitor& operator=(const SaveCookieVisitor&) = delete;

  bool Visit(const engine::Cookie& cookie, int count, int total, bool& deleteCookie) override;
  void OnVisitDone(int total) override;
  void OnVisitFailed(const std::string& reason) override;

 private:
  void Finish();

  std::vector<engine::Cookie> cookies_;
  Completion completion_;
  Failure failure_;
  bool finished_ = false;
};

namespace vkx {

// Saves the cookies when the configuration asks for it: the save at close.
void SaveCookies(engine::BrowserPtr browser);

// True from the start of a save until it has completed or been abandoned,
// and while a save at close waits for one under way.
bool CookieSaveInProgress();

}  // namespace vkx
