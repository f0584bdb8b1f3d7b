#include "cookies/cookie_jar.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <ctime>
#include <cstdint>
#include <memory>

#include "config/config.h"
#include "config/read_file.h"
#include "cookies/cookie_file.h"
#include "cookies/cookies.h"
#include "engine/engine.h"
#include "log/log.h"

namespace vkx {

namespace {

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The previous file; nullopt when it exists but cannot be read (then a save
// would lose its lines).
std::optional<std::string> ReadPrevious(const std::string& path) {
  std::string content;
  if (ReadRegularFile(path, content)) return content;
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return std::string();
  return std::nullopt;
}

int64_t NowNs() {
  timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

// When the file last changed; 0 when it is not there.
int64_t ModifiedNs(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return 0;
  return int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
}

// Writes the merged file unless it holds nothing new; false on failure.
bool Commit(const std::string& path, const std::string& previous, const std::string& content) {
  if (SameLines(content, previous)) {
    // Nothing changed; a file that others could read is made owner-only still.
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && (info.st_mode & 077) != 0) chmod(path.c_str(), 0600);
    return true;
  }
  if (!ReplaceFileAtomically(path, content)) return false;
  RemoveStaleTempFiles(path);
  return true;
}

}  // namespace

CookieJar& CookieJar::Instance() {
  static CookieJar jar;
  return jar;
}

void CookieJar::Watch() {
  if (watching_) return;
  auto manager = engine::CookieManager::GetGlobalManager();
  if (!manager) return;
  watching_ = true;
  manager->SetChangeObserver([] { Instance().OnChanged(); });
}

void CookieJar::NoteInjected(const engine::Cookie& stored) { known_.insert(KeyOf(stored)); }

void CookieJar::OnChanged() {
  store_changed_ns_ = NowNs();
  // Without a file to write, the save at close says so once; changes do not.
  const Config& config = Config::Instance();
  if (!config.GetCacheCookies() || config.GetCookieFile().empty() || scheduled_) return;
  scheduled_ = true;
  engine::PostDelayedToUiThread([] {
    CookieJar& jar = Instance();
    jar.scheduled_ = false;
    if (jar.running_) {
      jar.again_ = true;
    } else {
      jar.Start(false);
    }
  }, kChangeDelayMs);
}

void CookieJar::SaveAtClose() {
  Watch();
  if (running_) {
    close_pending_ = true;
    return;
  }
  Start(true);
}

void CookieJar::Start(bool atClose) {
  const Config& config = Config::Instance();
  // A public session's cookies never outlive the visitor.
  if (!config.GetCacheCookies() || config.GetClearSessionOnIdle()) return;
  auto manager = engine::CookieManager::GetGlobalManager();
  running_ = true;
  const unsigned number = ++save_number_;
  const std::optional<uint64_t> before = manager ? manager->StoreGeneration() : std::nullopt;
  auto visitor = std::make_shared<SaveCookieVisitor>(
      [atClose, before, number](std::vector<engine::Cookie> cookies) {
        CookieJar& jar = Instance();
        if (jar.running_ && jar.save_number_ == number) jar.Listed(atClose, before, std::move(cookies));
      },
      [number](const std::string& reason) {
        CookieJar& jar = Instance();
        if (jar.running_ && jar.save_number_ == number) jar.Failed(reason);
      });
  const bool started = manager && manager->VisitAllCookies(visitor);
  if (atClose) LogError(std::string("VisitAllCookies call returned ") + (started ? "1" : "0"));
  if (!started) {
    if (running_ && save_number_ == number) Failed("");
    return;
  }
  if (!running_ || save_number_ != number) return;  // the list came at once
  engine::PostDelayedToUiThread([number] {
    CookieJar& jar = Instance();
    if (jar.running_ && jar.save_number_ == number) {
      jar.Failed("the cookie store did not answer within 2 s");
    }
  }, kListingWaitMs);
}

void CookieJar::Listed(bool atClose, std::optional<uint64_t> before,
                       std::vector<engine::Cookie> cookies) {
  auto manager = engine::CookieManager::GetGlobalManager();
  const std::optional<uint64_t> after = manager ? manager->StoreGeneration() : std::nullopt;
  // A store that died while it was listed answers with nothing: that is
  // no reason to empty the file.
  if (!after) return Failed("the engine's network process is not running");
  if (before != after) return Failed("the engine's network process ended during the save");
  if (generation_ && generation_ != after) {
    // The store was started anew since the last look: what this run put
    // into the old one is gone, so the file's lines stand again.
    known_.clear();
  }
  generation_ = after;
  const Config& config = Config::Instance();
  const std::string path = config.GetCookieFile();
  const std::vector<std::string> filter = SplitCookieFilter(config.GetCookieFilter());
  for (const engine::Cookie& cookie : cookies) {
    if (!IsFiltered(cookie.name, filter)) known_.insert(KeyOf(cookie));
  }
  const bool file_is_newer = ModifiedNs(path) > store_changed_ns_;
  const std::optional<std::string> previous = ReadPrevious(path);
  if (path.empty()) {
    LogError("Cookie file path is empty: cookies are not saved");
  } else if (!previous) {
    LogError("Cannot write cookie file: " + path);
  } else {
    const std::string content = MergeCookieFile(std::move(cookies), filter, *previous, known_,
                                                time(nullptr), base_, file_is_newer);
    if (Commit(path, *previous, content)) {
      base_ = CookieLinesOf(content);
    } else {
      LogError("Cannot write cookie file: " + path);
    }
  }
  if (atClose) LogError("Cookie enumeration complete.");
  Done();
}

void CookieJar::Failed(const std::string& reason) {
  // The old file stays as it is.
  if (!reason.empty()) LogError("Cookie file not saved: " + reason);
  Done();
}

void CookieJar::Done() {
  running_ = false;
  if (close_pending_) {
    close_pending_ = false;
    again_ = false;
    Start(true);
  } else if (again_) {
    again_ = false;
    Start(false);
  }
}

namespace {

// The temporary name of a file whose own name leaves no room for the
// suffix within a file name's 255 bytes.
constexpr const char* kShortTempPrefix = ".vkx-replace.";

// mkstemp's template beside path: its name and ".XXXXXX", or a short name
// in the same folder when that would be too long.
std::string TempTemplate(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t name_length = path.size() - (slash == std::string::npos ? 0 : slash + 1);
  if (name_length + 7 <= NAME_MAX) return path + ".XXXXXX";
  return path.substr(0, slash == std::string::npos ? 0 : slash + 1) + kShortTempPrefix + "XXXXXX";
}

}  // namespace

bool ReplaceFileAtomically(const std::string& path, const std::string& content) {
  std::string temp = TempTemplate(path);
  // mkstemp makes the file owner-only: the cookies are session secrets.
  const int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  const bool written = WriteAll(fd, content) && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!written || !closed || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  // The rename itself must reach the disk before a power cut can undo it.
  const int dir = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

void RemoveStaleTempFiles(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string template_name = TempTemplate(path).substr(slash + 1);
  const std::string prefix = template_name.substr(0, template_name.size() - 6);
  DIR* folder = opendir(dir.c_str());
  if (folder == nullptr) return;
  const time_t now = time(nullptr);
  while (dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string suffix = name.substr(prefix.size());
    if (!std::all_of(suffix.begin(), suffix.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)); })) {
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

}  // namespace vkx
