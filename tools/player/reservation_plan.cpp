#include "player/reservation_plan.h"

#include <fmt/format.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "base/shell_quote.h"
#include "base/tool_error.h"
#include "firmware_set/firmware_check.h"
#include "host/host_internals.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

uint32_t KiloBytesOfBlocks(uint64_t blocks, const host::FlashType& type) {
  return static_cast<uint32_t>(blocks * type.BlockBytes() / 1024);
}

std::string BlocksText(uint64_t blocks, const host::FlashType& type) {
  return fmt::format("{} block{} of {} KB", blocks, blocks == 1 ? "" : "s",
                     type.BlockBytes() / 1024);
}

[[noreturn]] void LargerThanTheFlash(const Manifest& manifest, uint64_t needed,
                                     const host::FlashType& type) {
  Problem problem;
  problem.code = "set-too-large";
  problem.message = fmt::format(
      "The firmware set {} needs {}, more than a flash of type {} can ever reserve "
      "(at most {} KB, {}).",
      manifest.path, BlocksText(needed, type), type.typeIndex,
      KiloBytesOfBlocks(MaxReservableBlocks(type), type),
      BlocksText(MaxReservableBlocks(type), type));
  problem.cause =
      "Besides the CIS block and the low system blocks the flash has no room for this set, "
      "whatever the reservation.";
  problem.action = "Use a firmware set made for this player; nothing was sent to it.";
  problem.details = {{"blocksNeeded", needed}, {"maxBlocks", MaxReservableBlocks(type)}};
  throw ToolError(std::move(problem));
}

// The files must take fewer blocks than the reservation: equality does not
// fit.
uint32_t KiloBytesToHold(uint64_t needed, const host::FlashType& type) {
  return KiloBytesOfBlocks(needed + 1, type);
}

}  // namespace

uint32_t MaxReservableBlocks(const host::FlashType& type) {
  // Everything but the CIS block, the low system blocks and one block for
  // the file system: the library shrinks the volume by the reservation.
  const uint32_t kept = 1 + host::LowSystemBlockCount() + 1;
  return type.blockCount > kept ? type.blockCount - kept : 0;
}

namespace {

nlohmann::json DoesNotFitDetails(uint64_t needed, const ReservationPlan& plan, uint32_t wanted) {
  return {{"blocksNeeded", needed},
          {"reservedKiloBytes", plan.kiloBytes},
          {"reservedBlocks", plan.blocks},
          {"kiloBytesNeeded", wanted}};
}

// The reflash's reservation: --reserve, else the manifest's, else the
// configured one.
void ChooseLayoutReservation(const Manifest& manifest, std::optional<uint32_t> overrideKiloBytes,
                             const ReservationSetting& configured, ReservationPlan& plan) {
  if (overrideKiloBytes) {
    plan.kiloBytes = *overrideKiloBytes;
    plan.source = "option";
  } else if (manifest.totalKiloBytesReserved) {
    plan.kiloBytes = *manifest.totalKiloBytesReserved;
    plan.source = "manifest";
  } else if (configured.kiloBytes) {
    plan.kiloBytes = *configured.kiloBytes;
    plan.source = "configured";
  } else {
    Fail("no-reservation",
         fmt::format("{} names no totalKiloBytesReserved and none is configured in {}.",
                     manifest.path, configured.location),
         "The full reflash needs to know how much flash to reserve for the firmware.",
         "Add totalKiloBytesReserved to the manifest, or pass --reserve KB.");
  }
}

[[noreturn]] void LayoutDoesNotFit(const Manifest& manifest, const ReservationPlan& plan,
                                   uint64_t needed, const ReservationSetting& configured,
                                   const host::FlashType& type, const std::string& targetOptions) {
  const uint32_t wanted = KiloBytesToHold(needed, type);
  Problem problem;
  problem.code = "set-does-not-fit";
  problem.message =
      fmt::format("The firmware set does not fit the reservation: it needs {} and {} KB holds {}.",
                  BlocksText(needed, type), plan.kiloBytes, BlocksText(plan.blocks, type));
  problem.cause = fmt::format(
      "The reservation ({}) must hold more blocks than the files need: {} KB is {} block{} short.",
      plan.source == "option"     ? "--reserve"
      : plan.source == "manifest" ? "the manifest's totalKiloBytesReserved"
                                  : "configured in " + configured.location,
      plan.kiloBytes, needed + 1 - plan.blocks, needed + 1 - plan.blocks == 1 ? "" : "s");
  problem.action = fmt::format(
      "Raise totalKiloBytesReserved in {} to at least {} KB, or run `orvik reflash --manifest {} "
      "--reserve {} {}` for this run only. Nothing was sent to the player.",
      manifest.path, wanted, ShellQuote(manifest.path), wanted, targetOptions);
  problem.details = DoesNotFitDetails(needed, plan, wanted);
  throw ToolError(std::move(problem));
}

[[noreturn]] void UpdateDoesNotFit(const Manifest& manifest, const ReservationPlan& plan,
                                   uint64_t needed, const ReservationSetting& configured,
                                   const host::FlashType& type, const std::string& targetOptions) {
  const uint32_t wanted = KiloBytesToHold(needed, type);
  Problem problem;
  problem.code = "set-does-not-fit";
  problem.message = fmt::format(
      "The firmware set needs {}; the reservation of {} KB ({}) holds {}, so the player cannot "
      "be updated with it.",
      BlocksText(needed, type), plan.kiloBytes,
      plan.source == "configured" ? "configured in " + configured.location
                                  : std::string("the manifest's"),
      BlocksText(plan.blocks, type));
  problem.cause =
      "The system area must hold more blocks than the files need; only the full "
      "reflash lays it out larger, and the full reflash empties the file system.";
  problem.action = fmt::format(
      "Back the player's files up with `orvik backup --output player-backup.img {}`, then run "
      "`orvik reflash --manifest {} --reserve {} {}`.",
      targetOptions, ShellQuote(manifest.path), wanted, targetOptions);
  problem.details = DoesNotFitDetails(needed, plan, wanted);
  throw ToolError(std::move(problem));
}

}  // namespace

