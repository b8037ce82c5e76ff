#pragma once
// Shared helpers of the tests: temporary folders, shell commands, generated media.

#include <filesystem>
#include <string>

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
