// Value types that cross the engine port. They carry no engine types, so
// the kiosk logic and its tests use them directly.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

// Settings the engine starts with.
struct Settings {
  bool no_sandbox = true;
  // The page's renderer runs in the engine's sandbox where that can start;
  // when it cannot and this is set, the engine does not start.
  bool require_renderer_sandbox = false;
  int remote_debugging_port = 0;
  // Empty: keep everything in memory. Otherwise profile and cookies live here.
  std::string cache_path;
  // The session is wiped now and then (ResetSessionAndLoad): it starts
  // empty whatever cache_path says, and every kind of site data can be
  // removed from it.
  bool wiped_sessions = false;
  bool persist_session_cookies = false;
  // Comma-separated language list; empty keeps the engine's default.
  std::string accept_language_list;
  // MiB the page's renderer may use before the engine frees caches and,
  // past it, ends the renderer; 0: no limit.
  int renderer_memory_limit_mib = 0;
};

enum class State { Default, Enabled, Disabled };

// Settings for one browser.
struct BrowserSettings {
  int windowless_frame_rate = 0;
  State javascript = State::Default;
};

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// Modifier flags of a key event.
enum : uint32_t {
  EVENTFLAG_SHIFT_DOWN = 1 << 1,
  EVENTFLAG_CONTROL_DOWN = 1 << 2,
  EVENTFLAG_ALT_DOWN = 1 << 3,
};

enum class KeyEventType { RawKeyDown, KeyDown, KeyUp, Char };

struct KeyEvent {
  KeyEventType type = KeyEventType::RawKeyDown;
  uint32_t modifiers = 0;
  int windows_key_code = 0;
  int native_key_code = 0;
  uint32_t character = 0;
};

enum class LogSeverity { Default, Verbose, Info, Warning, Error };

// Network error numbers of failed loads and certificate errors.
enum ErrorCode : int {
  ERR_NONE = 0,
  ERR_FAILED = -2,
  ERR_ABORTED = -3,
  ERR_FILE_NOT_FOUND = -6,
  ERR_TIMED_OUT = -7,
  ERR_BLOCKED_BY_CLIENT = -20,
  ERR_CONNECTION_CLOSED = -100,
  ERR_CONNECTION_RESET = -101,
  ERR_CONNECTION_REFUSED = -102,
  ERR_CONNECTION_FAILED = -104,
  ERR_NAME_NOT_RESOLVED = -105,
  ERR_INTERNET_DISCONNECTED = -106,
  ERR_ADDRESS_UNREACHABLE = -109,
  ERR_CONNECTION_TIMED_OUT = -118,
  ERR_SSL_PROTOCOL_ERROR = -107,
  ERR_SSL_CLIENT_AUTH_CERT_NEEDED = -110,
  ERR_UNKNOWN_URL_SCHEME = -302,
  ERR_CERT_COMMON_NAME_INVALID = -200,
  ERR_CERT_DATE_INVALID = -201,
  ERR_CERT_AUTHORITY_INVALID = -202,
  ERR_CERT_REVOKED = -206,
  ERR_CERT_INVALID = -207,
  ERR_CERT_WEAK_SIGNATURE_ALGORITHM = -208,
};

using DerBytes = std::vector<uint8_t>;

// What the server presented: its own certificate and the issuer chain it sent.
struct SslInfo {
  DerBytes server_certificate;
  std::vector<DerBytes> issuer_chain;
};

enum class TerminationStatus { Crashed, OutOfMemory, Killed };

// The kinds of script dialog a page can open.
enum class JSDialogType { Alert, Confirm, Prompt, BeforeUnload };

enum class WindowOpenDisposition { CurrentTab, NewForegroundTab, NewBackgroundTab, NewPopup, NewWindow };

// A cookie as the store holds it. Times are microseconds since 1601-01-01 UTC.
struct Cookie {
  std::string name;
  std::string value;
  std::string domain;
  std::string path;
  bool secure = false;
  bool httponly = false;
  bool has_expires = false;
  int64_t expires = 0;
};

// Whether a cookie of `domain` (with or without its leading dot) belongs to
// `host`: the same name, or a name below it (a suffix that starts after a
// dot), as the engine decides what it sends where. Bytes are compared as
// they are: callers that ignore case lower both first.
inline bool CookieDomainMatches(std::string_view host, std::string_view domain) {
  if (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
  if (domain.empty()) return false;
  if (host == domain) return true;
  return host.size() > domain.size() && host.ends_with(domain) &&
         host[host.size() - domain.size() - 1] == '.';
}

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDeltaSeconds = 11644473600LL;

}  // namespace engine
