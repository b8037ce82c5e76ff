#pragma once
// Where the external tools ("ffmpeg", "ffprobe") are found. The environment's PATH is
// never read: a packaged build uses only its own copies in the resources' "bin/".

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace talvian::Dependencies {

// True in a packaged build (CMake option TALVIAN_PACKAGED): tools come only from the
// application's own resources.
bool usesBundledTools();

// Candidates in search order: `resources`/bin/<name> when `resources` is a folder, then,
// unless `bundled`, /usr/local/bin/<name> and /usr/bin/<name>.
std::vector<std::filesystem::path> searchList(const std::string& name, const std::filesystem::path& resources,
                                              bool bundled);

// The first candidate that is a regular file the current user may execute; absent when
// none is. The one-argument forms use resourcesFolder() and usesBundledTools(). Any thread.
std::optional<std::filesystem::path> find(const std::string& name);
std::optional<std::filesystem::path> find(const std::string& name, const std::filesystem::path& resources,
                                          bool bundled);

// find, or throws MediaError naming the tool ("应用内的处理组件 … 缺失或不可执行。…" in a
// packaged build, "缺少本地处理组件 …。…" otherwise).
std::filesystem::path require(const std::string& name);
std::filesystem::path require(const std::string& name, const std::filesystem::path& resources, bool bundled);

}  // namespace talvian::Dependencies
