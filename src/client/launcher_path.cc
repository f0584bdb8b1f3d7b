// Where the launcher script lives. Test builds may point it elsewhere
// through the environment, so tests never touch the machine's copy.
#include <cstdlib>

#include "client/launch_file.h"

namespace vkx {

const char* LauncherPath() {
#ifdef VKX_TEST_HOOKS
  if (const char* path = std::getenv("VKX_TEST_LAUNCHER")) return path;
#endif
  return "/usr/bin/brellik.sh";
}

}  // namespace vkx
