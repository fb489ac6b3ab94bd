#include "web/http_message.h"

namespace orvik::tool::web {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string HttpRequest::Header(const std::string& lowerCaseName) const {
  auto found = headers.find(lowerCaseName);
  return found == headers.end() ? std::string() : found->second;
}

std::string HttpRequest::Path() const { return target.substr(0, target.find('?')); }

std::string HttpRequest::Query(const std::string& name) const {
  const size_t mark = target.find('?');
  if (mark == std::string::npos) return {};
  const std::string query = target.substr(mark + 1);
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string pair = query.substr(start, end - start);
    const size_t equals = pair.find('=');
    if (PercentDecode(pair.substr(0, equals)) == name)
      return equals == std::string::npos ? std::string() : PercentDecode(pair.substr(equals + 1));
    start = end + 1;
  }
  return {};
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace orvik::tool::web
