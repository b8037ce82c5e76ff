#pragma once
// The application's service settings (update feed, support and guide links) from
// Resources/Info.json. Nothing here reaches a network; the settings only say what exists.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include <nlohmann/json_fwd.hpp>

namespace talvian {

// Bytes of an Ed25519 public key.
inline constexpr std::size_t kPublicKeyBytes = 32;

// Service settings of the application, each absent unless its key qualifies. Pure.
struct AppServiceConfiguration {
    std::optional<std::string> feedURL;  // "SUFeedURL": an https address with a host
    // "SUPublicEDKey", trimmed: the updates' Ed25519 public key as base64 text; only a text
    // that decodes to exactly kPublicKeyBytes counts.
    std::optional<std::string> publicKey;
    std::optional<std::string> supportURL;  // "TalvianSupportEmail" as "mailto:<address>"
    std::optional<std::string> guideURL;    // "TalvianGuideURL": an https address with a host

    AppServiceConfiguration() = default;
    // `info` is the Info dictionary; anything but a JSON object counts as empty. Never fails.
    explicit AppServiceConfiguration(const nlohmann::json& info);

    // Both the feed and its signing key are present.
    bool updatesEnabled() const { return feedURL && publicKey; }
    // Calls the factory only when updates are enabled.
    template <class Factory>
    auto makeUpdater(Factory&& factory) const -> std::optional<std::invoke_result_t<Factory>> {
        if (!updatesEnabled()) return std::nullopt;
        return std::forward<Factory>(factory)();
    }
    bool operator==(const AppServiceConfiguration&) const = default;
};

// True for an address with the scheme "https" exactly as written, a non-empty host and only
// characters a URL may hold as written. Pure.
bool isHttpsAddress(std::string_view text);

// The Info dictionary of the application (`resourcesFolder()/Info.json` by default); an
// empty object when the file is missing, unreadable, too large or not a JSON object.
nlohmann::json readInfoDictionary(const std::filesystem::path& path);
nlohmann::json readInfoDictionary();

}  // namespace talvian
