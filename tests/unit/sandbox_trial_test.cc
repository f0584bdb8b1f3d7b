#include "engine/webkit/sandbox_trial.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using engine::webkit::RendererSandboxUnavailableReason;
using engine::webkit::RunTrial;
using engine::webkit::TrialFailure;
using engine::webkit::TrialResult;
using Outcome = engine::webkit::TrialResult::Outcome;

// Stand-ins for bwrap: scripts and files in a scratch folder.
class SandboxTrialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/vkx-trial-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    unsetenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS");
  }
  void TearDown() override {
    unsetenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS");
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  std::string File(const std::string& name, const std::string& content, mode_t mode) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    chmod(path.c_str(), mode);
    return path;
  }
  std::string Script(const std::string& name, const std::string& body) {
    return File(name, "#!/bin/sh\n" + body + "\n", 0755);
  }

  std::string dir_;
};

TEST_F(SandboxTrialTest, ReasonsNameTheProgramOrQuoteItsError) {
  const std::string bwrap = "/usr/bin/bwrap";
  EXPECT_EQ(TrialFailure(bwrap, {Outcome::Exited, 0, "noise on stderr\n"}, 5000), "");
  EXPECT_EQ(TrialFailure(bwrap, {Outcome::SpawnFailed, ENOENT, ""}, 5000),
            "/usr/bin/bwrap not found");
  EXPECT_EQ(TrialFailure(bwrap, {Outcome::SpawnFailed, EACCES, ""}, 5000),
            "/usr/bin/bwrap cannot run: Permission denied");
  EXPECT_EQ(TrialFailure(bwrap, {Outcome::TimedOut, 0, ""}, 5000),
            "/usr/bin/bwrap did not finish within 5000 ms");
  EXPECT_EQ(TrialFailure(bwrap, {Outcome::Signalled, 9, ""}, 5000),
            "/usr/bin/bwrap ended by signal 9");
  EXPECT_EQ(TrialFailure(bwrap, {Outcome::Exited, 1, ""}, 5000),
            "/usr/bin/bwrap failed with status 1");
  // bubblewrap's own line, the first that is not blank, stays one clean line.
  EXPECT_EQ(TrialFailure(bwrap,
                         {Outcome::Exited, 1,
                          "\n   \nbwrap: Creating new namespace failed: Operation not "
                          "permitted\r\t\x1b[0m  \nsecond line\n"},
                         5000),
            "bwrap: Creating new namespace failed: Operation not permitted[0m");
  const std::string longer(1000, 'x');
  EXPECT_EQ(TrialFailure(bwrap, {Outcome::Exited, 1, longer}, 5000).size(), 300u);
}

TEST_F(SandboxTrialTest, RunsWithoutShellAndReportsHowItEnded) {
  const auto refused = Script("refuse", "echo 'bwrap: No permissions to create new namespace' >&2\n"
                                        "echo ignored; exit 1");
  TrialResult result = RunTrial({refused}, 5000);
  EXPECT_EQ(result.outcome, Outcome::Exited);
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.error_output, "bwrap: No permissions to create new namespace\n");

  // The arguments reach the program as they are, with nothing expanded.
  const auto echo = Script("echo", "printf '%s|' \"$@\" >&2; [ $# -eq 2 ]");
  result = RunTrial({echo, "$HOME", "a b;c"}, 5000);
  EXPECT_EQ(result.outcome, Outcome::Exited);
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.error_output, "$HOME|a b;c|");

  result = RunTrial({Script("killed", "kill -9 $$")}, 5000);
  EXPECT_EQ(result.outcome, Outcome::Signalled);
  EXPECT_EQ(result.code, 9);

  // What bwrap made unusable looks like: missing, an empty file, not executable.
  result = RunTrial({dir_ + "/missing"}, 5000);
  EXPECT_EQ(result.outcome, Outcome::SpawnFailed);
  EXPECT_EQ(result.code, ENOENT);
  result = RunTrial({File("empty", "", 0644)}, 5000);
  EXPECT_EQ(result.outcome, Outcome::SpawnFailed);
  EXPECT_EQ(result.code, EACCES);
  result = RunTrial({File("empty-exec", "", 0755)}, 5000);
  EXPECT_EQ(result.outcome, Outcome::SpawnFailed);
  EXPECT_EQ(result.code, ENOEXEC);
}

