#include "engine/webkit/webkit_cookies.h"

#include <glib-unix.h>
#include <libsoup/soup.h>
#include <sys/syscall.h>

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/process_table.h"
#include "engine/webkit/glib_ptr.h"

namespace engine::webkit {

namespace {

constexpr int64_t kEpochDeltaMicros = kEpochDeltaSeconds * 1000000LL;

WebKitWebsiteDataManager* dataManager = nullptr;
int pendingWrites = 0;
std::function<void()> changeObserver;

// How often the store is looked at for changes once WebKit no longer
// reports them (after its network process was replaced).
constexpr guint kLostObserverCheckSeconds = 1;

// The network process holds the store: a new one starts empty (or with
// what a persistent store had on disk). Its end is watched through a pidfd.
struct StoreLife {
  pid_t pid = 0;
  uint64_t start_time = 0;
  uint64_t generation = 0;
  int pidfd = -1;
  guint exit_watch = 0;
  guint check_timer = 0;
};
StoreLife storeLife;

void OnCookiesChanged(WebKitCookieManager* /*manager*/, gpointer /*data*/) {
  if (changeObserver) changeObserver();
}

gboolean CheckForChanges(gpointer /*data*/) {
  if (changeObserver) changeObserver();
  return G_SOURCE_CONTINUE;
}

void StopWatchingNetworkProcess() {
  if (storeLife.exit_watch != 0) g_source_remove(storeLife.exit_watch);
  storeLife.exit_watch = 0;
  if (storeLife.pidfd >= 0) close(storeLife.pidfd);
  storeLife.pidfd = -1;
}

// The network process ended: every cookie of the store went with it. WebKit
// starts a new one but no longer reports its changes, so from now on the
// store is looked at every second (a save writes only what changed).
gboolean OnNetworkProcessExit(gint /*fd*/, GIOCondition /*condition*/, gpointer /*data*/) {
  storeLife.exit_watch = 0;  // this source ends itself
  StopWatchingNetworkProcess();
  storeLife.pid = 0;
  ++storeLife.generation;
  if (storeLife.check_timer == 0) {
    storeLife.check_timer = g_timeout_add_seconds(kLostObserverCheckSeconds, CheckForChanges, nullptr);
  }
  if (changeObserver) changeObserver();
  return G_SOURCE_REMOVE;
}

void WatchNetworkProcess(pid_t pid) {
  StopWatchingNetworkProcess();
  storeLife.pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (storeLife.pidfd >= 0) {
    storeLife.exit_watch = g_unix_fd_add(storeLife.pidfd, G_IO_IN, OnNetworkProcessExit, nullptr);
  }
}

struct Waiter {
  std::function<void()> task;
  guint timer = 0;
};
std::vector<std::shared_ptr<Waiter>> waiters;

void RunWaiter(const std::shared_ptr<Waiter>& waiter) {
  waiters.erase(std::remove(waiters.begin(), waiters.end(), waiter), waiters.end());
  if (waiter->timer != 0) g_source_remove(waiter->timer);
  waiter->timer = 0;
  auto task = std::move(waiter->task);
  if (task) task();
}

void WriteDone() {
  if (--pendingWrites > 0) return;
  auto ready = waiters;
  for (auto& waiter : ready) RunWaiter(waiter);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(g_ascii_tolower(c));
  return text;
}

// The directory of the URL's path, as a cookie without a path gets it.
std::string DefaultPath(GUri* uri) {
  std::string path = g_uri_get_path(uri);
  const size_t slash = path.rfind('/');
  if (path.empty() || path[0] != '/' || slash == 0 || slash == std::string::npos) return "/";
  return path.substr(0, slash);
}

Cookie FromSoup(SoupCookie* soup) {
  Cookie cookie;
  cookie.name = soup_cookie_get_name(soup);
  cookie.value = soup_cookie_get_value(soup);
  cookie.domain = soup_cookie_get_domain(soup);
  cookie.path = soup_cookie_get_path(soup);
  cookie.secure = soup_cookie_get_secure(soup);
  cookie.httponly = soup_cookie_get_http_only(soup);
  if (GDateTime* expires = soup_cookie_get_expires(soup)) {
    cookie.has_expires = true;
    cookie.expires = g_date_time_to_unix(expires) * 1000000LL +
                     g_date_time_get_microsecond(expires) + kEpochDeltaMicros;
  }
  return cookie;
}

using CallbackBox = CallbackData<std::shared_ptr<SetCookieCallback>>;
using VisitorBox = CallbackData<std::shared_ptr<CookieVisitor>>;

class CookieStore : public CookieManager {
 public:
  bool SetCookie(const std::string& url, const Cookie& cookie,
                 std::shared_ptr<SetCookieCallback> callback) override {
    if (dataManager == nullptr) return false;
    g_autoptr(GUri) uri = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (uri == nullptr || g_uri_get_host(uri) == nullptr || *g_uri_get_host(uri) == '\0') {
      return false;
    }
    const std::string host = Lower(g_uri_get_host(uri));
    const std::string path = cookie.path.empty() ? DefaultPath(uri) : cookie.path;

    std::string domain = host;  // host-only
    if (!cookie.domain.empty()) {
      const std::string bare = Lower(cookie.domain[0] == '.' ? cookie.domain.substr(1) : cookie.domain);
      if (!CookieDomainMatches(host, bare)) {
        // Refused as a browser refuses a cookie for another site.
        g_idle_add_full(G_PRIORITY_DEFAULT, [](gpointer data) -> gboolean {
          if (auto& cb = CallbackBox::From(data)) cb->OnComplete(false);
          return G_SOURCE_REMOVE;
        }, CallbackBox::New(callback), CallbackBox::Free);
        return true;
      }
      domain = "." + bare;
    }
    g_autoptr(SoupCookie) soup = soup_cookie_new(cookie.name.c_str(), cookie.value.c_str(),
                                                 domain.c_str(), path.c_str(), -1);
    soup_cookie_set_secure(soup, cookie.secure);
    soup_cookie_set_http_only(soup, cookie.httponly);
    if (cookie.has_expires) {
      g_autoptr(GDateTime) expires =
          g_date_time_new_from_unix_utc((cookie.expires - kEpochDeltaMicros) / 1000000LL);
      if (expires != nullptr) soup_cookie_set_expires(soup, expires);
    }
    ++pendingWrites;
    webkit_cookie_manager_add_cookie(
        webkit_website_data_manager_get_cookie_manager(dataManager), soup, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          const auto cb = CallbackBox::Take(data);
          g_autoptr(GError) error = nullptr;
          const bool ok = webkit_cookie_manager_add_cookie_finish(WEBKIT_COOKIE_MANAGER(source),
                                                                  result, &error);
          if (*cb) (*cb)->OnComplete(ok);
          WriteDone();
        },
        CallbackBox::New(std::move(callback)));
    return true;
  }

