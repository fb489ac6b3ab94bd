// The replaced heap of the allocation tests.
#include "failing_heap.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace orvik::testing::heap {
namespace {

thread_local bool tArmed = false;
thread_local int tDeviceDepth = 0;
thread_local uint64_t tCounted = 0;
thread_local uint64_t tFailAt = 0;
std::atomic<int64_t> gLive{0};

// True when this allocation is the one to fail.
bool FailThisOne() {
  if (!tArmed || tDeviceDepth > 0) return false;
  return ++tCounted == tFailAt;
}

void* Allocate(std::size_t size) noexcept {
  if (FailThisOne()) return nullptr;
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) gLive.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void Release(void* block) noexcept {
  if (block == nullptr) return;
  gLive.fetch_sub(1, std::memory_order_relaxed);
  std::free(block);
}

}  // namespace

void Arm(uint64_t failAt) {
  tCounted = 0;
  tFailAt = failAt;
  tArmed = true;
}

uint64_t Disarm() {
  tArmed = false;
  return tCounted;
}

int64_t LiveBlocks() { return gLive.load(std::memory_order_relaxed); }

DeviceCode::DeviceCode() { ++tDeviceDepth; }
DeviceCode::~DeviceCode() { --tDeviceDepth; }

}  // namespace orvik::testing::heap

using orvik::testing::heap::Allocate;
using orvik::testing::heap::Release;

void* operator new(std::size_t size) {
  void* block = Allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, std::size_t) noexcept { Release(block); }
void operator delete[](void* block, std::size_t) noexcept { Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Release(block); }
