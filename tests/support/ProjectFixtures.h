#pragma once
// Review projects over real files for the tests of project files and source relocation.

#include <filesystem>
#include <functional>
#include <string>

#include "Model/CutProject.h"

namespace talvian::test {

// A version-1 project (fixed mode, 10 s, two cuts, a short waveform) whose size and
// modification time are those of the existing file `source`.
CutProject projectFor(const std::filesystem::path& source);

// A hand-off package in `package`: the copy "media/<copyName>" with `bytes`, and the version-3
// project that refers to it, written as "review.quenlo.json" with the source path and time of the
// machine that made it. Returns the project as written.
CutProject writePackage(const std::filesystem::path& package, const std::string& copyName,
                        const std::string& bytes);

// Sets a file's modification time (seconds since 1970, whole nanoseconds kept).
void setModifiedAt(const std::filesystem::path& file, double seconds);

// Overwrites one byte in place: same size, new content.
void changeByteInPlace(const std::filesystem::path& file, std::size_t offset);

// The sentence of the user error thrown by `action`; "" if none.
std::string messageOf(const std::function<void()>& action);

}  // namespace talvian::test
