#include "config/config.h"

#include "config/read_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iostream>

namespace {

const char* BoolText(bool value) { return value ? "true" : "false"; }

}  // namespace

Config& Config::Instance() {
  static Config instance;
  return instance;
}

Config::Config() {
  ApplyDefaults();
  std::string path;
  if (!ConfigPath(path)) return;
  ParseFile(path);
  if (const char* user = std::getenv("VKX_BRELLIK_USERNAME")) username_ = user;
  if (const char* pass = std::getenv("VKX_BRELLIK_PASSWORD")) password_ = pass;
}

void Config::ApplyDefaults() {
  url_ = kDefaultUrl;
  cachePath_.clear();
  acceptLanguageList_.clear();
  iconName_.clear();
  width_ = 800;
  height_ = 600;
  displayMode_ = Windowed;
  disableKbdShortcuts_ = true;
  disableContextMenu_ = true;
  enableToolbar_ = true;
  enableAutoHide_ = true;
  endSessionKey_ = None;
  username_.clear();
  password_.clear();
  cacheCookies_ = false;
  acceptCertError_ = false;
  requireSandbox_ = false;
}

bool Config::ConfigPath(std::string& path) {
  const char* env = std::getenv("VKX_CONFIG_PATH");
  if (env == nullptr) {
    std::cerr << "Environment variable VKX_CONFIG_PATH not set." << std::endl;
    return false;
  }
  path = env;
  struct stat info {};
  // Anything that exists counts; a path that cannot be examined at all is
  // reported as missing.
  if (stat(path.c_str(), &info) != 0) {
    std::cerr << "Config file does not exist: " << path << std::endl;
    return false;
  }
  return true;
}

bool Config::Reload() {
  ApplyDefaults();
  std::string path;
  if (!ConfigPath(path)) return false;
  ParseFile(path);
  return true;
}

void Config::ParseFile(const std::string& path) {
  std::string content;
  if (!ReadRegularFile(path, content)) {
    std::cerr << "Unable to open config file at path: " << path << std::endl;
    return;
  }
  std::map<std::string, std::string> values;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    const std::string_view line(content.data() + start, end - start);
    start = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq + 1 == line.size()) continue;
    values[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
  }
  Apply(values);
}

void Config::ApplyNumber(const char* key, const std::string& value, std::atomic<int>& field) {
  errno = 0;
  char* end = nullptr;
  const long number = std::strtol(value.c_str(), &end, 10);
  if (end == value.c_str() || errno == ERANGE || number < INT_MIN || number > INT_MAX) {
    std::cerr << "Ignoring " << key << " value that is not a number in int range: " << value
              << std::endl;
    return;
  }
  field = static_cast<int>(number);
}

void Config::Apply(const std::map<std::string, std::string>& values) {
  auto find = [&values](const char* key) -> const std::string* {
    auto it = values.find(key);
    return it == values.end() ? nullptr : &it->second;
  };
  auto flag = [&find](const char* key, std::atomic<bool>& field) {
    if (const std::string* v = find(key)) field = (*v == "true");
  };

  if (const std::string* v = find("url")) url_ = *v;
  if (const std::string* v = find("displayMode")) {
    displayMode_ = *v == "fullscreen" ? Fullscreen : *v == "maximized" ? Maximized : Windowed;
  }
  if (const std::string* v = find("cachePath")) cachePath_ = *v;
  if (const std::string* v = find("acceptLanguageList")) acceptLanguageList_ = *v;
  if (const std::string* v = find("iconName")) iconName_ = *v;
  if (const std::string* v = find("width")) ApplyNumber("width", *v, width_);
  if (const std::string* v = find("height")) ApplyNumber("height", *v, height_);
  flag("disableKbdShortcuts", disableKbdShortcuts_);
  flag("disableContextMenu", disableContextMenu_);
  flag("enableToolbar", enableToolbar_);
  flag("enableAutoHide", enableAutoHide_);
  if (const std::string* v = find("endSessionKey")) {
    endSessionKey_ = *v == "CtrlAltC" ? CtrlAltC : None;
  }
  flag("cacheCookies", cacheCookies_);
  if (cacheCookies_) {
    if (const std::string* v = find("cookieFile")) cookieFile_ = *v;
    if (const std::string* v = find("cookieFilter")) cookieFilter_ = *v;
  }
  flag("acceptCertError", acceptCertError_);
  flag("requireSandbox", requireSandbox_);
}

void Config::Print() const {
  std::cout << "Configuration values:" << std::endl
            << "URL: " << url_ << std::endl
            << "Display Mode: " << displayMode_ << std::endl
            << "Cache Path: " << cachePath_ << std::endl
            << "Width: " << width_ << std::endl
            << "Height: " << height_ << std::endl
            << "Disable Keyboard Shortcuts: " << BoolText(disableKbdShortcuts_) << std::endl
            << "Disable Context Menu: " << BoolText(disableContextMenu_) << std::endl
            << "Enable Toolbar: " << BoolText(enableToolbar_) << std::endl
            << "Auto Hide: " << BoolText(enableAutoHide_) << std::endl
            << "End Session Key: " << endSessionKey_ << std::endl;
}
