#include "output/console.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace orvik::tool {
namespace {

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

}  // namespace

Console::Console(bool json, ColorMode color, int verbosity)
    : json_(json), verbosity_(verbosity), barAllowed_(isatty(STDERR_FILENO) == 1) {
  switch (color) {
    case ColorMode::kAlways:
      color_ = true;
      break;
    case ColorMode::kNever:
      color_ = false;
      break;
    case ColorMode::kAuto:
      color_ = !json && isatty(STDOUT_FILENO) == 1 && !NoColorRequested();
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

void Console::Field(std::string_view label, std::string_view value, int width) {
  std::string line = "  ";
  line += Paint(Style::kDim, label);
  for (int pad = static_cast<int>(label.size()); pad < width; ++pad) line += ' ';
  line += value;
  Line(line);
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

void Console::ClearBarLocked() {
  if (!barDrawn_) return;
  std::fputs("\r\033[K", stderr);
  barDrawn_ = false;
}

}  // namespace orvik::tool
