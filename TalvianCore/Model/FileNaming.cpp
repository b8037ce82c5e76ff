#include "FileNaming.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>

#include "Localization.h"
#include "Support/FileSystem.h"
#include "Support/IntegerBounds.h"

namespace talvian {

SourceMetadata SourceMetadata::read(const std::filesystem::path& path) {
    struct stat info {};
    if (::fstatat(AT_FDCWD, path.c_str(), &info, 0) != 0) {
        int code = errno != 0 ? errno : EIO;
        throw std::system_error(code, std::generic_category());
    }
    SourceMetadata metadata;
    metadata.bytes = static_cast<std::int64_t>(info.st_size);
    metadata.modifiedAt = static_cast<double>(info.st_mtim.tv_sec) +
                          static_cast<double>(info.st_mtim.tv_nsec) / 1'000'000'000.0;
    metadata.isRegularFile = (info.st_mode & S_IFMT) == S_IFREG;
    metadata.modifiedSeconds = static_cast<std::int64_t>(info.st_mtim.tv_sec);
    metadata.modifiedNanoseconds = static_cast<std::int64_t>(info.st_mtim.tv_nsec);
    metadata.device = static_cast<std::uint64_t>(info.st_dev);
    metadata.inode = static_cast<std::uint64_t>(info.st_ino);
    return metadata;
}

bool isNamablePath(std::string_view path) {
    if (path.empty() || path.size() >= PATH_MAX || path.find('\0') != std::string_view::npos) return false;
    std::size_t componentStart = 0;
    while (componentStart <= path.size()) {
        std::size_t slash = path.find('/', componentStart);
        if (slash == std::string_view::npos) slash = path.size();
        if (slash - componentStart > NAME_MAX) return false;
        componentStart = slash + 1;
    }
    return true;
}

std::int64_t fileBytes(const std::filesystem::path& path) {
    try {
        return SourceMetadata::read(path).bytes;
    } catch (const std::system_error&) {
        return 0;
    }
}

static std::string lowercased(std::string text) {
    for (auto& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::filesystem::path exportProjectURL(const std::filesystem::path& media) {
    auto extension = media.extension().string();
    if (lowercased(extension) == ".wav") return media.string() + ".quenlo.json";
    auto withoutExtension = media;
    withoutExtension.replace_extension();
    return withoutExtension.string() + ".quenlo.json";
}

// Any directory entry counts, a dangling symbolic link included: the final move never
// replaces anything, so a name that merely looks free would fail only after a whole render.
static bool pathExists(const std::filesystem::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::filesystem::path uniqueOutput(const std::filesystem::path& folder, const std::string& stem,
                                   const std::string& ext, const Cancellation& cancellation) {
    auto candidateFor = [&](const std::string& name) { return folder / (name + "." + ext); };
    auto bareProject = [](const std::filesystem::path& candidate) {
        auto bare = candidate;
        bare.replace_extension();
        return std::filesystem::path(bare.string() + ".quenlo.json");
    };
    auto isReserved = [&](const std::filesystem::path& candidate) {
        const auto project = exportProjectURL(candidate);
        // A NUL would cut every look-up short at the same existing name, and a name too long
        // would look free and fail only after the whole render.
        for (const auto& name : {candidate, project, atomicTemporaryPath(project)})
            if (!isNamablePath(name.native()))
                throw MediaError(L("导出文件名过长或无效，请缩短原片的文件名或换一个输出文件夹。"));
        return pathExists(candidate) || pathExists(project) || pathExists(bareProject(candidate));
    };
    for (long long counter = 1; counter <= kMaximumOutputCandidates; ++counter) {
        cancellation.check();
        auto candidate = candidateFor(counter == 1 ? stem : stem + "-" + std::to_string(counter));
        if (!isReserved(candidate)) return candidate;
    }
    throw MediaError(L("输出文件夹里同名的导出文件太多，请换一个输出文件夹。"));
}

std::string timeLabel(double seconds) {
    if (!std::isfinite(seconds)) return "00:00.0";
    if (seconds < 0) seconds = 0;
    // Past 2^63 seconds no whole count exists; such a time is as meaningless as infinity.
    const auto counted = checkedInteger<long long>(seconds);
    if (!counted) return "00:00.0";
    const long long whole = *counted;
    double remainder = std::fmod(seconds, 60.0);
    char buffer[64];
    if (seconds < 3600) {
        std::snprintf(buffer, sizeof buffer, "%02lld:%04.1f", whole / 60, remainder);
    } else {
        long long hours = whole / 3600;
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%04.1f", hours, whole / 60 - hours * 60, remainder);
    }
    return buffer;
}

}  // namespace talvian
