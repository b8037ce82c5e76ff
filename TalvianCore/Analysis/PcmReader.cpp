#include "PcmReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "Model/Localization.h"

namespace talvian {

PcmChunkReader::PcmChunkReader(const std::filesystem::path& path, std::size_t chunkBytes,
                               const Cancellation& cancellation)
    : path_(path), cancellation_(cancellation), fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (!fd_) throw fileError(L("读取"), path_, errno);
    buffer_.resize(chunkBytes > 0 ? chunkBytes : 1);
}

std::span<const std::byte> PcmChunkReader::next() {
    // Fill the whole chunk unless the file ends first, so that a short read never splits a
    // frame that a later read would complete.
    std::size_t filled = 0;
    while (filled < buffer_.size()) {
        ssize_t n = ::read(fd_.get(), buffer_.data() + filled, buffer_.size() - filled);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw fileError(L("读取"), path_, errno);
        }
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    if (filled > 0) cancellation_.check();
    return {buffer_.data(), filled};
}

}  // namespace talvian
