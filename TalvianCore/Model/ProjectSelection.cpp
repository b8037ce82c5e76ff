#include "ProjectSelection.h"

#include <sys/stat.h>

#include <cerrno>

#include "Model/Localization.h"
#include "Support/FileSystem.h"

namespace fs = std::filesystem;

namespace talvian::ProjectSelection {

namespace {

std::string asciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace

fs::path projectURL(const fs::path& selection) {
    const auto invalidFile = [] { return MediaError(L("请选择剪辑项目 JSON 文件，或完整的交接文件夹。")); };
    if (selection.empty() || !selection.is_absolute()) throw invalidFile();
    struct stat facts {};
    if (::stat(selection.c_str(), &facts) != 0) throw fileError(L("读取"), selection, errno);
    if (S_ISDIR(facts.st_mode)) {
        const fs::path candidate = selection / "review.quenlo.json";
        // A link could lead the package's project anywhere outside the package.
        struct stat entry {};
        if (::lstat(candidate.c_str(), &entry) != 0 || !S_ISREG(entry.st_mode))
            throw MediaError(L(
                "此文件夹内没有有效的 review.quenlo.json。请选择完整的交接文件夹，或直接选择剪辑项目文件。"));
        return candidate;
    }
    if (S_ISREG(facts.st_mode) && asciiLower(selection.extension().string()) == ".json") return selection;
    throw invalidFile();
}

}  // namespace talvian::ProjectSelection
