// Where the tool's words go.
//
// Human output is written to standard output line by line; with --json it is
// dropped, and main prints one JSON document instead, so standard output
// holds nothing else.  Steps (-v), warnings and the progress bar go to
// standard error.  Colours follow the terminal: on when standard output is a
// terminal and NO_COLOR is unset or empty, unless --color says otherwise.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace orvik::tool {

enum class ColorMode { kAuto, kAlways, kNever };

enum class Style { kPlain, kBold, kDim, kGood, kBad, kWarn, kInfo, kAccent, kMagenta };

class Console {
 public:
  Console(bool json, ColorMode color, int verbosity);

  bool Json() const { return json_; }
  bool Verbose() const { return verbosity_ > 0; }
  bool Colored() const { return color_; }
  // True when a live progress bar may be drawn (standard error is a terminal).
  bool BarAllowed() const { return barAllowed_; }

  // One line of human output (nothing with --json).
  void Line(std::string_view text = {});
  // "label   value" with the label padded, for descriptions.
  void Field(std::string_view label, std::string_view value, int width = 16);
  // One step of the work, shown with -v on standard error.
  void Step(std::string_view text);
  // A warning on standard error (also with --json: it does not touch stdout).
  void Warn(std::string_view text);

  // The text in a style, or unchanged without colours.
  std::string Paint(Style style, std::string_view text) const;

  // Serialises everything written to the terminal (the progress thread draws
  // while the main thread may log steps).
  std::mutex& TerminalMutex() { return terminalMutex_; }
  // Set by the progress bar while a bar line is drawn: other writers to
  // standard error clear it first.
  void SetBarDrawn(bool drawn) { barDrawn_ = drawn; }

 private:
  void ClearBarLocked();

  bool json_;
  bool color_;
  int verbosity_;
  bool barAllowed_;
  bool barDrawn_ = false;
  std::mutex terminalMutex_;
};

}  // namespace orvik::tool
