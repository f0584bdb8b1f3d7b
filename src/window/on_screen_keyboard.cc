#include "window/on_screen_keyboard.h"

#include <glib-unix.h>
#include <fcntl.h>
#include <glib/gstdio.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "config/environment.h"
#include "log/log.h"
#include "window/keyboard_layout.h"

namespace vkx {

namespace {

// Long enough for the program's first start on a busy machine.
constexpr guint kStartTimeoutMs = 20000;
// Focus moving between two fields passes through "no field" for a moment.
constexpr guint kHideDelayMs = 150;

void Log(const std::string& reason) { LogError("On-screen keyboard unavailable: " + reason); }

}  // namespace

OnScreenKeyboard::OnScreenKeyboard(Place place, std::function<void()> heightChanged)
    : display_(place.display),
      parent_(place.parent),
      screen_(place.screen),
      height_changed_(std::move(heightChanged)) {
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display_, parent_, &attributes) != 0) {
    window_width_ = std::max(attributes.width, 1);
    window_height_ = std::max(attributes.height, 1);
  }
  const int height = KeyboardHeightFor(window_width_, window_height_);
  strip_ = XCreateSimpleWindow(display_, parent_, 0, window_height_ - height,
                               static_cast<unsigned>(window_width_), static_cast<unsigned>(height),
                               0, BlackPixel(display_, screen_), BlackPixel(display_, screen_));
  XStoreName(display_, strip_, "vkx-keyboard");
}

OnScreenKeyboard::~OnScreenKeyboard() {
  if (hide_timer_ != 0) g_source_remove(hide_timer_);
  // Whoever listened may be gone already: nothing is resized on the way out.
  height_changed_ = nullptr;
  Stop();
  // With the program's window, should it still be in the strip.
  XDestroyWindow(display_, strip_);
  XFlush(display_);
}

void OnScreenKeyboard::Enable(bool enabled) {
  if (enabled && enabled_ && pid_ == 0 && restarts_left_ > 0) {
    --restarts_left_;
    Start();
    return;
  }
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (enabled) {
    Start();
  } else {
    Stop();
  }
}

void OnScreenKeyboard::Start() {
  g_autofree char* program = g_find_program_in_path(kOnScreenKeyboardProgram);
  if (program == nullptr) {
    restarts_left_ = 0;
    Log(std::string(kOnScreenKeyboardProgram) + " is not installed");
    return;
  }
  // The layout file lives as long as the program (it reads it after it
  // reported its window, and again when the window changes size).
  std::string path = std::string(g_get_user_runtime_dir()) + "/vkx-keyboard-XXXXXX.onboard";
  const int fd = g_mkstemp_full(path.data(), O_WRONLY, 0600);
  const std::string layout = KioskKeyboardLayout();
  if (fd < 0 || write(fd, layout.data(), layout.size()) != static_cast<ssize_t>(layout.size())) {
    if (fd >= 0) close(fd);
    restarts_left_ = 0;
    Log("cannot write its layout in " + std::string(g_get_user_runtime_dir()));
    return;
  }
  close(fd);
  layout_file_ = path;

  // The start environment (no credentials), without a session bus or an
  // accessibility bus: the program then offers no remote control, keeps
  // its settings in memory and never writes any.
  std::vector<std::string> environment;
  for (const std::string& entry : StartEnvironment()) {
    const std::string name = entry.substr(0, entry.find('='));
    if (name == "DBUS_SESSION_BUS_ADDRESS" || name == "GSETTINGS_BACKEND" ||
        name == "NOTIFY_SOCKET" || name == "WATCHDOG_USEC" || name == "WATCHDOG_PID") {
      continue;
    }
    environment.push_back(entry);
  }
  environment.emplace_back("GSETTINGS_BACKEND=memory");
  environment.emplace_back("NO_AT_BRIDGE=1");
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const std::string size = std::to_string(window_width_) + "x" +
                           std::to_string(KeyboardHeightFor(window_width_, window_height_));
  const char* argv[] = {program, "--xid", "--allow-multiple-instances", "--layout",
                        layout_file_.c_str(), "--size", size.c_str(), nullptr};
  GError* error = nullptr;
  if (!g_spawn_async_with_pipes(
          nullptr, const_cast<char**>(argv), envp.data(),
          static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDERR_TO_DEV_NULL),
          [](gpointer) { prctl(PR_SET_PDEATHSIG, SIGKILL); }, nullptr, &pid_, nullptr, &output_,
          nullptr, &error)) {
    restarts_left_ = 0;
    Log(error != nullptr ? error->message : "cannot start it");
    g_clear_error(&error);
    Stop();
    return;
  }
  exit_watch_ = g_child_watch_add(pid_, OnExit, this);
  output_watch_ = g_unix_fd_add(output_, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                                OnOutput, this);
  start_timer_ = g_timeout_add(kStartTimeoutMs, [](gpointer data) -> gboolean {
    auto* self = static_cast<OnScreenKeyboard*>(data);
    self->start_timer_ = 0;
    Log(std::string(kOnScreenKeyboardProgram) + " did not start within " +
        std::to_string(kStartTimeoutMs / 1000) + " s");
    self->Stop();
    return G_SOURCE_REMOVE;
  }, this);
}

