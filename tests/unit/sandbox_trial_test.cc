#include "engine/webkit/sandbox_trial.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>

#include "engine/webkit/runtime_dir.h"
#include "engine/webkit/session_bus.h"

namespace {

using namespace engine::webkit;
using Outcome = TrialResult::Outcome;

TEST(SandboxTrial, ReasonIsBubblewrapsLineOrHowItEnded) {
  EXPECT_EQ(TrialFailure("/b", {Outcome::Exited, 0, "noise\n"}, 5000), "");
  EXPECT_EQ(TrialFailure("/b", {Outcome::SpawnFailed, ENOENT, ""}, 5000), "/b not found");
  EXPECT_EQ(TrialFailure("/b", {Outcome::Exited, 1, ""}, 5000), "/b failed with status 1");
  // The first line that is not blank, as one clean line.
  EXPECT_EQ(TrialFailure("/b", {Outcome::Exited, 1, "\n \nbwrap: No ns\r\x1b \nmore\n"}, 5000),
            "bwrap: No ns");
}

// Spawning and reading its output are tried for real by the integration tests.
TEST(SandboxTrial, BoundedInTime) {
  char dir[] = "/tmp/vkx-trial-test-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  auto script = [&dir](const char* name, const std::string& body) {
    const std::string path = std::string(dir) + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    chmod(path.c_str(), 0755);
    return path;
  };
  const auto started = std::chrono::steady_clock::now();
  TrialResult result = RunTrial({script("hang", "exec sleep 30")}, 300);
  EXPECT_EQ(result.outcome, Outcome::TimedOut);
  // What the program leaves behind holding the error pipe is not waited for.
  result = RunTrial({script("leave", "sleep 3 & exit 0")}, 2000);
  EXPECT_EQ(result.outcome, Outcome::Exited);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2000));
  // A trial started early and never judged is ended and reaped with its owner.
  pid_t left = 0;
  {
    Trial early({script("report", "echo $$ > " + std::string(dir) + "/pid; exec sleep 30")});
    for (int i = 0; i < 200 && !(std::ifstream(std::string(dir) + "/pid") >> left); ++i) {
      usleep(10000);
    }
  }
  ASSERT_GT(left, 0);
  EXPECT_NE(kill(left, 0), 0);
  EXPECT_EQ(errno, ESRCH);
  std::system((std::string("rm -rf ") + dir).c_str());
}

TEST(SandboxTrial, SessionBusThatIsNotThereIsDisabled) {
  EXPECT_EQ(SessionBusAddressOverride("unix:guid=1,path=/nonexistent/bus", nullptr), "disabled:");
  // One entry that may work, or cannot be checked, keeps the address.
  EXPECT_EQ(SessionBusAddressOverride("unix:path=/nonexistent;unix:abstract=/tmp/x", nullptr),
            std::nullopt);
}

// The engine's runtime directory: below the given one only when that is
// short enough for the engine's socket paths.
TEST(SandboxTrial, RuntimeDirectoryIsShortOrInTmp) {
  char made[] = "/tmp/vkx-rt-XXXXXX";
  ASSERT_NE(mkdtemp(made), nullptr);
  const std::string deep = std::string(made) + "/" + std::string(80, 'd');
  ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  EXPECT_EQ(RuntimeDirectoryBase(made), made);
  for (const char* unusable : {static_cast<const char*>(nullptr), "", "relative", deep.c_str(),
                               "/nonexistent/vkx"}) {
    EXPECT_EQ(RuntimeDirectoryBase(unusable), "/tmp") << (unusable ? unusable : "unset");
  }
  // Without a directory of its own, a deep default is a reason to go without the sandbox.
  EXPECT_EQ(RuntimeDirectoryProblem("", made), "");
  EXPECT_EQ(RuntimeDirectoryProblem(made, deep), "");
  EXPECT_NE(RuntimeDirectoryProblem("", deep).find(deep + " is too long"), std::string::npos);
  rmdir(deep.c_str());
  rmdir(made);
}

// The kiosk's own session bus answers at its socket, and ends with it.
TEST(SandboxTrial, PrivateSessionBusStartsAndStops) {
  if (std::system("command -v dbus-daemon >/dev/null") != 0) GTEST_SKIP() << "no dbus-daemon";
  char made[] = "/tmp/vkx-bus-XXXXXX";
  ASSERT_NE(mkdtemp(made), nullptr);
  const std::string address = StartPrivateSessionBus(made);
  EXPECT_EQ(address.rfind("unix:path=" + std::string(made) + "/bus", 0), 0u) << address;
  struct stat info {};
  EXPECT_EQ(stat((std::string(made) + "/bus").c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(StartPrivateSessionBus(made), "");  // one at a time
  StopPrivateSessionBus();
  std::system((std::string("rm -rf ") + made).c_str());
}

}  // namespace
