#include "client/launch_file.h"

#include <unistd.h>

#include <fstream>
#include <iostream>
#include <vector>

namespace vkx {

std::string WriteLaunchFile(const std::string& pathTemplate, const std::string& url,
                            bool maximized) {
  std::vector<char> path(pathTemplate.begin(), pathTemplate.end());
  path.push_back('\0');
  const int fd = mkstemp(path.data());
  if (fd == -1) {
    std::cerr << "Failed to create a temporary file!" << std::endl;
    return {};
  }
  const std::string name(path.data());
  std::ofstream out(name, std::ios::trunc);
  if (out.is_open()) {
    out << "url=" << url << '\n'
        << "displayMode=" << (maximized ? "maximized" : "window") << '\n';
    out.close();
    std::cout << "INI written to: " << name << std::endl;
  } else {
    std::cerr << "Unable to open file: " << name << std::endl;
  }
  close(fd);
  return name;
}

}  // namespace vkx
