// The cookie file's line parser and formatter: any line the parser accepts,
// formatted and read back as the cookie file is read, gives the same cookie.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cookies/cookie_file.h"

namespace {

void Fail(const char* what, const std::string& line) {
  fprintf(stderr, "cookie line round trip: %s differs\nline: ", what);
  fwrite(line.data(), 1, line.size(), stderr);
  fputc('\n', stderr);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One line as ReadCookieFile sees it: getline stops at the line feed, and
  // comments and empty lines never reach the parser.
  std::string line(reinterpret_cast<const char*>(data), size);
  line.resize(std::min(line.find('\n'), line.size()));
  if (line.empty() || line[0] == '#') return 0;

  std::string reason;
  const auto cookie = vkx::ParseCookieLine(line, &reason);
  if (!cookie) {
    if (reason.empty()) Fail("reason (empty for a refused line)", line);
    return 0;
  }

  const std::string formatted = vkx::FormatCookieLine(*cookie);
  if (formatted.size() < 2 || formatted.compare(formatted.size() - 2, 2, "\t\n") != 0) {
    Fail("line ending", formatted);
  }
  // Written to the file and read back: exactly one line.
  const std::string written = formatted.substr(0, formatted.size() - 1);
  if (written.find('\n') != std::string::npos) Fail("line count", formatted);
  if (written[0] == '#') Fail("comment marker", formatted);

  const auto again = vkx::ParseCookieLine(written);
  if (!again) Fail("acceptance", written);
  if (again->name != cookie->name) Fail("name", line);
  if (again->value != cookie->value) Fail("value", line);
  if (again->domain != cookie->domain) Fail("domain", line);
  if (again->path != cookie->path) Fail("path", line);
  if (again->secure != cookie->secure) Fail("secure", line);
  if (again->httponly != cookie->httponly) Fail("httponly", line);
  if (again->has_expires != cookie->has_expires) Fail("has_expires", line);
  if (again->expires != cookie->expires) Fail("expires", line);
  // A second round changes nothing more.
  if (vkx::FormatCookieLine(*again) != formatted) Fail("formatted line", line);
  return 0;
}
