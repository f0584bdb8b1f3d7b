// The operator-visible log: plain lines on the information stream (standard
// output) and the error stream (standard error). Every such line of the
// kiosk goes through these two functions, so the lines keep one style and
// tests can read them from a stream of their own.
#pragma once

#include <ostream>
#include <string_view>

namespace vkx {

// Writes `line` and a line feed in one piece. `line` may hold line feeds of
// its own (a trace of several lines that must not interleave with others).
void LogInfo(std::string_view line);
void LogError(std::string_view line);

// While alive, the two streams go to `info` and `error` instead (tests).
class LogRedirect {
 public:
  LogRedirect(std::ostream& info, std::ostream& error);
  ~LogRedirect();
  LogRedirect(const LogRedirect&) = delete;
  LogRedirect& operator=(const LogRedirect&) = delete;

 private:
  std::ostream* previous_info_;
  std::ostream* previous_error_;
};

}  // namespace vkx
