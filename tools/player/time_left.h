// The time a step still needs, from how fast it has gone so far.  Every
// long step of the library and of the tool moves its percentage in
// proportion to what it has sent or read (pages, blocks), so the rate so
// far is the rate to come; the estimate is given only once a fifth of the
// step is done and half a second has passed, when that rate is steady
// (earlier, the step's first exchanges and the first poll dominate).
//
// The percentage moves in steps (a block at a time) and is looked at
// between them, so the rate is taken where it last moved, and the time
// since then counts as already spent on the next piece: otherwise, near a
// step's end, the figure would stand still between moves while the time
// really left runs out.  A move is seen at the first look after it, which
// on a busy machine can come late: when moves are rarer than looks (the
// look before saw none), the move is taken to have happened half way
// between that look and the one before, since a late look would otherwise
// put the move, and so the end, too late by the whole delay; when every
// look sees one, several moves came since and the last was just now.
#pragma once

#include <chrono>
#include <optional>

namespace orvik::tool {

class TimeLeftEstimate {
 public:
  using Clock = std::chrono::steady_clock;

  explicit TimeLeftEstimate(Clock::time_point start = Clock::now()) : start_(start) {}
  // A new step begins.
  void Restart(Clock::time_point start = Clock::now()) {
    start_ = start;
    movedAt_ = start;
    lastLook_ = start;
    lastLookMoved_ = true;
    lastPercent_ = 0.0;
  }
  // Seconds left when the step is at percent at now; nothing while the
  // estimate is not steady yet, or the step is done.  Called with every
  // look at the percentage, in time order.
  std::optional<double> At(double percent, Clock::time_point now = Clock::now());

  static constexpr double kSteadyFromPercent = 20.0;
  static constexpr double kSteadyFromSeconds = 0.5;

 private:
  Clock::time_point start_;
  Clock::time_point movedAt_ = start_;   // when the percentage last changed
  Clock::time_point lastLook_ = start_;  // the look before
  bool lastLookMoved_ = true;            // whether it saw a move (or none was made)
  double lastPercent_ = 0.0;
};

}  // namespace orvik::tool
