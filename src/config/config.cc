#include "config/config.h"

#include "config/environment.h"
#include "config/read_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <sstream>
#include <variant>
#include <vector>

#include "log/log.h"

// Every key of the file is one row of the table below: its name, the field
// it sets, the default a (re)load starts from, the parser of its text and
// its line in Print.
struct ConfigKeys {
  using Field = std::variant<std::string Config::*, std::atomic<int> Config::*,
                             std::atomic<bool> Config::*>;
  // A field's value; Keep: nothing to store.
  struct Keep {};
  using Value = std::variant<Keep, std::string, int, bool>;
  using Parser = Value (*)(const Config& config, const char* name, const std::string& text);

  struct Key {
    const char* name;
    Field field;
    Value fallback;     // Keep: a reload leaves the value as it was
    Parser parse;
    const char* label;  // the Print line; nullptr: not printed
  };

  static const std::vector<Key>& Table();
  static void Store(Config& config, const Field& field, const Value& value);
  static std::string Show(const Config& config, const Field& field);

  static Value Text(const Config&, const char*, const std::string& text) { return text; }
  static Value Flag(const Config&, const char*, const std::string& text) { return text == "true"; }
  static Value Number(const Config&, const char* name, const std::string& text);
  static Value Zoom(const Config&, const char* name, const std::string& text);
  static Value DisplayMode(const Config&, const char*, const std::string& text) {
    return text == "fullscreen" ? Config::Fullscreen
           : text == "maximized" ? Config::Maximized
                                 : Config::Windowed;
  }
  static Value EndSessionKey(const Config&, const char*, const std::string& text) {
    return text == "CtrlAltC" ? Config::CtrlAltC : Config::None;
  }
  // The cookie settings count only where the same file turns caching on.
  static Value CookieSetting(const Config& config, const char*, const std::string& text) {
    if (!config.cacheCookies_) return Keep{};
    return text;
  }
};

const std::vector<ConfigKeys::Key>& ConfigKeys::Table() {
  // Applied from the top: Print follows this order, and cacheCookies comes
  // before the cookie settings that depend on it.
  static const std::vector<Key> table = {
      {"url", &Config::url_, std::string(Config::kDefaultUrl), Text, "URL"},
      {"displayMode", &Config::displayMode_, Config::Windowed, DisplayMode, "Display Mode"},
      {"cachePath", &Config::cachePath_, std::string(), Text, "Cache Path"},
      {"width", &Config::width_, 800, Number, "Width"},
      {"height", &Config::height_, 600, Number, "Height"},
      {"disableKbdShortcuts", &Config::disableKbdShortcuts_, true, Flag,
       "Disable Keyboard Shortcuts"},
      {"disableContextMenu", &Config::disableContextMenu_, true, Flag, "Disable Context Menu"},
      {"enableToolbar", &Config::enableToolbar_, true, Flag, "Enable Toolbar"},
      {"enableAutoHide", &Config::enableAutoHide_, true, Flag, "Auto Hide"},
      {"endSessionKey", &Config::endSessionKey_, Config::None, EndSessionKey, "End Session Key"},
      {"acceptLanguageList", &Config::acceptLanguageList_, std::string(), Text, nullptr},
      {"iconName", &Config::iconName_, std::string(), Text, nullptr},
      {"cacheCookies", &Config::cacheCookies_, false, Flag, nullptr},
      {"cookieFile", &Config::cookieFile_, Keep{}, CookieSetting, nullptr},
      {"cookieFilter", &Config::cookieFilter_, Keep{}, CookieSetting, nullptr},
      {"acceptCertError", &Config::acceptCertError_, false, Flag, nullptr},
      {"requireSandbox", &Config::requireSandbox_, false, Flag, nullptr},
      {"urlAllowList", &Config::urlAllowList_, std::string(), Text, nullptr},
      {"idleTimeout", &Config::idleTimeout_, 0, Number, nullptr},
      {"hideCursor", &Config::hideCursor_, false, Flag, nullptr},
      {"zoomLevel", &Config::zoomLevel_, std::string("1"), Zoom, nullptr},
      {"proxy", &Config::proxy_, std::string(), Text, nullptr},
      {"proxyIgnoreHosts", &Config::proxyIgnoreHosts_, std::string(), Text, nullptr},
      {"memoryLimit", &Config::memoryLimit_, 0, Number, nullptr},
      {"loginUserField", &Config::loginUserField_, std::string(Config::kDefaultUserField), Text, nullptr},
      {"loginPasswordField", &Config::loginPasswordField_, std::string(Config::kDefaultPasswordField),
       Text, nullptr},
      {"loginSubmit", &Config::loginSubmit_, std::string(), Text, nullptr},
      {"loginHosts", &Config::loginHosts_, std::string(), Text, nullptr},
      {"clearSessionOnIdle", &Config::clearSessionOnIdle_, false, Flag, nullptr},
      {"onScreenKeyboard", &Config::onScreenKeyboard_, false, Flag, nullptr},
      {"clientCertificate", &Config::clientCertificate_, std::string(), Text, nullptr},
      {"clientCertificateKey", &Config::clientCertificateKey_, std::string(), Text, nullptr},
      {"clientCertificateHosts", &Config::clientCertificateHosts_, std::string(), Text, nullptr},
  };
  return table;
}

