// An in-process device whose every answer comes from the fuzz input.
//
// Each write, read and control request takes its answer from the input in
// order.  A mode byte says how the request ends:
//   0-3  done: the whole request (read data and control output follow)
//   4    short: the next byte, modulo the request size, is the count
//   5    failed with a general failure
//   6    failed as a device that is gone
//   7    over-long: the request size plus 1 plus the next byte
// Read data and control output are described by segments: a repeat count r
// (0 ends the list), a unit length u and u bytes (u 0: one byte), repeated
// r times; what no segment reaches reads as 0.  An exhausted input answers
// every request as a device that is gone, so every operation ends.
//
// The device also keeps what a target checks against: whether every
// transfer of the operation was answered in full, whether one outside an
// erase exchange failed, and the last control answer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/device_driver.h"

namespace orvik::fuzzing {

class AnswerStream {
 public:
  AnswerStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Exhausted() const { return at_ >= size_; }
  uint8_t Next() { return at_ < size_ ? data_[at_++] : 0; }

  // Fills out (length bytes) from the segments that follow.
  void Fill(uint8_t* out, uint32_t length) {
    if (out != nullptr && length != 0) std::memset(out, 0, length);
    uint32_t filled = 0;
    while (!Exhausted()) {
      uint32_t repeat = Next();
      if (repeat == 0) return;
      uint32_t unit = Next();
      size_t start = at_;
      size_t unitBytes = unit == 0 ? 1 : unit;
      if (size_ - at_ < unitBytes) unitBytes = size_ - at_;
      at_ += unitBytes;
      for (uint32_t n = 0; n < repeat; ++n) {
        for (size_t i = 0; i < unitBytes; ++i) {
          if (out == nullptr || filled >= length) continue;
          out[filled++] = data_[start + i];
        }
      }
    }
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

struct AnswerLog {
  bool allFull = true;              // every transfer answered in full, none failed
  bool failedOutsideErase = false;  // a transfer of no erase exchange did not complete
  uint32_t transfers = 0;
  uint8_t lastReadFirstByte = 0;
  // The last control request's answer.
  uint32_t controlError = 0;
  uint32_t controlCount = 0;
  void Reset() { *this = AnswerLog{}; }
};

class AnswerConnection : public os::DeviceConnection {
 public:
  AnswerConnection(AnswerStream& stream, AnswerLog& log) : stream_(stream), log_(log) {}

  os::DeviceAnswer Write(const uint8_t* data, uint32_t length) override {
    // The flash erase frame (operation 4, flash class) and its status reply
    // form an erase exchange: its failure is recorded as a bad block.
    bool eraseFrame = length == 15 && data != nullptr && data[0] == 0x04 && data[1] == 0x01;
    os::DeviceAnswer answer = Answer(length, nullptr);
    Note(answer, length, eraseFrame);
    lastWriteWasErase_ = eraseFrame;
    return answer;
  }

  os::DeviceAnswer Read(uint8_t* data, uint32_t length) override {
    os::DeviceAnswer answer = Answer(length, data);
    log_.lastReadFirstByte = length != 0 ? data[0] : 0;
    Note(answer, length, lastWriteWasErase_);
    lastWriteWasErase_ = false;
    return answer;
  }

  os::DeviceAnswer Control(uint32_t, const uint8_t*, uint32_t, uint8_t* out,
                           uint32_t outLength) override {
    os::DeviceAnswer answer = Answer(outLength, out);
    log_.controlError = answer.error;
    log_.controlCount = answer.error == 0 ? std::min(answer.count, outLength) : 0;
    return answer;
  }

 private:
  os::DeviceAnswer Answer(uint32_t length, uint8_t* out) {
    if (stream_.Exhausted()) return os::DeviceAnswer::Failed(os::kErrorDeviceNotConnected);
    uint8_t mode = stream_.Next() % 8;
    switch (mode) {
      case 5:
        return os::DeviceAnswer::Failed(os::kErrorGeneralFailure);
      case 6:
        return os::DeviceAnswer::Failed(os::kErrorDeviceNotConnected);
      default:
        break;
    }
    uint32_t count = length;
    if (mode == 4) count = length == 0 ? 0 : stream_.Next() % length;
    if (mode == 7) count = length + 1 + stream_.Next();
    if (out != nullptr) stream_.Fill(out, length);
    return os::DeviceAnswer::Done(count);
  }

  void Note(const os::DeviceAnswer& answer, uint32_t length, bool erase) {
    ++log_.transfers;
    bool full = answer.error == 0 && answer.count == length;
    if (!full) log_.allFull = false;
    if (!full && !erase) log_.failedOutsideErase = true;
  }

  AnswerStream& stream_;
  AnswerLog& log_;
  bool lastWriteWasErase_ = false;
};

class AnswerDriver : public os::DeviceDriver {
 public:
  AnswerDriver(AnswerStream& stream, AnswerLog& log) : stream_(stream), log_(log) {}
  std::unique_ptr<os::DeviceConnection> Open() override {
    return std::make_unique<AnswerConnection>(stream_, log_);
  }

 private:
  AnswerStream& stream_;
  AnswerLog& log_;
};

}  // namespace orvik::fuzzing
