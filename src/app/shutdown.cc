#include "app/shutdown.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "engine/engine.h"
#include "engine/process_table.h"
#include "log/log.h"

// A source that becomes ready once the browser has closed and the save has
// finished. Both change only in the main loop's own dispatches, and GLib
// asks every source before it sleeps: no polling.
struct ExitSequence::Watch {
  GSource source;
  ExitSequence* sequence;
};

ExitSequence::ExitSequence(std::function<void()> closeBrowser,
                           std::function<bool()> closedAndSaved, std::chrono::milliseconds bound)
    : close_browser_(std::move(closeBrowser)),
      closed_and_saved_(std::move(closedAndSaved)),
      bound_(bound) {}

ExitSequence::~ExitSequence() {
  if (timer_ != 0) g_source_remove(timer_);
  if (watch_ != nullptr) {
    g_source_destroy(watch_);
    g_source_unref(watch_);
  }
}

void ExitSequence::Begin(bool waitForCookieSave) {
  if (begun_) return;
  begun_ = true;
  if (close_browser_) close_browser_();
  // A kill at once would lose every cookie of the session.
  if (!waitForCookieSave) {
    Finish();
    return;
  }
  static GSourceFuncs funcs = {
      [](GSource* source, gint* timeout) -> gboolean {
        *timeout = -1;
        return reinterpret_cast<Watch*>(source)->sequence->closed_and_saved_();
      },
      [](GSource* source) -> gboolean {
        return reinterpret_cast<Watch*>(source)->sequence->closed_and_saved_();
      },
      [](GSource* source, GSourceFunc, gpointer) -> gboolean {
        reinterpret_cast<Watch*>(source)->sequence->Finish();
        return G_SOURCE_REMOVE;
      },
      nullptr, nullptr, nullptr};
  watch_ = g_source_new(&funcs, sizeof(Watch));
  reinterpret_cast<Watch*>(watch_)->sequence = this;
  g_source_attach(watch_, nullptr);
  timer_ = g_timeout_add(static_cast<guint>(bound_.count()), [](gpointer data) -> gboolean {
    auto* self = static_cast<ExitSequence*>(data);
    self->timer_ = 0;
    self->Finish();
    return G_SOURCE_REMOVE;
  }, this);
}

void ExitSequence::Finish() {
  if (finished_) return;
  finished_ = true;
  if (timer_ != 0) g_source_remove(timer_);
  timer_ = 0;
  if (watch_ != nullptr) g_source_destroy(watch_);
  engine::QuitMessageLoop();
}

void ForceShutdown() {
  vkx::LogInfo("force shutdown...");
  fflush(stdout);
  for (pid_t helper : engine::EngineHelpersOf(getpid(), engine::ReadProcessTable())) kill(helper, SIGKILL);
  engine::RemoveRuntimeFiles();
  kill(getpid(), SIGKILL);
  exit(1);
}
