// Environment variables of the tool's process.
#include "target/environment.h"

#include <cstdlib>

namespace orvik::tool {

void SetProcessEnvironment(const std::string& name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value.c_str());
#else
  setenv(name.c_str(), value.c_str(), 1);
#endif
}

}  // namespace orvik::tool
