// The player's boot loader decides, each time the player is plugged in,
// whether the startup copy in the low system blocks can be started.  It is a
// small loader and does it cheaply: it reads page 0 of the blocks up to the
// CIS block and the three low blocks' pages, and adds up the image's words
// once.  It knows the image format and the block marks, nothing of the
// firmware inside.
//
// What it checks, in order, and why:
//  1. The CIS block: the first block whose page 0 has block status 0xFF and a
//     data status with at most 3 zero bits, the rule of the block status
//     scan.  The host places the system area relative to that block, so the
//     loader must find the same one or it would look where nothing was put.
//  2. The low system blocks: the next three blocks that are not bad (block
//     status neither 0xFF nor 0x00 with the system mark).  Bad blocks in
//     between are passed over, as the full format passes over them.
//  3. Their marks: the system mark on page 0 and the file mark on page 1,
//     with one and the same tag in all three.  A block that a cut update
//     erased and never rewrote has no marks, and a block marked for another
//     file holds no part of this copy.
//  4. Each block's pages are written from the first one up and none comes
//     after an erased one: the update fills a block in page order, so a cut
//     leaves an erased tail in the block it was writing, never a hole.
//  5. The image's end, found from the back: after the image come only pages
//     without data (erased, or carrying nothing but marks), zero padding, and
//     before that the end words FF FF 7F 00 00 00.  The image cannot be
//     walked from the front, since its plain prefix has any length; the end
//     and the checksum are what a loader can find.  The end must lie within
//     the three blocks (the loader reads no further), and no page between
//     the image's first page and its end may be erased (a half-written
//     block followed by an older block's data looks whole from the back).
//  6. The checksum word S in the image's header matches the words: the sum
//     of the plain words plus 512.  Every update and reflash writes it, and
//     it catches a flipped bit as well as pages of two different images.
//
// Not checked: the version words.  They are stored with the file's copy in
// the reserved area (pages 2 to 5 of its first block there), which a loader
// reading three blocks never sees; the startup copy carries none, and a
// whole copy starts whatever version it is.  Nor any ECC: system pages have
// none.
#include "sim/startup_check.h"

#include <array>
#include <bit>
#include <cstdio>

#include "sim/spare_area.h"

namespace orvik::sim {
namespace {

using Page = std::array<uint8_t, kPageBytes>;

constexpr uint8_t kSystemMarkFirst = SYSTEM_MARK & 0xFF;  // 'Q'
constexpr uint8_t kSystemMarkSecond = SYSTEM_MARK >> 8;   // 'V'
constexpr uint32_t kLowBlockCount = 3;
constexpr uint32_t kCisMostZeroBits = 3;
// The image is 24-bit little-endian words: S mod 2, S div 2, the header
// word 256 (bit 23: the first plain word's low bit), then each plain word
// shifted right by one with the next one's low bit in bit 23.
constexpr uint32_t kWordBytes = 3;
constexpr uint32_t kHeaderWords = 3;
constexpr uint32_t kHeaderValue = 256;
constexpr uint32_t kChecksumBias = 512;
constexpr uint32_t kTopBit = 0x800000;
constexpr uint32_t kLowBits = 0x7FFFFF;
constexpr uint32_t kWordMask = 0xFFFFFF;
constexpr uint8_t kEndWords[] = {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00};
constexpr uint32_t kEndBytes = sizeof kEndWords;
constexpr uint32_t kSmallestImage = (kHeaderWords + 2) * kWordBytes;  // the end words alone

const uint8_t* Spare(const Page& page) { return page.data() + kPageDataBytes; }

bool IsErased(const Page& page) {
  for (uint8_t byte : page)
    if (byte != 0xFF) return false;
  return true;
}

bool HoldsNoData(const Page& page) {
  for (uint32_t i = 0; i < kPageDataBytes; ++i)
    if (page[i] != 0xFF) return false;
  return true;
}

bool IsSystemPage(const Page& page) {
  return Spare(page)[kSpareDataStatus] == 0x00 && Spare(page)[kSpareBlockStatus] == 0x00;
}

bool HasSystemMark(const Page& page) {
  return Spare(page)[kSpareAddress1] == kSystemMarkFirst &&
         Spare(page)[kSpareAddress1 + 1] == kSystemMarkSecond;
}

bool IsBad(const Page& first) {
  const uint8_t status = Spare(first)[kSpareBlockStatus];
  return status != 0xFF && !(status == 0x00 && HasSystemMark(first));
}

bool IsCisCandidate(const Page& first) {
  const uint8_t dataStatus = Spare(first)[kSpareDataStatus];
  return Spare(first)[kSpareBlockStatus] == 0xFF &&
         std::popcount(static_cast<uint8_t>(~dataStatus)) <= static_cast<int>(kCisMostZeroBits);
}

std::string TagText(uint8_t tag) {
  char text[16];
  if (tag >= 0x21 && tag <= 0x7E)
    std::snprintf(text, sizeof text, "'%c'", tag);
  else
    std::snprintf(text, sizeof text, "%u", tag);
  return text;
}

uint32_t WordAt(const std::vector<uint8_t>& bytes, uint32_t word) {
  const uint8_t* at = bytes.data() + size_t{word} * kWordBytes;
  return at[0] | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16;
}

class Loader {
 public:
  explicit Loader(const NandArray& nand)
      : nand_(nand), pagesPerBlock_(nand.Geometry().pagesPerBlock) {}

