#include "terminal/console.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "base/exit_codes.h"
#include "base/tool_error.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define ORVIK_IS_TERMINAL(fd) (_isatty(fd) != 0)
#else
#include <sys/ioctl.h>
#include <unistd.h>
#define ORVIK_IS_TERMINAL(fd) (isatty(fd) == 1)
#endif

namespace orvik::tool {
namespace {

constexpr int kDefaultColumns = 80;
constexpr int kLabelWidth = 30;
constexpr int kLongestBar = 30;

bool NoColorRequested() {
  const char* value = std::getenv("NO_COLOR");
  return value != nullptr && value[0] != '\0';
}

const char* Escape(Style style) {
  switch (style) {
    case Style::kPlain:
      return "";
    case Style::kBold:
      return "\033[1m";
    case Style::kDim:
      return "\033[2m";
    case Style::kGood:
      return "\033[32m";
    case Style::kBad:
      return "\033[31m";
    case Style::kWarn:
      return "\033[33m";
    case Style::kInfo:
      return "\033[36m";
    case Style::kAccent:
      return "\033[34m";
    case Style::kMagenta:
      return "\033[35m";
  }
  return "";
}

// The width of the terminal that standard error is drawn on.
int TerminalColumns() {
#ifdef _WIN32
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) != 0)
    return info.srWindow.Right - info.srWindow.Left + 1;
#else
  struct winsize size {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
  if (const char* columns = std::getenv("COLUMNS"); columns != nullptr && std::atoi(columns) > 0)
    return std::atoi(columns);
  return kDefaultColumns;
}

std::string TimeLeft(double seconds) {
  const long whole = std::max(0L, std::lround(seconds));
  if (whole >= 3600)
    return fmt::format("{}:{:02}:{:02} left", whole / 3600, whole / 60 % 60, whole % 60);
  return fmt::format("{}:{:02} left", whole / 60, whole % 60);
}

}  // namespace

std::string FormatBar(const ProgressUpdate& update, int columns) {
  double percent = update.percent;
  if (!(percent >= 0.0)) percent = 0.0;
  if (percent > 100.0) percent = 100.0;
  // Everything must fit on one line, or each redraw would wrap: the time
  // left goes first, then the bar shrinks, then the label is cut.
  const std::string tail = fmt::format("] {:3}%", static_cast<int>(percent));
  std::string left =
      update.secondsLeft && !update.done ? "  " + TimeLeft(*update.secondsLeft) : std::string();
  const int usable = std::max(columns - 1, 24);         // the last column wraps on some terminals
  const int fixed = 2 + static_cast<int>(tail.size());  // " [" and the tail
  int labelWidth = kLabelWidth;
  auto room = [&] { return usable - labelWidth - fixed - static_cast<int>(left.size()); };
  if (room() < 10) left.clear();
  if (room() < 10) labelWidth = std::max(8, usable - fixed - 10);
  const int barWidth = std::clamp(room(), 3, kLongestBar);
  std::string label = "  " + update.label;
  label.resize(static_cast<size_t>(labelWidth), ' ');
  const int filled = static_cast<int>(std::lround(percent * barWidth / 100.0));
  std::string bar = label + " [";
  bar.append(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(barWidth - filled), '-');
  return bar + tail + left;
}

Console::Console(bool json, ColorMode color, int verbosity, bool yes)
    : json_(json), verbosity_(verbosity), yes_(yes), barAllowed_(ORVIK_IS_TERMINAL(2)) {
  switch (color) {
    case ColorMode::kAlways:
      color_ = true;
      break;
    case ColorMode::kNever:
      color_ = false;
      break;
    case ColorMode::kAuto:
      color_ = !json && ORVIK_IS_TERMINAL(1) && !NoColorRequested();
      break;
  }
}

void Console::Line(std::string_view text) {
  if (json_) return;
  std::lock_guard<std::mutex> lock(terminalMutex_);
  ClearBarLocked();
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void Console::Step(std::string_view text) {
  if (verbosity_ <= 0) return;
  std::lock_guard<std::mutex> lock(terminalMutex_);
  ClearBarLocked();
  std::fprintf(stderr, "  · %.*s\n", static_cast<int>(text.size()), text.data());
}

void Console::Warn(std::string_view text) {
  std::lock_guard<std::mutex> lock(terminalMutex_);
  ClearBarLocked();
  std::string label = barAllowed_ && color_ ? "\033[33mwarning:\033[0m " : "warning: ";
  std::fprintf(stderr, "%s%.*s\n", label.c_str(), static_cast<int>(text.size()), text.data());
}

std::string Console::Paint(Style style, std::string_view text) const {
  if (!color_ || style == Style::kPlain) return std::string(text);
  return std::string(Escape(style)) + std::string(text) + "\033[0m";
}

void Console::Progress(const ProgressUpdate& update) {
  if (!barAllowed_) {
    // Each step named once, on a line of its own.
    if (update.label != namedStep_) Line("  " + update.label + " ...");
    namedStep_ = update.done ? std::string() : update.label;
    return;
  }
  std::lock_guard<std::mutex> terminal(terminalMutex_);
  const int whole = static_cast<int>(update.percent);
  // Redrawn when the percentage or the seconds left change, not at every
  // poll.
  const long left = update.secondsLeft ? std::lround(*update.secondsLeft) : -1;
  if (!update.done && barDrawn_ && whole == lastWhole_ && left == lastSecondsLeft_) return;
  lastWhole_ = update.done ? -1 : whole;
  lastSecondsLeft_ = left;
  std::fprintf(stderr, "\r\033[K%s%s", FormatBar(update, TerminalColumns()).c_str(),
               update.done ? "\n" : "");
  std::fflush(stderr);
  barDrawn_ = !update.done;
}

void Console::Confirm(const Destruction& destruction) {
  if (yes_) return;
  const std::string summary = fmt::format("This will {} on the {}; lost: {}.", destruction.what,
                                          destruction.target, destruction.lost);
  if (!ORVIK_IS_TERMINAL(0)) {
    Problem problem;
    problem.code = "confirmation-needed";
    problem.message = fmt::format(
        "{} changes the player and asks first, but standard input "
        "is not a terminal to ask on.",
        destruction.command);
    problem.cause = summary;
    const std::string confirm =
        "the command again with --yes to confirm, or with --dry-run to see what it would do.";
    problem.action =
        destruction.backupHint.empty()
            ? "Run " + confirm
            : "Back the volume up first (`" + destruction.backupHint + "`), then run " + confirm;
    problem.exitCode = kExitUsage;
    throw ToolError(std::move(problem));
  }
  {
    std::lock_guard<std::mutex> lock(terminalMutex_);
    ClearBarLocked();
    std::fprintf(stderr, "%s\n", summary.c_str());
    if (!destruction.backupHint.empty())
      std::fprintf(stderr, "Back the volume up first with `%s`.\n", destruction.backupHint.c_str());
    std::fprintf(stderr, "Continue? [y/N] ");
    std::fflush(stderr);
  }
  std::string answer;
  std::getline(std::cin, answer);
  for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back())))
    answer.pop_back();
  if (answer == "y" || answer == "yes") return;
  Fail("cancelled", "Cancelled: nothing was changed.", {},
       "Run the command again and answer y to go ahead.");
}

void Console::ClearBarLocked() {
  if (!barDrawn_) return;
  std::fputs("\r\033[K", stderr);
  barDrawn_ = false;
}

}  // namespace orvik::tool
