#pragma once
// The media layer linked into this program, as the table of entry points that the export and
// the audition take (Export/MediaEntries.h).

#include "Export/MediaEntries.h"

namespace talvian {

// The table of the media layer linked into this program (TalvianMedia; the media module carries
// its own copy). A program that calls it needs FFmpeg's libraries at launch.
MediaEntries linkedMediaEntries();

}  // namespace talvian