  bool VisitAllCookies(std::shared_ptr<CookieVisitor> visitor) override {
    if (dataManager == nullptr || !visitor) return false;
    webkit_cookie_manager_get_all_cookies(
        webkit_website_data_manager_get_cookie_manager(dataManager), nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          const auto held_visitor = VisitorBox::Take(data);
          g_autoptr(GError) error = nullptr;
          GList* list = webkit_cookie_manager_get_all_cookies_finish(WEBKIT_COOKIE_MANAGER(source),
                                                                     result, &error);
          if (error != nullptr) {
            (*held_visitor)->OnVisitFailed(error->message);
            return;
          }
          const int total = static_cast<int>(g_list_length(list));
          int count = 0;
          bool complete = true;
          for (GList* item = list; item != nullptr; item = item->next, ++count) {
            bool remove = false;
            if (!(*held_visitor)->Visit(FromSoup(static_cast<SoupCookie*>(item->data)), count, total,
                                   remove)) {
              complete = false;
              break;
            }
          }
          g_list_free_full(list, reinterpret_cast<GDestroyNotify>(soup_cookie_free));
          if (complete) (*held_visitor)->OnVisitDone(total);
        },
        VisitorBox::New(std::move(visitor)));
    return true;
  }

  void SetChangeObserver(std::function<void()> observer) override {
    changeObserver = std::move(observer);
  }

  std::optional<uint64_t> StoreGeneration() override {
    // Still the same process: one file to read instead of the whole table.
    if (storeLife.pid != 0) {
      const auto known = ReadProcess(storeLife.pid);
      if (known && IsLive(*known) && known->start_time == storeLife.start_time) {
        return storeLife.generation;
      }
    }
    const auto process = FindDescendant(getpid(), "WebKitNetworkPr", ReadProcessTable());
    if (!process) return std::nullopt;
    if (process->pid != storeLife.pid || process->start_time != storeLife.start_time) {
      if (storeLife.pid != 0) ++storeLife.generation;
      storeLife.pid = process->pid;
      storeLife.start_time = process->start_time;
      WatchNetworkProcess(process->pid);
    }
    return storeLife.generation;
  }
};

}  // namespace

void SetCookieDataManager(WebKitWebsiteDataManager* manager) {
  StopWatchingNetworkProcess();
  if (storeLife.check_timer != 0) g_source_remove(storeLife.check_timer);
  storeLife = StoreLife();
  if (dataManager != nullptr) {
    g_signal_handlers_disconnect_by_func(webkit_website_data_manager_get_cookie_manager(dataManager),
                                         reinterpret_cast<gpointer>(OnCookiesChanged), nullptr);
  }
  dataManager = manager;
  if (dataManager != nullptr) {
    g_signal_connect(webkit_website_data_manager_get_cookie_manager(dataManager), "changed",
                     G_CALLBACK(OnCookiesChanged), nullptr);
  }
}

void WhenCookieWritesDone(std::function<void()> task, unsigned timeout_ms) {
  if (pendingWrites == 0) {
    task();
    return;
  }
  auto waiter = std::make_shared<Waiter>();
  waiter->task = std::move(task);
  waiters.push_back(waiter);
  using WaiterBox = CallbackData<std::weak_ptr<Waiter>>;
  waiter->timer = g_timeout_add_full(
      G_PRIORITY_DEFAULT, timeout_ms,
      [](gpointer data) -> gboolean {
        if (auto w = WaiterBox::From(data).lock()) {
          w->timer = 0;  // this source ends itself
          RunWaiter(w);
        }
        return G_SOURCE_REMOVE;
      },
      WaiterBox::New(waiter), WaiterBox::Free);
}

}  // namespace engine::webkit

namespace engine {

std::shared_ptr<CookieManager> CookieManager::GetGlobalManager() {
  static auto manager = std::make_shared<webkit::CookieStore>();
  return manager;
}

}  // namespace engine
