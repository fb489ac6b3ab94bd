// The account of the operations the page started, kept for the event
// stream (GET /api/events).
//
// Each event has an id that only grows, a type ("line", "progress",
// "question", "result", ...) and its data.  Every stream reads the events
// after the last id it sent, so a page that reconnects (its EventSource
// sends Last-Event-ID) misses nothing that is still kept; the hub keeps
// the most recent events only, so a long run cannot fill the memory.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace orvik::tool::web {

struct WebEvent {
  uint64_t id = 0;
  std::string type;
  nlohmann::json data;
};

class EventHub {
 public:
  explicit EventHub(size_t kept = 4000) : kept_(kept) {}

  // Adds an event; returns its id.
  uint64_t Publish(const std::string& type, nlohmann::json data);
  // Marks the start of an operation's account: a stream that opens while it
  // runs starts there.
  void BeginOperation();
  void EndOperation();

  // The kept events with an id above after, oldest first.
  std::vector<WebEvent> Since(uint64_t after) const;
  // Where a new stream without a Last-Event-ID starts: at the running
  // operation's start, else after the newest event.
  uint64_t StreamStart() const;

 private:
  mutable std::mutex mutex_;
  std::deque<WebEvent> events_;
  size_t kept_;
  uint64_t lastId_ = 0;
  bool running_ = false;
  uint64_t operationStart_ = 0;  // the id before the running operation's first event
};

// The event as the stream sends it: "id: N\nevent: TYPE\ndata: JSON\n\n".
std::string EventStreamText(const WebEvent& event);

}  // namespace orvik::tool::web
