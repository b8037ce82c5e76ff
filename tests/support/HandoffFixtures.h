#pragma once
// Generated media and projects for the tests of channel stems and hand-off packages.

#include <filesystem>
#include <string>
#include <vector>

#include "Model/CutProject.h"

namespace talvian::test {

// A short H.264 file tagged Rec. 709 (limited range) with 48 kHz stereo AAC, as a camera or
// screen recorder writes it; `rate` as ffmpeg takes it ("25", "30000/1001"). `extra` goes
// before the output name (it may override the audio layout or add filters).
void makeRec709Video(const std::filesystem::path& file, const std::string& rate, double seconds = 3,
                     const std::string& extra = "");

// A version-1 project of an existing file as an analysis would make it: probed media
// facts, the file's size and modification time, and the given cuts.
CutProject probedProject(const std::filesystem::path& source, std::vector<CutRegion> cuts = {});

// The file's SHA-256 as sha256sum prints it: a check independent of our own digest.
std::string sha256sum(const std::filesystem::path& file);

}  // namespace talvian::test
