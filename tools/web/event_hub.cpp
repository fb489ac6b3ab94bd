#include "web/event_hub.h"

namespace orvik::tool::web {

uint64_t EventHub::Publish(const std::string& type, nlohmann::json data) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back({++lastId_, type, std::move(data)});
  while (events_.size() > kept_) events_.pop_front();
  return lastId_;
}

void EventHub::BeginOperation() {
  std::lock_guard<std::mutex> lock(mutex_);
  running_ = true;
  operationStart_ = lastId_;
}

void EventHub::EndOperation() {
  std::lock_guard<std::mutex> lock(mutex_);
  running_ = false;
}

std::vector<WebEvent> EventHub::Since(uint64_t after) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<WebEvent> out;
  for (const WebEvent& event : events_)
    if (event.id > after) out.push_back(event);
  return out;
}

uint64_t EventHub::StreamStart() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_ ? operationStart_ : lastId_;
}

std::string EventStreamText(const WebEvent& event) {
  // dump() escapes every line break, so the data is one line as the
  // stream's format needs.
  return "id: " + std::to_string(event.id) + "\nevent: " + event.type +
         "\ndata: " + event.data.dump() + "\n\n";
}

}  // namespace orvik::tool::web
