#pragma once
// Shared helpers of the tests: temporary folders, shell commands, generated media.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace talvian::test {

// A fresh folder under the system temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// Points the system temporary folder (TMPDIR) at a private folder while it lives, so that a
// test sees what the code under test leaves there; the previous value comes back after.
class TemporaryFolderScope {
  public:
    TemporaryFolderScope();
    ~TemporaryFolderScope();
    TemporaryFolderScope(const TemporaryFolderScope&) = delete;
    TemporaryFolderScope& operator=(const TemporaryFolderScope&) = delete;
    const std::filesystem::path& path() const { return dir_.path(); }
    // The folder's own entries.
    std::vector<std::filesystem::path> entries() const;
    std::size_t leftovers() const { return entries().size(); }
    // The bytes of every file below it (files that vanish while it counts are skipped).
    std::uintmax_t bytes() const;

  private:
    TempDir dir_;
    std::optional<std::string> previous_;
};

// Runs a command through /bin/sh; returns its exit status (-1 if it could not run).
int shell(const std::string& command);
// Single-quotes a text for /bin/sh.
std::string shellQuote(const std::string& text);
// Writes bytes to a file (replacing it).
void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);

// Runs `ffmpeg -v error -y <arguments> <output>`; fails the calling test on error.
void makeMedia(const std::string& arguments, const std::filesystem::path& output);

}  // namespace talvian::test
