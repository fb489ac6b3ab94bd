// orvik: inspect, update and format a player (real or simulated) through
// the Orvik library.
#include "terminal/command_line.h"

int main(int argc, char** argv) { return orvik::tool::RunCommandLine(argc, argv); }
