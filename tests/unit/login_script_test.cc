#include "client/login_script.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

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

}  // namespace
