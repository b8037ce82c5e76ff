#pragma once
// What the controller and view benchmarks share: their command line and scratch folder, a
// review project over a stand-in source file, and the median of a series of times.

#include <QElapsedTimer>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Model/CutProject.h"
#include "Model/FileNaming.h"

namespace talvian::bench {

// The rounds the command line asks for ("[ROUNDS]"), at least one; `fallback` without any.
inline int rounds(int argc, char** argv, int fallback) {
    return argc > 1 ? std::max(1, std::atoi(argv[1])) : fallback;
}

// A new folder "/tmp/talvian-<name>-XXXXXX" for the run's files; empty when none could be made.
inline std::filesystem::path scratchFolder(const std::string& name) {
    std::string pattern = "/tmp/talvian-" + name + "-XXXXXX";
    const char* made = mkdtemp(pattern.data());
    return made ? std::filesystem::path(made) : std::filesystem::path();
}

// A project of the file at `source` lasting `duration` seconds: one audio track, a flat
// overview of 320 peaks at 0.4 and no pauses yet.
inline CutProject benchProject(const std::filesystem::path& source, double duration) {
    CutProject project;
    project.version = 1;
    project.source = source.string();
    const auto metadata = SourceMetadata::read(source);
    project.sourceBytes = metadata.bytes;
    project.modifiedAt = metadata.modifiedAt;
    project.info.duration = duration;
    project.info.hasAudio = true;
    project.info.audioTracks = 1;
    project.waveform.assign(320, 0.4);
    return project;
}

inline double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

inline double milliseconds(const QElapsedTimer& clock) {
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

}  // namespace talvian::bench
