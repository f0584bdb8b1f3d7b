#include "cookies/cookies.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <iostream>

#include "app/check.h"
#include "config/config.h"
#include "cookies/cookie_file.h"

namespace {

int savesInProgress = 0;

const char* BoolText(bool value) { return value ? "true" : "false"; }

}  // namespace

void InjectCookiesFromFile(const std::string& url, const std::string& cookieFile,
                           const std::string& cookieFilter) {
  VKX_CHECK(engine::CurrentlyOnUiThread());
  const std::vector<std::string> filter = vkx::SplitCookieFilter(cookieFilter);
  const std::string host = vkx::HostFromUrl(url);
  std::vector<engine::Cookie> cookies = vkx::ReadCookieFile(cookieFile);
  if (cookies.empty()) return;
  std::shared_ptr<engine::CookieManager> manager = engine::CookieManager::GetGlobalManager();
  // Each cookie's trace leaves in one write: a navigation may set many.
  std::string trace;
  for (engine::Cookie& cookie : cookies) {
    if (vkx::IsFiltered(cookie.name, filter)) continue;
    trace.clear();
    switch (vkx::FitCookieToHost(cookie.domain, host)) {
      case vkx::CookieFit::HostOnly:
        cookie.domain.clear();
        break;
      case vkx::CookieFit::Domain:
        break;
      case vkx::CookieFit::Mismatch:
        trace = "skipping cookie. Hostname " + host + ", domain " + cookie.domain + "\n";
        fputs(trace.c_str(), stderr);
        continue;
    }
    trace += "  InjectCookiesFromFile hostname: " + host + "\n";
    trace += "  Name: " + cookie.name + "\n";
    trace += "  Value: " + cookie.value + "\n";
    trace += "  Domain: " + cookie.domain + "\n";
    trace += "  Path: " + cookie.path + "\n";
    trace += std::string("  Secure: ") + BoolText(cookie.secure) + "\n";
    trace += std::string("  HttpOnly: ") + BoolText(cookie.httponly) + "\n";
    trace += std::string("  HasExpire: ") + BoolText(cookie.has_expires) + "\n";
    trace += "  Expire: " + std::to_string(cookie.expires) + "\n";
    fwrite(trace.data(), 1, trace.size(), stderr);
    const bool set = manager && manager->SetCookie(url, cookie, std::make_shared<SetCookieCallback>());
    fputs(set ? "SetCookie return true \n" : "Failed to inject cookie.\n", stderr);
  }
}

void SetCookieCallback::OnComplete(bool success) {
  std::cerr << "SetCookieCallback::OnComplete success: " << (success ? 1 : 0) << std::endl;
}

SaveCookieVisitor::SaveCookieVisitor(const std::string& path, const std::string& filter,
                                     void* data, Completion completion)
    : path_(path),
      completion_(std::move(completion)),
      data_(data),
      filter_(vkx::SplitCookieFilter(filter)) {
  ++savesInProgress;
  if (path_.empty()) {
    std::cerr << "Cookie file path is empty: cookies are not saved" << std::endl;
    return;
  }
  std::string pattern = path_ + ".XXXXXX";
  // mkstemp makes the file owner-only: the cookies are session secrets.
  const int fd = mkstemp(pattern.data());
  if (fd < 0 || (file_ = fdopen(fd, "w")) == nullptr) {
    if (fd >= 0) {
      close(fd);
      unlink(pattern.c_str());
    }
    std::cerr << "Cannot write cookie file: " << path_ << std::endl;
    return;
  }
  temp_path_ = pattern;
}

SaveCookieVisitor::~SaveCookieVisitor() {
  if (file_ != nullptr) {
    // Abandoned before it was complete: the previous file stays.
    fclose(file_);
    unlink(temp_path_.c_str());
  }
  --savesInProgress;
}

bool SaveCookieVisitor::Visit(const engine::Cookie& cookie, int count, int total,
                              bool& /*deleteCookie*/) {
  if (!vkx::IsFiltered(cookie.name, filter_) && file_ != nullptr) {
    const std::string line = vkx::FormatCookieLine(cookie);
    fwrite(line.data(), 1, line.size(), file_);
  }
  if (count + 1 == total) Finish();
  return true;
}

void SaveCookieVisitor::OnVisitDone(int total) {
  if (total == 0) Finish();
}

void SaveCookieVisitor::Finish() {
  if (finished_) return;
  finished_ = true;
  if (file_ != nullptr) {
    const bool written = fflush(file_) == 0 && fsync(fileno(file_)) == 0;
    const bool closed = fclose(file_) == 0;
    file_ = nullptr;
    if (!written || !closed || rename(temp_path_.c_str(), path_.c_str()) != 0) {
      std::cerr << "Cannot write cookie file: " << path_ << std::endl;
      unlink(temp_path_.c_str());
    } else {
      RemoveStaleTempFiles();
    }
  }
  if (completion_) completion_(data_);
}

// Saves that were killed midway leave their temporary file behind: once a
// save has gone through, such files of this cookie file older than a minute
// (no save takes that long) are removed.
void SaveCookieVisitor::RemoveStaleTempFiles() const {
  const size_t slash = path_.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path_.substr(0, slash + 1);
  const std::string prefix = (slash == std::string::npos ? path_ : path_.substr(slash + 1)) + ".";
  DIR* folder = opendir(dir.c_str());
  if (folder == nullptr) return;
  const time_t now = time(nullptr);
  while (dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string suffix = name.substr(prefix.size());
    if (!std::all_of(suffix.begin(), suffix.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); })) {
      continue;
    }
    const std::string candidate = (slash == std::string::npos ? "" : dir) + name;
    struct stat info {};
    if (lstat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
        now - info.st_mtime > 60) {
      unlink(candidate.c_str());
    }
  }
  closedir(folder);
}

namespace vkx {

void SaveCookies(engine::BrowserPtr /*browser*/) {
  const Config& config = Config::Instance();
  if (!config.GetCacheCookies()) return;
  auto visitor = std::make_shared<SaveCookieVisitor>(
      config.GetCookieFile(), config.GetCookieFilter(), nullptr,
      [](void*) { std::cerr << "Cookie enumeration complete." << std::endl; });
  std::shared_ptr<engine::CookieManager> manager = engine::CookieManager::GetGlobalManager();
  const bool started = manager && manager->VisitAllCookies(visitor);
  std::cerr << "VisitAllCookies call returned " << (started ? 1 : 0) << std::endl;
}

bool CookieSaveInProgress() { return savesInProgress > 0; }

}  // namespace vkx
