// A player kept in a folder: nand.bin (every page as 512 data bytes then its
// 16 spare bytes, in page order), mmc.bin (the raw card image) and
// player.json (the settings).  Each file is written beside its place and
// renamed over it, so a run that is cut off leaves a readable player; each
// is checked before it is read (player_folder.h).
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/firmware.h"
#include "sim/player.h"
#include "sim/player_folder.h"
#include "sim/player_json.h"
#include "sim/player_state.h"

namespace orvik::sim {

namespace fs = std::filesystem;

namespace {

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

// Writes path through path.tmp; write returns false (with *error) on failure.
template <typename Writer>
bool WriteReplacing(const fs::path& path, std::string* error, Writer write) {
  fs::path temporary = path;
  temporary += ".tmp";
  if (!write(temporary, error)) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return false;
  }
  std::error_code code;
  fs::rename(temporary, path, code);
  if (code) return Fail(error, "cannot rename " + temporary.string() + ": " + code.message());
  return true;
}

std::string CanonicalDir(const std::string& dir) {
  std::error_code code;
  fs::path canonical = fs::weakly_canonical(dir, code);
  return code ? dir : canonical.string();
}

}  // namespace

class PlayerStorage {
 public:
  static bool Save(const Player& player, const std::string& dir, std::string* error) {
    std::lock_guard<std::mutex> guard(player.mutex_);
    const PlayerState& state = *player.state_;
    std::error_code code;
    fs::create_directories(dir, code);
    if (code) return Fail(error, "cannot create " + dir + ": " + code.message());
    fs::path folder(dir);
    std::string canonical = CanonicalDir(dir);
    bool imagesCurrent = player.cleanDir_ == canonical &&
                         player.cleanChangeCount_ == state.changeCount &&
                         fs::exists(folder / kNandFile);
    if (!imagesCurrent || !fs::exists(folder / kNandFile)) {
      bool written =
          WriteReplacing(folder / kNandFile, error, [&](const fs::path& path, std::string* why) {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            if (!state.nand.WriteImage(out)) return Fail(why, "cannot write " + path.string());
            out.close();
            return out ? true : Fail(why, "cannot write " + path.string());
          });
      if (!written) return false;
    }
    if (state.card.ImageBlocks() > 0) {
      if (!imagesCurrent || !fs::exists(folder / kCardFile)) {
        bool written =
            WriteReplacing(folder / kCardFile, error, [&](const fs::path& path, std::string* why) {
              return state.card.SaveImage(path.string(), why);
            });
        if (!written) return false;
      }
    } else {
      fs::remove(folder / kCardFile, code);
    }
    std::string settings = PlayerConfigToJson(player.ConfigLocked());
    bool written =
        WriteReplacing(folder / kSettingsFile, error, [&](const fs::path& path, std::string* why) {
          std::ofstream out(path, std::ios::trunc);
          out << settings;
          out.close();
          return out ? true : Fail(why, "cannot write " + path.string());
        });
    if (!written) return false;
    player.cleanDir_ = canonical;
    player.cleanChangeCount_ = state.changeCount;
    return true;
  }

  static std::shared_ptr<Player> Load(const std::string& dir, std::string* error) {
    fs::path folder(dir);
    std::error_code code;
    if (!fs::exists(fs::symlink_status(folder / kSettingsFile, code))) {
      Fail(error, "no player in " + dir + " (" + kSettingsFile + " missing)");
      return nullptr;
    }
    std::string text;
    PlayerConfig config;
    if (!ReadSettingsFile(dir, &text, error) || !PlayerConfigFromJson(text, &config, error))
      return nullptr;
    auto state = std::make_unique<PlayerState>(config);
    if (!LoadImages(folder, config, *state, error)) return nullptr;
    std::shared_ptr<Player> player(new Player(std::move(state)));
    player->cleanDir_ = CanonicalDir(dir);
    player->cleanChangeCount_ = 0;
    return player;
  }

 private:
  // nand.bin and (for a card) mmc.bin, each checked to be a regular file of
  // exactly the size the settings give before it is opened.
  static bool LoadImages(const fs::path& folder, const PlayerConfig& config, PlayerState& state,
                         std::string* error) {
    const FlashGeometry geometry = state.nand.Geometry();
    const FileSize nandSize{uint64_t{geometry.PageCount()} * kPageBytes, 0,
                            "a type " + std::to_string(config.flashType) + " flash (" +
                                std::to_string(geometry.blockCount) + " blocks of " +
                                std::to_string(geometry.pagesPerBlock) + " pages of " +
                                std::to_string(kPageBytes) + " bytes)"};
    if (std::string problem = FolderFileProblem(folder / kNandFile, nandSize); !problem.empty())
      return Fail(error, problem);
    std::ifstream nand(folder / kNandFile, std::ios::binary);
    if (!nand || !state.nand.ReadImage(nand))
      return Fail(error, (folder / kNandFile).string() + " cannot be read");
    const uint32_t cardBlocks = state.card.ImageBlocks();
    if (cardBlocks == 0) return true;
    const FileSize cardSize{uint64_t{cardBlocks} * kCardBlockBytes, 0,
                            "a card of " + std::to_string(cardBlocks) + " blocks"};
    if (std::string problem = FolderFileProblem(folder / kCardFile, cardSize); !problem.empty())
      return Fail(error, problem);
    return state.card.LoadImage((folder / kCardFile).string(), error);
  }
};

bool Player::Save(const std::string& dir, std::string* error) const {
  return PlayerStorage::Save(*this, dir, error);
}

std::shared_ptr<Player> Player::Load(const std::string& dir, std::string* error) {
  return PlayerStorage::Load(dir, error);
}

}  // namespace orvik::sim
