#include "UpdateService.h"

#include <utility>

namespace talvian {

UpdateService::UpdateService(QObject* parent)
    : UpdateService(readInfoDictionary(), &makeFeedUpdater, parent) {}

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

// The feed updater is not part of this build yet: no updater, no update items.
std::unique_ptr<Updater> UpdateService::makeFeedUpdater(const AppServiceConfiguration&) {
    return nullptr;
}

}  // namespace talvian
