#include "client/launch_file.h"

#include <unistd.h>

#include <fstream>
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
  std::ofstream out(name, std::ios::trunc);
  if (out.is_open()) {
    out << "url=" << url << '\n'
        << "displayMode=" << (maximized ? "maximized" : "window") << '\n';
    out.close();
    LogInfo("INI written to: " + name);
  } else {
    LogError("Unable to open file: " + name);
  }
  close(fd);
  return name;
}

}  // namespace vkx
