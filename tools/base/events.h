// What an operation tells the person it works for while it runs, and what
// it asks them.
//
// The operations of the tool print nothing themselves: they report through
// this interface (lines in the owner's words, facts, steps for -v, warnings,
// the progress of long work with the time left) and ask through it before
// they destroy anything.  A face implements it: the terminal prints and
// draws a bar, the web page turns each call into an event for the browser.
// Every member may be called from the operation's progress thread as well
// as from the thread that runs the operation.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvik::tool {

// How a piece of text is meant: the terminal paints it, the page styles it.
enum class Style { kPlain, kBold, kDim, kGood, kBad, kWarn, kInfo, kAccent, kMagenta };

// How far a long step has got.
struct ProgressUpdate {
  std::string label;                  // the work in words: "Writing firmware"
  double percent = 0.0;               // 0 to 100
  std::optional<double> secondsLeft;  // of this step, once the estimate is steady
  bool done = false;                  // the step ended (as far as it got)
};

// What a destructive step will do, for the question asked before it.
struct Destruction {
  std::string command;      // "orvik reflash", to name it in a refusal
  std::string what;         // "erase the flash and write the firmware and an empty file system"
  std::string lost;         // "every file on the player's volume"
  std::string backupHint;   // the backup command to offer, empty when nothing needs one
  std::string target = {};  // "simulated player in DIR"
  // The backup already made of what is lost ("" when none): a face names
  // it beside the question.
  std::string backupMade = {};
};

class Events {
 public:
  virtual ~Events() = default;

  // One line of the operation's account, in the owner's words.
  virtual void Line(std::string_view text = {}) = 0;
  // A "label  value" fact of a description.
  virtual void Field(std::string_view label, std::string_view value, int width = 16);
  // One step of the work, for those who asked to see each (-v).
  virtual void Step(std::string_view text) = 0;
  virtual void Warn(std::string_view text) = 0;
  // The text marked with a style (unchanged where styles are not shown).
  virtual std::string Paint(Style style, std::string_view text) const = 0;
  // True when the steps are shown (the simulated player's exchanges are
  // traced only then).
  virtual bool Verbose() const = 0;

  virtual void Progress(const ProgressUpdate& update) = 0;

  // Asks before a destructive step.  Returns when the person agreed; throws
  // ToolError "cancelled" when they did not, or "confirmation-needed"
  // (exit code 64) when there is nobody to ask.
  virtual void Confirm(const Destruction& destruction) = 0;
};

// Events passed on to another unchanged; a wrapper that changes how one of
// them is answered (the question, mostly) overrides only that one.
class ForwardedEvents : public Events {
 public:
  explicit ForwardedEvents(Events& inner) : inner_(inner) {}
  void Line(std::string_view text = {}) override { inner_.Line(text); }
  void Field(std::string_view label, std::string_view value, int width = 16) override {
    inner_.Field(label, value, width);
  }
  void Step(std::string_view text) override { inner_.Step(text); }
  void Warn(std::string_view text) override { inner_.Warn(text); }
  std::string Paint(Style style, std::string_view text) const override {
    return inner_.Paint(style, text);
  }
  bool Verbose() const override { return inner_.Verbose(); }
  void Progress(const ProgressUpdate& update) override { inner_.Progress(update); }
  void Confirm(const Destruction& destruction) override { inner_.Confirm(destruction); }

 protected:
  Events& inner() { return inner_; }

 private:
  Events& inner_;
};

}  // namespace orvik::tool
