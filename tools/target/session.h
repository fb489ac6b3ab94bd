// The player a command works on, opened through the library as a host opens
// it.
//
// By default that is a simulated player kept in a folder: the tool locks the
// folder for the run (one process per player), loads the player (only the
// default folder gets a new one with sensible defaults on first use, saying
// so: a 64 MB flash of type 7 with two factory bad blocks and a 32 MiB card;
// a folder named with --player must hold one), registers it in this
// process under its device object name, opens it with the library, and
// saves it back when the command ends, also after a failure (the player
// keeps what was written, as a real one would).  With --device the
// platform's own device objects are opened instead: the real driver on
// Windows, sockets in $ORVIK_DEVICE_DIR on POSIX (`orvik sim serve`).
// --recovery opens the recovery device object.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "output/console.h"
#include "sim/player.h"

namespace orvik::tool {

struct TargetOptions {
  std::string playerDir;       // the simulated player's folder
  bool device = false;         // use the platform's device objects
  bool recovery = false;       // open the recovery device object
  int instance = -1;           // -1: try instances 0 to 99
  bool defaultFolder = false;  // playerDir is the default, made on first use
  std::string commandLine;     // the command as given (quoted), to suggest it again
};

// The folder used when --player is not given: $ORVIK_PLAYER, else
// $XDG_DATA_HOME/orvik/player, else ~/.local/share/orvik/player.
std::string DefaultPlayerDir();

// The settings of a new player made on first use.
sim::PlayerConfig DefaultPlayerConfig();

// Locks the folder for this run and loads the simulated player in it, then
// plugs it in (a command is a new plug-in: the player's startup check
// decides whether it comes up normally or as its recovery device).  When
// there is none: creates and saves one with DefaultPlayerConfig() if create
// is set (telling the user; a new player is not plugged in), else fails
// with a message that says how to make one.
std::shared_ptr<sim::Player> LoadPlayer(Console& console, const std::string& dir, bool create);

// The target in words, for the first line of a command's output:
// "simulated player in DIR" or "device \\.\TEMBROr0 to 99 (sockets in DIR)".
std::string TargetText(const TargetOptions& options);

class Session {
 public:
  // Opens the target and the library's session (description read, or the
  // recovery object).  Throws ToolError with the likely cause when the
  // device object cannot be opened.
  // announce: name the target on the first line of the output.
  static std::unique_ptr<Session> Open(Console& console, const TargetOptions& options,
                                       bool announce = true);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Releases the drive's buffers, closes the library's session and saves a
  // simulated player.  Throws ToolError when the player cannot be saved.
  void Close();

  bool Simulated() const { return player_ != nullptr; }
  sim::Player* Player() const { return player_.get(); }
  const TargetOptions& Options() const { return options_; }
  // Where the library reads the reservation for this target.
  const std::string& ReservationFile() const { return reservationFile_; }
  // The options that name this target again in a suggested command.
  std::string CommandOptions() const;
  // The same as separate words, for ShellJoin.
  std::vector<std::string> CommandWords() const;
  nlohmann::json Describe() const;

 private:
  Session(Console& console, TargetOptions options);
  void OpenLibrary();

  Console& console_;
  TargetOptions options_;
  std::shared_ptr<sim::Player> player_;
  std::string reservationFile_;
  bool libraryOpen_ = false;
  bool closed_ = false;
};

// The target's reservation file without opening anything.
std::string ReservationFileFor(const TargetOptions& options);

}  // namespace orvik::tool
