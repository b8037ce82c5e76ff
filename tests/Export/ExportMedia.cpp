#include "ExportMedia.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "Model/CoreTypes.h"
#include "Model/FileNaming.h"
#include "Process/MediaProbe.h"
#include "Support/MediaFingerprint.h"
#include "TestSupport.h"

namespace talvian::test {

namespace {

// 2^21: (frame + 1) × (channel + 1) stays below 2^24 for the short sources of the tests.
constexpr double kIndexScale = 2097152.0;

std::string captured(const std::string& command) {
    auto output = std::filesystem::temp_directory_path() / ("talvian-probe-" + std::to_string(::getpid()));
    EXPECT_EQ(shell(command + " > " + shellQuote(output.string())), 0) << command;
    auto text = readFile(output);
    std::filesystem::remove(output);
    return text;
}

}  // namespace

float indexedSample(std::int64_t frame, int channel) {
    double sign = channel % 2 == 0 ? 1 : -1;
    return static_cast<float>(sign * static_cast<double>(frame + 1) * (channel + 1) / kIndexScale);
}

void makeIndexedSource(const std::filesystem::path& file, std::int64_t sampleRate, int channels,
                       const std::string& layout, double seconds) {
    std::string expressions;
    for (int c = 0; c < channels; ++c) {
        if (c > 0) expressions += "|";
        expressions += (c % 2 == 0 ? "" : "-") + std::string("(n+1)*") + std::to_string(c + 1) + "/2097152";
    }
    std::string source = "aevalsrc=exprs='" + expressions + "':s=" + std::to_string(sampleRate) +
                         ":d=" + std::to_string(seconds);
    if (!layout.empty()) source += ":channel_layout=" + layout;
    makeMedia("-f lavfi -i \"" + source + "\" -c:a pcm_f32le", file);
}

std::vector<float> samplesOf(const std::filesystem::path& file) {
    auto raw = captured("ffmpeg -nostdin -v error -i " + shellQuote(file.string()) +
                        " -map 0:a:0 -c:a pcm_f32le -f f32le -");
    std::vector<float> samples(raw.size() / sizeof(float));
    std::memcpy(samples.data(), raw.data(), samples.size() * sizeof(float));
    return samples;
}

nlohmann::json audioStreamOf(const std::filesystem::path& file) {
    auto text =
        captured("ffprobe -v error -select_streams a:0 -show_streams -of json " + shellQuote(file.string()));
    auto answer = nlohmann::json::parse(text, nullptr, false);
    if (!answer.is_object() || !answer.contains("streams") || answer["streams"].empty()) return {};
    return answer["streams"][0];
}

double durationOf(const std::filesystem::path& file) {
    auto text =
        captured("ffprobe -v error -show_entries format=duration -of csv=p=0 " + shellQuote(file.string()));
    return std::stod(text);
}

std::vector<std::string> hiddenEntries(const std::filesystem::path& folder) {
    auto names = entriesOf(folder);
    names.erase(
        std::remove_if(names.begin(), names.end(), [](const std::string& name) { return name[0] != '.'; }),
        names.end());
    return names;
}

std::vector<std::string> entriesOf(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

CutProject projectOf(const std::filesystem::path& source, std::vector<CutRegion> cuts) {
    auto metadata = SourceMetadata::read(source);
    CutProject project;
    project.source = source.string();
    project.sourceBytes = metadata.bytes;
    project.modifiedAt = metadata.modifiedAt;
    project.info = Runner::probe(source, makeCancellation());
    project.cuts = std::move(cuts);
    return project;
}

std::string digestOf(const std::filesystem::path& file) {
    Cancellation never;
    return MediaFingerprint::sha256(file, never);
}

}  // namespace talvian::test
