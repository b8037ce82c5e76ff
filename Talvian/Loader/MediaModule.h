#pragma once
// The media module: the FFmpeg-library layer (video render step, audition track reading) and
// the libmpv player, built as one shared module that the application loads on first use
// instead of at launch — those libraries and theirs take longer to load than the whole window
// takes to appear. Tests and tools link the same code directly and never load the module.
//
// The export and the audition never name the media layer's functions: they take its entry
// points as a table (MediaEntries), which the controller gets from its player factory. Tests and
// tools hand over the table of the media layer linked into them; the application hands over the
// one here, whose calls load the module first, with a player factory that does the same.
//
// The module's own references stay inside it; what it uses of the rest of the application
// (the core library, the Player base class) it takes from the executable, which exports it.

#include <filesystem>
#include <memory>
#include <vector>

#include "Export/MediaEntries.h"
#include "Player/MpvPlayer.h"

namespace talvian::MediaModule {

// What the module offers, filled in by the module itself. Bump kVersion with every change of
// this table or of the interfaces it hands out (MediaEntries, PlayerFactory): a module of
// another build is refused.
struct Entry {
    static constexpr int kVersion = 2;
    int version = kVersion;
    // The media layer linked into the module (its linkedMediaEntries()).
    MediaEntries media;
    // A player factory over libmpv; the caller owns it.
    PlayerFactory* (*makePlayerFactory)(const MpvSettings& settings) = nullptr;
};

// The module's file name, and where it is looked for: beside the executable (build tree,
// portable layout), else in ../lib/talvian (the installed layout).
inline constexpr const char* kFileName = "libtalvian-media.so";
std::vector<std::filesystem::path> candidates(const std::filesystem::path& executableFolder);

// Loads the module on first call (any thread; later calls wait for the first) and returns its
// table. Throws MediaError "缺少媒体组件，请重新安装 Talvian。" (the loader's words in
// diagnostics()) when no candidate loads or the module is of another build.
const Entry& entry();
// Starts loading the module on a background thread, so that the first use finds it ready.
void preload();
// The application's media entry points: each call loads the module first (entry(), so a
// module that cannot be loaded makes the call throw entry()'s MediaError), then calls the
// module's own. Getting the table loads nothing. Any thread.
MediaEntries mediaEntries();

// A player factory that makes the empty player itself and every other player through the
// module, loaded when the first source is opened. A module that cannot be loaded gives players
// whose item failed (the preview then says it cannot play the file). Main thread.
class ModulePlayerFactory : public PlayerFactory {
  public:
    explicit ModulePlayerFactory(MpvSettings settings) : settings_(std::move(settings)) {}
    ~ModulePlayerFactory() override;
    std::unique_ptr<Player> makeEmptyPlayer() override;
    std::unique_ptr<Player> makePlayer(const std::filesystem::path& file) override;
    std::unique_ptr<Player> makeAuditionPlayer(const AuditionTimeline& timeline) override;
    // mediaEntries(): the export and the audition load the module when they first need it.
    MediaEntries media() const override { return mediaEntries(); }

  private:
    PlayerFactory* loaded();
    MpvSettings settings_;
    std::unique_ptr<PlayerFactory> factory_;
    bool failed_ = false;
};

}  // namespace talvian::MediaModule

// The module's one exported entry point.
extern "C" const talvian::MediaModule::Entry* talvian_media_module_entry();
