#pragma once
// Hidden work files and folders of an export: whatever happens, they are gone when the
// operation that made them ends.

#include <filesystem>

#include "Model/CoreTypes.h"

namespace talvian {

// Removes `path` (a file, or a folder with everything in it) when destroyed, unless it was
// released. Removal errors are ignored: a leftover hidden file is better than a lost result.
class WorkPath {
  public:
    explicit WorkPath(std::filesystem::path path) : path_(std::move(path)) {}
    ~WorkPath();
    WorkPath(const WorkPath&) = delete;
    WorkPath& operator=(const WorkPath&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Creates the folder with mode 0700 (its parent must exist) and returns its guard. Throws
// MediaError "无法创建“<name>”：<reason>。".
WorkPath makeWorkFolder(const std::filesystem::path& folder);

}  // namespace talvian
