#pragma once
// What the user opened as a project (a review-project file or a hand-off folder), and the
// recovery card that an open which failed because of its source leaves behind.

#include <filesystem>
#include <string>

namespace talvian {

// An open that failed because of the source; kept until a retry, relocation or dismissal.
struct ProjectRecovery {
    std::filesystem::path selection;  // the project file or hand-off folder the user opened
    std::string sourcePath;           // the source path the project names
    bool canRelocate = false;         // the project records a source identity
    bool sourceChanged = false;       // false: the source is missing; true: it no longer matches
    bool operator==(const ProjectRecovery&) const = default;
};

namespace ProjectSelection {

// The review-project file of a selection: a file whose extension is "json" in any case, or
// the regular file "review.quenlo.json" (not a link) inside a folder. Throws MediaError
// "请选择剪辑项目 JSON 文件，或完整的交接文件夹。" for anything else,
// "此文件夹内没有有效的 review.quenlo.json。…" for a folder without that file, and the
// file error of a selection that cannot be read. Any thread.
std::filesystem::path projectURL(const std::filesystem::path& selection);

}  // namespace ProjectSelection
}  // namespace talvian
