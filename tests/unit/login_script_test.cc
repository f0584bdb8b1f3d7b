#include "client/login_script.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace {

// A script split into its double-quoted string literals, decoded as
// JavaScript reads them, and the rest, with each literal left empty.
struct Literals {
  std::string skeleton;
  std::vector<std::string> values;
  bool Holds(const std::string& value) const {
    return std::find(values.begin(), values.end(), value) != values.end();
  }
};

Literals SplitLiterals(const std::string& script) {
  Literals out;
  for (size_t i = 0; i < script.size(); ++i) {
    out.skeleton += script[i];
    if (script[i] != '"') continue;
    std::string value;
    for (++i; i < script.size() && script[i] != '"'; ++i) {
      if (script[i] != '\\' || i + 1 == script.size()) {
        value += script[i];
        continue;
      }
      switch (script[++i]) {
        case 'n': value += '\n'; break;
        case 'r': value += '\r'; break;
        case 't': value += '\t'; break;
        case 'x':
          value += static_cast<char>(std::stoi(script.substr(i + 1, 2), nullptr, 16));
          i += 2;
          break;
        case 'u':  // only the two line separators are written this way
          value += script.compare(i + 1, 4, "2028") == 0 ? "\u2028" : "\u2029";
          i += 4;
          break;
        default: value += script[i];
      }
    }
    out.skeleton += '"';
    out.values.push_back(value);
  }
  return out;
}

TEST(LoginScript, OrdinaryCredentialsGoInUnchanged) {
  const Literals both = SplitLiterals(vkx::LoginScriptFor("alice", "pa ss-wörd!"));
  EXPECT_TRUE(both.Holds("alice"));
  EXPECT_TRUE(both.Holds("pa ss-wörd!"));
  // By default it fills the sign-in form's two fields, and submits nothing.
  EXPECT_TRUE(both.Holds("#username-field"));
  EXPECT_TRUE(both.Holds("#login-user-password"));
  EXPECT_NE(both.skeleton.find("'username-field value set by Vkxbrowser'"), std::string::npos);
  EXPECT_EQ(both.values[4], "");  // the submit selector
  // A password alone makes the same script; no credentials, none.
  const Literals password = SplitLiterals(vkx::LoginScriptFor("", "only-password"));
  EXPECT_TRUE(password.Holds("only-password"));
  EXPECT_EQ(password.skeleton, both.skeleton);
  EXPECT_EQ(vkx::LoginScriptFor("", ""), "");
}

TEST(LoginScript, HostileCredentialsStayInsideTheirStringLiteral) {
  const std::string hostile = "a\"b\\c\nd\re\tf\x01g\u2028h\u2029i</script>";
  EXPECT_EQ(vkx::JsStringBody(hostile), "a\\\"b\\\\c\\nd\\re\\tf\\x01g\\u2028h\\u2029i</script>");
  // Outside its two literals the script is the one of harmless
  // credentials, and the literals read back as what was given.
  const std::string breakout = "\";alert(1);//";
  const Literals script = SplitLiterals(vkx::LoginScriptFor(hostile, breakout));
  EXPECT_EQ(script.skeleton, SplitLiterals(vkx::LoginScriptFor("alice", "pw")).skeleton);
  EXPECT_TRUE(script.Holds(hostile));
  EXPECT_TRUE(script.Holds(breakout));
  // So do selectors: they are values, never script.
  const vkx::LoginForm form{hostile, breakout, "\"); document.title='x'; (\""};
  const Literals selectors = SplitLiterals(vkx::LoginScriptFor("alice", "pw", form));
  EXPECT_EQ(selectors.skeleton, script.skeleton);
  EXPECT_TRUE(selectors.Holds(form.user_field) && selectors.Holds(form.password_field) &&
              selectors.Holds(form.submit));
  // Nothing in the encoded literal can end it or the line early.
  const std::string body = vkx::JsStringBody(hostile + "\"\\\n\u2028");
  EXPECT_EQ(std::regex_search(body, std::regex("(^|[^\\\\])(\\\\\\\\)*\"")), false);
  EXPECT_EQ(body.find('\n'), std::string::npos);
  EXPECT_EQ(body.find("\u2028"), std::string::npos);
}

// Three submissions of one page within five minutes, and that page is not
// submitted again until they age out or the guard is reset; others are.
TEST(SignInGuard, StopsAPageThatKeepsComingBack) {
  using namespace std::chrono_literals;
  vkx::SignInGuard guard;
  const auto start = vkx::SignInGuard::Clock::now();
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(guard.MaySubmit("https://idp.test/pw", start + i * 10s));
    guard.Submitted("https://idp.test/pw", start + i * 10s);
  }
  EXPECT_FALSE(guard.MaySubmit("https://idp.test/pw", start + 60s));
  EXPECT_TRUE(guard.MaySubmit("https://idp.test/user", start + 60s));
  EXPECT_TRUE(guard.MaySubmit("https://idp.test/pw", start + 5min));
  guard.Reset();
  EXPECT_TRUE(guard.MaySubmit("https://idp.test/pw", start + 60s));
}

}  // namespace
