#include "WorkPath.h"

#include <sys/stat.h>

#include <cerrno>

#include "Model/FileSystem.h"
#include "Model/Localization.h"

namespace talvian {

WorkPath::~WorkPath() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

WorkPath makeWorkFolder(const std::filesystem::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0) throw fileError(L("创建"), folder, errno);
    return WorkPath(folder);
}

}  // namespace talvian
