#include "web/operation_request.h"

namespace orvik::tool::web {
namespace {

std::string TextOption(const nlohmann::json& body, const char* key) {
  if (!body.contains(key) || body[key].is_null()) return {};
  if (!body[key].is_string()) throw BadRequest(std::string(key) + " must be a text");
  return body[key].get<std::string>();
}

bool FlagOption(const nlohmann::json& body, const char* key, bool otherwise) {
  if (!body.contains(key) || body[key].is_null()) return otherwise;
  if (!body[key].is_boolean()) throw BadRequest(std::string(key) + " must be true or false");
  return body[key].get<bool>();
}

}  // namespace

const std::vector<std::string>& OperationNames() {
  static const std::vector<std::string> names = {"update", "fix", "backup", "restore", "reflash"};
  return names;
}

OperationRequest ReadOperationRequest(const std::string& name, const std::string& body) {
  const nlohmann::json options =
      body.empty() ? nlohmann::json::object() : nlohmann::json::parse(body, nullptr, false);
  if (!options.is_object()) throw BadRequest("the body must be a JSON object");
  OperationRequest request;
  request.name = name;
  request.manifest = TextOption(options, "manifest");
  request.file = TextOption(options, "file");
  request.backupFirst = FlagOption(options, "backupFirst", true);
  if ((name == "update" || name == "reflash") && request.manifest.empty())
    throw BadRequest(name +
                     " needs the firmware set: give manifest, the path of its manifest.json");
  if (name == "restore" && request.file.empty())
    throw BadRequest("restore needs file, the backup image to put back");
  return request;
}

}  // namespace orvik::tool::web
