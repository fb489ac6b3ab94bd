// Setting an environment variable of the tool's own process, which the
// library then reads (ORVIK_DEBUG, ORVIK_REGISTRY).
#pragma once

#include <string>

namespace orvik::tool {

void SetProcessEnvironment(const std::string& name, const std::string& value);

}  // namespace orvik::tool
