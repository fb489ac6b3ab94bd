// The debug report of a failed open.
#include "transport/open_report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace orvik::transport {
namespace {

void Copy(char* to, size_t size, const char* from) {
  std::snprintf(to, size, "%s", from == nullptr ? "" : from);
}

}  // namespace

void OpenReport::AddLine(const char* first, const char* last, const char* reason) {
  if (used_ + 1 >= sizeof text_) return;  // full: the rest is dropped
  int written = last == nullptr
                    ? std::snprintf(text_ + used_, sizeof text_ - used_,
                                    "orvik: open failed: %s: %s\n", first, reason)
                    : std::snprintf(text_ + used_, sizeof text_ - used_,
                                    "orvik: open failed: %s to %s: %s\n", first, last, reason);
  if (written > 0) used_ = std::min(sizeof text_ - 1, used_ + static_cast<size_t>(written));
}

void OpenReport::EndRun() {
  if (runLength_ == 0) return;
  AddLine(runFirst_, runLength_ == 1 ? nullptr : runLast_, runReason_);
  runLength_ = 0;
}

void OpenReport::NameFailed(const char* name, const char* reason) {
  const char* why = reason == nullptr || reason[0] == '\0' ? "did not open" : reason;
  if (runLength_ > 0 && std::strcmp(runReason_, why) == 0) {
    Copy(runLast_, sizeof runLast_, name);
    ++runLength_;
    return;
  }
  EndRun();
  Copy(runFirst_, sizeof runFirst_, name);
  Copy(runLast_, sizeof runLast_, name);
  Copy(runReason_, sizeof runReason_, why);
  runLength_ = 1;
}

void OpenReport::SessionFailed(const char* name, const char* reason) {
  EndRun();
  AddLine(name, nullptr, reason);
}

const char* OpenReport::Text() {
  EndRun();
  return text_;
}

}  // namespace orvik::transport
