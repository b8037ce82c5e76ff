#include "HandoffFixtures.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "Model/FileNaming.h"
#include "Process/MediaProbe.h"
#include "Support/NumberText.h"
#include "TestSupport.h"

namespace talvian::test {

void makeRec709Video(const std::filesystem::path& file, const std::string& rate, double seconds,
                     const std::string& extra) {
    const auto duration = shortestDecimal(seconds);
    makeMedia(
        "-f lavfi -i testsrc2=size=160x120:rate=" + rate + ":duration=" + duration +
            " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=" + duration +
            " -ac 2 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -colorspace bt709 -color_primaries bt709 "
            "-color_trc bt709 -color_range tv -c:a aac -shortest " +
            extra,
        file);
}

CutProject probedProject(const std::filesystem::path& source, std::vector<CutRegion> cuts) {
    CutProject project;
    project.source = source.string();
    auto metadata = SourceMetadata::read(source);
    project.sourceBytes = metadata.bytes;
    project.modifiedAt = metadata.modifiedAt;
    project.info = Runner::probe(source, makeCancellation());
    project.cuts = std::move(cuts);
    return project;
}

std::string sha256sum(const std::filesystem::path& file) {
    std::string command = "sha256sum " + shellQuote(file.string());
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[128];
        while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
        ::pclose(pipe);
    }
    EXPECT_GE(output.size(), 64u) << command;
    return output.substr(0, 64);
}

}  // namespace talvian::test
