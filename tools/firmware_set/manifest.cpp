#include "firmware_set/manifest.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "base/tool_error.h"
#include "firmware_set/crypto.h"
#include "firmware_set/firmware_check.h"
#include "firmware_set/set_checksums.h"
#include "firmware_set/set_paths.h"
#include "firmware_set/set_signature.h"
#include "host/host_internals.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr uint8_t kFirstRefusedTag = 0xFB;  // markers of 0xFB..0xFF collide with block states

[[noreturn]] void Bad(const std::string& manifest, const std::string& field,
                      const std::string& problem) {
  Problem failure;
  failure.code = "manifest";
  failure.message = field.empty() ? fmt::format("{}: {}", manifest, problem)
                                  : fmt::format("{}: {}: {}", manifest, field, problem);
  failure.cause = "The firmware set's manifest is not what the tool expects.";
  failure.action =
      "Correct the manifest (see the README's \"Firmware sets\") and run the command "
      "again.";
  failure.details = {{"manifest", manifest}, {"field", field}, {"problem", problem}};
  throw ToolError(std::move(failure));
}

std::vector<uint8_t> ReadWholeFile(const std::string& manifest, const std::string& field,
                                   const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error || !fs::exists(status))
    Bad(manifest, field, fmt::format("{} cannot be read ({})", path, std::strerror(ENOENT)));
  if (fs::is_directory(status)) Bad(manifest, field, path + " is a folder, not a file");
  if (!fs::is_regular_file(status))
    Bad(manifest, field,
        path + " is not a regular file (a pipe, socket or device): firmware is read from files");
  const uint64_t size = fs::file_size(path, error);
  // No file larger than the largest flash's data can be written to any
  // player (the player's own flash is checked once it is known).
  if (!error && size > host::LargestFlashBytes())
    Bad(manifest, field,
        fmt::format("{} is {} bytes, larger than the largest flash ({} bytes)", path, size,
                    host::LargestFlashBytes()));
  std::ifstream in(path, std::ios::binary);
  if (!in) Bad(manifest, field, fmt::format("{} cannot be read ({})", path, std::strerror(errno)));
  std::vector<uint8_t> bytes(static_cast<size_t>(error ? 0 : size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (static_cast<uint64_t>(in.gcount()) != bytes.size() || in.peek() != EOF)
    Bad(manifest, field, path + " changed while it was read");
  return bytes;
}

// Line and column of a byte offset, for JSON syntax errors.
std::string Position(const std::string& text, size_t offset) {
  size_t line = 1, column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return fmt::format("line {}, column {}", line, column);
}

void RefuseUnknownFields(const std::string& manifest, const std::string& where, const json& object,
                         const std::set<std::string>& known) {
  for (const auto& [key, value] : object.items()) {
    if (known.count(key)) continue;
    std::string list;
    for (const std::string& name : known) list += (list.empty() ? "" : ", ") + name;
    Bad(manifest, where.empty() ? key : where + "." + key,
        "unknown field (the fields are: " + list + ")");
  }
}

bool IsLoadType(uint8_t type) { return type == '1'; }

// An S-record text holds at least one S1 record; a binary read as S-record
// text would convert to a firmware without code.
bool HoldsLoadRecord(const std::vector<uint8_t>& text) {
  for (size_t at = host::FindSRecord(text, 0, IsLoadType); at < text.size();
       at = host::FindSRecord(text, at + 1, IsLoadType))
    if (at == 0 || text[at - 1] == '\n') return true;  // "S1" inside binary bytes is no record
  return false;
}

// Refuses an object that names one key twice: JSON readers disagree on
// which one counts, so the set would not mean one thing.
json ParseRefusingDuplicates(const std::string& manifest, const std::string& text) {
  std::vector<std::set<std::string>> keys;
  std::string duplicate;
  json::parser_callback_t watch = [&](int, json::parse_event_t event, json& parsed) {
    if (event == json::parse_event_t::object_start) keys.emplace_back();
    if (event == json::parse_event_t::object_end && !keys.empty()) keys.pop_back();
    if (event == json::parse_event_t::key && !keys.empty() &&
        !keys.back().insert(parsed.get<std::string>()).second && duplicate.empty())
      duplicate = parsed.get<std::string>();
    return true;
  };
  json document = json::parse(text, watch);
  if (!duplicate.empty())
    Bad(manifest, duplicate, "is given twice in one object; give each field once");
  return document;
}

uint8_t ParseTag(const std::string& manifest, const std::string& field, const json& value) {
  uint64_t tag = 0;
  if (value.is_string()) {
    std::string text = value.get<std::string>();
    if (text.size() != 1)
      Bad(manifest, field,
          fmt::format("\"{}\" is not one character (a tag is one letter, e.g. "
                      "\"P\", or a number 0..250)",
                      text));
    tag = static_cast<uint8_t>(text[0]);
  } else if (value.is_number_unsigned()) {
    tag = value.get<uint64_t>();
  } else {
    Bad(manifest, field, "must be one character such as \"P\", or a number 0..250");
  }
  if (tag >= kFirstRefusedTag)
    Bad(manifest, field,
        fmt::format("{} cannot be used: tags 251 to 255 (0xFB..0xFF) collide with the block "
                    "states of the block map",
                    tag));
  return static_cast<uint8_t>(tag);
}

uint32_t ParseKind(const std::string& manifest, const std::string& field, const json& value) {
  if (value.is_string()) {
    std::string kind = value.get<std::string>();
    if (kind == "srec") return FILE_KIND_SREC;
    if (kind == "raw") return FILE_KIND_RAW;
    Bad(manifest, field,
        fmt::format("\"{}\" is not a file kind: use \"srec\" (S-record text) or \"raw\"", kind));
  }
  Bad(manifest, field, "must be \"srec\" or \"raw\"");
}

std::string ParsePath(const std::string& manifest, const std::string& field, const json& value) {
  if (!value.is_string() || value.get<std::string>().empty())
    Bad(manifest, field, "must be a file name (relative to the manifest's folder)");
  const std::string path = value.get<std::string>();
  if (const std::string problem = ManifestPathProblem(path); !problem.empty())
    Bad(manifest, field, json(path).dump() + " " + problem);
  return path;
}

// A checksum is compared as lowercase hex, however the set maker wrote it.
std::string ParseSha256(const std::string& manifest, const std::string& field, const json& value) {
  std::string text = value.is_string() ? value.get<std::string>() : std::string();
  bool hex = text.size() == 64;
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    hex = hex && std::isxdigit(static_cast<unsigned char>(c));
  }
  if (!hex)
    Bad(manifest, field,
        "must be the file's SHA-256 as 64 hex digits (`orvik manifest hash` writes it)");
  return text;
}

