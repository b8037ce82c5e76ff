#include "Dependencies.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Model/CoreTypes.h"
#include "Model/Localization.h"

namespace talvian::Dependencies {

namespace {

// The usual install folders of a development machine, in the order they are tried.
const char* const kInstallFolders[] = {"/usr/local/bin", "/usr/bin"};

bool isExecutableFile(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    return ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}

}  // namespace

bool usesBundledTools() {
#if defined(TALVIAN_PACKAGED) && TALVIAN_PACKAGED
    return true;
#else
    return false;
#endif
}

std::vector<std::filesystem::path> searchList(const std::string& name, const std::filesystem::path& resources,
                                              bool bundled) {
    std::vector<std::filesystem::path> candidates;
    std::error_code error;
    if (!resources.empty() && std::filesystem::is_directory(resources, error))
        candidates.push_back(resources / "bin" / name);
    if (!bundled)
        for (const char* folder : kInstallFolders) candidates.push_back(std::filesystem::path(folder) / name);
    return candidates;
}

std::optional<std::filesystem::path> find(const std::string& name) {
    return find(name, resourcesFolder(), usesBundledTools());
}

std::optional<std::filesystem::path> find(const std::string& name, const std::filesystem::path& resources,
                                          bool bundled) {
    for (const auto& candidate : searchList(name, resources, bundled))
        if (isExecutableFile(candidate)) return candidate;
    return std::nullopt;
}

std::filesystem::path require(const std::string& name) {
    return require(name, resourcesFolder(), usesBundledTools());
}

std::filesystem::path require(const std::string& name, const std::filesystem::path& resources, bool bundled) {
    if (auto found = find(name, resources, bundled)) return *found;
    if (bundled)
        throw MediaError(L("应用内的处理组件 %@ 缺失或不可执行。请重新下载完整的 Talvian 应用。", name));
    throw MediaError(L("缺少本地处理组件 %@。请运行项目中的 setup.sh 后重新打开。", name));
}

}  // namespace talvian::Dependencies
