#include "client/launch_file.h"

#include <unistd.h>

#include <vector>

#include "log/log.h"

namespace vkx {

std::string WriteLaunchFile(const std::string& pathTemplate, const std::string& url,
                            bool maximized) {
  std::vector<char> path(pathTemplate.begin(), pathTemplate.end());
  path.push_back('\0');
  const int fd = mkstemp(path.data());
  if (fd == -1) {
    LogError("Failed to create a temporary file!");
    return {};
  }
  const std::string name(path.data());
  const std::string content =
      "url=" + url + "\ndisplayMode=" + (maximized ? "maximized" : "window") + "\n";
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool closed = close(fd) == 0;
  if (done < content.size() || !closed) {
    // A launcher handed a partial file would open the wrong page, or none.
    LogError("Unable to open file: " + name);
    unlink(name.c_str());
    return {};
  }
  LogInfo("INI written to: " + name);
  return name;
}

}  // namespace vkx
