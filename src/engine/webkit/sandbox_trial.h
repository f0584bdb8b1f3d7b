// Whether the engine's renderer sandbox can start here: a short trial run of
// bubblewrap with the namespaces the engine gives its web processes, made
// before the engine starts. The engine itself aborts the whole process when
// the sandbox fails to start, so the kiosk must know beforehand.
//
// No WebKit here: plain POSIX process handling, testable on its own.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace engine::webkit {

// Where WebKitGTK runs bubblewrap and its D-Bus proxy from (built into the
// engine). The proxy is started, in a sandbox of its own, whenever there is
// a session bus address; when it cannot start, the engine aborts as well.
inline constexpr const char* kBubblewrapPath = "/usr/bin/bwrap";
inline constexpr const char* kDBusProxyPath = "/usr/bin/xdg-dbus-proxy";

// How long the trial may take at most.
inline constexpr int kSandboxTrialTimeoutMs = 5000;

// How a trial process ended.
struct TrialResult {
  enum class Outcome { Exited, Signalled, SpawnFailed, TimedOut };
  Outcome outcome = Outcome::Exited;
  // Exit status, signal number or errno, as the outcome says.
  int code = 0;
  // What it wrote on standard error (the first few KiB).
  std::string error_output;
};

// The trial command: `bwrap` with the engine's namespaces (PID, mount, UTS,
// IPC, network; a user namespace too when not root), its own /proc and /dev,
// running the D-Bus proxy with --version.
std::vector<std::string> SandboxTrialCommand(const std::string& bwrap);

// A trial process started now and judged later, so that it runs while the
// kiosk does other start-up work: argv (argv[0] a path; no shell, no search)
// with standard input and output on /dev/null. One never finished is killed
// and reaped with its owner.
class Trial {
 public:
  explicit Trial(const std::vector<std::string>& argv);
  ~Trial();
  Trial(const Trial&) = delete;
  Trial& operator=(const Trial&) = delete;

  // How it ended, waiting at most timeout_ms from now; a process still
  // running then is killed. Once only.
  TrialResult Finish(int timeout_ms);

 private:
  pid_t pid_ = 0;
  int read_fd_ = -1;
  int spawn_error_ = 0;
  bool finished_ = false;
};

// Runs argv as a Trial for at most timeout_ms.
TrialResult RunTrial(const std::vector<std::string>& argv, int timeout_ms);

// Why the trial says the sandbox cannot start (one line), or "" when it ran.
std::string TrialFailure(const std::string& program, const TrialResult& result, int timeout_ms);

// Why the renderer sandbox cannot be used here, or "" when it can. The
// engine's own switch (WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS in the
// environment, anything but "0") counts as unavailable too.
// A trial started by StartSandboxTrialEarly is judged here.
std::string RendererSandboxUnavailableReason(const std::string& bwrap = kBubblewrapPath,
                                             int timeout_ms = kSandboxTrialTimeoutMs);

// Starts the trial with the default bwrap at once, in the background.
void StartSandboxTrialEarly();

}  // namespace engine::webkit
