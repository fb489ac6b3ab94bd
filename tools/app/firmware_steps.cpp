#include "app/firmware_steps.h"

#include <fmt/format.h>

#include "host/host_internals.h"

namespace orvik::tool {
namespace {

nlohmann::json FilesToWrite(OperationContext& context, const Manifest& manifest,
                            const host::FlashType& type) {
  nlohmann::json files = nlohmann::json::array();
  for (const ManifestFile& file : manifest.files) {
    const uint64_t blocks =
        host::BlockRoundedFileSize(file.lengthToWrite, type) / type.BlockBytes();
    files.push_back({{"tag", TagText(file.tag)},
                     {"path", file.path},
                     {"bytes", file.lengthToWrite},
                     {"blocks", blocks}});
    context.events.Line(fmt::format("  would write file {} ({}): {} bytes in {} block{}",
                                    TagText(file.tag), file.path, file.lengthToWrite, blocks,
                                    blocks == 1 ? "" : "s"));
  }
  return files;
}

nlohmann::json ReservationStep(OperationContext& context, const ReservationPlan& plan) {
  if (plan.NeedsWriting())
    context.events.Line(
        fmt::format("  would set the reservation to {} KB (now {})", plan.kiloBytes,
                    plan.current ? fmt::format("{} KB", *plan.current) : std::string("not set")));
  return {{"kiloBytes", plan.kiloBytes},
          {"blocks", plan.blocks},
          {"source", plan.source},
          {"changes", plan.NeedsWriting()}};
}

}  // namespace

void SayDryRun(OperationContext& context) {
  context.events.Line(context.events.Paint(Style::kBold, "Dry run:") +
                      " nothing that changes the player or its settings is sent or written.");
}

nlohmann::json DescribeUpdatePlan(OperationContext& context, const Manifest& manifest,
                                  const ReservationPlan& plan, const host::FlashType& type) {
  SayDryRun(context);
  nlohmann::json out;
  out["reservation"] = ReservationStep(context, plan);
  out["files"] = FilesToWrite(context, manifest, type);
  out["eraseBlocks"] = nlohmann::json::array();
  context.events.Line("  the file system would not be touched");
  return out;
}

nlohmann::json DescribeLayoutPlan(OperationContext& context, const Manifest* manifest,
                                  const ReservationPlan* plan, const host::FlashType& type,
                                  bool quickFormat, bool eraseData) {
  SayDryRun(context);
  nlohmann::json out;
  context.events.Line(fmt::format(
      "  would erase every good block after the CIS block (of blocks 0 to {}): the files on "
      "the player's volume would be lost",
      type.blockCount - 1));
  out["eraseBlocks"] = {{"from", "after the CIS block"}, {"to", type.blockCount - 1}};
  if (plan != nullptr) {
    out["reservation"] = ReservationStep(context, *plan);
    context.events.Line(
        fmt::format("  would lay out {} system blocks at the top of the flash", plan->blocks));
  }
  out["files"] =
      manifest != nullptr ? FilesToWrite(context, *manifest, type) : nlohmann::json::array();
  out["fileSystem"] = quickFormat;
  if (quickFormat) context.events.Line("  would write an empty file system");
  out["eraseData"] = eraseData;
  if (eraseData) context.events.Line("  would erase the data area after the first zone");
  return out;
}

}  // namespace orvik::tool
