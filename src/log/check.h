// Fatal checks for programming errors: report the failed expression and abort.
#pragma once

#include <cstdlib>
#include <string>

#include "log/log.h"

#define VKX_CHECK(condition)                                               \
  do {                                                                     \
    if (!(condition)) {                                                    \
      vkx::LogError(std::string("Check failed: ") + #condition + ". ");    \
      std::abort();                                                        \
    }                                                                      \
  } while (false)
