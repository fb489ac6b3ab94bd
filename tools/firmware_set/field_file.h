// The small text files of a set's trust (key files, signature files): a
// first line naming what the file is, then one "name: value" line per
// field, every field once and in a fixed order.  Lines starting with '#'
// are notes for people and are skipped; CRLF line ends are taken as LF.
//
//   orvik manifest signature
//   algorithm: ed25519
//   key-id: 1a2b3c4d5e6f7a8b
//   signature: 0f1e...
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace orvik::tool {

struct FieldFileRead {
  std::vector<std::string> values;  // one per name, in order, when problem is empty
  std::string problem;              // "line 3: ..." when the text is not such a file
};

FieldFileRead ReadFieldFile(std::string_view text, std::string_view header,
                            std::initializer_list<std::string_view> names);

// The text of such a file.
std::string WriteFieldFile(
    std::string_view header,
    std::initializer_list<std::pair<std::string_view, std::string_view>> fields,
    std::string_view note = {});

}  // namespace orvik::tool
