// The host taken from a URL for matching cookies: a piece of the URL, with
// no path and no port left in it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cookies/cookie_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string url(reinterpret_cast<const char*>(data), size);
  const std::string host = vkx::HostFromUrl(url);
  const char* broken = nullptr;
  if (url.find(host) == std::string::npos) broken = "not a substring of the URL";
  else if (host.find('/') != std::string::npos) broken = "contains '/'";
  else if (host.find(':') != std::string::npos) broken = "contains ':'";
  if (broken != nullptr) {
    fprintf(stderr, "HostFromUrl: host %s\n", broken);
    abort();
  }
  return 0;
}
