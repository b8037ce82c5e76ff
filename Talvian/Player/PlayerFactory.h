#pragma once
// Makes the players of the preview and of auditions, so that the controller can be run
// against the libmpv player or a scripted one, and hands over the rest of the media layer with
// them: whoever supplies the players also decides how the export and the audition reach the
// media layer (linked into a test or tool, or loaded from the application's module). Main
// thread only.

#include <filesystem>
#include <memory>

#include "Export/MediaEntries.h"
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
    // The media layer's entry points for the export's video render and the audition's timeline,
    // called on background threads; asking for them loads nothing.
    virtual MediaEntries media() const = 0;
};

}  // namespace talvian
