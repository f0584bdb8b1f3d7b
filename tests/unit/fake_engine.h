// A browser and process-level engine calls that record what the kiosk asks.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace fake {

struct DelayedTask {
  std::function<void()> task;
  int delay_ms;
};

struct EngineLog {
  int quit_calls = 0;
  bool on_ui_thread = true;
  std::vector<DelayedTask> delayed;
};
EngineLog& Log();

class Browser : public engine::Browser {
 public:
  explicit Browser(int id) : id_(id) {}
  bool IsSame(const std::shared_ptr<engine::Browser>& other) const override {
    return other && other->GetIdentifier() == id_;
  }
  int GetIdentifier() const override { return id_; }
  void SetFocus(bool focus) override { focused = focus; }
  void WasResized() override {}
  void CloseBrowser(bool force) override { closed_forced = force; }
  void Reload() override { ++reloads; }
  void TerminateRenderProcess() override { ++terminations; }
  void SetZoomLevel(double level) override { zoom = level; }
  void SetCursorHidden(bool hidden) override { cursor_hidden = hidden; }
  void ShowStatusPage(const std::string& html, const std::string& url) override {
    status_pages.push_back({html, url});
  }
  void ShowPinPage(const std::string& html, const std::string& url,
                   std::function<void(const std::string& pin)> entered) override {
    status_pages.push_back({html, url});
    pin_entered = std::move(entered);
  }
  std::function<void(const std::string& pin)> pin_entered;
  double zoom = 1.0;
  bool cursor_hidden = false;
  struct StatusPage {
    std::string html;
    std::string url;
  };
  std::vector<StatusPage> status_pages;
  unsigned long GetWindowHandle() const override { return 0; }
  void LoadURL(const std::string& url) override { loaded.push_back(url); }
  void ResetSessionAndLoad(const std::string& url) override {
    ++resets;
    loaded.push_back(url);
  }
  void ExecuteJavaScript(const std::string& code, const std::string& url, int line) override {
    scripts.push_back(code);
    script_urls.push_back(url);
    script_lines.push_back(line);
  }
  std::string GetMainFrameURL() const override { return main_frame_url; }
  bool SetPreference(const std::string& name, int value, std::string& error) override {
    preferences[name] = value;
    if (refuse.count(name)) {
      error = "refused";
      return false;
    }
    return true;
  }

  int reloads = 0;
  int terminations = 0;
  int resets = 0;
  bool focused = false;
  bool closed_forced = false;
  std::string main_frame_url = "https://kiosk.test/";
  std::vector<std::string> loaded;
  std::vector<std::string> scripts;
  std::vector<std::string> script_urls;
  std::vector<int> script_lines;
  std::map<std::string, int> preferences;
  std::map<std::string, bool> refuse;

 private:
  int id_;
};

// The cookie store: records what is set and enumerates `cookies` for a
// visitor, at once or when the test says so.
class CookieManager : public engine::CookieManager {
 public:
  struct SetCall {
    std::string url;
    engine::Cookie cookie;
    std::shared_ptr<engine::SetCookieCallback> callback;
  };

  bool SetCookie(const std::string& url, const engine::Cookie& cookie,
                 std::shared_ptr<engine::SetCookieCallback> callback) override;
  bool VisitAllCookies(std::shared_ptr<engine::CookieVisitor> visitor) override;
  void SetChangeObserver(std::function<void()> observer) override { change_observer = std::move(observer); }
  std::optional<uint64_t> StoreGeneration() override { return generation; }

  // Runs the held enumeration to its end, then lets the visitor go.
  void CompletePending();
  // Visits only the first `visits` cookies, then lets the visitor go
  // without an end: the engine went away in the middle.
  void AbandonPending(size_t visits = 0);

  std::vector<engine::Cookie> cookies;
  bool set_result = true;
  bool start_result = true;
  // Enumerations wait for CompletePending/AbandonPending instead of running at once.
  bool defer = false;

  std::vector<SetCall> set_calls;
  int visit_calls = 0;
  std::function<void()> change_observer;
  // What StoreGeneration answers: nullopt is a store whose process is gone.
  std::optional<uint64_t> generation = 0;
  std::shared_ptr<engine::CookieVisitor> pending;

 private:
  // As the engine does: each cookie with its position, then OnVisitDone
  // unless the visitor stopped the enumeration.
  void Run(engine::CookieVisitor& visitor, size_t limit);
};

// What engine::CookieManager::GetGlobalManager returns; may be null.
std::shared_ptr<CookieManager>& Cookies();

// Answer to a certificate error; counts the answers.
class CertCallback : public engine::Callback {
 public:
  void Continue() override { ++continued; }
  void Cancel() override { ++cancelled; }
  int continued = 0;
  int cancelled = 0;
};

}  // namespace fake
