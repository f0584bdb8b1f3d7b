// The cookie file as this run keeps it: one save at a time, started when
// the store's cookies change (coalesced) and when the browser closes, each
// merging the store into the file and replacing it atomically.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cookies/cookie_merge.h"
#include "engine/types.h"

namespace vkx {

class CookieJar {
 public:
  // How long a burst of changes is gathered before its save starts, and how
  // long a save waits at most for the store's list.
  static constexpr int kChangeDelayMs = 1000;
  static constexpr int kListingWaitMs = 2000;

  static CookieJar& Instance();

  // The store tells of every change from now on.
  void Watch();
  // A cookie of the file went into the store: from now on its fate is the store's.
  void NoteInjected(const engine::Cookie& stored);
  // The file was read (its cookies): a later difference in it is another
  // program's change.
  void NoteFileRead(const std::vector<engine::Cookie>& cookies) { base_ = CookieLinesOf(cookies); }
  // The save at close: starts at once, or right after the one under way.
  void SaveAtClose();
  bool SaveInProgress() const { return running_ || close_pending_; }

 private:
  void OnChanged();
  void Start(bool atClose);
  void Listed(bool atClose, std::optional<uint64_t> before, std::vector<engine::Cookie> cookies);
  void Failed(const std::string& reason);
  void Done();

  CookieKeys known_;
  // The file as this run last read or wrote it, and when the store last
  // changed (nanoseconds since 1970, as file times are).
  CookieLines base_;
  int64_t store_changed_ns_ = 0;
  std::optional<uint64_t> generation_;
  bool watching_ = false;
  bool running_ = false;
  bool scheduled_ = false;
  bool again_ = false;
  bool close_pending_ = false;
  // Tells a save's listing timer whether its save is still the one under way.
  unsigned save_number_ = 0;
};

// Replaces the file at `path` with `content` through an owner-only
// temporary file beside it (written, synced, renamed, directory synced);
// false, with the old file untouched, when any step fails.
bool ReplaceFileAtomically(const std::string& path, const std::string& content);

// Removes temporary files of `path` that saves killed midway left behind,
// once they are over a minute old (no save takes that long).
void RemoveStaleTempFiles(const std::string& path);

}  // namespace vkx
