// Reading and writing registry export files.
#include "platform/registry_export.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace orvik::os {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

// Files saved by the Windows registry editor are UTF-16LE with a byte-order
// mark; the names and values we look for are ASCII, so keep the low bytes.
std::string NarrowText(std::string_view text) {
  if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
      static_cast<unsigned char>(text[1]) == 0xFE) {
    std::string narrow;
    for (size_t i = 2; i + 1 < text.size(); i += 2) narrow.push_back(text[i]);
    return narrow;
  }
  if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
      static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF)
    return std::string(text.substr(3));
  return std::string(text);
}

// Joins continuation lines (a trailing backslash) and splits the text.
std::vector<std::string> LogicalLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line = Trim(std::string_view(text).substr(start, end - start));
    if (!line.empty() && line.back() == '\\') {
      line.remove_suffix(1);
      current += std::string(line);
    } else {
      current += std::string(line);
      lines.push_back(current);
      current.clear();
    }
    start = end + 1;
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<uint32_t> LittleEndianUpTo4(const std::vector<uint8_t>& bytes) {
  if (bytes.size() > 4) return std::nullopt;  // a 4-byte query fails (more data)
  uint32_t value = 0;
  for (size_t i = 0; i < bytes.size(); ++i) value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
  return value;
}

// The data of one value assignment: dword:, hex:/hex(n): or a quoted string.
// A "-" (deletion) or anything unreadable yields nullopt.
std::optional<uint32_t> ParseData(std::string_view data) {
  data = Trim(data);
  if (data.size() > 6 && EqualNoCase(data.substr(0, 6), "dword:")) {
    std::string_view digits = Trim(data.substr(6));
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    uint32_t value = 0;
    for (char c : digits) {
      int digit = HexDigit(c);
      if (digit < 0) return std::nullopt;
      value = value * 16 + static_cast<uint32_t>(digit);
    }
    return value;
  }
  if (data.size() >= 4 && EqualNoCase(data.substr(0, 3), "hex")) {
    size_t colon = data.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::vector<uint8_t> bytes;
    std::string_view list = data.substr(colon + 1);
    size_t pos = 0;
    while (pos < list.size()) {
      size_t comma = list.find(',', pos);
      if (comma == std::string_view::npos) comma = list.size();
      std::string_view item = Trim(list.substr(pos, comma - pos));
      if (!item.empty()) {
        if (item.size() > 2) return std::nullopt;
        int value = 0;
        for (char c : item) {
          int digit = HexDigit(c);
          if (digit < 0) return std::nullopt;
          value = value * 16 + digit;
        }
        bytes.push_back(static_cast<uint8_t>(value));
      }
      pos = comma + 1;
    }
    return LittleEndianUpTo4(bytes);
  }
  if (data.size() >= 2 && data.front() == '"' && data.back() == '"') {
    std::vector<uint8_t> bytes(data.begin() + 1, data.end() - 1);
    bytes.push_back(0);  // the terminator is part of the stored string
    return LittleEndianUpTo4(bytes);
  }
  return std::nullopt;
}

}  // namespace

std::optional<uint32_t> QueryRegistryExport(std::string_view text, std::string_view keyPath,
                                            std::string_view valueName) {
  std::optional<uint32_t> result;
  bool inKey = false;
  for (const std::string& lineText : LogicalLines(NarrowText(text))) {
    std::string_view line = lineText;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      size_t close = line.rfind(']');
      if (close == std::string_view::npos) {
        inKey = false;
        continue;
      }
      std::string_view name = line.substr(1, close - 1);
      if (!name.empty() && name.front() == '-') {  // the key is deleted
        if (EqualNoCase(name.substr(1), keyPath)) result.reset();
        inKey = false;
        continue;
      }
      inKey = EqualNoCase(name, keyPath);
      continue;
    }
    if (!inKey || line.front() != '"') continue;
    size_t closeQuote = line.find('"', 1);
    if (closeQuote == std::string_view::npos) continue;
    std::string_view name = line.substr(1, closeQuote - 1);
    std::string_view rest = Trim(line.substr(closeQuote + 1));
    if (rest.empty() || rest.front() != '=' || !EqualNoCase(name, valueName)) continue;
    result = ParseData(rest.substr(1));
  }
  return result;
}

std::string FormatReservationExport(uint32_t kilobytes) {
  char value[16];
  std::snprintf(value, sizeof value, "%08x", static_cast<unsigned>(kilobytes));
  return std::string("REGEDIT4\n\n[") + kReservationKey + "]\n\"" + kReservationValue +
         "\"=dword:" + value + "\n";
}

std::string ReservationFilePath(const char* orvikRegistry, const char* xdgConfigHome,
                                const char* home) {
  if (orvikRegistry != nullptr && orvikRegistry[0] != '\0') return orvikRegistry;
  if (xdgConfigHome != nullptr && xdgConfigHome[0] != '\0')
    return std::string(xdgConfigHome) + "/orvik/registry.reg";
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config/orvik/registry.reg";
  return std::string();
}

}  // namespace orvik::os
