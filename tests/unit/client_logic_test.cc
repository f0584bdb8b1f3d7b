#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "client/client_manager.h"
#include "client/key_policy.h"
#include "client/launch_file.h"
#include "client/login_script.h"
#include "fake_engine.h"
#include "log/log.h"

namespace {

// ---- auto-login script ----

std::string Tabs(int n, const std::string& text) { return std::string(n, '\t') + text + "\n"; }

// The script as the sign-in service expects it, line for line.
std::string ExpectedScript(const std::string& userLiteral, const std::string& passLiteral) {
  std::string s = "\n\t\tif (!window.hasExecuted) {\n\t\t";
  s += "const brellikUser = \"" + userLiteral + "\";\n";
  s += "const brellikPasswd = \"" + passLiteral + "\";\n";
  s += "\n";
  s += Tabs(3, "function setNativeValue(element, value) {");
  s += Tabs(4, "const valueSetter = (Object.getOwnPropertyDescriptor(element, 'value') || {}).set;");
  s += Tabs(4, "const prototype = Object.getPrototypeOf(element);");
  s += Tabs(4, "const prototypeValueSetter = Object.getOwnPropertyDescriptor(prototype, 'value').set;");
  s += "\n";
  s += Tabs(4, "if (valueSetter && valueSetter !== prototypeValueSetter) {");
  s += Tabs(5, "prototypeValueSetter.call(element, value);");
  s += Tabs(4, "} else {");
  s += Tabs(5, "(valueSetter || prototypeValueSetter).call(element, value);");
  s += Tabs(4, "}");
  s += "\n";
  s += Tabs(4, "element.dispatchEvent(new Event('input', { bubbles: true }));");
  s += Tabs(3, "}");
  s += "\n";
  s += Tabs(3, "setInterval(function() {");
  s += Tabs(4, "if (document.readyState === \"complete\" || document.readyState === \"interactive\") {");
  s += "\n";
  for (const auto& [id, var] : {std::pair<std::string, std::string>{"username-field", "brellikUser"},
                                {"login-user-password", "brellikPasswd"}}) {
    s += Tabs(5, "if (" + var + " != '') {");
    s += Tabs(6, "var el = document.getElementById('" + id + "');");
    s += Tabs(6, "if (el && (el.value == '')) {");
    s += Tabs(7, "el.setAttribute('autocomplete', 'off');");
    s += Tabs(7, "el.focus();");
    s += "\n";
    s += Tabs(7, "setNativeValue(el, " + var + ");");
    s += Tabs(7, "console.log('" + id + " value set by Vkxbrowser');");
    s += Tabs(6, "}");
    s += Tabs(5, "}");
    if (var == "brellikUser") s += "\n";
  }
  s += Tabs(4, "}");
  s += Tabs(3, "}, 1000);");
  s += "\t\t";
  s += "\n\t\twindow.hasExecuted = true;\n\t\t}\n\t\t";
  return s;
}

TEST(LoginScript, OrdinaryCredentialsGoInUnchanged) {
  EXPECT_EQ(vkx::LoginScriptFor("alice", "pa ss-wörd!"), ExpectedScript("alice", "pa ss-wörd!"));
  EXPECT_EQ(vkx::LoginScriptFor("", "only-password"), ExpectedScript("", "only-password"));
  EXPECT_EQ(vkx::LoginScriptFor("", ""), "");
}

TEST(LoginScript, HostileCredentialsStayInsideTheirStringLiteral) {
  const std::string hostile = "a\"b\\c\nd\re\tf\x01g\u2028h\u2029i</script>";
  const std::string literal = "a\\\"b\\\\c\\nd\\re\\tf\\x01g\\u2028h\\u2029i</script>";
  EXPECT_EQ(vkx::LoginScriptFor(hostile, "\";alert(1);//"),
            ExpectedScript(literal, "\\\";alert(1);//"));
  // Nothing in the encoded literal can end it or the line early.
  const std::string body = vkx::JsStringBody(hostile + "\"\\\n\u2028");
  EXPECT_EQ(std::regex_search(body, std::regex("(^|[^\\\\])(\\\\\\\\)*\"")), false);
  EXPECT_EQ(body.find('\n'), std::string::npos);
  EXPECT_EQ(body.find("\u2028"), std::string::npos);
}

// ---- key policy ----

engine::KeyEvent Key(int code, uint32_t modifiers,
                     engine::KeyEventType type = engine::KeyEventType::RawKeyDown) {
  engine::KeyEvent event;
  event.type = type;
  event.windows_key_code = code;
  event.modifiers = modifiers;
  return event;
}

constexpr uint32_t kCtrl = engine::EVENTFLAG_CONTROL_DOWN;
constexpr uint32_t kAlt = engine::EVENTFLAG_ALT_DOWN;
constexpr uint32_t kShift = engine::EVENTFLAG_SHIFT_DOWN;

TEST(KeyPolicy, EveryModifierCombinationAgainstFKeysCAndLetters) {
  const uint32_t combos[] = {0, kShift, kCtrl, kAlt, kCtrl | kAlt, kCtrl | kAlt | kShift,
                             kCtrl | kShift, kAlt | kShift};
  for (bool chord : {false, true}) {
    for (bool disable : {false, true}) {
      for (uint32_t mods : combos) {
        const bool ctrl = mods & kCtrl, alt = mods & kAlt;
        for (int code : {112, 116, 123, 67, 65, 90, 13, 37}) {
          std::ostringstream log, errors;
          const vkx::LogRedirect redirect(log, errors);
          const vkx::KeyVerdict v = vkx::DecidePreKey(Key(code, mods), chord, disable);
          const bool isChord = chord && ctrl && alt && code == 67;
          const bool isF = code >= 112 && code <= 123;
          SCOPED_TRACE(testing::Message() << "chord=" << chord << " disable=" << disable
                                          << " mods=" << mods << " code=" << code);
          EXPECT_EQ(v.endSession, isChord);
          EXPECT_EQ(v.consume, isChord || (disable && (isF || ctrl || alt)));
          std::string expected = "OnPreKeyEvent - Ctrl: " + std::to_string(ctrl) +
                                 ", Alt:" + std::to_string(alt) + ", K:" + std::to_string(code) + "\n";
          if (isChord) expected += "Ctrl+Alt+C detected. Terminating client...\n";
          else if (disable && isF) expected += "OnPreKeyEvent - F" + std::to_string(code - 111) + " key pressed\n";
          EXPECT_EQ(log.str(), expected);
          EXPECT_EQ(errors.str(), "");
        }
      }
    }
  }
}

TEST(KeyPolicy, KeyUpAndCharactersPassUnlogged) {
  for (auto type : {engine::KeyEventType::KeyUp, engine::KeyEventType::Char}) {
    std::ostringstream log;
    const vkx::LogRedirect redirect(log, log);
    const vkx::KeyVerdict v = vkx::DecidePreKey(Key(67, kCtrl | kAlt, type), true, true);
    EXPECT_FALSE(v.consume);
    EXPECT_FALSE(v.endSession);
    vkx::LogUnhandledKey(Key(67, kCtrl, type));
    EXPECT_EQ(log.str(), "");
  }
  std::ostringstream log, errors;
  const vkx::LogRedirect redirect(log, errors);
  vkx::DecidePreKey(Key(65, 0, engine::KeyEventType::KeyDown), false, true);
  vkx::LogUnhandledKey(Key(65, kAlt | kShift, engine::KeyEventType::KeyDown));
  EXPECT_EQ(log.str(), "OnPreKeyEvent - Ctrl: 0, Alt:0, K:65\nOnKeyEvent - Ctrl: 0, Alt:1, K:65\n");
  EXPECT_EQ(errors.str(), "");
}

// ---- launch file ----

TEST(LaunchFile, TwoLinesOwnerOnlyUniquePath) {
  std::ostringstream log, errors;
  std::string a, b;
  {
    const vkx::LogRedirect redirect(log, errors);
    a = vkx::WriteLaunchFile("/tmp/brellik_ini_XXXXXX", "https://x.test/?a=b&c", true);
    b = vkx::WriteLaunchFile("/tmp/brellik_ini_XXXXXX", "https://y.test/", false);
  }
  const std::string out = log.str();
  EXPECT_EQ(errors.str(), "");
  ASSERT_FALSE(a.empty());
  EXPECT_NE(a, b);
  EXPECT_TRUE(std::regex_match(a, std::regex("/tmp/brellik_ini_[A-Za-z0-9]{6}")));
  EXPECT_EQ(out, "INI written to: " + a + "\nINI written to: " + b + "\n");
  std::stringstream content;
  content << std::ifstream(a).rdbuf();
  EXPECT_EQ(content.str(), "url=https://x.test/?a=b&c\ndisplayMode=maximized\n");
  std::stringstream second;
  second << std::ifstream(b).rdbuf();
  EXPECT_EQ(second.str(), "url=https://y.test/\ndisplayMode=window\n");
  struct stat info {};
  ASSERT_EQ(stat(a.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600);
  unlink(a.c_str());
  unlink(b.c_str());
}

TEST(LaunchFile, UnwritableDirectoryReportsAndMakesNothing) {
  std::ostringstream info, errors;
  const vkx::LogRedirect redirect(info, errors);
  EXPECT_EQ(vkx::WriteLaunchFile("/nonexistent-dir/brellik_ini_XXXXXX", "u", false), "");
  EXPECT_EQ(errors.str(), "Failed to create a temporary file!\n");
  EXPECT_EQ(info.str(), "");
}

// ---- client manager ----

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
