#include "Base64.h"

#include <openssl/evp.h>

namespace talvian {

std::optional<std::string> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    if (text.empty()) return std::string();
    std::string bytes(text.size() / 4 * 3, '\0');
    const int decoded =
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                        reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (decoded < 0) return std::nullopt;
    // OpenSSL counts the padding as decoded zero bytes.
    const std::size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
    bytes.resize(static_cast<std::size_t>(decoded) - padding);
    // Only the one text that encodes these bytes is accepted: OpenSSL skips surrounding white
    // space and ignores the last character's unused bits, which would let several texts stand
    // for one key.
    std::string again(text.size(), '\0');
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(again.data()),
                    reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    if (again != text) return std::nullopt;
    return bytes;
}

}  // namespace talvian