TEST_F(SandboxTrialTest, TimeIsBoundedAndOnlyTheProgramIsAwaited) {
  using Clock = std::chrono::steady_clock;
  auto started = Clock::now();
  TrialResult result = RunTrial({Script("hang", "exec sleep 30")}, 300);
  EXPECT_EQ(result.outcome, Outcome::TimedOut);
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));

  // A process it leaves behind holds the error pipe: its end is enough.
  started = Clock::now();
  result = RunTrial({Script("leave", "echo bye >&2; sleep 3 & exit 0")}, 2500);
  EXPECT_EQ(result.outcome, Outcome::Exited);
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.error_output, "bye\n");
  EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(2500));
}

TEST_F(SandboxTrialTest, EngineSwitchAndTrialDecide) {
  const auto fine = Script("fine", "exit 0");
  const auto broken = Script("broken", "echo 'bwrap: setting up uid map: Permission denied' >&2; exit 1");
  EXPECT_EQ(RendererSandboxUnavailableReason(fine, 5000), "");
  EXPECT_EQ(RendererSandboxUnavailableReason(broken, 5000),
            "bwrap: setting up uid map: Permission denied");
  setenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1", 1);
  EXPECT_EQ(RendererSandboxUnavailableReason(fine, 5000),
            "WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS is set");
  setenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "0", 1);
  EXPECT_EQ(RendererSandboxUnavailableReason(fine, 5000), "");
}

}  // namespace

#include <sys/socket.h>
#include <sys/un.h>

#include "engine/webkit/session_bus.h"

namespace {

using engine::webkit::SessionBusAddressOverride;

TEST_F(SandboxTrialTest, UnreachableSessionBusIsDisabledNotAutolaunched) {
  // A listening-capable socket at dir_/bus, as a session bus leaves it.
  const std::string bus = dir_ + "/bus";
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  bus.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string file = File("not-a-socket", "", 0600);

  EXPECT_EQ(SessionBusAddressOverride(nullptr, dir_.c_str()), std::nullopt);
  EXPECT_EQ(SessionBusAddressOverride("", nullptr), "disabled:");
  EXPECT_EQ(SessionBusAddressOverride(nullptr, "/nonexistent"), "disabled:");
  EXPECT_EQ(SessionBusAddressOverride(("unix:path=" + bus).c_str(), nullptr), std::nullopt);
  EXPECT_EQ(SessionBusAddressOverride(("unix:guid=1,path=" + bus).c_str(), nullptr), std::nullopt);
  // A stale address, as after the session's bus went away.
  EXPECT_EQ(SessionBusAddressOverride("unix:path=/nonexistent/bus", dir_.c_str()), "disabled:");
  EXPECT_EQ(SessionBusAddressOverride(("unix:path=" + file + ",guid=1").c_str(), nullptr),
            "disabled:");
  // One usable entry, or one that cannot be checked, keeps the list.
  EXPECT_EQ(SessionBusAddressOverride(("unix:path=/nonexistent;unix:path=" + bus).c_str(), nullptr),
            std::nullopt);
  EXPECT_EQ(SessionBusAddressOverride("unix:abstract=/tmp/dbus-x", nullptr), std::nullopt);
  EXPECT_EQ(SessionBusAddressOverride("unix:path=/run/user/my%20bus", nullptr), std::nullopt);
  EXPECT_EQ(SessionBusAddressOverride("disabled:", nullptr), std::nullopt);
  close(fd);
}

}  // namespace
