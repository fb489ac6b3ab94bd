// The page's routes: which request does what, and with which answer.
//
//   GET  /                       the page (and its files: /app.js, /style.css)
//   GET  /api/state              target, info and the check's verdict
//   GET  /api/versions           the stored versions against a firmware set
//   GET  /api/blocks             the block map with its counts
//   GET  /api/operation          the running operation and the last one's end
//   GET  /api/events             the event stream (Server-Sent Events)
//   POST /api/operations/NAME    starts update, fix, backup, restore or reflash
//   POST /api/answer             the answer to an operation's question
//
// Every request passes the guard first (request_guard.h); docs/web-api.md
// describes the answers.
#pragma once

#include <string>

#include "web/assets.h"
#include "web/event_hub.h"
#include "web/http_message.h"
#include "web/player_desk.h"
#include "web/question_box.h"
#include "web/request_guard.h"

namespace orvik::tool::web {

struct RouterParts {
  PlayerDesk& desk;
  EventHub& hub;
  QuestionBox& questions;
  const AssetSource& assets;
  GuardRules rules;
  std::string presetManifest;  // orvik gui --manifest: the page starts with it
};

class Router {
 public:
  explicit Router(RouterParts parts) : parts_(std::move(parts)) {}

  // Answers the request; may take as long as a read of the player.
  // Thread-safe: the server calls it from several threads.
  HttpResponse Handle(const HttpRequest& request);

 private:
  HttpResponse Route(const HttpRequest& request);
  HttpResponse Read(const HttpRequest& request, Look what);
  HttpResponse Events(const HttpRequest& request);
  HttpResponse StartOperation(const HttpRequest& request, const std::string& name);
  HttpResponse AnswerQuestion(const HttpRequest& request);
  HttpResponse Asset(const HttpRequest& request);

  RouterParts parts_;
};

}  // namespace orvik::tool::web
