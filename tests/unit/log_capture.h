// Reads what the code under test logs, for as long as the object lives.
#pragma once

#include <sstream>
#include <string>

#include "log/log.h"

class LogCapture {
 public:
  LogCapture() : redirect_(info_, error_) {}
  // What was logged since the last call.
  std::string TakeInfo() { return Take(info_); }
  std::string TakeError() { return Take(error_); }

 private:
  static std::string Take(std::ostringstream& stream) {
    std::string text = stream.str();
    stream.str("");
    return text;
  }
  std::ostringstream info_;
  std::ostringstream error_;
  vkx::LogRedirect redirect_;
};
