#include "ProjectFixtures.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>

#include "Model/FileNaming.h"
#include "Model/ProjectJson.h"
#include "Support/MediaFingerprint.h"
#include "TestSupport.h"

namespace talvian::test {

CutProject projectFor(const std::filesystem::path& source) {
    auto metadata = SourceMetadata::read(source);
    CutProject project;
    project.version = 1;
    project.source = source.string();
    project.sourceBytes = metadata.bytes;
    project.modifiedAt = metadata.modifiedAt;
    project.info.duration = 10;
    project.info.hasAudio = true;
    project.info.audioTracks = 1;
    project.info.bytes = metadata.bytes;
    project.cuts = {CutRegion(1, 2, true), CutRegion(4.5, 6, false)};
    project.waveform = {0, 0.25, 1, 0.5};
    return project;
}

CutProject writePackage(const std::filesystem::path& package, const std::string& copyName,
                        const std::string& bytes) {
    std::filesystem::create_directories(package / "media");
    auto copy = package / "media" / copyName;
    writeFile(copy, bytes);
    auto project = projectFor(copy);
    project.version = CutProject::kBasePackaged;
    // Written on another machine: the package has moved since, and its copy has a new time.
    project.source = "/Volumes/Export/Package/media/" + copyName;
    project.modifiedAt = 1'000'000'000.5;
    Cancellation token;
    project.packagedSource = PackagedSource{"media/" + copyName, MediaFingerprint::sha256(copy, token)};
    writeFile(package / "review.quenlo.json", ProjectJson::encode(project));
    return project;
}

void setModifiedAt(const std::filesystem::path& file, double seconds) {
    double whole = std::floor(seconds);
    struct timespec times[2] = {
        {0, UTIME_OMIT},
        {static_cast<time_t>(whole), static_cast<long>(std::lround((seconds - whole) * 1e9))}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

void changeByteInPlace(const std::filesystem::path& file, std::size_t offset) {
    std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
    stream.seekg(static_cast<std::streamoff>(offset));
    char byte = static_cast<char>(stream.get());
    stream.seekp(static_cast<std::streamoff>(offset));
    stream.put(static_cast<char>(byte ^ 0x5a));
}

std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const UserError& error) {
        return error.message();
    }
    return "";
}

}  // namespace talvian::test
