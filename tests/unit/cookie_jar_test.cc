#include "cookies/cookie_jar.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cookie_test_util.h"
#include "cookies/cookie_file.h"
#include "cookies/cookies.h"
#include "fake_engine.h"
#include "log/log.h"

namespace {

// The cookie file and the configuration, and no temporary file.
const std::set<std::string> kNoTempFile = {"cookies.txt", "vkx.conf"};

TEST_F(CookieFileTest, SaveNeedsCacheCookies) {
  ConfigureSaving("token");
  Configure("cookieFile=" + cookie_path_ + "\n");
  WriteFile(cookie_path_, kOldFile);
  fake::Cookies()->cookies = StoreCookies();
  InjectCookiesFromFile("https://www.example.test/", "", "");
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  fake::Cookies()->change_observer();
  EXPECT_EQ(log_.TakeError(), "");
  EXPECT_EQ(fake::Cookies()->visit_calls, 0);
  EXPECT_TRUE(fake::Log().delayed.empty());
  EXPECT_FALSE(vkx::CookieSaveInProgress());
  EXPECT_EQ(ReadFile(cookie_path_), kOldFile);
}

TEST_F(CookieFileTest, SaveMergesTheStoreIntoTheFileOwnerOnlyAndCompletesOnce) {
  PrepareSave("token,SID2");
  ASSERT_EQ(chmod(cookie_path_.c_str(), 0644), 0);
  const mode_t oldMask = umask(0);
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  umask(oldMask);
  // The last cookie is filtered and the store also reports the end: one completion.
  EXPECT_EQ(log_.TakeError(), "Cookie enumeration complete.\nVisitAllCookies call returned 1\n");
  EXPECT_EQ(ReadFile(cookie_path_), std::string(kStoreFile) + kOldFile);
  struct stat info {};
  ASSERT_EQ(stat(cookie_path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(dir_.Files(), kNoTempFile);
  EXPECT_FALSE(vkx::CookieSaveInProgress());

  // What was saved is what the next run reads (whole seconds, no HttpOnly).
  const std::vector<engine::Cookie> back = vkx::ReadCookieFile(cookie_path_);
  EXPECT_EQ(log_.TakeError(), "");
  ASSERT_EQ(back.size(), 4u);
  ExpectSameCookie(back[0], StoreCookies()[2]);
  ExpectSameCookie(back[1], MakeCookie(".example.test", "/", true, Micros(1700000000), "SID", "s1"));
  ExpectSameCookie(back[2], StoreCookies()[1]);
}

TEST_F(CookieFileTest, CookiesTheSiteDeletedAreGoneAndAnEmptyStoreCompletes) {
  ConfigureSaving("token");
  WriteFile(cookie_path_, std::string(kOldFile) + "www.example.test\tFALSE\t/\tFALSE\t0\tSID\tx\t\n");
  InjectCookiesFromFile("https://www.example.test/", cookie_path_, "token");
  StoreTakesInjected();
  // The site deleted SID: the store is empty.
  log_.TakeError();
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(log_.TakeError(), "Cookie enumeration complete.\nVisitAllCookies call returned 1\n");
  EXPECT_EQ(ReadFile(cookie_path_), kOldFile);
  EXPECT_EQ(dir_.Files(), kNoTempFile);

  // A store started anew (its process died) has lost what was injected:
  // the file's lines stand again.
  WriteFile(cookie_path_, std::string(kOldFile) + "www.example.test\tFALSE\t/\tFALSE\t0\tSID\tx\t\n");
  InjectCookiesFromFile("https://www.example.test/", cookie_path_, "token");
  StoreTakesInjected();
  fake::Cookies()->generation = 1;
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(ReadFile(cookie_path_), std::string(kOldFile) + "www.example.test\tFALSE\t/\tFALSE\t0\tSID\tx\t\n");
}

TEST_F(CookieFileTest, CompletedSaveRemovesTempFilesThatKilledSavesLeft) {
  PrepareSave();
  const std::string stale = cookie_path_ + ".AbC123";
  const std::string recent = cookie_path_ + ".XyZ789";  // perhaps another save under way
  const std::string unrelated = cookie_path_ + ".bak";
  for (const std::string& path : {stale, recent, unrelated}) WriteFile(path, "partial");
  const struct timespec old[2] = {{time(nullptr) - 120, 0}, {time(nullptr) - 120, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, stale.c_str(), old, 0), 0);
  ASSERT_EQ(utimensat(AT_FDCWD, unrelated.c_str(), old, 0), 0);
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(dir_.Files(), (std::set<std::string>{"cookies.txt", "cookies.txt.XyZ789", "cookies.txt.bak",
                                            "vkx.conf"}));
}

// A file whose name leaves no room for the temporary suffix is still
// replaced, through a short temporary name, and its stale temporaries go.
// A line whose cookie never reached the store stays: one for another site
// whose name merely contains the domain, and one the store refused.
TEST_F(CookieFileTest, LinesTheStoreNeverTookStay) {
  ConfigureSaving("");
  const std::string lines = ".example.test\tTRUE\t/\tFALSE\t0\tsite\tx\n"
                            "myexample.test\tFALSE\t/\tFALSE\t0\trefused\ty\n";
  WriteFile(cookie_path_, lines);
  InjectCookiesFromFile("https://myexample.test/", cookie_path_, "");
  ASSERT_EQ(fake::Cookies()->set_calls.size(), 1u);
  fake::Cookies()->set_calls[0].callback->OnComplete(false);
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_TRUE(vkx::SameLines(ReadFile(cookie_path_), lines)) << ReadFile(cookie_path_);
}

TEST_F(CookieFileTest, FileWithTheLongestNameIsReplacedToo) {
  const std::string path = dir_.path() + "/" + std::string(250, 'c');
  const std::string stale = dir_.path() + "/.vkx-replace.AbC123";
  WriteFile(stale, "partial");
  const struct timespec old[2] = {{time(nullptr) - 120, 0}, {time(nullptr) - 120, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, stale.c_str(), old, 0), 0);
  ASSERT_TRUE(vkx::ReplaceFileAtomically(path, "one\n"));
  ASSERT_TRUE(vkx::ReplaceFileAtomically(path, "two\n"));
  vkx::RemoveStaleTempFiles(path);
  EXPECT_EQ(ReadFile(path), "two\n");
  EXPECT_EQ(dir_.Files(), (std::set<std::string>{std::string(250, 'c')}));
}

TEST_F(CookieFileTest, SaveOfOnlyFilteredCookiesCompletes) {
  ConfigureSaving("a,b");
  fake::Cookies()->cookies = {MakeCookie("h", "/", false, 0, "a", "1"),
                              MakeCookie("h", "/", false, 0, "b", "2")};
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(log_.TakeError(), "Cookie enumeration complete.\nVisitAllCookies call returned 1\n");
  EXPECT_EQ(ReadFile(cookie_path_), "");
}

TEST_F(CookieFileTest, SaveReplacesTheFileOnlyWhenTheEnumerationEnds) {
  auto store = PrepareSave();
  store->defer = true;
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(log_.TakeError(), "VisitAllCookies call returned 1\n");
  EXPECT_TRUE(vkx::CookieSaveInProgress());
  EXPECT_EQ(ReadFile(cookie_path_), kOldFile);
  EXPECT_EQ(dir_.Files(), kNoTempFile);

  store->CompletePending();
  EXPECT_EQ(log_.TakeError(), "Cookie enumeration complete.\n");
  EXPECT_EQ(ReadFile(cookie_path_), std::string(kStoreFile) + kOldFile);
  EXPECT_EQ(dir_.Files(), kNoTempFile);
  EXPECT_FALSE(vkx::CookieSaveInProgress());
}

// Whatever stops the store from listing all its cookies, the file stays
// byte for byte, and one line says why.
TEST_F(CookieFileTest, FailedListingsKeepTheOldFile) {
  auto store = PrepareSave();
  store->defer = true;
  const auto expectKept = [&](const std::string& reason) {
    EXPECT_EQ(log_.TakeError(), "VisitAllCookies call returned 1\nCookie file not saved: " + reason + "\n");
    EXPECT_FALSE(vkx::CookieSaveInProgress());
    EXPECT_EQ(ReadFile(cookie_path_), kOldFile);
    EXPECT_EQ(dir_.Files(), kNoTempFile);
  };
  for (size_t visits : {size_t{0}, size_t{3}}) {
    SCOPED_TRACE(visits);
    vkx::SaveCookies(std::make_shared<fake::Browser>(1));
    ASSERT_TRUE(vkx::CookieSaveInProgress());
    store->AbandonPending(visits);
    expectKept("the cookie store stopped listing before its end");
  }
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  store->pending->OnVisitFailed("connection lost");
  store->pending.reset();
  expectKept("the cookie store could not be listed: connection lost");

  // No answer in time; an answer after that is not used.
  fake::Log().delayed.clear();
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  ASSERT_EQ(fake::Log().delayed.size(), 1u);
  EXPECT_EQ(fake::Log().delayed[0].delay_ms, 2000);
  fake::Log().delayed[0].task();
  expectKept("the cookie store did not answer within 2 s");
  store->CompletePending();
  EXPECT_EQ(ReadFile(cookie_path_), kOldFile);

  // The store's process died: before the listing, or while it ran.
  store->generation = std::nullopt;
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  store->CompletePending();
  expectKept("the engine's network process is not running");
  store->generation = 1;
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  store->generation = 2;
  store->CompletePending();
  expectKept("the engine's network process ended during the save");
}

TEST_F(CookieFileTest, ChangesAreSavedSoonInOneSaveAtATime) {
  ConfigureSaving("token");
  WriteFile(cookie_path_, kOldFile);
  auto store = fake::Cookies();
  InjectCookiesFromFile("https://www.example.test/", cookie_path_, "token");
  log_.TakeError();
  ASSERT_TRUE(store->change_observer);
  store->cookies = StoreCookies();
  // A burst of changes: one save, a second later, and it says nothing.
  for (int i = 0; i < 3; ++i) store->change_observer();
  ASSERT_EQ(fake::Log().delayed.size(), 1u);
  EXPECT_EQ(fake::Log().delayed[0].delay_ms, 1000);
  auto run = [] {
    auto tasks = std::move(fake::Log().delayed);
    fake::Log().delayed.clear();
    for (auto& task : tasks) if (task.delay_ms == 1000) task.task();
  };
  run();
  EXPECT_EQ(store->visit_calls, 1);
  EXPECT_EQ(ReadFile(cookie_path_), std::string(kStoreFile) + kOldFile);
  EXPECT_EQ(log_.TakeError(), "");

  // Nothing new: nothing written (the file keeps its inode).
  struct stat before {};
  ASSERT_EQ(stat(cookie_path_.c_str(), &before), 0);
  store->change_observer();
  run();
  struct stat after {};
  ASSERT_EQ(stat(cookie_path_.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);

  // A change during a save leads to one more save after it; so does the close.
  store->defer = true;
  store->change_observer();
  run();
  store->change_observer();
  run();
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(store->visit_calls, 3);
  EXPECT_TRUE(vkx::CookieSaveInProgress());
  store->cookies.pop_back();
  store->CompletePending();
  EXPECT_EQ(store->visit_calls, 4);
  EXPECT_TRUE(vkx::CookieSaveInProgress());
  store->CompletePending();
  EXPECT_EQ(store->visit_calls, 4);
  EXPECT_FALSE(vkx::CookieSaveInProgress());
  EXPECT_EQ(log_.TakeError(), "VisitAllCookies call returned 1\nCookie enumeration complete.\n");
}

TEST_F(CookieFileTest, SaveThatCannotStartKeepsTheOldFile) {
  PrepareSave();
  fake::Cookies()->start_result = false;
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(log_.TakeError(), "VisitAllCookies call returned 0\n");

  fake::Cookies() = nullptr;
  vkx::CookieJar::Instance() = vkx::CookieJar();
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(log_.TakeError(), "VisitAllCookies call returned 0\n");

  EXPECT_FALSE(vkx::CookieSaveInProgress());
  EXPECT_EQ(ReadFile(cookie_path_), kOldFile);
  EXPECT_EQ(dir_.Files(), kNoTempFile);
}

TEST_F(CookieFileTest, ReplacementThatFailsReportsAndLeavesNoTempFile) {
  ConfigureSaving("token");
  // A directory in the cookie file's place cannot be renamed over.
  ASSERT_EQ(mkdir(cookie_path_.c_str(), 0700), 0);
  WriteFile(cookie_path_ + "/keep", "x");
  fake::Cookies()->cookies = StoreCookies();
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(log_.TakeError(), "Cannot write cookie file: " + cookie_path_ +
                                  "\nCookie enumeration complete.\nVisitAllCookies call returned 1\n");
  EXPECT_EQ(dir_.Files(), kNoTempFile);
  EXPECT_EQ(ReadFile(cookie_path_ + "/keep"), "x");
  EXPECT_FALSE(vkx::CookieSaveInProgress());
}

// Run in a child so that, as root, the save can lose the right to write.
TEST_F(CookieFileTest, UnwritableDirectoryReportsOnceAndKeepsTheOldFile) {
  ConfigureSaving("token");
  WriteFile(cookie_path_, kOldFile);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0500), 0);
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(out[0]);
    dup2(out[1], STDERR_FILENO);
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
      std::fprintf(stderr, "cannot drop privileges\n");
      _exit(2);
    }
    vkx::LogRedirect toStderr(std::cout, std::cerr);
    fake::Cookies()->cookies = StoreCookies();
    vkx::SaveCookies(std::make_shared<fake::Browser>(1));
    _exit(vkx::CookieSaveInProgress() ? 3 : 0);
  }
  close(out[1]);
  std::string err;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) err.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << err;
  EXPECT_EQ(err, "Cannot write cookie file: " + cookie_path_ +
                     "\nCookie enumeration complete.\nVisitAllCookies call returned 1\n");
  EXPECT_EQ(ReadFile(cookie_path_), kOldFile);
  EXPECT_EQ(dir_.Files(), kNoTempFile);
}

}  // namespace
