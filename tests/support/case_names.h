// Names of parametrised test cases taken from their descriptions.
#pragma once

#include <cctype>
#include <string>

namespace orvik::testing {

// "update without a scan" -> "update_without_a_scan": what gtest accepts in
// a test name.
inline std::string CaseName(std::string text) {
  for (char& c : text)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return text;
}

// For INSTANTIATE_TEST_SUITE_P over records with a `name` field.
struct NameOfCase {
  template <typename Info>
  std::string operator()(const Info& info) const {
    return CaseName(info.param.name);
  }
};

}  // namespace orvik::testing
