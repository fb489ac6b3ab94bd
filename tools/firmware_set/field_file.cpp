#include "firmware_set/field_file.h"

#include <fmt/format.h>

namespace orvik::tool {
namespace {

struct Line {
  size_t number = 0;
  std::string_view text;
};

// The lines that carry something, without notes, blank trailing lines and
// CR before LF.
std::vector<Line> MeaningfulLines(std::string_view text) {
  std::vector<Line> lines;
  size_t number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && line.front() == '#') continue;
    lines.push_back({number, line});
  }
  while (!lines.empty() && lines.back().text.empty()) lines.pop_back();
  return lines;
}

bool Printable(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) return false;
  return true;
}

}  // namespace

FieldFileRead ReadFieldFile(std::string_view text, std::string_view header,
                            std::initializer_list<std::string_view> names) {
  FieldFileRead read;
  const std::vector<Line> lines = MeaningfulLines(text);
  if (lines.empty()) {
    read.problem = "is empty";
    return read;
  }
  if (lines[0].text != header) {
    read.problem =
        fmt::format("line {}: the file does not start with \"{}\"", lines[0].number, header);
    return read;
  }
  size_t at = 1;
  for (std::string_view name : names) {
    if (at == lines.size()) {
      read.problem =
          fmt::format("ends after line {}, before its \"{}:\" line (the file is cut short)",
                      lines.back().number, name);
      read.values.clear();
      return read;
    }
    const Line& line = lines[at++];
    const std::string prefix = std::string(name) + ": ";
    if (line.text.substr(0, prefix.size()) != prefix) {
      read.problem = fmt::format("line {}: expected the \"{}:\" line", line.number, name);
      read.values.clear();
      return read;
    }
    const std::string_view value = line.text.substr(prefix.size());
    if (!Printable(value)) {
      read.problem =
          fmt::format("line {}: the {} holds a character that is not printable", line.number, name);
      read.values.clear();
      return read;
    }
    read.values.emplace_back(value);
  }
  if (at != lines.size()) {
    read.problem = fmt::format("line {}: unexpected text after the \"{}:\" line", lines[at].number,
                               *(names.end() - 1));
    read.values.clear();
  }
  return read;
}

std::string WriteFieldFile(
    std::string_view header,
    std::initializer_list<std::pair<std::string_view, std::string_view>> fields,
    std::string_view note) {
  std::string text = std::string(header) + "\n";
  if (!note.empty()) text += "# " + std::string(note) + "\n";
  for (const auto& [name, value] : fields) text += fmt::format("{}: {}\n", name, value);
  return text;
}

}  // namespace orvik::tool
