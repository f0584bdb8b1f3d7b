#include "client/client_manager.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <thread>

#include "fake_engine.h"
#include "log/log.h"

namespace {

TEST(ClientManager, ReportsTheLastBrowserGoneButLeavesTheLoopToTheShutdown) {
  fake::Log() = {};
  ClientManager manager;
  auto one = std::make_shared<fake::Browser>(1);
  auto two = std::make_shared<fake::Browser>(2);
  manager.AddBrowser(one);
  manager.AddBrowser(one);  // no duplicate test: listed twice
  manager.AddBrowser(two);
  std::ostringstream info, errors;
  const vkx::LogRedirect redirect(info, errors);
  manager.RemoveBrowser(std::make_shared<fake::Browser>(1));  // same browser, other object
  manager.RemoveBrowser(std::make_shared<fake::Browser>(9));  // unknown: nothing removed
  EXPECT_EQ(manager.BrowserCount(), 2u);
  EXPECT_EQ(info.str(), "");
  manager.RemoveBrowser(two);
  manager.RemoveBrowser(one);
  EXPECT_EQ(manager.BrowserCount(), 0u);
  manager.RemoveBrowser(one);  // already empty: reported again
  EXPECT_EQ(info.str(), "Quit message loop ....\nQuit message loop ....\n");
  // The kiosk has one way out, its exit sequence: the registry never ends the loop.
  EXPECT_EQ(fake::Log().quit_calls, 0);
}

TEST(ClientManagerDeathTest, ChecksItsThreadAndItsList) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        ClientManager manager;
        std::thread([&] { manager.AddBrowser(std::make_shared<fake::Browser>(1)); }).join();
      },
      "Check failed: thread_checker_.CalledOnValidThread\\(\\)\\. ");
  EXPECT_DEATH(
      {
        ClientManager manager;
        manager.AddBrowser(std::make_shared<fake::Browser>(1));
      },
      "Check failed: browser_list_.empty\\(\\)\\. ");
}

}  // namespace
