// The player a command works on, opened through the library as a host opens
// it.
//
// By default that is the player attached to the computer: the platform's
// own device objects, the real driver on Windows, sockets in
// $ORVIK_DEVICE_DIR on POSIX (`orvik sim serve`).  With --player DIR (or
// $ORVIK_PLAYER) it is a simulated player kept in a folder: the tool locks
// the folder for the run (one process per player), loads the player (the
// folder must hold one: `orvik sim create` makes it), plugs it in (it
// decides how it starts), registers it in this process under its device
// object name, opens it with the library, and saves it back when the
// command ends, also after a failure (the player keeps what was written, as
// a real one would).
//
// The player is looked for as it may appear: its normal device object
// first, then its recovery object (a player whose startup copy is not whole
// appears only as that).  --recovery opens the recovery object only.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/events.h"
#include "sim/player.h"

namespace orvik::tool {

struct TargetOptions {
  std::string playerDir;  // the simulated player's folder (when not device)
  bool device = false;    // use the platform's device objects
  bool recovery = false;  // open the recovery device object only
  int instance = -1;      // -1: try instances 0 to 99
  // --dry-run: a simulated player's folder is not saved back (not even the
  // decision of its plug-in), so that it stays byte for byte as it was.
  bool dryRun = false;
};

// The simulated player's folder named by $ORVIK_PLAYER, or empty.
std::string PlayerFolderFromEnvironment();

// The folder `orvik sim create` uses when none is named: $ORVIK_PLAYER,
// else $XDG_DATA_HOME/orvik/player, else ~/.local/share/orvik/player.
std::string DefaultSimulatedPlayerDir();

// Locks the folder for this run and loads the simulated player in it
// (without plugging it in); fails with a message that says how to make one
// when there is none.
std::shared_ptr<sim::Player> LoadPlayer(Events& console, const std::string& dir);

// The target in words, for the first line of a command's output:
// "simulated player in DIR", or "device TEMBROr0 to TEMBROr99 (sockets in
// DIR)" (on Windows "device \\.\TEMBROr0 to 99").
std::string TargetText(const TargetOptions& options);

class Session {
 public:
  // Opens the target and the library's session (description read, or the
  // recovery object).  Throws ToolError with the likely cause when the
  // device object cannot be opened.
  // announce: name the target on the first line of the output.
  static std::unique_ptr<Session> Open(Events& console, const TargetOptions& options,
                                       bool announce = true);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Releases the drive's buffers, closes the library's session and saves a
  // simulated player.  Throws ToolError when the player cannot be saved.
  void Close();

  bool Simulated() const { return player_ != nullptr; }
  // False when only the recovery device object answered (or --recovery).
  bool StartedNormally() const { return !recoveryOpen_; }
  // The device object that was opened ("\\.\TEMBROr0").
  const std::string& OpenedObject() const { return openedObject_; }
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
  Session(Events& console, TargetOptions options);
  void OpenLibrary();
  // Opens mode's object (instance or 0 to 99); returns the object's name.
  bool OpenObject(bool recovery);
  [[noreturn]] void FailToOpen();

  Events& console_;
  TargetOptions options_;
  std::shared_ptr<sim::Player> player_;
  std::string reservationFile_;
  bool libraryOpen_ = false;
  bool recoveryOpen_ = false;
  std::string openedObject_;
  bool closed_ = false;
};

// The target's reservation file without opening anything.
std::string ReservationFileFor(const TargetOptions& options);

}  // namespace orvik::tool