ConfigKeys::Value ConfigKeys::Number(const Config&, const char* name, const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const long number = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || errno == ERANGE || number < INT_MIN || number > INT_MAX) {
    vkx::LogError(std::string("Ignoring ") + name +
                  " value that is not a number in int range: " + text);
    return Keep{};
  }
  return static_cast<int>(number);
}

ConfigKeys::Value ConfigKeys::Zoom(const Config&, const char* name, const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const double level = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || errno == ERANGE || !(level >= 0.25 && level <= 5.0)) {
    vkx::LogError(std::string("Ignoring ") + name + " value that is not a number from 0.25 to 5: " +
                  text);
    return Keep{};
  }
  return text;
}

void ConfigKeys::Store(Config& config, const Field& field, const Value& value) {
  if (std::holds_alternative<Keep>(value)) return;
  if (auto text = std::get_if<std::string Config::*>(&field)) {
    config.**text = std::get<std::string>(value);
  } else if (auto number = std::get_if<std::atomic<int> Config::*>(&field)) {
    config.**number = std::get<int>(value);
  } else {
    config.*std::get<std::atomic<bool> Config::*>(field) = std::get<bool>(value);
  }
}

std::string ConfigKeys::Show(const Config& config, const Field& field) {
  if (auto text = std::get_if<std::string Config::*>(&field)) return config.**text;
  if (auto number = std::get_if<std::atomic<int> Config::*>(&field)) {
    return std::to_string((config.**number).load());
  }
  return config.*std::get<std::atomic<bool> Config::*>(field) ? "true" : "false";
}

Config& Config::Instance() {
  static Config instance;
  return instance;
}

Config::Config() {
  ApplyDefaults();
  std::string path;
  if (!ConfigPath(path)) return;
  ParseFile(path);
  TakeCredentialsIntoConfig();
}

void Config::TakeCredentialsIntoConfig() {
  const vkx::Credentials& credentials = vkx::TakeCredentials();
  username_ = credentials.username;
  password_ = credentials.password;
}

void Config::ApplyDefaults() {
  for (const auto& key : ConfigKeys::Table()) ConfigKeys::Store(*this, key.field, key.fallback);
  username_.clear();
  password_.clear();
}

bool Config::ConfigPath(std::string& path) {
  const char* env = std::getenv("VKX_CONFIG_PATH");
  if (env == nullptr) {
    vkx::LogError("Environment variable VKX_CONFIG_PATH not set.");
    return false;
  }
  path = env;
  struct stat info {};
  // Anything that exists counts; a path that cannot be examined at all is
  // reported as missing.
  if (stat(path.c_str(), &info) != 0) {
    vkx::LogError("Config file does not exist: " + path);
    return false;
  }
  return true;
}

bool Config::Reload() {
  ApplyDefaults();
  std::string path;
  if (!ConfigPath(path)) return false;
  ParseFile(path);
  // The credentials read at start, still.
  TakeCredentialsIntoConfig();
  return true;
}