ManifestFile ParseFile(const std::string& manifest, const fs::path& folder, size_t index,
                       const json& entry) {
  const std::string where = fmt::format("files[{}]", index);
  if (!entry.is_object()) Bad(manifest, where, "must be an object with tag, kind and path");
  RefuseUnknownFields(manifest, where, entry,
                      {"tag", "kind", "path", "prefix", "sha256", "prefixSha256"});
  for (const char* required : {"tag", "kind", "path"})
    if (!entry.contains(required)) Bad(manifest, where + "." + required, "is missing");

  ManifestFile file;
  file.tag = ParseTag(manifest, where + ".tag", entry["tag"]);
  file.kind = ParseKind(manifest, where + ".kind", entry["kind"]);
  file.path = ParsePath(manifest, where + ".path", entry["path"]);
  file.fullPath = (folder / file.path).lexically_normal().string();
  if (entry.contains("sha256"))
    file.sha256 = ParseSha256(manifest, where + ".sha256", entry["sha256"]);
  if (entry.contains("prefix")) {
    file.prefixPath = ParsePath(manifest, where + ".prefix", entry["prefix"]);
    if (file.kind == FILE_KIND_RAW)
      Bad(manifest, where + ".prefix", "raw files take no prefix (only S-record files do)");
    file.prefixFullPath = (folder / file.prefixPath).lexically_normal().string();
  }
  if (entry.contains("prefixSha256")) {
    if (file.prefixPath.empty())
      Bad(manifest, where + ".prefixSha256", "is given, but the file has no prefix");
    file.prefixSha256 = ParseSha256(manifest, where + ".prefixSha256", entry["prefixSha256"]);
  }
  return file;
}

}  // namespace

std::string TagText(uint8_t tag) {
  if (tag >= 0x21 && tag < 0x7F) return std::string(1, static_cast<char>(tag));
  return fmt::format("0x{:02X}", tag);
}

const char* KindText(uint32_t kind) { return kind == FILE_KIND_RAW ? "raw" : "srec"; }

std::vector<uint8_t> ReadManifestBytes(const std::string& path) {
  std::error_code error;
  if (!fs::exists(path, error)) {
    Problem missing;
    missing.code = "manifest";
    missing.message = fmt::format("{}: no such manifest", path);
    missing.cause = "The path does not name a firmware set's manifest.";
    missing.action =
        "Give the manifest.json of a firmware set, e.g. --manifest "
        "samples/firmware/manifest.json.";
    missing.details = {{"manifest", path}, {"field", ""}, {"problem", "no such file"}};
    throw ToolError(std::move(missing));
  }
  return ReadWholeFile(path, "", path);
}

