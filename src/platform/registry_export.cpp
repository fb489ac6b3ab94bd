// Reading and writing registry export files.
#include "platform/registry_export.h"

#include <cctype>
#include <cstdio>
#include <cstring>

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

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Up to four bytes, little-endian; more fail as a 4-byte query does.
class FourBytes {
 public:
  bool Add(uint8_t byte) {
    if (count_ == 4) return false;
    value_ |= static_cast<uint32_t>(byte) << (8 * count_++);
    return true;
  }
  uint32_t Value() const { return value_; }

 private:
  uint32_t value_ = 0;
  uint32_t count_ = 0;
};

std::optional<uint32_t> ParseDword(std::string_view digits) {
  digits = Trim(digits);
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (char c : digits) {
    int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return value;
}

std::optional<uint32_t> ParseHexList(std::string_view list) {
  FourBytes bytes;
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
      if (!bytes.Add(static_cast<uint8_t>(value))) return std::nullopt;
    }
    pos = comma + 1;
  }
  return bytes.Value();
}

// The data of one value assignment: dword:, hex:/hex(n): or a quoted string.
// A "-" (deletion) or anything unreadable yields nullopt.
std::optional<uint32_t> ParseData(std::string_view data) {
  data = Trim(data);
  if (data.size() > 6 && EqualNoCase(data.substr(0, 6), "dword:"))
    return ParseDword(data.substr(6));
  if (data.size() >= 4 && EqualNoCase(data.substr(0, 3), "hex")) {
    size_t colon = data.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    return ParseHexList(data.substr(colon + 1));
  }
  if (data.size() >= 2 && data.front() == '"' && data.back() == '"') {
    FourBytes bytes;
    for (char c : data.substr(1, data.size() - 2))
      if (!bytes.Add(static_cast<uint8_t>(c))) return std::nullopt;
    if (!bytes.Add(0)) return std::nullopt;  // the terminator is part of the stored string
    return bytes.Value();
  }
  return std::nullopt;
}

}  // namespace

void RegistryExportReader::Feed(std::string_view bytes) {
  for (char c : bytes) {
    uint64_t at = offset_++;
    if (at < 3) head_[at] = static_cast<uint8_t>(c);
    if (encoding_ == Encoding::kUnknown) {
      // The encoding is known after the first two or three bytes: a UTF-16LE
      // or UTF-8 byte-order mark, or plain text.
      if (at == 1 && head_[0] == 0xFF && head_[1] == 0xFE) {
        encoding_ = Encoding::kWide;
        continue;
      }
      if (at < 2 && (head_[0] == 0xEF || head_[0] == 0xFF)) continue;
      if (at == 2 && head_[0] == 0xEF && head_[1] == 0xBB && head_[2] == 0xBF) {
        encoding_ = Encoding::kNarrow;
        continue;
      }
      encoding_ = Encoding::kNarrow;
      for (uint64_t i = 0; i < at && i < 3; ++i) Take(static_cast<char>(head_[i]));
    }
    // The names and values looked for are ASCII: of UTF-16 text, the low
    // bytes are kept.
    if (encoding_ == Encoding::kWide && at % 2 != 0) continue;
    Take(c);
  }
}

std::optional<uint32_t> RegistryExportReader::Finish() {
  if (encoding_ == Encoding::kUnknown) {
    encoding_ = Encoding::kNarrow;
    for (uint64_t i = 0; i < offset_ && i < 3; ++i) Take(static_cast<char>(head_[i]));
  }
  EndPhysicalLine();
  if (logicalLength_ != 0 || tooLong_) LogicalLine({logical_, logicalLength_});
  return result_;
}

void RegistryExportReader::Take(char c) {
  if (c == '\n') {
    EndPhysicalLine();
    return;
  }
  if (physicalLength_ == kMaxLineBytes) {
    tooLong_ = true;
    return;
  }
  physical_[physicalLength_++] = c;
}

// Joins continuation lines (a trailing backslash) into one logical line.
void RegistryExportReader::EndPhysicalLine() {
  std::string_view line = Trim({physical_, physicalLength_});
  physicalLength_ = 0;
  bool continues = !line.empty() && line.back() == '\\';
  if (continues) line.remove_suffix(1);
  if (logicalLength_ + line.size() > kMaxLineBytes) {
    tooLong_ = true;
  } else {
    std::memcpy(logical_ + logicalLength_, line.data(), line.size());
    logicalLength_ += line.size();
  }
  if (continues) return;
  if (!tooLong_) LogicalLine({logical_, logicalLength_});
  logicalLength_ = 0;
  tooLong_ = false;
}

void RegistryExportReader::LogicalLine(std::string_view line) {
  if (line.empty() || line.front() == ';') return;
  if (line.front() == '[') {
    size_t close = line.rfind(']');
    if (close == std::string_view::npos) {
      inKey_ = false;
      return;
    }
    std::string_view name = line.substr(1, close - 1);
    if (!name.empty() && name.front() == '-') {  // the key is deleted
      if (EqualNoCase(name.substr(1), keyPath_)) result_.reset();
      inKey_ = false;
      return;
    }
    inKey_ = EqualNoCase(name, keyPath_);
    return;
  }
  if (!inKey_ || line.front() != '"') return;
  size_t closeQuote = line.find('"', 1);
  if (closeQuote == std::string_view::npos) return;
  std::string_view name = line.substr(1, closeQuote - 1);
  std::string_view rest = Trim(line.substr(closeQuote + 1));
  if (rest.empty() || rest.front() != '=' || !EqualNoCase(name, valueName_)) return;
  result_ = ParseData(rest.substr(1));
}

std::optional<uint32_t> QueryRegistryExport(std::string_view text, std::string_view keyPath,
                                            std::string_view valueName) {
  RegistryExportReader reader(keyPath, valueName);
  reader.Feed(text);
  return reader.Finish();
}

std::string FormatReservationExport(uint32_t kilobytes) {
  char value[16];
  std::snprintf(value, sizeof value, "%08x", static_cast<unsigned>(kilobytes));
  return std::string("REGEDIT4\n\n[") + kReservationKey + "]\n\"" + kReservationValue +
         "\"=dword:" + value + "\n";
}

bool ReservationFilePath(const char* orvikRegistry, const char* xdgConfigHome, const char* home,
                         char* out, size_t size) {
  int written = -1;
  if (orvikRegistry != nullptr && orvikRegistry[0] != '\0')
    written = std::snprintf(out, size, "%s", orvikRegistry);
  else if (xdgConfigHome != nullptr && xdgConfigHome[0] != '\0')
    written = std::snprintf(out, size, "%s/orvik/registry.reg", xdgConfigHome);
  else if (home != nullptr && home[0] != '\0')
    written = std::snprintf(out, size, "%s/.config/orvik/registry.reg", home);
  return written > 0 && static_cast<size_t>(written) < size;
}

std::string ReservationFilePath(const char* orvikRegistry, const char* xdgConfigHome,
                                const char* home) {
  char path[4096];
  return ReservationFilePath(orvikRegistry, xdgConfigHome, home, path, sizeof path) ? path : "";
}

}  // namespace orvik::os
