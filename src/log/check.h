// Fatal checks for programming errors: report the failed expression and abort.
// The report goes straight to standard error, past LogRedirect: the process
// is about to end, and a test's redirection must not swallow the reason
// (death tests read it from the dying process's standard error).
#pragma once

#include <cstdio>
#include <cstdlib>

#define VKX_CHECK(condition)                                     \
  do {                                                           \
    if (!(condition)) {                                          \
      std::fprintf(stderr, "Check failed: %s. \n", #condition);  \
      std::fflush(stderr);                                       \
      std::abort();                                              \
    }                                                            \
  } while (false)