void Config::ParseFile(const std::string& path) {
  std::string content;
  if (!ReadRegularFile(path, content)) {
    vkx::LogError("Unable to open config file at path: " + path);
    return;
  }
  // key=value lines, byte for byte; the last line of a key wins.
  std::map<std::string, std::string, std::less<>> values;
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
  for (const auto& key : ConfigKeys::Table()) {
    auto it = values.find(key.name);
    if (it == values.end()) continue;
    ConfigKeys::Store(*this, key.field, key.parse(*this, key.name, it->second));
  }
}

void Config::Print() const {
  std::string text = "Configuration values:";
  for (const auto& key : ConfigKeys::Table()) {
    if (key.label == nullptr) continue;
    text.append("\n").append(key.label).append(": ").append(ConfigKeys::Show(*this, key.field));
  }
  vkx::LogInfo(text);
}

namespace {

struct ConfigLine {
  size_t number;
  std::string text;
};

std::vector<ConfigLine> SplitLines(const std::string& content) {
  std::vector<ConfigLine> lines;
  size_t start = 0;
  for (size_t number = 1; start < content.size(); ++number) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    lines.push_back({number, content.substr(start, end - start)});
    start = end + 1;
  }
  return lines;
}

}  // namespace

bool Config::Check() {
  std::string path;
  std::string content;
  if (!ConfigPath(path)) return false;
  if (!ReadRegularFile(path, content)) {
    vkx::LogError("Unable to open config file at path: " + path);
    return false;
  }
  std::ostringstream warnings;  // the parser's own lines: the report says it better
  std::ostringstream unused;
  std::string report = "Configuration file: " + path;
  std::map<std::string, size_t> used;  // key -> the line that sets it
  std::vector<std::string> ignored;
  {
    vkx::LogRedirect quiet(unused, warnings);
    const Config record;  // parses the same file, as the kiosk would
    const std::vector<ConfigLine> lines = SplitLines(content);
    std::map<std::string, size_t> last;
    for (const ConfigLine& line : lines) last[line.text.substr(0, line.text.find('='))] = line.number;
    for (const ConfigLine& line : lines) {
      if (line.text.empty()) continue;
      const size_t eq = line.text.find('=');
      const std::string key = line.text.substr(0, eq);
      const auto known = std::find_if(ConfigKeys::Table().begin(), ConfigKeys::Table().end(),
                                      [&](const ConfigKeys::Key& k) { return key == k.name; });
      std::string reason;
      if (eq == std::string::npos) {
        reason = "no key=value";
      } else if (eq + 1 == line.text.size()) {
        reason = "empty value";
      } else if (known == ConfigKeys::Table().end()) {
        reason = "unknown key";
      } else if (last[key] != line.number) {
        reason = "set again on line " + std::to_string(last[key]);
      } else if (std::holds_alternative<ConfigKeys::Keep>(
                     known->parse(record, known->name, line.text.substr(eq + 1)))) {
        reason = known->parse == ConfigKeys::Number ? "not a number in int range"
                 : known->parse == ConfigKeys::Zoom ? "not a number from 0.25 to 5"
                                                    : "read only where cacheCookies=true";
      } else {
        used[key] = line.number;
        continue;
      }
      ignored.push_back("Line " + std::to_string(line.number) + " ignored (" + reason + "): " + line.text);
    }
    for (const auto& key : ConfigKeys::Table()) {
      report += std::string("\n") + key.name + "=" + ConfigKeys::Show(record, key.field);
      if (!used.contains(key.name)) report += " (default)";
    }
    for (const std::string& line : ignored) report += "\n" + line;
    if (record.clearSessionOnIdle_ && record.cacheCookies_) {
      report += "\nThe cookie file is read but never written (clearSessionOnIdle=true)";
    }
    if (record.onScreenKeyboard_ && !vkx::ProgramInPath(vkx::kOnScreenKeyboardProgram)) {
      report += "\nThe on-screen keyboard is not installed (onScreenKeyboard=true): " +
                std::string(vkx::kOnScreenKeyboardProgram) + " is not in PATH";
    }
    if (record.loginHosts_.empty()) {
      report += "\nThe sign-in credentials are offered to every host (loginHosts is empty)";
    }
  }
  vkx::LogInfo(report);
  return true;
}
