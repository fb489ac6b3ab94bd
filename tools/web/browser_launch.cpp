#include "web/browser_launch.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <thread>

extern char** environ;
#endif

namespace orvik::tool::web {

bool OpenInBrowser(const std::string& url) {
#ifdef _WIN32
  const auto started = reinterpret_cast<INT_PTR>(
      ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return started > 32;  // ShellExecute's way of saying it worked
#else
  // The opener's chatter would mix with the tool's output.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string program = "xdg-open";
  std::string argument = url;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, "xdg-open", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return false;
  // Reaped beside the server, so that no zombie is left.
  std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  return true;
#endif
}

}  // namespace orvik::tool::web
