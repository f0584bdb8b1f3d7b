#include "client/login_script.h"

#include <cstdio>
#include <sstream>

namespace vkx {

namespace {

constexpr const char* kOpening = "\n\t\tif (!window.hasExecuted) {\n\t\t";

// A plain <input> has no "value" of its own, only its prototype's; a
// framework-managed one (React) has its own setter, which must be bypassed.
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
    "\t\t\tsetInterval(function() {\n"
    "\t\t\t\tif (document.readyState === \"complete\" || document.readyState === \"interactive\") {\n"
    "\n"
    "\t\t\t\t\tif (brellikUser != '') {\n"
    "\t\t\t\t\t\tvar el = document.getElementById('username-field');\n"
    "\t\t\t\t\t\tif (el && (el.value == '')) {\n"
    "\t\t\t\t\t\t\tel.setAttribute('autocomplete', 'off');\n"
    "\t\t\t\t\t\t\tel.focus();\n"
    "\n"
    "\t\t\t\t\t\t\tsetNativeValue(el, brellikUser);\n"
    "\t\t\t\t\t\t\tconsole.log('username-field value set by Vkxbrowser');\n"
    "\t\t\t\t\t\t}\n"
    "\t\t\t\t\t}\n"
    "\n"
    "\t\t\t\t\tif (brellikPasswd != '') {\n"
    "\t\t\t\t\t\tvar el = document.getElementById('login-user-password');\n"
    "\t\t\t\t\t\tif (el && (el.value == '')) {\n"
    "\t\t\t\t\t\t\tel.setAttribute('autocomplete', 'off');\n"
    "\t\t\t\t\t\t\tel.focus();\n"
    "\n"
    "\t\t\t\t\t\t\tsetNativeValue(el, brellikPasswd);\n"
    "\t\t\t\t\t\t\tconsole.log('login-user-password value set by Vkxbrowser');\n"
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

std::string LoginScriptFor(const std::string& user, const std::string& password) {
  if (user.empty() && password.empty()) return {};
  std::ostringstream constants;
  constants << "const brellikUser = \"" << JsStringBody(user) << "\";" << '\n';
  constants << "const brellikPasswd = \"" << JsStringBody(password) << "\";" << '\n';
  std::string script = kOpening;
  script += constants.str();
  script += kBody;
  script += kClosing;
  return script;
}

}  // namespace vkx
