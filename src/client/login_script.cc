#include "client/login_script.h"

#include <cstdio>
#include <sstream>
#include <utility>

namespace vkx {

namespace {

constexpr const char* kOpening = "\n\t\tif (!window.hasExecuted) {\n\t\t";

// A plain <input> has no "value" of its own, only its prototype's; a
// framework-managed one (React) has its own setter, which must be bypassed.
// A selector that is not valid CSS finds nothing.
constexpr const char* kBody =
    "\n"
    "\t\t\tfunction setNativeValue(element, value) {\n"
    "\t\t\t\tconst valueSetter = (Object.getOwnPropertyDescriptor(element, 'value') || {}).set;\n"
    "\t\t\t\tconst prototype = Object.getPrototypeOf(element);\n"
    "\t\t\t\tconst prototypeValueSetter = Object.getOwnPropertyDescriptor(prototype, 'value').set;\n"
    "\n"
    "\t\t\t\tif (valueSetter && valueSetter !== prototypeValueSetter) {\n"
    "\t\t\t\t\tprototypeValueSetter.call(element, value);\n"
    "\t\t\t\t} else {\n"
    "\t\t\t\t\t(valueSetter || prototypeValueSetter).call(element, value);\n"
    "\t\t\t\t}\n"
    "\n"
    "\t\t\t\telement.dispatchEvent(new Event('input', { bubbles: true }));\n"
    "\t\t\t}\n"
    "\n"
    "\t\t\tfunction brellikFind(selector) {\n"
    "\t\t\t\ttry { return selector != '' ? document.querySelector(selector) : null; }\n"
    "\t\t\t\tcatch (e) { return null; }\n"
    "\t\t\t}\n"
    "\n"
    "\t\t\tfunction brellikFill(value, selector, line) {\n"
    "\t\t\t\tif (value == '') return null;\n"
    "\t\t\t\tvar el = brellikFind(selector);\n"
    "\t\t\t\tif (el && (el.value == '')) {\n"
    "\t\t\t\t\tel.setAttribute('autocomplete', 'off');\n"
    "\t\t\t\t\tel.focus();\n"
    "\n"
    "\t\t\t\t\tsetNativeValue(el, value);\n"
    "\t\t\t\t\tconsole.log(line);\n"
    "\t\t\t\t}\n"
    "\t\t\t\treturn el;\n"
    "\t\t\t}\n"
    "\n"
    "\t\t\tvar brellikSubmitted = false;\n"
    "\t\t\tsetInterval(function() {\n"
    "\t\t\t\tif (document.readyState === \"complete\" || document.readyState === \"interactive\") {\n"
    "\t\t\t\t\tvar user = brellikFill(brellikUser, brellikUserField,\n"
    "\t\t\t\t\t\t'username-field value set by Vkxbrowser');\n"
    "\t\t\t\t\tvar pass = brellikFill(brellikPasswd, brellikPasswordField,\n"
    "\t\t\t\t\t\t'login-user-password value set by Vkxbrowser');\n"
    "\n"
    "\t\t\t\t\tif (brellikSubmit != '' && !brellikSubmitted && (user || pass) &&\n"
    "\t\t\t\t\t\t\t(!user || user.value != '') && (!pass || pass.value != '')) {\n"
    "\t\t\t\t\t\tvar button = brellikFind(brellikSubmit);\n"
    "\t\t\t\t\t\tif (button) {\n"
    "\t\t\t\t\t\t\tbrellikSubmitted = true;\n"
    "\t\t\t\t\t\t\tconsole.log(brellikSubmittedLine);\n"
    "\t\t\t\t\t\t\tbutton.click();\n"
    "\t\t\t\t\t\t}\n"
    "\t\t\t\t\t}\n"
    "\t\t\t\t}\n"
    "\t\t\t}, 1000);\n"
    "\t\t";

constexpr const char* kClosing = "\n\t\twindow.hasExecuted = true;\n\t\t}\n\t\t";

}  // namespace

std::string JsStringBody(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
          out += escaped;
        } else if (c == 0xE2 && i + 2 < value.size() &&
                   static_cast<unsigned char>(value[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(value[i + 2]) == 0xA8 ||
                    static_cast<unsigned char>(value[i + 2]) == 0xA9)) {
          // U+2028 and U+2029 end a line inside a script.
          out += static_cast<unsigned char>(value[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
          i += 2;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string LoginScriptFor(const std::string& user, const std::string& password,
                           const LoginForm& form) {
  if (user.empty() && password.empty()) return {};
  std::ostringstream constants;
  const std::pair<const char*, const std::string&> values[] = {
      {"brellikUser", user},
      {"brellikPasswd", password},
      {"brellikUserField", form.user_field},
      {"brellikPasswordField", form.password_field},
      {"brellikSubmit", form.submit},
  };
  for (const auto& [name, value] : values) {
    constants << "const " << name << " = \"" << JsStringBody(value) << "\";" << '\n';
  }
  constants << "const brellikSubmittedLine = \"" << kSignInSubmittedLine << "\";" << '\n';
  std::string script = kOpening;
  script += constants.str();
  script += kBody;
  script += kClosing;
  return script;
}

std::deque<SignInGuard::Clock::time_point>& SignInGuard::Recent(const std::string& url,
                                                                Clock::time_point now) {
  auto& recent = recent_[url];
  while (!recent.empty() && now - recent.front() >= kWithin) recent.pop_front();
  return recent;
}

void SignInGuard::Submitted(const std::string& url, Clock::time_point now) {
  Recent(url, now).push_back(now);
}

bool SignInGuard::MaySubmit(const std::string& url, Clock::time_point now) {
  return Recent(url, now).size() < kMostSubmissions;
}

}  // namespace vkx