  StartupCheck Run() {
    if (!FindLowBlocks() || !CheckMarks() || !ReadCopy() || !CheckPageOrder() || !FindEnd() ||
        !CheckPagesInside() || !CheckSum())
      return result_;
    result_.whole = true;
    result_.reason = "the startup copy is whole";
    return result_;
  }

 private:
  Page Read(uint32_t block, uint32_t page) const {
    Page bytes;
    nand_.ReadPage(block * pagesPerBlock_ + page, bytes.data());
    return bytes;
  }

  bool Refuse(std::string reason) {
    result_.reason = std::move(reason);
    return false;
  }

  // The flash block and its page of page index i of the copy.
  std::string Where(uint32_t i) const {
    return "page " + std::to_string(i % pagesPerBlock_) + " of block " +
           std::to_string(result_.lowBlocks[i / pagesPerBlock_]);
  }

  bool FindLowBlocks() {
    const uint32_t blockCount = nand_.Geometry().blockCount;
    for (uint32_t block = 0; block < blockCount && !result_.cisBlock; ++block)
      if (IsCisCandidate(Read(block, 0))) result_.cisBlock = block;
    if (!result_.cisBlock) return Refuse("the flash has no CIS block");
    for (uint32_t block = *result_.cisBlock + 1;
         block < blockCount && result_.lowBlocks.size() < kLowBlockCount; ++block)
      if (!IsBad(Read(block, 0))) result_.lowBlocks.push_back(block);
    if (result_.lowBlocks.size() < kLowBlockCount)
      return Refuse("the flash has fewer than three good blocks after its CIS block");
    return true;
  }

  bool CheckMarks() {
    bool anyMarked = false;
    for (uint32_t block : result_.lowBlocks) {
      const Page first = Read(block, 0);
      anyMarked = anyMarked || (IsSystemPage(first) && HasSystemMark(first));
    }
    if (!anyMarked) return Refuse("the low system blocks are not marked");
    std::optional<uint8_t> tag;
    uint32_t tagBlock = 0;
    for (uint32_t block : result_.lowBlocks) {
      const std::string name = "block " + std::to_string(block);
      if (nand_.IsBlockErased(block)) return Refuse(name + " of the startup copy is erased");
      const Page first = Read(block, 0), second = Read(block, 1);
      if (!IsSystemPage(first) || !HasSystemMark(first))
        return Refuse(name + " of the startup copy is not marked as a system block");
      if (!IsSystemPage(second) || Spare(second)[kSpareAddress1] != FILE_MARK)
        return Refuse(name + " of the startup copy has no file mark");
      const uint8_t blockTag = Spare(second)[kSpareAddress1 + 1];
      if (tag && *tag != blockTag)
        return Refuse("the low system blocks carry different file tags (" + TagText(*tag) +
                      " in block " + std::to_string(tagBlock) + ", " + TagText(blockTag) +
                      " in block " + std::to_string(block) + ")");
      if (!tag) tagBlock = block;
      tag = blockTag;
    }
    result_.tag = *tag;
    return true;
  }

