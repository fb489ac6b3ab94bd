// The card register exports: detect, status word, CID, OCR, CSD, and
// programming the CSD.  They take no lock: their callers serialise them.
#include <cstring>

#include "mmc/mmc_frame.h"
#include "orvik/orvik.h"
#include "platform/trace.h"
#include "protocol/byte_order.h"
#include "transport/session.h"

using namespace orvik::mmc;
namespace protocol = orvik::protocol;

namespace {

// The failure lines of the register commands: the step, the card drive and
// the cause (the transfer's, or the status the card reported).
void TraceExchangeFailure(const char* step, uint8_t drive) {
  orvik::os::TraceFailure("card %s on drive %u: the exchange failed: %s", step, drive,
                          orvik::transport::LastFailureCause());
}

void TraceCardStatus(const char* step, uint8_t drive, uint8_t status) {
  orvik::os::TraceFailure("card %s on drive %u: the card reported status 0x%02X", step, drive,
                          status);
}

// Exchanges a six-byte register frame.  Returns the reply when the card
// completed the command; a card failure leaves its status byte in *status.
bool ReadRegisterReply(const char* step, uint8_t code, uint8_t drive, uint8_t* reply,
                       uint32_t replyLength, unsigned char* cardStatus) {
  if (cardStatus != nullptr) *cardStatus = 0;
  uint8_t frame[kMmcFrameHeaderLength];
  BuildMmcFrame(frame, code, drive);
  if (!MmcExchange(frame, sizeof frame, reply, replyLength)) {
    TraceExchangeFailure(step, drive);
    return false;
  }
  if (cardStatus != nullptr) *cardStatus = reply[0];
  if (reply[0] == 0) return true;
  TraceCardStatus(step, drive, reply[0]);
  return false;
}

}  // namespace

extern "C" {

ORVIK_API int ORVIK_CALL OrvikMMCDetectMedia(unsigned char drive, ORVIK_ULONG* capacityBlocks,
                                             unsigned char* cardStatus,
                                             unsigned char* cardAttribute,
                                             unsigned char* eraseGroupBlocks) {
  uint32_t capacity = 0;
  uint8_t attribute = 0;
  uint8_t eraseGroup = DEFAULT_ERASE_GROUP_BLOCKS;
  uint8_t reply[15] = {};
  bool detected =
      ReadRegisterReply("detect", CMD_MMC_DETECT_MEDIA, drive, reply, sizeof reply, cardStatus);
  if (detected) {
    capacity = protocol::GetLittleEndian32(&reply[3]);
    attribute = reply[9];
    eraseGroup = reply[12];
  }
  // The outputs are stored on every path: a failed detect reads 0, 0, 32.
  if (capacityBlocks != nullptr) *capacityBlocks = capacity;
  if (cardAttribute != nullptr) *cardAttribute = attribute;
  if (eraseGroupBlocks != nullptr) *eraseGroupBlocks = eraseGroup;
  return detected ? 1 : 0;
}

ORVIK_API int ORVIK_CALL OrvikMMCReadStatus(unsigned char drive, unsigned short* cardStatusWord) {
  uint8_t frame[kMmcFrameHeaderLength];
  BuildMmcFrame(frame, CMD_MMC_READ_STATUS, drive);
  uint8_t reply[3] = {};
  int result = MmcExchange(frame, sizeof frame, reply, sizeof reply) ? 1 : 0;
  if (result == 0) TraceExchangeFailure("status read", drive);
  if (cardStatusWord != nullptr)
    *cardStatusWord = static_cast<unsigned short>(reply[0] | reply[1] << 8);
  return result;
}

ORVIK_API int ORVIK_CALL OrvikMMCReadCID(unsigned char drive, _MMC_CID* cid,
                                         unsigned char* cardStatus) {
  uint8_t reply[21] = {};
  if (!ReadRegisterReply("CID read", CMD_MMC_READ_CID, drive, reply, sizeof reply, cardStatus))
    return 0;
  if (cid != nullptr) std::memcpy(cid->bytes, &reply[3], sizeof cid->bytes);
  return 1;
}

ORVIK_API int ORVIK_CALL OrvikMMCReadOCR(unsigned char drive, ORVIK_ULONG* ocr,
                                         unsigned char* cardStatus) {
  uint8_t reply[9] = {};
  if (!ReadRegisterReply("OCR read", CMD_MMC_READ_OCR, drive, reply, sizeof reply, cardStatus))
    return 0;
  if (ocr != nullptr) *ocr = protocol::GetLittleEndian32(&reply[3]);
  return 1;
}

ORVIK_API int ORVIK_CALL OrvikMMCReadCSD(unsigned char drive, _MMC_CSD* csd,
                                         unsigned char* cardStatus) {
  uint8_t reply[21] = {};
  if (!ReadRegisterReply("CSD read", CMD_MMC_READ_CSD, drive, reply, sizeof reply, cardStatus))
    return 0;
  if (csd != nullptr) std::memcpy(csd->bytes, &reply[3], sizeof csd->bytes);
  return 1;
}

ORVIK_API int ORVIK_CALL OrvikMMCProgramCSD(unsigned char drive, _MMC_CSD* csd,
                                            unsigned char* cardStatus) {
  if (csd == nullptr) {
    orvik::os::TraceFailure("card CSD programming on drive %u: no CSD given", drive);
    return 0;
  }
  if (cardStatus != nullptr) *cardStatus = 0;
  uint8_t frame[24];
  std::memset(frame, 0, sizeof frame);
  BuildMmcFrame(frame, CMD_MMC_PROGRAM_CSD, drive);
  std::memcpy(&frame[6], csd->bytes, sizeof csd->bytes);  // the image exactly as given
  uint8_t reply[3] = {};
  if (!MmcExchange(frame, sizeof frame, reply, sizeof reply)) {
    TraceExchangeFailure("CSD programming", drive);
    return 0;
  }
  if (cardStatus != nullptr) *cardStatus = reply[0];
  if (reply[0] == 0) return 1;
  TraceCardStatus("CSD programming", drive, reply[0]);
  return 0;
}

}  // extern "C"
