#pragma once
// Makes the players of the preview and of auditions, so that the controller can be run
// against the libmpv player or a scripted one. Main thread only.

#include <filesystem>
#include <memory>

#include "Model/AuditionTimeline.h"
#include "Player/Player.h"

namespace talvian {

class PlayerFactory {
  public:
    virtual ~PlayerFactory() = default;
    // A player without an item: the preview before any source.
    virtual std::unique_ptr<Player> makeEmptyPlayer() = 0;
    // A player for a media file; it starts loading at once, paused at 0.
    virtual std::unique_ptr<Player> makePlayer(const std::filesystem::path& file) = 0;
    // A player for an audition timeline (source ranges back to back, gain ramps applied).
    virtual std::unique_ptr<Player> makeAuditionPlayer(const AuditionTimeline& timeline) = 0;
};

}  // namespace talvian
