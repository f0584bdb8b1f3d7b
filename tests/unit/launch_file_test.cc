#include "client/launch_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
