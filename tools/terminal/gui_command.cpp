// How `orvik gui` joins the command line: the web face (tools/web) serves
// the owner's page for the target the global options name.
#include <CLI/CLI.hpp>

#include "terminal/commands.h"
#include "web/gui.h"

namespace orvik::tool {

void RegisterGuiCommand(CommandTable& table, CLI::App& app) {
  auto options = table.Hold<web::GuiOptions>();
  CLI::App* gui = table.Add(
      app, "gui", "The player on a local web page: health, versions, block map and actions",
      [options](OperationContext& context) { return web::RunGui(context, *options); });
  gui->add_option("--port", options->port, "port on 127.0.0.1 (default: a free one)")
      ->check(CLI::Range(1, 65535));
  gui->add_flag("--no-browser", options->noBrowser, "only print the page's address");
  gui->add_option("--assets", options->assets,
                  "serve the page's files from this folder (while editing them)");
  gui->add_option("--manifest", options->manifest, "the firmware set the page starts with");
}

}  // namespace orvik::tool
