// Fatal checks for programming errors: print the failed expression and abort.
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
