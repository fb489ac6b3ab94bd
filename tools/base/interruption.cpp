#include "base/interruption.h"

#include <atomic>
#include <csignal>

#include "base/tool_error.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace orvik::tool {
namespace {

std::atomic<bool> gRequested{false};
int gGuards = 0;

constexpr char kNotice[] =
    "\norvik: stopping after the running step (interrupting it would cut a transfer off)...\n";

void Notice() {
#ifdef _WIN32
  (void)_write(2, kNotice, sizeof kNotice - 1);
#else
  (void)!::write(2, kNotice, sizeof kNotice - 1);
#endif
}

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD) {
  if (!gRequested.exchange(true)) Notice();
  return TRUE;
}
#else
extern "C" void OnSignal(int) {
  if (!gRequested.exchange(true)) Notice();
}
struct sigaction gOldInt {
}, gOldTerm{};
#endif

}  // namespace

InterruptGuard::InterruptGuard() {
  if (gGuards++ > 0) return;
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &gOldInt);
  sigaction(SIGTERM, &action, &gOldTerm);
#endif
}

InterruptGuard::~InterruptGuard() {
  if (--gGuards > 0) return;
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
#else
  sigaction(SIGINT, &gOldInt, nullptr);
  sigaction(SIGTERM, &gOldTerm, nullptr);
#endif
}

bool InterruptRequested() { return gRequested.load(); }

void KeepRunningWhenOutputCloses() {
#ifndef _WIN32
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

void ThrowIfInterrupted(const std::string& playerState, const std::string& action) {
  if (!gRequested.load()) return;
  Problem problem;
  problem.code = "interrupted";
  problem.message = "Stopped on request (Ctrl-C) after the running step finished.";
  problem.playerState = playerState;
  problem.action = action;
  problem.exitCode = kExitInterrupted;
  throw ToolError(std::move(problem));
}

}  // namespace orvik::tool
