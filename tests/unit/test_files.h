// Files for the tests: a private directory, whole files, and the
// configuration file the code under test reads.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadFile(const std::string& path) {
  std::stringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

// Writes the configuration and points VKX_CONFIG_PATH at it.
inline void WriteConfig(const std::string& path, const std::string& content) {
  WriteFile(path, content);
  setenv("VKX_CONFIG_PATH", path.c_str(), 1);
}

// A directory of its own under /tmp, removed with all it holds.
class TempDir {
 public:
  explicit TempDir(const std::string& name) {
    std::string pattern = "/tmp/" + name + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + pattern);
    path_ = pattern;
  }
  ~TempDir() {
    chmod(path_.c_str(), 0700);  // a test may have taken the write permission away
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // The names of what the directory holds.
  std::set<std::string> Files() const {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path_, error)) {
      names.insert(entry.path().filename());
    }
    return names;
  }

 private:
  std::string path_;
};
