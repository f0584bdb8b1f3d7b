#include "engine/webkit/sandbox_trial.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace engine::webkit {

namespace {

// Error output kept from the trial; bubblewrap's messages are one line.
constexpr size_t kErrorOutputKept = 4096;
// The longest reason printed.
constexpr size_t kReasonKept = 300;

// A file descriptor closed when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// posix_spawn's file actions and attributes, destroyed with the scope.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads what is there without blocking; false at end of file or on error.
bool ReadAvailable(int fd, std::string& into) {
  char buffer[1024];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      const size_t room = kErrorOutputKept - std::min(into.size(), kErrorOutputKept);
      into.append(buffer, std::min(static_cast<size_t>(got), room));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    return got < 0 && errno == EAGAIN;
  }
}

// The first line that is not blank, without control characters, bounded.
std::string FirstLine(const std::string& text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line;
    for (size_t i = start; i < end && line.size() < kReasonKept; ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if (c >= 0x20 && c != 0x7f) line.push_back(static_cast<char>(c));
    }
    const size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos) return line.substr(first, line.find_last_not_of(' ') + 1 - first);
    start = end + 1;
  }
  return {};
}

}  // namespace

std::vector<std::string> SandboxTrialCommand(const std::string& bwrap) {
  // The engine's web-process namespaces; /usr and the top-level program and
  // library folders (directories or links into /usr, as the system has them).
  return {bwrap,
          "--die-with-parent",
          "--unshare-pid",
          "--unshare-uts",
          "--unshare-ipc",
          "--unshare-net",
          "--ro-bind", "/usr", "/usr",
          "--ro-bind-try", "/bin", "/bin",
          "--ro-bind-try", "/lib", "/lib",
          "--ro-bind-try", "/lib64", "/lib64",
          "--proc", "/proc",
          "--dev", "/dev",
          "--",
          kDBusProxyPath,
          "--version"};
}

namespace {

// Starts argv with its standard error on `error_fd`, nothing else open and
// default signal handling; 0 or the spawn's error number.
int SpawnTrial(const std::vector<std::string>& argv, int error_fd, pid_t& pid) {
  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.actions, error_fd, STDERR_FILENO);
  // The trial starts with default signal handling and nothing blocked,
  // whatever the kiosk has set up for itself.
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&setup.attributes, &none);
  posix_spawnattr_setsigdefault(&setup.attributes, &all);
  posix_spawnattr_setflags(&setup.attributes,
                           static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  return posix_spawn(&pid, args[0], &setup.actions, &setup.attributes, args.data(), environ);
}

// Waits for the process itself to end (its pidfd becomes readable) until
// the deadline, collecting its error output meanwhile; whatever it started
// may keep the pipe open longer, which does not matter. True when it is
// ending: it ended, or (kernels before 5.3, no pidfd) its pipe closed.
bool WaitForTrial(pid_t pid, const Fd& read_end, std::chrono::steady_clock::time_point deadline,
                  std::string& error_output) {
  fcntl(read_end.get(), F_SETFL, O_NONBLOCK);
  Fd process(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  bool pipe_open = true;
  bool ended = false;
  while (!ended) {
    pollfd fds[2] = {{process.get(), POLLIN, 0}, {pipe_open ? read_end.get() : -1, POLLIN, 0}};
    const int left = MillisecondsLeft(deadline);
    if (left == 0) break;
    if (process.get() < 0 && !pipe_open) break;
    const int ready = poll(fds, 2, left);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) pipe_open = ReadAvailable(read_end.get(), error_output);
    if (fds[0].revents != 0) ended = true;
  }
  if (pipe_open) ReadAvailable(read_end.get(), error_output);
  return ended || (process.get() < 0 && !pipe_open);
}

TrialResult SpawnFailed(int code) {
  TrialResult result;
  result.outcome = TrialResult::Outcome::SpawnFailed;
  result.code = code;
  return result;
}

}  // namespace

Trial::Trial(const std::vector<std::string>& argv) {
  if (argv.empty()) {
    spawn_error_ = EINVAL;
    return;
  }
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    spawn_error_ = errno;
    return;
  }
  Fd write_end(pipe_fds[1]);
  read_fd_ = pipe_fds[0];
  spawn_error_ = SpawnTrial(argv, write_end.get(), pid_);
  if (spawn_error_ != 0) pid_ = 0;
}

Trial::~Trial() {
  if (pid_ > 0 && !finished_) {
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (read_fd_ >= 0) close(read_fd_);
}

TrialResult Trial::Finish(int timeout_ms) {
  if (finished_) return SpawnFailed(EALREADY);
  finished_ = true;
  Fd read_end(read_fd_);
  read_fd_ = -1;
  if (spawn_error_ != 0) return SpawnFailed(spawn_error_);
  const pid_t pid = pid_;

  TrialResult result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  const bool ending = WaitForTrial(pid, read_end, deadline, result.error_output);
  int status = 0;
  if (!ending || waitpid(pid, &status, 0) != pid) {
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.outcome = TrialResult::Outcome::TimedOut;
    return result;
  }
  if (WIFSIGNALED(status)) {
    result.outcome = TrialResult::Outcome::Signalled;
    result.code = WTERMSIG(status);
  } else {
    result.outcome = TrialResult::Outcome::Exited;
    result.code = WEXITSTATUS(status);
  }
  return result;
}

TrialResult RunTrial(const std::vector<std::string>& argv, int timeout_ms) {
  return Trial(argv).Finish(timeout_ms);
}

std::string TrialFailure(const std::string& program, const TrialResult& result, int timeout_ms) {
  switch (result.outcome) {
    case TrialResult::Outcome::SpawnFailed:
      if (result.code == ENOENT) return program + " not found";
      return program + " cannot run: " + std::strerror(result.code);
    case TrialResult::Outcome::TimedOut:
      return program + " did not finish within " + std::to_string(timeout_ms) + " ms";
    case TrialResult::Outcome::Signalled:
      return program + " ended by signal " + std::to_string(result.code);
    case TrialResult::Outcome::Exited:
      break;
  }
  if (result.code == 0) return {};
  // bubblewrap says why in one line ("bwrap: Creating new namespace failed: ...").
  const std::string said = FirstLine(result.error_output);
  if (!said.empty()) return said;
  return program + " failed with status " + std::to_string(result.code);
}

namespace {

bool SandboxSwitchedOff() {
  const char* disabled = std::getenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS");
  return disabled != nullptr && std::strcmp(disabled, "0") != 0;
}

// The trial StartSandboxTrialEarly started, until it is judged.
std::unique_ptr<Trial>& EarlyTrial() {
  static std::unique_ptr<Trial> trial;
  return trial;
}

}  // namespace

void StartSandboxTrialEarly() {
  if (!SandboxSwitchedOff() && !EarlyTrial()) {
    EarlyTrial() = std::make_unique<Trial>(SandboxTrialCommand(kBubblewrapPath));
  }
}

std::string RendererSandboxUnavailableReason(const std::string& bwrap, int timeout_ms) {
  std::unique_ptr<Trial> early = std::move(EarlyTrial());
  if (SandboxSwitchedOff()) return "WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS is set";
  if (early && bwrap == kBubblewrapPath) {
    return TrialFailure(bwrap, early->Finish(timeout_ms), timeout_ms);
  }
  return TrialFailure(bwrap, RunTrial(SandboxTrialCommand(bwrap), timeout_ms), timeout_ms);
}

}  // namespace engine::webkit
