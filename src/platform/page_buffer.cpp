// Page-granular buffers.
#include "platform/page_buffer.h"

#include <limits>
#include <utility>

#include "platform/os.h"

namespace orvik::os {

PageBuffer::PageBuffer(PageBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

PageBuffer& PageBuffer::operator=(PageBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

bool PageBuffer::Allocate(uint64_t size) {
  Release();
  if (size == 0 || size > std::numeric_limits<size_t>::max()) return false;
  void* pages = TheOs().AllocatePages(static_cast<size_t>(size));
  if (pages == nullptr) return false;
  data_ = static_cast<uint8_t*>(pages);
  size_ = static_cast<size_t>(size);
  return true;
}

void PageBuffer::Release() {
  if (data_ != nullptr) TheOs().FreePages(data_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace orvik::os
