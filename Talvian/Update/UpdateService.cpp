#include "UpdateService.h"

#include <nlohmann/json.hpp>
#include <utility>

#include "FeedUpdater.h"

namespace talvian {

UpdateService::UpdateService(const nlohmann::json& info, const UpdaterFactory& factory, QObject* parent)
    : QObject(parent) {
    const AppServiceConfiguration configuration(info);
    if (!configuration.updatesEnabled() || !factory) return;
    controller_ = factory(configuration);
    if (!controller_) return;
    // Both values follow whatever the updater reports, whoever changed them.
    connect(controller_.get(), &Updater::canCheckForUpdatesChanged, this, [this](bool value) {
        if (std::exchange(canCheck_, value) != value) emit changed();
    });
    connect(controller_.get(), &Updater::automaticallyChecksForUpdatesChanged, this, [this](bool value) {
        if (std::exchange(automaticChecks_, value) != value) emit changed();
    });
    canCheck_ = controller_->canCheckForUpdates();
    automaticChecks_ = controller_->automaticallyChecksForUpdates();
}

UpdateService::~UpdateService() = default;

std::unique_ptr<OfferingUpdater> UpdateService::makeFeedUpdater(const AppServiceConfiguration& configuration,
                                                                std::shared_ptr<DesktopServices> desktop) {
    if (!configuration.updatesEnabled()) return nullptr;
    FeedUpdater::Options options;
    const auto info = readInfoDictionary();
    if (auto version = info.find("CFBundleShortVersionString"); version != info.end() && version->is_string())
        options.runningVersion = version->get<std::string>();
    options.desktop = std::move(desktop);
    return std::make_unique<FeedUpdater>(configuration, std::move(options));
}

}  // namespace talvian