ReservationPlan PlanLayoutReservation(const Manifest& manifest,
                                      std::optional<uint32_t> overrideKiloBytes,
                                      const ReservationSetting& configured,
                                      const host::FlashType& type,
                                      const std::string& targetOptions) {
  ReservationPlan plan;
  plan.current = configured.kiloBytes;
  ChooseLayoutReservation(manifest, overrideKiloBytes, configured, plan);
  plan.blocks = ReservedBlocks(plan.kiloBytes, type.BlockBytes());
  const uint64_t needed = BlocksNeeded(manifest, type);
  if (needed + 1 > MaxReservableBlocks(type)) LargerThanTheFlash(manifest, needed, type);
  if (plan.blocks > MaxReservableBlocks(type))
    Fail("usage",
         fmt::format("A reservation of {} KB ({}) is more than a flash of type {} can hold.",
                     plan.kiloBytes, BlocksText(plan.blocks, type), type.typeIndex),
         {},
         fmt::format("Give at most {} KB with --reserve (or in totalKiloBytesReserved).",
                     KiloBytesOfBlocks(MaxReservableBlocks(type), type)));
  if (needed < plan.blocks) return plan;
  LayoutDoesNotFit(manifest, plan, needed, configured, type, targetOptions);
}

ReservationPlan PlanUpdateReservation(const Manifest& manifest,
                                      const ReservationSetting& configured,
                                      const host::FlashType& type,
                                      const std::string& targetOptions) {
  ReservationPlan plan;
  plan.current = configured.kiloBytes;
  if (configured.kiloBytes) {
    plan.kiloBytes = *configured.kiloBytes;
    plan.source = "configured";
  } else if (manifest.totalKiloBytesReserved) {
    plan.kiloBytes = *manifest.totalKiloBytesReserved;
    plan.source = "manifest";
  } else {
    Fail("no-reservation",
         fmt::format("No reservation is configured in {} and {} names none.", configured.location,
                     manifest.path),
         "The update must know the reservation the player was laid out with.",
         "Set the value the player was laid out with: orvik reserve, the kilobytes and " +
             targetOptions + ".");
  }
  plan.blocks = ReservedBlocks(plan.kiloBytes, type.BlockBytes());
  const uint64_t needed = BlocksNeeded(manifest, type);
  if (needed + 1 > MaxReservableBlocks(type)) LargerThanTheFlash(manifest, needed, type);
  if (needed < plan.blocks) return plan;
  UpdateDoesNotFit(manifest, plan, needed, configured, type, targetOptions);
}

#ifdef _WIN32
RunReservation::RunReservation(uint32_t, std::string) {}
RunReservation::~RunReservation() = default;
#else
RunReservation::RunReservation(uint32_t kiloBytes, std::string restoreTo)
    : restoreTo_(std::move(restoreTo)) {
  if (kiloBytes == 0) return;
  std::error_code error;
  const fs::path folder = fs::temp_directory_path(error);
  if (error) return;
  file_ = (folder / fmt::format("orvik-run-{}-{}.reg", std::random_device{}(), kiloBytes)).string();
  WriteReservation(file_, kiloBytes);
  UseReservationLocation(file_);
}

RunReservation::~RunReservation() {
  if (file_.empty()) return;
  std::error_code error;
  fs::remove(file_, error);
  UseReservationLocation(restoreTo_);
}
#endif

}  // namespace orvik::tool
