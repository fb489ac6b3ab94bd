#include "terminal/commands.h"

namespace orvik::tool {

void RegisterCommands(CommandTable& table, CLI::App& app) {
  RegisterCheckCommands(table, app);
  RegisterInfoCommand(table, app);
  RegisterBlocksCommand(table, app);
  RegisterVersionsCommand(table, app);
  RegisterBackupCommand(table, app);
  RegisterRestoreCommand(table, app);
  RegisterVerifyCommand(table, app);
  RegisterUpdateCommands(table, app);
  RegisterFormatCommands(table, app);
  RegisterCardCommands(table, app);
  RegisterReserveCommand(table, app);
  RegisterManifestCommands(table, app);
  RegisterHistoryCommand(table, app);
  RegisterGuiCommand(table, app);
  RegisterSimCommands(table, app);
}

}  // namespace orvik::tool
