#include "AppConfiguration.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

#include "AsciiCharacters.h"
#include "Base64.h"
#include "FileSystem.h"
#include "Model/Localization.h"
#include "UnicodeText.h"

namespace talvian {

namespace {

// Info.json is a handful of keys; anything larger is not ours.
constexpr std::size_t kInfoDictionaryLimit = 1 << 20;

// A text value of the Info dictionary, trimmed; absent when missing, not text or empty.
std::optional<std::string> infoText(const nlohmann::json& info, const char* key) {
    if (!info.is_object()) return std::nullopt;
    auto found = info.find(key);
    if (found == info.end() || !found->is_string()) return std::nullopt;
    auto text = trimmed(found->get_ref<const std::string&>());
    if (text.empty()) return std::nullopt;
    return std::string(text);
}

// Characters a URL may hold as written (RFC 3986: unreserved, reserved, percent escapes).
bool isURLCharacter(char c) {
    return isAsciiAlphanumeric(c) ||
           std::string_view("-._~:/?#[]@!$&'()*+,;=%").find(c) != std::string_view::npos;
}

// The text when it is an https address (isHttpsAddress).
std::optional<std::string> httpsAddress(const std::optional<std::string>& text) {
    if (!text || !isHttpsAddress(*text)) return std::nullopt;
    return text;
}

// The key when it decodes to an Ed25519 public key. A key of another length can verify
// nothing, so the build has no updater rather than one that refuses every download.
std::optional<std::string> publicKeyText(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    auto bytes = decodeBase64(*text);
    if (!bytes || bytes->size() != kPublicKeyBytes) return std::nullopt;
    return text;
}

bool isMailLocalCharacter(char c) {
    return isAsciiAlphanumeric(c) ||
           std::string_view(".!#$%&'*+/=?^_`{|}~-").find(c) != std::string_view::npos;
}

// The shape local@domain.tld: a local part of the usual characters, a domain of letters,
// digits, dots and hyphens, and a top-level part of at least two letters.
bool isMailAddress(std::string_view text) {
    auto at = text.find('@');
    if (at == std::string_view::npos || at == 0) return false;
    auto local = text.substr(0, at);
    auto domain = text.substr(at + 1);
    if (!std::all_of(local.begin(), local.end(), isMailLocalCharacter)) return false;
    auto dot = domain.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    auto name = domain.substr(0, dot);
    auto top = domain.substr(dot + 1);
    auto isDomainCharacter = [](char c) { return isAsciiAlphanumeric(c) || c == '.' || c == '-'; };
    return std::all_of(name.begin(), name.end(), isDomainCharacter) && top.size() >= 2 &&
           std::all_of(top.begin(), top.end(), isAsciiLetter);
}

// "mailto:" and the address as the URL's path: characters a path may not hold as written
// ("#", "?", "%" …, allowed in an address) are percent-escaped so the link stays one address.
std::string mailtoURL(std::string_view address) {
    constexpr std::string_view kPathCharacters = "!$&'()*+,-./:;=@_~";
    std::string url = "mailto:";
    for (char c : address) {
        if (isAsciiAlphanumeric(c) || kPathCharacters.find(c) != std::string_view::npos) {
            url.push_back(c);
        } else {
            constexpr char kHex[] = "0123456789ABCDEF";
            auto byte = static_cast<unsigned char>(c);
            url += {'%', kHex[byte >> 4], kHex[byte & 0xF]};
        }
    }
    return url;
}

}  // namespace

bool isHttpsAddress(std::string_view url) {
    constexpr std::string_view kPrefix = "https://";
    if (!url.starts_with(kPrefix)) return false;
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (!isURLCharacter(url[i])) return false;
        if (url[i] == '%' && (i + 2 >= url.size() || !isHexDigit(url[i + 1]) || !isHexDigit(url[i + 2])))
            return false;
    }
    auto authority = url.substr(kPrefix.size());
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    std::string_view host = authority;
    if (host.starts_with('[')) {
        auto close = host.find(']');
        if (close == std::string_view::npos) return false;
        auto port = host.substr(close + 1);
        if (!port.empty() && !port.starts_with(':')) return false;
        host = host.substr(1, close - 1);
    } else if (auto colon = host.find(':'); colon != std::string_view::npos) {
        auto port = host.substr(colon + 1);
        if (!std::all_of(port.begin(), port.end(), isAsciiDigit)) return false;
        host = host.substr(0, colon);
    }
    return !host.empty() && host.find_first_of("[]") == std::string_view::npos;
}

AppServiceConfiguration::AppServiceConfiguration(const nlohmann::json& info)
    : feedURL(httpsAddress(infoText(info, "SUFeedURL"))),
      publicKey(publicKeyText(infoText(info, "SUPublicEDKey"))),
      guideURL(httpsAddress(infoText(info, "TalvianGuideURL"))) {
    if (auto address = infoText(info, "TalvianSupportEmail"); address && isMailAddress(*address))
        supportURL = mailtoURL(*address);
}

nlohmann::json readInfoDictionary(const std::filesystem::path& path) {
    try {
        auto json = nlohmann::json::parse(readFileLimited(path, kInfoDictionaryLimit, ""), nullptr,
                                          /*allow_exceptions=*/false);
        if (json.is_object()) return json;
    } catch (const std::exception&) {
        // A missing or unreadable file is an empty dictionary: every setting stays absent.
    }
    return nlohmann::json::object();
}

nlohmann::json readInfoDictionary() {
    return readInfoDictionary(resourcesFolder() / "Info.json");
}

}  // namespace talvian
