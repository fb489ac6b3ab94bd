// orvik: inspect, update and format a player (real or simulated) through
// the Orvik library.
#include "command_line.h"

int main(int argc, char** argv) { return orvik::tool::RunCommandLine(argc, argv); }
