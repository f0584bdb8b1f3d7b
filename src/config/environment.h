// The environment the kiosk was started with. The sign-in credentials and
// the client certificate's PIN are taken out of it once, at start, and kept in memory only: no program the
// kiosk or its engine starts ever sees them. The programs the kiosk starts
// for a page (the launcher, the desktop's opener) get the environment as it
// was at start, without the credentials and without the kiosk's own
// settings for its engine and toolkit.
#pragma once

#include <string>
#include <vector>

namespace vkx {

struct Credentials {
  std::string username;
  std::string password;
  // VKX_CLIENT_CERT_PIN; empty: not set.
  std::string certificatePin;
};

// Moves VKX_BRELLIK_USERNAME, VKX_BRELLIK_PASSWORD and VKX_CLIENT_CERT_PIN
// out of the process's environment (their bytes wiped where the process's
// start environment is shown, /proc/PID/environ) into memory, when set;
// returns what memory holds.
const Credentials& TakeCredentials();

// Hands the client certificate's PIN over to its one keeper, once: memory
// holds no other copy of it afterwards.
std::string TakeCertificatePin();

// Takes the credentials, then keeps a copy of the environment for the
// programs started later. Called first thing in main.
void CaptureStartEnvironment();

// The environment captured at start ("NAME=value" entries); the current one
// when nothing was captured.
std::vector<std::string> StartEnvironment();

// Starts argv[0] (looked up on PATH) with `argv` in the start environment,
// in the background: nothing waits for it, and it leaves no zombie. False,
// with the reason in `error`, when it could not be started.
bool StartProgram(const std::vector<std::string>& argv, std::string& error);

// Whether `name` is an executable found on PATH.
bool ProgramInPath(const std::string& name);

// The on-screen keyboard the kiosk embeds (onScreenKeyboard=true).
inline constexpr char kOnScreenKeyboardProgram[] = "onboard";

}  // namespace vkx
