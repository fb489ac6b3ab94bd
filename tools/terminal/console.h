// The terminal face's account of an operation: the tool's Events printed.
//
// Human output is written to standard output line by line; with --json it is
// dropped, and the command line prints one JSON document instead, so
// standard output holds nothing else.  Steps (-v), warnings and the progress
// bar go to standard error.  Colours follow the terminal: on when standard
// output is a terminal and NO_COLOR is unset or empty, unless --color says
// otherwise.  Before a destructive step the question is asked on the
// terminal (--yes answers it in advance; without a terminal the command
// refuses with exit code 64).
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "base/events.h"

namespace orvik::tool {

enum class ColorMode { kAuto, kAlways, kNever };

class Console : public Events {
 public:
  Console(bool json, ColorMode color, int verbosity, bool yes = false);

  bool Json() const { return json_; }
  bool Verbose() const override { return verbosity_ > 0; }
  bool Colored() const { return color_; }
  // True when a live progress bar may be drawn (standard error is a terminal).
  bool BarAllowed() const { return barAllowed_; }

  void Line(std::string_view text = {}) override;
  void Step(std::string_view text) override;
  void Warn(std::string_view text) override;
  std::string Paint(Style style, std::string_view text) const override;
  // On a terminal a bar redrawn in place on standard error, fitted to its
  // width; otherwise each step named once on a line of its own.
  void Progress(const ProgressUpdate& update) override;
  void Confirm(const Destruction& destruction) override;

 private:
  void ClearBarLocked();

  bool json_;
  bool color_;
  int verbosity_;
  bool yes_;
  bool barAllowed_;
  bool barDrawn_ = false;
  std::string namedStep_;  // the step last named on a line of its own
  int lastWhole_ = -1;     // the bar's percentage last drawn
  long lastSecondsLeft_ = -1;
  std::mutex terminalMutex_;
};

// "  Writing firmware   [#######-----------]  38%  1:20 left", at most
// `columns` wide.
std::string FormatBar(const ProgressUpdate& update, int columns);

}  // namespace orvik::tool