namespace {

json ParseManifestDocument(const std::string& path, std::string_view text) {
  try {
    return ParseRefusingDuplicates(path, std::string(text));
  } catch (const json::parse_error& failure) {
    std::string what = failure.what();
    size_t detail = what.find("parse error");
    Bad(path, "",
        fmt::format("not valid JSON at {} ({})", Position(std::string(text), failure.byte - 1),
                    detail == std::string::npos ? what : what.substr(detail)));
  } catch (const json::out_of_range& failure) {
    // A number past what a double holds ("1E400") is refused by the reader
    // as out of range rather than as a syntax error.
    std::string what = failure.what();
    size_t detail = what.find("number overflow");
    Bad(path, "",
        fmt::format("not valid JSON ({})",
                    detail == std::string::npos ? what : what.substr(detail)));
  }
}

// The set's files, each with its own tag.
std::vector<ManifestFile> ParseFiles(const std::string& path, const json& document) {
  if (!document.contains("files")) Bad(path, "files", "is missing");
  const json& files = document["files"];
  if (!files.is_array()) Bad(path, "files", "must be a list of files");
  if (files.empty()) Bad(path, "files", "lists no file (a set has 1 to 12 files)");
  if (files.size() > MAX_FILES)
    Bad(path, "files",
        fmt::format("lists {} files; a set has at most {}", files.size(), MAX_FILES));

  const fs::path folder = fs::path(path).parent_path();
  std::set<uint8_t> tags;
  std::vector<ManifestFile> parsed;
  for (size_t i = 0; i < files.size(); ++i) {
    ManifestFile file = ParseFile(path, folder, i, files[i]);
    if (!tags.insert(file.tag).second)
      Bad(path, fmt::format("files[{}].tag", i),
          fmt::format("\"{}\" is already the tag of another file; each file needs its own tag",
                      TagText(file.tag)));
    parsed.push_back(std::move(file));
  }
  return parsed;
}

// Where the set goes on the flash: its low-area file and its reservation.
void ParseLayoutFields(const json& document, Manifest& manifest) {
  const std::string& path = manifest.path;
  if (document.contains("lowAreaFile")) {
    const json& low = document["lowAreaFile"];
    if (!low.is_number_unsigned() || low.get<uint64_t>() < 1 ||
        low.get<uint64_t>() > manifest.files.size())
      Bad(path, "lowAreaFile",
          fmt::format("must be the number of one of the files, 1 to {}", manifest.files.size()));
    manifest.lowAreaFile = low.get<uint32_t>();
  }
  if (document.contains("totalKiloBytesReserved")) {
    const json& reserved = document["totalKiloBytesReserved"];
    if (!reserved.is_number_unsigned() || reserved.get<uint64_t>() == 0 ||
        reserved.get<uint64_t>() > 0x3FFFFF)
      Bad(path, "totalKiloBytesReserved",
          "must be a number of kilobytes above 0 (at most 4194303)");
    manifest.totalKiloBytesReserved = reserved.get<uint32_t>();
  }
}

}  // namespace

Manifest ParseManifest(const std::string& path, std::string_view text) {
  Manifest manifest;
  manifest.path = path;
  const json document = ParseManifestDocument(path, text);
  if (!document.is_object()) Bad(path, "", "must hold one JSON object");
  RefuseUnknownFields(path, "", document,
                      {"name", "lowAreaFile", "totalKiloBytesReserved", "files", "players"});

  if (document.contains("name")) {
    if (!document["name"].is_string()) Bad(path, "name", "must be a text");
    manifest.name = document["name"].get<std::string>();
  }
  manifest.files = ParseFiles(path, document);
  ParseLayoutFields(document, manifest);
  if (document.contains("players")) {
    PlayerRequirementsRead players = ParsePlayerRequirements(document["players"]);
    if (!players.requirements)
      Bad(path, players.field.empty() ? "players" : "players." + players.field, players.problem);
    manifest.players = players.requirements;
  }
  return manifest;
}

void ReadManifestFiles(Manifest& manifest) {
  for (size_t i = 0; i < manifest.files.size(); ++i) {
    ManifestFile& file = manifest.files[i];
    const std::string where = fmt::format("files[{}]", i);
    file.content = ReadWholeFile(manifest.path, where + ".path", file.fullPath);
    if (!file.prefixPath.empty())
      file.prefix = ReadWholeFile(manifest.path, where + ".prefix", file.prefixFullPath);
  }
}

void CheckManifestFiles(Manifest& manifest) {
  for (size_t i = 0; i < manifest.files.size(); ++i) {
    const ManifestFile& file = manifest.files[i];
    const std::string where = fmt::format("files[{}]", i);
    if (file.kind == FILE_KIND_SREC && !HoldsLoadRecord(file.content))
      Bad(manifest.path, where + ".kind",
          file.path + " is declared \"srec\" but holds no S1 load record (is it a raw file?)");
    if (file.prefix.size() % 3 != 0)
      Bad(manifest.path, where + ".prefix",
          fmt::format("{} is {} bytes long; a prefix must be a whole number of 3-byte words",
                      file.prefixPath, file.prefix.size()));
  }
  CheckFirmwareFiles(manifest);
}

Manifest LoadManifest(const std::string& path, const TrustOptions& trust) {
  const std::vector<uint8_t> bytes = ReadManifestBytes(path);
  // The signature is checked on the bytes before they are parsed: a set
  // that someone changed is refused as changed, whatever it now says.
  SetTrust checked = CheckSetSignature(path, bytes, trust);
  checked.manifestSha256 = Sha256Hex(bytes);
  Manifest manifest = ParseManifest(
      path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  manifest.trust = checked;
  ReadManifestFiles(manifest);
  // A changed file is refused as changed before its contents are judged.
  CheckSetChecksums(manifest);
  CheckManifestFiles(manifest);
  return manifest;
}

}  // namespace orvik::tool