void OnScreenKeyboard::Stop() {
  for (guint* source : {&exit_watch_, &output_watch_, &start_timer_}) {
    if (*source != 0) g_source_remove(*source);
    *source = 0;
  }
  if (output_ >= 0) close(output_);
  output_ = -1;
  output_text_.clear();
  if (pid_ > 0) {
    // Ended at once and reaped here: it holds nothing worth a clean exit.
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    g_spawn_close_pid(pid_);
  }
  pid_ = 0;
  plug_ = 0;
  if (!layout_file_.empty()) g_unlink(layout_file_.c_str());
  layout_file_.clear();
  if (shown_) Apply(false);
}

gboolean OnScreenKeyboard::OnOutput(gint fd, GIOCondition, gpointer data) {
  auto* self = static_cast<OnScreenKeyboard*>(data);
  char buffer[256];
  const ssize_t got = read(fd, buffer, sizeof buffer);
  if (got <= 0) {
    // The program closed its output: its exit is reported by the child watch.
    self->output_watch_ = 0;
    close(self->output_);
    self->output_ = -1;
    return G_SOURCE_REMOVE;
  }
  self->output_text_.append(buffer, static_cast<size_t>(got));
  const size_t end = self->output_text_.find('\n');
  if (end == std::string::npos) {
    // The window's number is one short line; anything else is not it.
    if (self->output_text_.size() > 64) self->output_text_.clear();
    return G_SOURCE_CONTINUE;
  }
  char* rest = nullptr;
  const unsigned long plug = std::strtoul(self->output_text_.c_str(), &rest, 10);
  self->output_text_.erase(0, end + 1);
  if (plug != 0 && rest != nullptr && (*rest == '\n' || *rest == '\r') && self->plug_ == 0) {
    self->Embed(static_cast<Window>(plug));
  }
  return G_SOURCE_CONTINUE;
}

void OnScreenKeyboard::OnExit(GPid pid, gint status, gpointer data) {
  auto* self = static_cast<OnScreenKeyboard*>(data);
  self->exit_watch_ = 0;
  g_spawn_close_pid(pid);
  self->pid_ = 0;
  // A program that never showed its window would only fail again.
  if (self->plug_ == 0) self->restarts_left_ = 0;
  Log(std::string(kOnScreenKeyboardProgram) + " ended (" +
      (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                           : "status " + std::to_string(WEXITSTATUS(status))) +
      ")");
  self->Stop();
}

void OnScreenKeyboard::Embed(Window plug) {
  if (start_timer_ != 0) g_source_remove(start_timer_);
  start_timer_ = 0;
  plug_ = plug;
  XReparentWindow(display_, plug_, strip_, 0, 0);
  Layout();
  XMapWindow(display_, plug_);
  XFlush(display_);
  if (wanted_) Apply(true);
}

void OnScreenKeyboard::Show(bool shown) {
  wanted_ = shown && enabled_;
  if (hide_timer_ != 0) g_source_remove(hide_timer_);
  hide_timer_ = 0;
  if (wanted_) {
    Apply(true);
    return;
  }
  if (!shown_) return;
  hide_timer_ = g_timeout_add(kHideDelayMs, [](gpointer data) -> gboolean {
    auto* self = static_cast<OnScreenKeyboard*>(data);
    self->hide_timer_ = 0;
    self->Apply(false);
    return G_SOURCE_REMOVE;
  }, this);
}

void OnScreenKeyboard::Apply(bool shown) {
  shown = shown && plug_ != 0;
  if (shown) {
    Layout();
    XMapRaised(display_, strip_);
  } else {
    XUnmapWindow(display_, strip_);
  }
  XFlush(display_);
  if (shown == shown_) return;
  shown_ = shown;
  if (height_changed_) height_changed_();
}

int OnScreenKeyboard::Height() const {
  return shown_ ? KeyboardHeightFor(window_width_, window_height_) : 0;
}

void OnScreenKeyboard::Resize(int windowWidth, int windowHeight) {
  window_width_ = std::max(windowWidth, 1);
  window_height_ = std::max(windowHeight, 1);
  Layout();
}

void OnScreenKeyboard::Layout() {
  const int height = KeyboardHeightFor(window_width_, window_height_);
  XMoveResizeWindow(display_, strip_, 0, window_height_ - height,
                    static_cast<unsigned>(window_width_), static_cast<unsigned>(height));
  if (plug_ != 0) {
    XResizeWindow(display_, plug_, static_cast<unsigned>(window_width_),
                  static_cast<unsigned>(height));
  }
}

}  // namespace vkx
