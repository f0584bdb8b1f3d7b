#include "app/shutdown.h"

#include <glib.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/process_tree.h"
#include "client/client_manager.h"
#include "config/config.h"
#include "cookies/cookies.h"
#include "engine/engine.h"
#include "window/browser_window.h"

std::atomic<bool> closeRequested{false};

void RequestClose() {
  closeRequested = true;
  g_main_context_wakeup(nullptr);
}


namespace {

// How long the kiosk waits at most, when ending, for the browser to close
// and its cookies to be written.
constexpr guint kCookieSaveWaitMs = 3000;

bool BrowserClosedAndSaved() {
  const bool closed = g_manager == nullptr || g_manager->BrowserCount() == 0;
  return closed && !vkx::CookieSaveInProgress();
}

// Runs the loop until the browser has closed and the save has finished, or
// the time is up: a kill at once would lose every cookie of the session.
void WaitForCookieSave() {
  bool timedOut = false;
  const guint timer = g_timeout_add(kCookieSaveWaitMs, [](gpointer flag) -> gboolean {
    *static_cast<bool*>(flag) = true;
    return G_SOURCE_REMOVE;
  }, &timedOut);
  while (!timedOut && !BrowserClosedAndSaved()) g_main_context_iteration(nullptr, TRUE);
  if (!timedOut) g_source_remove(timer);
}

}  // namespace

void ForceShutdown() {
  const bool saveCookies = Config::Instance().GetCacheCookies() && engine::IsRunning();
  CloseBrowserAndQuit();
  if (saveCookies) WaitForCookieSave();
  puts("force shutdown...");
  fflush(stdout);
  for (pid_t helper : EngineHelpersOf(getpid(), ReadProcessTable())) kill(helper, SIGKILL);
  kill(getpid(), SIGKILL);
  exit(1);
}
