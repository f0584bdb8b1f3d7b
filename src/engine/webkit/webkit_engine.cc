// Process-level engine calls on WebKitGTK: the web context, the GLib main
// loop that serves as the UI thread's message loop, and browser creation.
#include <glib.h>
#include <glib/gstdio.h>
#include <webkit2/webkit2.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/webkit/glib_ptr.h"
#include "engine/webkit/runtime_dir.h"
#include "engine/webkit/session_bus.h"
#include "engine/webkit/webkit_browser.h"
#include "engine/webkit/webkit_cookies.h"
#include "engine/webkit/sandbox_trial.h"
#include "engine/webkit/webkit_sandbox.h"
#include "log/log.h"

namespace engine {

namespace {

struct EngineState {
  bool running = false;
  std::thread::id ui_thread;
  webkit::GRef<WebKitWebContext> context;
  // The proxy last applied.
  std::string proxy;
  std::string proxy_ignore;
  GMainLoop* loop = nullptr;
  bool quit_pending = false;
  std::vector<std::shared_ptr<webkit::WebKitBrowser>> browsers;
};

// Never destroyed: Shutdown tears the engine down, not the static
// destructors after main (an early exit must not unref WebKit objects then).
EngineState& Engine() {
  static EngineState* const state = new EngineState;
  return *state;
}

// The web-process extension: beside the program in a build tree, in the
// library directory of an installed one.
std::string WebExtensionsDirectory() {
  g_autofree gchar* exe = g_file_read_link("/proc/self/exe", nullptr);
  if (exe == nullptr) return {};
  g_autofree gchar* dir = g_path_get_dirname(exe);
  for (const char* candidate : {"web-extensions", "../lib/vkxbrowser/web-extensions"}) {
    g_autofree gchar* path = g_build_filename(dir, candidate, nullptr);
    g_autofree gchar* canonical = g_canonicalize_filename(path, nullptr);
    if (g_file_test(canonical, G_FILE_TEST_IS_DIR)) return canonical;
  }
  return {};
}

// The kiosk saves nothing to disk on the page's behalf.
void OnDownloadStarted(WebKitWebContext*, WebKitDownload* download, gpointer) {
  WebKitURIRequest* request = webkit_download_get_request(download);
  const gchar* uri = request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
  vkx::LogError(std::string("Download refused: ") + (uri != nullptr ? uri : ""));
  webkit_download_cancel(download);
}

using Task = std::function<void()>;

gboolean RunTask(gpointer data) {
  webkit::CallbackData<Task>::From(data)();
  return G_SOURCE_REMOVE;
}

// "en-US,en;q=0.9" -> {"en-US", "en"}: WebKit takes bare language tags.
std::vector<std::string> LanguageTags(const std::string& list) {
  std::vector<std::string> tags;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    std::string tag = list.substr(start, end - start);
    tag = tag.substr(0, tag.find(';'));
    const size_t first = tag.find_first_not_of(" \t");
    const size_t last = tag.find_last_not_of(" \t");
    if (first != std::string::npos) tags.push_back(tag.substr(first, last - first + 1));
    start = end + 1;
  }
  return tags;
}

}  // namespace

void StartEarly() { webkit::StartSandboxTrialEarly(); }

namespace {

// The views never composite (hardware acceleration "never"), yet creating
// the context sets up an EGL display in this process first (a tenth of a
// second under llvmpipe), holding up everything after it. With the engine's
// own switch for "never" set meanwhile, that waits until the web process
// starts and runs alongside it. The environment is put back at once, so
// the programs the kiosk starts do not inherit the switch.
WebKitWebContext* CreateContext(WebKitWebsiteDataManager* manager,
                                WebKitMemoryPressureSettings* memory) {
  const bool preset = std::getenv("WEBKIT_DISABLE_COMPOSITING_MODE") != nullptr;
  if (!preset) setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);
  auto* context = WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager",
                                                  manager, "memory-pressure-settings", memory,
                                                  nullptr));
  if (!preset) unsetenv("WEBKIT_DISABLE_COMPOSITING_MODE");
  return context;
}

}  // namespace

