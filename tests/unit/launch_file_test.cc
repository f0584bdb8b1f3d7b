#include "client/launch_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <sstream>

#include <regex>
#include <string>

#include "log_capture.h"
#include "test_files.h"

namespace {

TEST(LaunchFile, TwoLinesOwnerOnlyUniquePath) {
  const TempDir dir("vkx-launch-test");
  const std::string pattern = dir.path() + "/brellik_ini_XXXXXX";
  LogCapture log;
  const std::string a = vkx::WriteLaunchFile(pattern, "https://x.test/?a=b&c", true);
  const std::string b = vkx::WriteLaunchFile(pattern, "https://y.test/", false);
  EXPECT_EQ(log.TakeError(), "");
  ASSERT_FALSE(a.empty());
  EXPECT_NE(a, b);
  EXPECT_TRUE(std::regex_match(a, std::regex(dir.path() + "/brellik_ini_[A-Za-z0-9]{6}")));
  EXPECT_EQ(log.TakeInfo(), "INI written to: " + a + "\nINI written to: " + b + "\n");
  EXPECT_EQ(ReadFile(a), "url=https://x.test/?a=b&c\ndisplayMode=maximized\n");
  EXPECT_EQ(ReadFile(b), "url=https://y.test/\ndisplayMode=window\n");
  struct stat info {};
  ASSERT_EQ(stat(a.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600);
}

TEST(LaunchFile, UnwritableDirectoryReportsAndMakesNothing) {
  LogCapture log;
  EXPECT_EQ(vkx::WriteLaunchFile("/nonexistent-dir/brellik_ini_XXXXXX", "u", false), "");
  EXPECT_EQ(log.TakeError(), "Failed to create a temporary file!\n");
  EXPECT_EQ(log.TakeInfo(), "");
}

// A file that cannot be written whole is not handed on: a child whose files
// may not grow (as on a full disk) gets no path and leaves no file behind.
TEST(LaunchFile, FileThatCannotBeWrittenIsRemovedAndNotHandedOn) {
  const TempDir dir("vkx-launch-test");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit none{0, 0};
    setrlimit(RLIMIT_FSIZE, &none);
    std::ostringstream info;
    std::ostringstream error;
    vkx::LogRedirect quiet(info, error);
    const std::string path = vkx::WriteLaunchFile(dir.path() + "/brellik_ini_XXXXXX", "u", false);
    _exit(path.empty() && error.str().rfind("Unable to open file: ", 0) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(std::filesystem::is_empty(dir.path()), true);
}

}  // namespace
