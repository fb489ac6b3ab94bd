// What the page asks an operation to do: POST /api/operations/NAME with a
// JSON body of its options, read into one plain record.
#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvik::tool::web {

struct OperationRequest {
  std::string name;         // update, fix, backup, restore, reflash
  std::string manifest;     // the firmware set (update, reflash: needed; fix: when it writes)
  std::string file;         // backup: the image to write; restore: the image to read;
                            // reflash: where the backup first goes ("" : a new name)
  bool backupFirst = true;  // reflash: back the files up first and put them back after
};

// The operations the page can start.
const std::vector<std::string>& OperationNames();

// A request the page should not have sent (a missing manifest, a wrong
// type): answered 400 with the message.
class BadRequest : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the options of operation name (one of OperationNames()) from the
// request's JSON body; throws BadRequest.
OperationRequest ReadOperationRequest(const std::string& name, const std::string& body);

}  // namespace orvik::tool::web
