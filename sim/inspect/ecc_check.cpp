// The ECC check of the data pages.
#include "sim/inspect/ecc_check.h"

#include <algorithm>
#include <sstream>

namespace orvik::sim::inspect {

uint64_t EccReport::Count(EccVerdict verdict) const {
  return static_cast<uint64_t>(
      std::count_if(findings.begin(), findings.end(),
                    [verdict](const EccFinding& f) { return f.check.verdict == verdict; }));
}

void CheckPage(uint8_t* rawPage, uint32_t block, uint32_t page, std::vector<EccFinding>& findings) {
  const uint8_t* spare = rawPage + kPageDataBytes;
  const uint32_t codeAt[2] = {kSpareEccLow, kSpareEccHigh};
  for (uint32_t half = 0; half < 2; ++half) {
    EccCheck check = CheckEcc256(rawPage + half * 256, spare + codeAt[half]);
    if (check.verdict != EccVerdict::kClean) findings.push_back({block, page, half, check});
  }
}

EccReport CheckDataPages(const Player& player, const BlockMap& map) {
  EccReport report;
  for (uint32_t block = 0; block < map.blocks.size(); ++block) {
    const BlockRole role = map.blocks[block].role;
    if (role != BlockRole::kCis && role != BlockRole::kLogical) continue;
    for (uint32_t page = 0; page < map.pagesPerBlock; ++page) {
      RawPage raw = player.ReadPage(block * map.pagesPerBlock + page);
      if (PageIsErased(raw.data())) continue;
      ++report.pagesChecked;
      CheckPage(raw.data(), block, page, report.findings);
    }
  }
  return report;
}

EccReport CheckDataPages(const Player& player) { return CheckDataPages(player, MapBlocks(player)); }

const char* EccVerdictName(EccVerdict verdict) {
  switch (verdict) {
    case EccVerdict::kClean:
      return "clean";
    case EccVerdict::kCorrected:
      return "one data bit wrong (correctable)";
    case EccVerdict::kCodeBitWrong:
      return "one code bit wrong";
    case EccVerdict::kUncorrectable:
      return "uncorrectable";
  }
  return "?";
}

std::string DescribeEccReport(const EccReport& report) {
  std::ostringstream out;
  out << report.pagesChecked << " data pages checked, " << report.findings.size()
      << " halves with errors\n";
  for (const EccFinding& f : report.findings) {
    out << "  block " << f.block << " page " << f.page << " bytes "
        << (f.half == 0 ? "0-255" : "256-511") << ": " << EccVerdictName(f.check.verdict);
    if (f.check.verdict == EccVerdict::kCorrected)
      out << " at byte " << f.half * 256 + f.check.byte << " bit " << f.check.bit;
    out << "\n";
  }
  return out.str();
}

}  // namespace orvik::sim::inspect
