// The auto-login script that fills the service's sign-in form.
#pragma once

#include <string>

namespace vkx {

// The credential as the body of a double-quoted JavaScript string literal:
// quotes, backslashes, control characters and the two JavaScript line
// separators are escaped; every other byte stays as it is.
std::string JsStringBody(const std::string& value);

// Empty when both credentials are empty.
std::string LoginScriptFor(const std::string& user, const std::string& password);

}  // namespace vkx
