#include "base/environment.h"

#include <cstdlib>

namespace orvik::tool {

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace orvik::tool
