// orvik info: what the player says about itself.
#include <fmt/format.h>

#include "app/firmware_condition.h"
#include "app/operations.h"
#include "base/tool_error.h"
#include "player/device_queries.h"
#include "player/media_runner.h"
#include "player/reservation_plan.h"
#include "target/reservation_config.h"

namespace orvik::tool {
namespace {

void ShowDevice(Events& console, const DeviceFacts& device) {
  console.Line(console.Paint(Style::kBold, "Device"));
  Style statusStyle = device.status == DEVICE_STATUS_NORMAL ? Style::kGood : Style::kWarn;
  console.Field("status", console.Paint(statusStyle, DeviceStatusText(device.status)) +
                              fmt::format(" ({})", static_cast<int>(device.status)));
  console.Field("version", device.deviceVersion ? Hex(*device.deviceVersion, 4) : "no answer");
  std::optional<uint32_t> dcc = device.DescriptionValue(1);
  console.Field("DCC version",
                dcc ? Hex(*dcc, 3) : (device.descriptionRead ? "not given" : "no answer"));
  console.Field("chip", fmt::format("model {}, identifier {} (vendor {}, model code {})",
                                    device.chipModel, Hex(device.chipId, 8),
                                    Hex(device.chipId >> 16, 4), Hex(device.chipId & 0xFFFF, 4)));
  console.Field("power", device.power ? Hex(*device.power, 6) : "no answer");
  if (device.userData)
    console.Field(
        "host record",
        fmt::format("owner {}, format status {} ({}), blocking {}", device.userData->ownerFlag,
                    device.userData->formatStatus,
                    device.userData->formatStatus == 1 ? "formatted" : "not marked formatted",
                    device.userData->blockingFlag));
}

void ShowFlash(Events& console, const FlashFacts& flash) {
  console.Line(console.Paint(Style::kBold, "Flash"));
  if (!flash.answered) {
    console.Field("type", console.Paint(Style::kBad, "no answer to the flash identification"));
    return;
  }
  if (!flash.Known()) {
    console.Field("type", console.Paint(Style::kBad, "unknown (36): no usable flash recognised"));
    return;
  }
  console.Field("type", std::to_string(flash.type));
  console.Field("geometry",
                fmt::format("{} blocks of {} pages (512 + 16 bytes), {} KB per block",
                            flash.blockCount, flash.pagesPerBlock, flash.BlockBytes() / 1024));
  console.Field("capacity", fmt::format("{}, {} logical blocks", MegaBytes(flash.DataBytes()),
                                        flash.logicalBlockCount));
}

void ShowCard(Events& console, const CardFacts& card) {
  console.Line(console.Paint(Style::kBold, "Card"));
  if (!card.detected) {
    console.Field("slot", card.detectStatus != 0
                              ? fmt::format("empty (card status {})", Hex(card.detectStatus, 2))
                              : std::string("empty, or the player did not answer"));
    return;
  }
  ShowCardDetails(console, card);
}

// Without a configured reservation the system area is judged against the
// one the flash was laid out with (a read-only scan tells it).
uint32_t LaidOutKiloBytesGuess(MediaRunner& media) {
  const ScanFacts scan = media.Scan();
  return static_cast<uint32_t>(uint64_t{scan.systemBlockCount} * media.FlashType().BlockBytes() /
                               1024);
}

void ShowCondition(OperationContext& context, const Session& session,
                   const std::optional<FirmwareCondition>& condition) {
  Events& console = context.events;
  const bool normal = session.StartedNormally();
  context.result["condition"] = {
      {"starts", normal ? "normally" : "recovery"},
      {"firmwareWhole", condition ? nlohmann::json(condition->Whole()) : nlohmann::json()},
      {"trouble",
       condition && !condition->Whole() ? nlohmann::json(condition->Trouble()) : nlohmann::json()}};
  console.Line(console.Paint(Style::kBold, "Condition"));
  console.Field("starts",
                normal ? "normally" : "only in recovery mode (its firmware does not start)");
  if (!condition) return;
  if (condition->Whole())
    console.Field("firmware", "whole, as far as a quick look tells (`orvik check` looks at all)");
  else
    console.Field("firmware", console.Paint(Style::kWarn, "not whole: " + condition->Trouble()) +
                                  " (`orvik check` tells more, `orvik fix` repairs it)");
}

// A quick look at the firmware, worded as `orvik check` words it: a
// player whose firmware is not whole is never described as fine.
std::optional<FirmwareCondition> QuickLookAtFirmware(OperationContext& context, Session& session,
                                                     const FlashFacts& flash,
                                                     const ReservationSetting& reservation) {
  if (!flash.Known()) return std::nullopt;
  MediaRunner media(context.events, session, context.settings.commandLine);
  RunReservation scoped(reservation.kiloBytes ? 0 : LaidOutKiloBytesGuess(media),
                        session.ReservationFile());
  media.Scan();
  return LookAtFirmware(session, media.FlashType());
}

nlohmann::json ReservationJson(const ReservationSetting& reservation, const FlashFacts& flash) {
  nlohmann::json out = {{"file", reservation.location}, {"kiloBytes", KiloBytesJson(reservation)}};
  if (reservation.kiloBytes && flash.Known())
    out["blocks"] = ReservedBlocks(*reservation.kiloBytes, flash.BlockBytes());
  return out;
}

void ShowReservation(Events& console, const ReservationSetting& reservation,
                     const FlashFacts& flash) {
  console.Line(console.Paint(Style::kBold, "Reservation"));
  if (reservation.kiloBytes)
    console.Field("reserved",
                  fmt::format("{} KB{} ({})", *reservation.kiloBytes,
                              flash.Known() ? fmt::format(" = {} blocks",
                                                          ReservedBlocks(*reservation.kiloBytes,
                                                                         flash.BlockBytes()))
                                            : std::string(),
                              reservation.location));
  else
    console.Field("reserved", "none configured (" + reservation.location + ")");
}

}  // namespace

int RunInfo(OperationContext& context, uint8_t cardDrive) {
  std::unique_ptr<Session> session = context.OpenTarget();
  DeviceFacts device = QueryDevice(context.events);
  FlashFacts flash = QueryFlash(context.events);
  CardFacts card = QueryCard(context.events, cardDrive, true);
  ReservationSetting reservation = ReadReservation(session->ReservationFile());
  const std::optional<FirmwareCondition> condition =
      QuickLookAtFirmware(context, *session, flash, reservation);
  session->Close();

  context.result["device"] = ToJson(device);
  context.result["flash"] = ToJson(flash);
  context.result["card"] = ToJson(card);
  context.result["reservation"] = ReservationJson(reservation, flash);

  Events& console = context.events;
  if (!flash.answered && !device.deviceVersion)
    Fail("no-answer", "The player opened but does not answer.",
         "It was unplugged or lost power while opening, or its driver stopped responding.",
         "Reconnect the player and run the command again.");
  ShowDevice(console, device);
  ShowFlash(console, flash);
  ShowCard(console, card);
  ShowCondition(context, *session, condition);
  ShowReservation(console, reservation, flash);
  return kExitDone;
}

}  // namespace orvik::tool
