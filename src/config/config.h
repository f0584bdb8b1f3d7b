// The process-wide configuration record: built-in defaults overlaid by the
// key=value file named in VKX_CONFIG_PATH, plus the sign-in credentials.
#pragma once

#include <atomic>
#include <cstdlib>
#include <string>

// X11 defines None as a macro; the enumerator below keeps its own name.
#pragma push_macro("None")
#undef None

class Config {
 public:
  enum DisplayMode { Windowed = 0, Maximized = 1, Fullscreen = 2 };
  enum EndSessionKey { None = 0, CtrlAltC = 1 };

  // The start page used when the file names none.
  static constexpr const char* kDefaultUrl = "https://www.debian.org/";
  // The sign-in fields when the file names none.
  static constexpr const char* kDefaultUserField = "#username-field";
  static constexpr const char* kDefaultPasswordField = "#login-user-password";

  // The one record of the process, created and loaded on first call.
  static Config& Instance();

  // For operators, before a file goes out: reads the file VKX_CONFIG_PATH
  // names and prints every key with the value the kiosk would use, then
  // every line it would ignore and why. False when the file cannot be read.
  static bool Check();

  // Builds a record from the environment as Instance() does. The program
  // uses Instance(); tests build their own records.
  Config();
  Config(const Config&) = delete;
  Config& operator=(const Config&) = delete;

  // Back to defaults, then the file again; the credentials stay empty.
  // True when the file exists (even if it could not be opened).
  bool Reload();

  // The configuration dump on standard output.
  void Print() const;

  // String getters: main thread only. Numbers and flags: any thread.
  std::string GetUrl() const { return url_; }
  std::string GetCachePath() const { return cachePath_; }
  std::string GetAcceptLanguageList() const { return acceptLanguageList_; }
  std::string GetIconName() const { return iconName_; }
  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  int GetDisplayMode() const { return displayMode_; }
  bool GetDisableKbdShortcuts() const { return disableKbdShortcuts_; }
  bool GetDisableContextMenu() const { return disableContextMenu_; }
  bool GetEnableToolbar() const { return enableToolbar_; }
  bool GetEnableAutoHide() const { return enableAutoHide_; }
  int GetEndSessionKey() const { return endSessionKey_; }
  std::string GetUsername() const { return username_; }
  std::string GetPassword() const { return password_; }
  bool GetCacheCookies() const { return cacheCookies_; }
  std::string GetCookieFile() const { return cookieFile_; }
  std::string GetCookieFilter() const { return cookieFilter_; }
  bool GetAcceptCertError() const { return acceptCertError_; }
  bool GetRequireSandbox() const { return requireSandbox_; }
  // Comma-separated entries of the URLs the kiosk may show; empty: any.
  std::string GetUrlAllowList() const { return urlAllowList_; }
  // Seconds without input before the start page comes back; 0: never.
  int GetIdleTimeout() const { return idleTimeout_; }
  // A blank pointer over the whole window, whatever the page asks for.
  bool GetHideCursor() const { return hideCursor_; }
  // The page zoom, 0.25 to 5 (1: none).
  // The proxy of every request (empty: the system's) and the hosts that go direct.
  std::string GetProxy() const { return proxy_; }
  // MiB for the page's renderer; 0: no limit. Read at start.
  int GetMemoryLimit() const { return memoryLimit_; }
  std::string GetProxyIgnoreHosts() const { return proxyIgnoreHosts_; }
  double GetZoomLevel() const { return std::strtod(zoomLevel_.c_str(), nullptr); }
  // The sign-in form: CSS selectors of the two fields and of what submits
  // it (empty: never submit), and the hosts whose pages get the
  // credentials (urlAllowList entries; empty: every host).
  std::string GetLoginUserField() const { return loginUserField_; }
  std::string GetLoginPasswordField() const { return loginPasswordField_; }
  std::string GetLoginSubmit() const { return loginSubmit_; }
  std::string GetLoginHosts() const { return loginHosts_; }
  // The idle return starts a fresh session: nothing of the last visitor
  // stays, and the cookie file is read but never written.
  bool GetClearSessionOnIdle() const { return clearSessionOnIdle_; }
  // A keyboard in the window's bottom strip while a page's editable
  // element has the focus.
  bool GetOnScreenKeyboard() const { return onScreenKeyboard_; }
  // The TLS client certificate (PEM file or PKCS#11 URI), its key (the
  // same; empty: with the certificate) and the hosts it is offered to
  // (urlAllowList entries; empty: the host of url).
  std::string GetClientCertificate() const { return clientCertificate_; }
  std::string GetClientCertificateKey() const { return clientCertificateKey_; }
  std::string GetClientCertificateHosts() const { return clientCertificateHosts_; }

 private:
  // The table of the file's keys, each with its field, default, parser and
  // Print line (config.cc).
  friend struct ConfigKeys;

  void ApplyDefaults();
  // The path named by VKX_CONFIG_PATH when it names something that exists;
  // otherwise reports why on standard error and returns false.
  static bool ConfigPath(std::string& path);
  void ParseFile(const std::string& path);
  // The sign-in credentials taken from the environment at start.
  void TakeCredentialsIntoConfig();

  std::string url_;
  std::string cachePath_;
  std::string acceptLanguageList_;
  std::string iconName_;
  std::atomic<int> width_{0};
  std::atomic<int> height_{0};
  std::atomic<int> displayMode_{Windowed};
  std::atomic<bool> disableKbdShortcuts_{false};
  std::atomic<bool> disableContextMenu_{false};
  std::atomic<bool> enableToolbar_{false};
  std::atomic<bool> enableAutoHide_{false};
  std::atomic<int> endSessionKey_{None};
  std::string username_;
  std::string password_;
  std::atomic<bool> cacheCookies_{false};
  std::string cookieFile_;
  std::string cookieFilter_;
  std::atomic<bool> acceptCertError_{false};
  std::atomic<bool> requireSandbox_{false};
  std::string urlAllowList_;
  std::atomic<int> idleTimeout_{0};
  std::atomic<bool> hideCursor_{false};
  std::string zoomLevel_ = "1";
  std::string proxy_;
  std::string proxyIgnoreHosts_;
  std::atomic<int> memoryLimit_{0};
  std::string loginUserField_;
  std::string loginPasswordField_;
  std::string loginSubmit_;
  std::string loginHosts_;
  std::atomic<bool> clearSessionOnIdle_{false};
  std::atomic<bool> onScreenKeyboard_{false};
  std::string clientCertificate_;
  std::string clientCertificateKey_;
  std::string clientCertificateHosts_;
};

#pragma pop_macro("None")
