// The NAND array: blockCount x pagesPerBlock raw pages of 528 bytes.
//
// Programming can only clear bits (stored = old AND written), erasing sets a
// whole block to 0xFF.  Only blocks that differ from the erased state take
// memory, so a large mostly-erased chip is cheap.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <memory>
#include <ostream>
#include <vector>

#include "sim/geometry.h"

namespace orvik::sim {

class NandArray {
 public:
  explicit NandArray(FlashGeometry geometry);

  const FlashGeometry& Geometry() const { return geometry_; }

  // Copies the 528 raw bytes of page (0-based over the whole chip).
  void ReadPage(uint32_t page, uint8_t* out) const;
  // Programs bytes [offset, offset + length) of the raw page: AND semantics.
  void ProgramPage(uint32_t page, uint32_t offset, const uint8_t* data, uint32_t length);
  // Replaces bytes of the raw page as they are (for building fixtures and for
  // modelling cells that lose their contents).
  void SetPageBytes(uint32_t page, uint32_t offset, const uint8_t* data, uint32_t length);
  void EraseBlock(uint32_t block);
  bool IsBlockErased(uint32_t block) const;
  // Blocks that hold memory (not all 0xFF as far as the store knows).
  size_t StoredBlockCount() const { return blocks_.size(); }

  // The dump layout: every page as 512 data bytes then 16 spare bytes, in
  // page order.  Reading validates the length and stores only the blocks
  // that are not all 0xFF.
  bool WriteImage(std::ostream& out) const;
  bool ReadImage(std::istream& in);

 private:
  uint8_t* MutableBlock(uint32_t block);
  void CheckPage(uint32_t page, uint32_t offset, uint32_t length) const;

  FlashGeometry geometry_;
  std::map<uint32_t, std::vector<uint8_t>> blocks_;
};

}  // namespace orvik::sim
