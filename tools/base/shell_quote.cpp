#include "base/shell_quote.h"

#include <string_view>

namespace orvik::tool {
namespace {

bool NeedsNoQuotes(const std::string& word) {
  if (word.empty()) return false;
  constexpr std::string_view kPlain =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./:=@%+,";
  return word.find_first_not_of(kPlain) == std::string::npos;
}

}  // namespace

std::string ShellQuote(const std::string& word) {
  if (NeedsNoQuotes(word)) return word;
#ifdef _WIN32
  // cmd.exe and the C runtime's argument splitter: double quotes, with
  // embedded quotes doubled backslash-escaped.
  std::string quoted = "\"";
  for (char c : word) {
    if (c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
#else
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'')
      quoted += "'\\''";  // close, an escaped quote, reopen
    else
      quoted += c;
  }
  return quoted + "'";
#endif
}

std::string ShellJoin(const std::vector<std::string>& words) {
  std::string line;
  // Appended piece by piece: GCC 12 at -O3 takes `"" + std::string&&` for
  // an overlapping copy (-Wrestrict) and the Release build stops on it.
  for (const std::string& word : words) {
    if (!line.empty()) line += ' ';
    line += ShellQuote(word);
  }
  return line;
}

}  // namespace orvik::tool
