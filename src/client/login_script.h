// The auto-login script that fills the service's sign-in form, and the
// guard that stops it submitting a sign-in that keeps failing.
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <string>

namespace vkx {

// The credential as the body of a double-quoted JavaScript string literal:
// quotes, backslashes, control characters and the two JavaScript line
// separators are escaped; every other byte stays as it is.
std::string JsStringBody(const std::string& value);

// The form: CSS selectors of its two fields and of what submits it.
struct LoginForm {
  std::string user_field = "#username-field";
  std::string password_field = "#login-user-password";
  // Empty: never submit.
  std::string submit;
};

// What the script prints (console) when it submits the form.
inline constexpr const char* kSignInSubmittedLine = "sign-in form submitted by Vkxbrowser";

// Empty when both credentials are empty. Every value, selectors included,
// goes in as a string literal: none can change what the script does.
// Once the fields present are filled, the first element matching `submit`
// is clicked, once per page.
std::string LoginScriptFor(const std::string& user, const std::string& password,
                           const LoginForm& form = {});

// Submissions of each sign-in page: one that came back three times within
// five minutes after being submitted (a wrong or expired password) is not
// submitted again, so that no account is locked, until Reset (a changed
// configuration, or the next start).
class SignInGuard {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr size_t kMostSubmissions = 3;
  static constexpr std::chrono::minutes kWithin{5};

  void Submitted(const std::string& url, Clock::time_point now);
  bool MaySubmit(const std::string& url, Clock::time_point now);
  void Reset() { recent_.clear(); }

 private:
  std::deque<Clock::time_point>& Recent(const std::string& url, Clock::time_point now);

  std::map<std::string, std::deque<Clock::time_point>> recent_;
};

}  // namespace vkx
