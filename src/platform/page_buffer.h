// A zero-filled page-granular buffer from the OS seam that is released when
// its owner goes away, on every path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvik::os {

class PageBuffer {
 public:
  PageBuffer() = default;
  ~PageBuffer() { Release(); }
  PageBuffer(PageBuffer&& other) noexcept;
  PageBuffer& operator=(PageBuffer&& other) noexcept;
  PageBuffer(const PageBuffer&) = delete;
  PageBuffer& operator=(const PageBuffer&) = delete;

  // Releases any buffer held, then takes `size` zero-filled bytes.  False
  // when the allocation fails or the size cannot be addressed; the buffer is
  // empty then.
  bool Allocate(uint64_t size);
  void Release();

  bool empty() const { return data_ == nullptr; }
  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  uint8_t& operator[](size_t index) { return data_[index]; }
  const uint8_t& operator[](size_t index) const { return data_[index]; }
  std::span<uint8_t> bytes() { return {data_, size_}; }
  std::span<const uint8_t> bytes() const { return {data_, size_}; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace orvik::os
