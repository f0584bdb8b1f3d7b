#include "app/shutdown.h"

#include <glib.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/process_tree.h"
#include "window/browser_window.h"

std::atomic<bool> closeRequested{false};

void RequestClose() {
  closeRequested = true;
  g_main_context_wakeup(nullptr);
}


void ForceShutdown() {
  CloseBrowserAndQuit();
  puts("force shutdown...");
  fflush(stdout);
  for (pid_t helper : EngineHelpersOf(getpid(), ReadProcessTable())) kill(helper, SIGKILL);
  kill(getpid(), SIGKILL);
  exit(1);
}
