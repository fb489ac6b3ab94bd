// orvik-sim: the simulator's own name for `orvik sim`.  `orvik-sim ARGS`
// runs `orvik sim ARGS`, so that the simulated players have one command
// line, whichever name starts it.
#include <vector>

#include "terminal/command_line.h"

int main(int argc, char** argv) {
  std::vector<const char*> args = {"orvik", "sim"};
  args.insert(args.end(), argv + 1, argv + argc);
  return orvik::tool::RunCommandLine(static_cast<int>(args.size()), args.data());
}
