// The card format and its export.
#include "mmc/card_format.h"

#include <optional>

#include "mmc/card_blocks.h"
#include "mmc/card_layout.h"
#include "orvik/orvik.h"
#include "platform/page_buffer.h"
#include "platform/trace.h"

namespace orvik::mmc {

bool FormatCard(uint8_t drive, uint32_t capacityBlocks, protocol::ProgressTarget& progress) {
  std::optional<CardLayout> layout = PlanCardLayout(capacityBlocks);
  if (!layout) {
    os::TraceFailure("card format: a card of %u blocks holds no FAT volume", capacityBlocks);
    return false;
  }
  os::PageBuffer block;
  if (!block.Allocate(kCardBlockBytes)) {
    os::TraceFailure("card format: no memory for a block");
    return false;
  }

  bool ok = true;
  const uint32_t writes = CardFormatWriteCount(*layout);
  for (uint32_t i = 0; i < writes && ok; ++i) {
    CardWrite write = CardFormatWriteAt(*layout, i);
    BuildCardBlock(*layout, write.content, block.data());
    ok = WriteBlocks(drive, write.block, 1, false, block.data());
  }
  block.Release();
  progress.Store(100.0);
  return ok;
}

}  // namespace orvik::mmc

using namespace orvik;

extern "C" {

// Takes no lock: the host (or the quick format, which holds it) serialises
// card operations.
ORVIK_API int ORVIK_CALL OrvikMMCFormat(unsigned char drive, ORVIK_ULONG capacityBlocks,
                                        double* progress) {
  if (progress == nullptr) {
    os::TraceFailure("card format: no progress pointer given");
    return 0;
  }
  protocol::HostProgress target(progress);
  return mmc::FormatCard(drive, capacityBlocks, target) ? 1 : 0;
}

}  // extern "C"
