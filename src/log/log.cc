#include "log/log.h"

#include <cstdio>
#include <string>

namespace vkx {

namespace {

std::ostream* infoStream = nullptr;
std::ostream* errorStream = nullptr;

void Write(std::ostream* redirected, FILE* file, std::string_view line) {
  std::string text;
  text.reserve(line.size() + 1);
  text.append(line);
  text.push_back('\n');
  if (redirected != nullptr) {
    redirected->write(text.data(), static_cast<std::streamsize>(text.size()));
    return;
  }
  // Standard output is line-buffered and standard error unbuffered: one
  // fwrite leaves as one write.
  fwrite(text.data(), 1, text.size(), file);
}

}  // namespace

void LogInfo(std::string_view line) { Write(infoStream, stdout, line); }

void LogError(std::string_view line) { Write(errorStream, stderr, line); }

LogRedirect::LogRedirect(std::ostream& info, std::ostream& error)
    : previous_info_(infoStream), previous_error_(errorStream) {
  infoStream = &info;
  errorStream = &error;
}

LogRedirect::~LogRedirect() {
  infoStream = previous_info_;
  errorStream = previous_error_;
}

}  // namespace vkx
