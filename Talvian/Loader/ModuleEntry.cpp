// The media module's entry point: the table of what it offers the application.

#include "Loader/MediaModule.h"
#include "Media/LinkedMediaEntries.h"
#include "Player/MpvPlayer.h"

namespace {

talvian::PlayerFactory* makeFactory(const talvian::MpvSettings& settings) {
    return new talvian::MpvPlayerFactory(settings);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const talvian::MediaModule::Entry*
talvian_media_module_entry() {
    static const talvian::MediaModule::Entry entry{talvian::MediaModule::Entry::kVersion,
                                                   talvian::linkedMediaEntries(), &makeFactory};
    return &entry;
}
