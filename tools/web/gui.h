// orvik gui: the owner's local web page.
//
// Serves the page on 127.0.0.1 (a free port unless one is given), prints
// its address with this run's token, opens the browser, and serves until
// Ctrl-C; an operation running then stops after its running step, as on
// the terminal.  The page reads the player and starts operations through
// the routes of router.h, each run as the terminal runs it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "app/operation.h"

namespace orvik::tool::web {

struct GuiOptions {
  uint16_t port = 0;       // 0: a free port
  bool noBrowser = false;  // only print the address
  std::string assets;      // serve the page from this folder instead of the embedded one
  std::string manifest;    // the firmware set the page starts with
  std::chrono::milliseconds answerTime = std::chrono::minutes(10);  // for a question
};

int RunGui(OperationContext& context, const GuiOptions& options);

// 32 bytes from the strong random source, as 64 hex digits.
std::string NewAccessToken();

}  // namespace orvik::tool::web
