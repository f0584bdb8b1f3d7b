// Cookies carried across runs: injected from the cookie file before each
// navigation, written back to it when the browser closes.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"

// Sets the file's cookies that belong to the URL's host into the engine's
// cookie store. UI thread only.
void InjectCookiesFromFile(const std::string& url, const std::string& cookieFile,
                           const std::string& cookieFilter);

// Reports whether one injected cookie was stored.
class SetCookieCallback : public engine::SetCookieCallback {
 public:
  void OnComplete(bool success) override;
};

// Writes the store's cookies, less the filtered names, to the cookie file.
// The lines go to a temporary file beside it (owner-only) that replaces the
// file only once the enumeration is complete; an enumeration that never
// completes leaves the old file as it was.
class SaveCookieVisitor : public engine::CookieVisitor {
 public:
  using Completion = std::function<void(void*)>;
  SaveCookieVisitor(const std::string& path, const std::string& filter, void* data,
                    Completion completion);
  ~SaveCookieVisitor() override;
  SaveCookieVisitor(const SaveCookieVisitor&) = delete;
  SaveCookieVisitor& operator=(const SaveCookieVisitor&) = delete;

  bool Visit(const engine::Cookie& cookie, int count, int total, bool& deleteCookie) override;
  void OnVisitDone(int total) override;

 private:
  void Finish();
  void RemoveStaleTempFiles() const;

  std::string path_;
  std::string temp_path_;
  FILE* file_ = nullptr;
  Completion completion_;
  void* data_;
  std::vector<std::string> filter_;
  bool finished_ = false;
};

namespace vkx {

// Starts saving the cookies when the configuration asks for it.
void SaveCookies(engine::BrowserPtr browser);

// True from the start of a save until it has completed or been abandoned.
bool CookieSaveInProgress();

}  // namespace vkx
