// A browser and process-level engine calls that record what the kiosk asks.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace fake {

struct EngineLog {
  int quit_calls = 0;
  bool on_ui_thread = true;
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
  unsigned long GetWindowHandle() const override { return 0; }
  void LoadURL(const std::string& url) override { loaded.push_back(url); }
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

}  // namespace fake