bool Initialize(const Settings& settings) {
  EngineState& state = Engine();
  if (state.running) return false;
  state.ui_thread = std::this_thread::get_id();
  // Before anything asks GLib for the runtime directory or looks for the
  // session bus: no bus is autolaunched for the kiosk, and without the
  // user's it has its own.
  const std::string runtime_dir = webkit::UsePrivateRuntimeDirectory();
  webkit::UseReachableSessionBus(runtime_dir);
  const webkit::SandboxPlan sandbox = webkit::PrepareRendererSandbox(
      settings.require_renderer_sandbox,
      webkit::RuntimeDirectoryProblem(runtime_dir, g_get_user_runtime_dir()));
  if (sandbox == webkit::SandboxPlan::Refuse) return false;

  g_autoptr(WebKitWebsiteDataManager) manager = nullptr;
  if (settings.wiped_sessions && !runtime_dir.empty()) {
    // The engine's memory-only session keeps service worker registrations
    // through a clear; a store of its own in the run's private directory
    // (removed with it at the end) lets a reset remove everything.
    const std::string session = runtime_dir + "/session";
    const std::string cache_dir = session + "/Cache";
    manager = webkit_website_data_manager_new("base-data-directory", session.c_str(),
                                              "base-cache-directory", cache_dir.c_str(), nullptr);
  } else if (settings.cache_path.empty() || settings.wiped_sessions) {
    manager = webkit_website_data_manager_new_ephemeral();
  } else {
    if (g_mkdir_with_parents(settings.cache_path.c_str(), 0700) != 0) {
      vkx::LogError("Cannot create cache directory: " + settings.cache_path);
      return false;
    }
    const std::string cache_dir = settings.cache_path + "/Cache";
    manager = webkit_website_data_manager_new("base-data-directory", settings.cache_path.c_str(),
                                              "base-cache-directory", cache_dir.c_str(), nullptr);
    // Persistent cookies only: the SQLite store never writes session cookies.
    const std::string cookies = settings.cache_path + "/Cookies";
    webkit_cookie_manager_set_persistent_storage(
        webkit_website_data_manager_get_cookie_manager(manager), cookies.c_str(),
        WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
  }
  g_autoptr(WebKitMemoryPressureSettings) memory = nullptr;
  if (settings.renderer_memory_limit_mib > 0) {
    // Caches are freed from a third of the limit on; at the limit itself
    // the renderer is ended (and the kiosk's recovery loads the page again).
    memory = webkit_memory_pressure_settings_new();
    webkit_memory_pressure_settings_set_memory_limit(
        memory, static_cast<guint>(settings.renderer_memory_limit_mib));
    webkit_memory_pressure_settings_set_kill_threshold(memory, 1.0);
    webkit_memory_pressure_settings_set_poll_interval(memory, 1.0);
  }
  state.context = webkit::GRef<WebKitWebContext>::Adopt(CreateContext(manager, memory));
  webkit::SetCookieDataManager(manager);
  if (!state.context) return false;
  const std::string extensions = WebExtensionsDirectory();
  if (extensions.empty()) {
    vkx::LogError("Web extension directory not found: page console messages are not logged");
  } else {
    webkit_web_context_set_web_extensions_directory(state.context.get(), extensions.c_str());
  }
  if (sandbox == webkit::SandboxPlan::Use) webkit::EnableRendererSandbox(state.context.get(), extensions);
  g_signal_connect(state.context.get(), "download-started", G_CALLBACK(OnDownloadStarted), nullptr);

  if (!settings.accept_language_list.empty()) {
    std::vector<std::string> tags = LanguageTags(settings.accept_language_list);
    std::vector<const gchar*> pointers;
    for (const auto& tag : tags) pointers.push_back(tag.c_str());
    pointers.push_back(nullptr);
    webkit_web_context_set_preferred_languages(state.context.get(), pointers.data());
  }
  state.running = true;
  return true;
}

bool IsRunning() { return Engine().running; }

void RunMessageLoop() {
  EngineState& state = Engine();
  if (state.quit_pending) {
    state.quit_pending = false;
    return;
  }
  g_autoptr(GMainLoop) loop = g_main_loop_new(nullptr, FALSE);
  state.loop = loop;
  g_main_loop_run(loop);
  state.loop = nullptr;
}

void QuitMessageLoop() {
  EngineState& state = Engine();
  if (state.loop != nullptr) {
    g_main_loop_quit(state.loop);
  } else {
    state.quit_pending = true;
  }
}

void SetNetworkProxy(const std::string& proxy, const std::string& ignoreHosts) {
  EngineState& state = Engine();
  if (!state.context || (proxy == state.proxy && ignoreHosts == state.proxy_ignore)) return;
  state.proxy = proxy;
  state.proxy_ignore = ignoreHosts;
  WebKitWebsiteDataManager* manager = webkit_web_context_get_website_data_manager(state.context.get());
  if (proxy.empty()) {
    webkit_website_data_manager_set_network_proxy_settings(manager, WEBKIT_NETWORK_PROXY_MODE_DEFAULT,
                                                           nullptr);
    return;
  }
  g_auto(GStrv) hosts = g_strsplit(ignoreHosts.c_str(), ",", -1);
  for (gchar** host = hosts; *host != nullptr; ++host) g_strstrip(*host);
  g_autoptr(WebKitNetworkProxySettings) settings =
      webkit_network_proxy_settings_new(proxy.c_str(), ignoreHosts.empty() ? nullptr : hosts);
  webkit_website_data_manager_set_network_proxy_settings(manager, WEBKIT_NETWORK_PROXY_MODE_CUSTOM,
                                                         settings);
}

void Shutdown() {
  EngineState& state = Engine();
  if (!state.running) return;
  for (auto& browser : state.browsers) browser->Discard();
  state.browsers.clear();
  webkit::SetCookieDataManager(nullptr);
  state.context.reset();
  state.running = false;
}

bool CreateBrowser(unsigned long parent, const Rect& rect, std::shared_ptr<Client> client,
                   const std::string& url, const BrowserSettings& settings) {
  EngineState& state = Engine();
  if (!state.running) return false;
  auto browser = std::make_shared<webkit::WebKitBrowser>(state.context.get(), client, settings);
  if (!browser->Embed(parent, rect)) return false;
  state.browsers.push_back(browser);
  browser->StartResponsivenessChecks();
  // Reported from the loop, as an engine that creates browsers asynchronously
  // would; the page starts loading once the client knows its browser.
  PostToUiThread([browser, client, url] {
    if (browser->IsClosed()) return;
    if (auto life_span = client ? client->GetLifeSpanHandler() : nullptr) {
      life_span->OnAfterCreated(browser);
    }
    browser->LoadURL(url);
  });
  return true;
}

void RemoveRuntimeFiles() {
  webkit::StopPrivateSessionBus();
  webkit::RemovePrivateRuntimeDirectory();
}

bool CurrentlyOnUiThread() { return std::this_thread::get_id() == Engine().ui_thread; }

void PostToUiThread(std::function<void()> task) {
  g_idle_add_full(G_PRIORITY_HIGH_IDLE, RunTask, webkit::CallbackData<Task>::New(std::move(task)),
                  webkit::CallbackData<Task>::Free);
}

void PostDelayedToUiThread(std::function<void()> task, int delay_ms) {
  g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(delay_ms > 0 ? delay_ms : 0), RunTask,
                     webkit::CallbackData<Task>::New(std::move(task)),
                     webkit::CallbackData<Task>::Free);
}

}  // namespace engine
