// What a failed open says about itself in the debug output, as failure lines
// ("orvik: open failed: ..."): every name it tried and why each did not open,
// names that failed for the same reason gathered into one line
// ("\\.\TEMBROr1 to \\.\TEMBROr99: ...").
#pragma once

#include <cstddef>

namespace orvik::transport {

class OpenReport {
 public:
  // One name that did not open, in the order tried.
  void NameFailed(const char* name, const char* reason);
  // The device object opened but the session could not be set up.
  void SessionFailed(const char* name, const char* reason);
  // The report as it stands; "" when nothing failed.
  const char* Text();

 private:
  // Adds "orvik: open failed: <first>[ to <last>]: <reason>" as a line.
  void AddLine(const char* first, const char* last, const char* reason);
  void EndRun();

  char text_[2048] = {};
  size_t used_ = 0;
  char runFirst_[64] = {};
  char runLast_[64] = {};
  char runReason_[256] = {};
  int runLength_ = 0;
};

}  // namespace orvik::transport
