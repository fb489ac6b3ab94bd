#include "sim/nand_array.h"

#include <cstring>
#include <stdexcept>

#include "sim/byte_runs.h"

namespace orvik::sim {

NandArray::NandArray(FlashGeometry geometry) : geometry_(geometry) {}

void NandArray::CheckPage(uint32_t page, uint32_t offset, uint32_t length) const {
  if (page >= geometry_.PageCount()) throw std::out_of_range("page outside the flash");
  if (offset > kPageBytes || length > kPageBytes - offset)
    throw std::out_of_range("bytes outside the page");
}

void NandArray::ReadPage(uint32_t page, uint8_t* out) const {
  CheckPage(page, 0, kPageBytes);
  auto found = blocks_.find(page / geometry_.pagesPerBlock);
  if (found == blocks_.end()) {
    std::memset(out, 0xFF, kPageBytes);
    return;
  }
  std::memcpy(out, found->second.data() + (page % geometry_.pagesPerBlock) * kPageBytes,
              kPageBytes);
}

uint8_t* NandArray::MutableBlock(uint32_t block) {
  auto found = blocks_.find(block);
  if (found == blocks_.end())
    found = blocks_.emplace(block, std::vector<uint8_t>(geometry_.pagesPerBlock * kPageBytes, 0xFF))
                .first;
  return found->second.data();
}

void NandArray::ProgramPage(uint32_t page, uint32_t offset, const uint8_t* data, uint32_t length) {
  CheckPage(page, offset, length);
  // Programming all-ones changes nothing: keep erased blocks unstored.
  if (AllBytesAre(data, length, 0xFF)) return;
  uint8_t* target = MutableBlock(page / geometry_.pagesPerBlock) +
                    (page % geometry_.pagesPerBlock) * kPageBytes + offset;
  for (uint32_t i = 0; i < length; ++i) target[i] &= data[i];
}

void NandArray::SetPageBytes(uint32_t page, uint32_t offset, const uint8_t* data, uint32_t length) {
  CheckPage(page, offset, length);
  uint8_t* target = MutableBlock(page / geometry_.pagesPerBlock) +
                    (page % geometry_.pagesPerBlock) * kPageBytes + offset;
  std::memcpy(target, data, length);
}

void NandArray::EraseBlock(uint32_t block) {
  if (block >= geometry_.blockCount) throw std::out_of_range("block outside the flash");
  blocks_.erase(block);
}

bool NandArray::IsBlockErased(uint32_t block) const {
  if (block >= geometry_.blockCount) throw std::out_of_range("block outside the flash");
  auto found = blocks_.find(block);
  if (found == blocks_.end()) return true;
  return AllBytesAre(found->second.data(), found->second.size(), 0xFF);
}

bool NandArray::WriteImage(std::ostream& out) const {
  const std::vector<uint8_t> erased(geometry_.pagesPerBlock * kPageBytes, 0xFF);
  for (uint32_t block = 0; block < geometry_.blockCount && out; ++block) {
    auto found = blocks_.find(block);
    const std::vector<uint8_t>& bytes = found == blocks_.end() ? erased : found->second;
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  return static_cast<bool>(out);
}

bool NandArray::ReadImage(std::istream& in) {
  std::map<uint32_t, std::vector<uint8_t>> blocks;
  std::vector<uint8_t> bytes(geometry_.pagesPerBlock * kPageBytes);
  for (uint32_t block = 0; block < geometry_.blockCount; ++block) {
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (in.gcount() != static_cast<std::streamsize>(bytes.size())) return false;
    if (!AllBytesAre(bytes.data(), bytes.size(), 0xFF)) blocks.emplace(block, bytes);
  }
  if (in.peek() != std::char_traits<char>::eof()) return false;  // longer than the chip
  blocks_ = std::move(blocks);
  return true;
}

}  // namespace orvik::sim
