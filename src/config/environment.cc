#include "config/environment.h"

#include <glib.h>

#include <cstdlib>
#include <cstring>
#include <string.h>
#include <optional>

extern char** environ;

namespace vkx {

namespace {

constexpr const char* kUsername = "VKX_BRELLIK_USERNAME";
constexpr const char* kPassword = "VKX_BRELLIK_PASSWORD";
constexpr const char* kCertificatePin = "VKX_CLIENT_CERT_PIN";

Credentials& Stored() {
  static Credentials credentials;
  return credentials;
}

std::optional<std::vector<std::string>>& Captured() {
  static std::optional<std::vector<std::string>> environment;
  return environment;
}

// The variable's value, its bytes overwritten where they are (the start
// environment's memory, which /proc/PID/environ shows), and the variable
// removed; nullopt when it is not set.
std::optional<std::string> TakeVariable(const char* name) {
  const size_t length = std::strlen(name);
  std::optional<std::string> value;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, name, length) != 0 || (*entry)[length] != '=') continue;
    char* text = *entry + length + 1;
    if (!value) value = text;
    std::memset(text, 0, std::strlen(text));
  }
  if (value) unsetenv(name);
  return value;
}

}  // namespace

const Credentials& TakeCredentials() {
  std::optional<std::string> username = TakeVariable(kUsername);
  std::optional<std::string> password = TakeVariable(kPassword);
  if (username || password) {
    Stored().username = username.value_or("");
    Stored().password = password.value_or("");
  }
  if (std::optional<std::string> pin = TakeVariable(kCertificatePin)) {
    Stored().certificatePin = *pin;
  }
  return Stored();
}

std::string TakeCertificatePin() {
  TakeCredentials();
  std::string pin = Stored().certificatePin;
  explicit_bzero(Stored().certificatePin.data(), Stored().certificatePin.size());
  Stored().certificatePin.clear();
  return pin;
}

void CaptureStartEnvironment() {
  TakeCredentials();
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    entries.emplace_back(*entry);
  }
  Captured() = std::move(entries);
}

std::vector<std::string> StartEnvironment() {
  if (Captured()) return *Captured();
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    entries.emplace_back(*entry);
  }
  return entries;
}

bool StartProgram(const std::vector<std::string>& argv, std::string& error) {
  if (argv.empty()) {
    error = "nothing to start";
    return false;
  }
  const std::vector<std::string> environment = StartEnvironment();
  std::vector<gchar*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<gchar*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<gchar*> envp;
  for (const std::string& entry : environment) envp.push_back(const_cast<gchar*>(entry.c_str()));
  envp.push_back(nullptr);
  // No shell: every argument arrives byte for byte. Without
  // DO_NOT_REAP_CHILD the program runs detached and leaves no zombie.
  GError* failure = nullptr;
  if (!g_spawn_async(nullptr, args.data(), envp.data(), G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                     nullptr, &failure)) {
    error = failure != nullptr ? failure->message : "unknown error";
    g_clear_error(&failure);
    return false;
  }
  return true;
}

bool ProgramInPath(const std::string& name) {
  char* path = g_find_program_in_path(name.c_str());
  const bool found = path != nullptr;
  g_free(path);
  return found;
}

}  // namespace vkx
