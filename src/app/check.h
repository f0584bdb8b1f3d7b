// Kept for code that still includes it from here: the checks live with the log.
#pragma once

#include "log/check.h"
