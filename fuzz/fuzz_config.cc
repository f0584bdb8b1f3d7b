// The configuration file parser on arbitrary file content: the record is
// built the way the program builds it (the file named by VKX_CONFIG_PATH),
// read again, and dumped.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "config/config.h"
#include "log/log.h"

namespace {

std::string config_path;
int config_fd = -1;

// Swallows what the parser logs while it runs.
class Silence {
 public:
  Silence() : redirect_(sink_, sink_) {}

 private:
  std::ostringstream sink_;
  vkx::LogRedirect redirect_;
};

void WriteConfig(const uint8_t* data, size_t size) {
  if (ftruncate(config_fd, 0) != 0) abort();
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(config_fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) abort();
    done += static_cast<size_t>(n);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  const char* dir = std::getenv("TMPDIR");
  std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/vkx-fuzz-config.XXXXXX";
  config_fd = mkstemp(pattern.data());
  if (config_fd < 0) {
    perror("mkstemp");
    abort();
  }
  config_path = pattern;
  // The file goes when the fuzzer ends, however it ends.
  atexit([] { unlink(config_path.c_str()); });
  setenv("VKX_CONFIG_PATH", config_path.c_str(), 1);
  return 0;
}

namespace {

// Every value a reload can change, as the program reads them. The cookie
// file and filter are kept across a reload that does not turn cookie caching
// on, so a comparison with the defaults leaves them out.
std::string Snapshot(const Config& config, bool withCookieFile = true) {
  std::ostringstream out;
  out << config.GetUrl() << '\0' << config.GetCachePath() << '\0'
      << config.GetAcceptLanguageList() << '\0' << config.GetIconName() << '\0'
      << config.GetWidth() << ' ' << config.GetHeight() << ' ' << config.GetDisplayMode() << ' '
      << config.GetDisableKbdShortcuts() << config.GetDisableContextMenu()
      << config.GetEnableToolbar() << config.GetEnableAutoHide() << ' '
      << config.GetEndSessionKey() << ' ' << config.GetCacheCookies() << '\0'
      << config.GetAcceptCertError();
  if (withCookieFile) out << '\0' << config.GetCookieFile() << '\0' << config.GetCookieFilter();
  return out.str();
}

void Fail(const char* what) {
  fprintf(stderr, "configuration: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string first, reloaded, emptied, defaults;
  {
    Silence silence;
    WriteConfig(data, size);
    Config config;
    config.Print();
    first = Snapshot(config);
    // The file is there: a reload reports it and reads the same record.
    if (!config.Reload()) Fail("Reload() missed an existing file");
    config.Print();
    reloaded = Snapshot(config);
    // The operator empties the file: the next reload is back to the defaults,
    // with nothing kept from the file before.
    WriteConfig(nullptr, 0);
    if (!config.Reload()) Fail("Reload() missed an existing file");
    emptied = Snapshot(config, false);
    Config fresh;
    defaults = Snapshot(fresh, false);
  }
  if (reloaded != first) Fail("a reload of the same file gave another record");
  if (emptied != defaults) Fail("a reload of an empty file kept values of the file before");
  return 0;
}