  bool ReadCopy() {
    for (uint32_t block : result_.lowBlocks)
      for (uint32_t page = 0; page < pagesPerBlock_; ++page) pages_.push_back(Read(block, page));
    return true;
  }

  bool CheckPageOrder() {
    for (uint32_t start = 0; start < pages_.size(); start += pagesPerBlock_) {
      std::optional<uint32_t> firstErased;
      for (uint32_t i = start; i < start + pagesPerBlock_; ++i) {
        if (IsErased(pages_[i])) {
          if (!firstErased) firstErased = i;
        } else if (firstErased) {
          return Refuse(Where(*firstErased) +
                        " of the startup copy is erased between written pages");
        }
      }
    }
    return true;
  }

  // From the back: pages without data, then zero bytes, then the end words.
  bool FindEnd() {
    uint32_t last = static_cast<uint32_t>(pages_.size());
    while (last > 0 && HoldsNoData(pages_[last - 1])) --last;
    if (last == 0) return Refuse("the low system blocks hold no startup image");
    uint64_t end = uint64_t{last} * kPageDataBytes;  // one past the last data byte
    auto byteAt = [&](uint64_t at) { return pages_[at / kPageDataBytes][at % kPageDataBytes]; };
    while (end > 0 && byteAt(end - 1) == 0x00) --end;
    const uint64_t zeros = uint64_t{last} * kPageDataBytes - end;
    bool marked = zeros >= kEndBytes - kWordBytes && end >= kWordBytes;
    for (uint32_t i = 0; marked && i < kWordBytes; ++i)
      marked = byteAt(end - kWordBytes + i) == kEndWords[i];
    if (!marked) {
      if (last == pages_.size())
        return Refuse("the startup image runs past the third low system block");
      return Refuse("the startup image has no end: its data stop at " + Where(last - 1));
    }
    result_.imageBytes = static_cast<uint32_t>(end + kEndBytes - kWordBytes);
    return true;
  }

  bool CheckPagesInside() {
    const uint32_t lastPage = (result_.imageBytes - 1) / kPageDataBytes;
    for (uint32_t i = 0; i <= lastPage; ++i) {
      if (IsErased(pages_[i])) {
        if (i % pagesPerBlock_ != 0)
          return Refuse("block " + std::to_string(result_.lowBlocks[i / pagesPerBlock_]) +
                        " of the startup copy is half written (erased from page " +
                        std::to_string(i % pagesPerBlock_) + " on)");
        return Refuse(Where(i) + " inside the startup image is erased");
      }
      if (!IsSystemPage(pages_[i]))
        return Refuse(Where(i) + " inside the startup image is not a system page");
    }
    return true;
  }

  bool CheckSum() {
    if (result_.imageBytes % kWordBytes != 0 || result_.imageBytes < kSmallestImage)
      return Refuse("the startup image is not whole 24-bit words");
    std::vector<uint8_t> bytes;
    bytes.reserve(result_.imageBytes);
    for (uint32_t at = 0; at < result_.imageBytes; ++at)
      bytes.push_back(pages_[at / kPageDataBytes][at % kPageDataBytes]);
    const uint32_t words = result_.imageBytes / kWordBytes;
    const uint32_t low = WordAt(bytes, 0), high = WordAt(bytes, 1), header = WordAt(bytes, 2);
    if (low > 1 || high > kLowBits || (header & kLowBits) != kHeaderValue)
      return Refuse("the startup image does not begin with a checksum header");
    // Plain word k is stored shifted in word k + 3; its low bit went into
    // bit 23 of word k + 2.
    uint32_t sum = kChecksumBias;
    for (uint32_t k = 0; k + kHeaderWords < words; ++k) {
      const uint32_t lowBit = WordAt(bytes, k + 2) >> 23;
      sum += ((WordAt(bytes, k + kHeaderWords) & kLowBits) << 1) | lowBit;
    }
    if ((sum & kWordMask) != (high << 1 | low))
      return Refuse("the startup image's checksum does not match");
    return true;
  }

  const NandArray& nand_;
  const uint32_t pagesPerBlock_;
  std::vector<Page> pages_;  // the three low blocks' pages, in order
  StartupCheck result_;
};

}  // namespace

StartupCheck CheckStartupCopy(const NandArray& nand) { return Loader(nand).Run(); }

}  // namespace orvik::sim
