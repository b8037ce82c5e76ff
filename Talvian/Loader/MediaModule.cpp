#include "Loader/MediaModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <future>
#include <mutex>
#include <string>

#include "Model/Localization.h"
#include "Model/UserError.h"
#include "Player/EmptyPlayer.h"

namespace talvian::MediaModule {

namespace fs = std::filesystem;

namespace {

constexpr const char* kEntrySymbol = "talvian_media_module_entry";

struct Loaded {
    const Entry* entry = nullptr;
    std::string failure;  // the loader's words, for the diagnostics
};

Loaded load() {
    Loaded result;
    for (const fs::path& candidate : candidates(executableFolder())) {
        std::error_code error;
        if (!fs::exists(candidate, error)) continue;
        // Never unloaded: players and renders hold its code for the life of the process.
        void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            result.failure += std::string(dlerror()) + "\n";
            continue;
        }
        using EntryFunction = const Entry* (*)();
        auto function = reinterpret_cast<EntryFunction>(dlsym(handle, kEntrySymbol));
        const Entry* entry = function ? function() : nullptr;
        if (entry && entry->version == Entry::kVersion) {
            result.entry = entry;
            return result;
        }
        result.failure += candidate.string() + ": not a media module of this build\n";
    }
    if (result.failure.empty()) result.failure = std::string(kFileName) + " not found";
    return result;
}

const Loaded& loaded() {
    static std::once_flag once;
    static Loaded result;
    std::call_once(once, [] { result = load(); });
    return result;
}

}  // namespace

std::vector<fs::path> candidates(const fs::path& executableFolder) {
    return {executableFolder / kFileName, executableFolder.parent_path() / "lib" / "talvian" / kFileName};
}

const Entry& entry() {
    const Loaded& module = loaded();
    if (!module.entry) throw MediaError(L("缺少媒体组件，请重新安装 Talvian。"), module.failure);
    return *module.entry;
}

void preload() {
    // Started once; a load still running at exit is waited for by the future's destruction.
    static const std::shared_future<void> pending = std::async(std::launch::async, [] { loaded(); }).share();
    (void)pending;
}

// ---- The media entry points, through the module

namespace {

void renderVideo(const fs::path& source, const MediaInfo& info, const std::vector<CutRegion>& kept,
                 const fs::path& workFile, const CancellationToken& cancellation,
                 const ProgressCallback& progress) {
    entry().media.renderVideo(source, info, kept, workFile, cancellation, progress);
}

AuditionTimeline auditionTimeline(const fs::path& source, const AuditionPlan& plan,
                                  const CancellationToken& cancellation) {
    return entry().media.auditionTimeline(source, plan, cancellation);
}

}  // namespace

MediaEntries mediaEntries() {
    return {&renderVideo, &auditionTimeline};
}

// ---- Players

ModulePlayerFactory::~ModulePlayerFactory() = default;

PlayerFactory* ModulePlayerFactory::loaded() {
    if (!factory_ && !failed_) {
        try {
            factory_.reset(entry().makePlayerFactory(settings_));
        } catch (const MediaError&) {
            failed_ = true;
        }
    }
    return factory_.get();
}

std::unique_ptr<Player> ModulePlayerFactory::makeEmptyPlayer() {
    return std::make_unique<EmptyPlayer>();
}

std::unique_ptr<Player> ModulePlayerFactory::makePlayer(const fs::path& file) {
    PlayerFactory* factory = loaded();
    return factory ? factory->makePlayer(file) : std::make_unique<EmptyPlayer>(true);
}

std::unique_ptr<Player> ModulePlayerFactory::makeAuditionPlayer(const AuditionTimeline& timeline) {
    PlayerFactory* factory = loaded();
    return factory ? factory->makeAuditionPlayer(timeline) : std::make_unique<EmptyPlayer>(true);
}

}  // namespace talvian::MediaModule
