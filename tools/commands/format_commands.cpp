// orvik quick-format, orvik full-format and orvik erase-data.
#include <fmt/format.h>

#include "commands/commands.h"
#include "media/media_runner.h"

namespace orvik::tool {

int RunQuickFormat(CommandContext& context, bool sizeFromRegistry) {
  std::unique_ptr<Session> session = context.OpenTarget();
  MediaRunner media(context, *session);
  const FlashFacts& flash = media.Flash();
  HostFileSet placeholder;
  media.Scan(placeholder);
  media.QuickFormat(sizeFromRegistry);
  ScanFacts scan = media.LastScan();
  session->Close();
  context.result["flash"] = ToJson(flash);
  context.result["cisBlock"] = scan.cisBlock;
  context.result["sizeFromRegistry"] = sizeFromRegistry;
  context.console.Line(context.console.Paint(Style::kGood, "Quick format done") +
                       fmt::format(": an empty file system on the {} flash; the firmware was not "
                                   "touched.",
                                   MegaBytes(flash.DataBytes())));
  return kExitDone;
}

int RunFullFormat(CommandContext& context, const std::string& manifestPath) {
  std::optional<Manifest> manifest;
  if (!manifestPath.empty()) manifest = LoadManifest(manifestPath);
  std::optional<HostFileSet> files;
  if (manifest)
    files.emplace(*manifest);
  else
    files.emplace();
  std::unique_ptr<Session> session = context.OpenTarget();
  MediaRunner media(context, *session);
  const FlashFacts& flash = media.Flash();
  if (manifest) ApplyManifestReservation(context, *session, *manifest, true);
  media.Scan(*files);
  media.FullFormat(*files, manifest.has_value(), manifest ? &*manifest : nullptr);
  session->Close();
  context.result["flash"] = ToJson(flash);
  context.result["firmwareWritten"] = manifest.has_value();
  Console& console = context.console;
  console.Line(console.Paint(Style::kGood, "Full format done") +
               (manifest ? ": flash erased, system area laid out, firmware written."
                         : ": flash erased, system area laid out (no firmware written)."));
  console.Line("The player has no file system yet: run `orvik quick-format " +
               session->CommandOptions() + "` next" +
               (manifest ? "." : ", and write firmware with `orvik update --force --manifest M`."));
  return kExitDone;
}

int RunEraseData(CommandContext& context) {
  std::unique_ptr<Session> session = context.OpenTarget();
  MediaRunner media(context, *session);
  const FlashFacts& flash = media.Flash();
  HostFileSet placeholder;
  ScanFacts before = media.Scan(placeholder);
  media.EraseData();
  session->Close();
  (void)before;
  context.result["flash"] = ToJson(flash);
  context.console.Line(context.console.Paint(Style::kGood, "Data area erased") +
                       ": every good block after the first zone; blocks that failed to erase are "
                       "now marked bad.");
  return kExitDone;
}

}  // namespace orvik::tool
