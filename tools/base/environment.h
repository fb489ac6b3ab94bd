// The tool's settings that come from environment variables.
#pragma once

#include <string>

namespace orvik::tool {

// The variable's value; empty when it is not set.
std::string EnvironmentValue(const char* name);

}  // namespace orvik::tool
