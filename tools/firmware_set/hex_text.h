// Bytes as lowercase hexadecimal text and back, as the key, signature and
// manifest files write them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvik::tool {

std::string ToHex(std::span<const uint8_t> bytes);

// The bytes of an even-length text of hex digits (either case); nullopt
// for anything else.
std::optional<std::vector<uint8_t>> FromHex(std::string_view text);

}  // namespace orvik::tool
