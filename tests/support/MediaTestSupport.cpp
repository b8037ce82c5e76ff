#include "MediaTestSupport.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "TestSupport.h"

namespace talvian::test {

std::string commandOutput(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return output;
    }
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    int status = ::pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    return output;
}

nlohmann::json probeStreams(const std::filesystem::path& file) {
    return nlohmann::json::parse(
        commandOutput("ffprobe -v error -show_format -show_streams -of json " + shellQuote(file.string())));
}

nlohmann::json probePackets(const std::filesystem::path& file, const std::string& type) {
    auto json = nlohmann::json::parse(commandOutput("ffprobe -v error -select_streams " + type +
                                                    ":0 -show_entries packet=pts,dts,duration,size,flags "
                                                    "-of json " +
                                                    shellQuote(file.string())));
    return json.value("packets", nlohmann::json::array());
}

nlohmann::json firstStreamOf(const nlohmann::json& probe, const std::string& codecType) {
    for (const auto& stream : probe.value("streams", nlohmann::json::array()))
        if (stream.value("codec_type", "") == codecType) return stream;
    return nullptr;
}

std::int64_t timescaleOf(const nlohmann::json& stream) {
    std::string base = stream.value("time_base", "");
    EXPECT_EQ(base.rfind("1/", 0), 0u) << base;
    return std::stoll(base.substr(2));
}

std::array<int, 3> RgbFrame::at(int x, int y) const {
    const std::size_t offset = (static_cast<std::size_t>(y) * width + x) * 3;
    if (x < 0 || y < 0 || x >= width || y >= height || offset + 3 > rgb.size()) {
        ADD_FAILURE() << "pixel " << x << "," << y << " outside " << width << "x" << height;
        return {-1, -1, -1};
    }
    return {static_cast<unsigned char>(rgb[offset]), static_cast<unsigned char>(rgb[offset + 1]),
            static_cast<unsigned char>(rgb[offset + 2])};
}

RgbFrame decodedFrame(const std::filesystem::path& file, double seconds, const std::string& filters) {
    // A PPM carries its own size: "P6\n<width> <height>\n255\n" then the pixels.
    // swscale's default conversion of 10-bit pictures to RGB is off by a few codes; the exact
    // one is the reference.
    const std::string exact = "scale=flags=accurate_rnd+full_chroma_int,format=rgb24";
    const std::string vf = " -vf " + shellQuote(filters.empty() ? exact : filters + "," + exact);
    const std::string ppm = commandOutput("ffmpeg -nostdin -v error -ss " + std::to_string(seconds) + " -i " +
                                          shellQuote(file.string()) + vf +
                                          " -frames:v 1 -f image2pipe -c:v ppm -pix_fmt rgb24 -");
    RgbFrame frame;
    int maximum = 0;
    int headerLength = 0;
    if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &frame.width, &frame.height, &maximum, &headerLength) !=
            3 ||
        maximum != 255) {
        ADD_FAILURE() << "no picture decoded from " << file;
        return {};
    }
    frame.rgb = ppm.substr(static_cast<std::size_t>(headerLength) + 1);
    EXPECT_EQ(frame.rgb.size(), static_cast<std::size_t>(frame.width) * frame.height * 3);
    return frame;
}

int colourDistance(const std::array<int, 3>& a, const std::array<int, 3>& b) {
    return std::max({std::abs(a[0] - b[0]), std::abs(a[1] - b[1]), std::abs(a[2] - b[2])});
}

void makeRotatedVideo(const std::filesystem::path& file, int degrees, double seconds) {
    const std::filesystem::path upright = file.string() + ".upright.mp4";
    const std::string length = std::to_string(seconds);
    makeMedia("-f lavfi -i color=c=red:s=64x36:r=10:d=" + length +
                  ",drawbox=x=32:y=0:w=32:h=36:c=blue:t=fill,drawbox=x=0:y=0:w=32:h=18:c=green:t=fill -f "
                  "lavfi -i sine=f=300:d=" +
                  length + " -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest",
              upright);
    // Rotation is a fact of the track, written without touching the picture.
    makeMedia(
        "-i " + shellQuote(upright.string()) + " -c copy -metadata:s:v:0 rotate=" + std::to_string(degrees),
        file);
    std::filesystem::remove(upright);
}

namespace {

std::uint64_t bigEndian(const std::string& bytes, std::size_t offset, std::size_t length) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < length; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
    return value;
}

// Calls visit(type, payloadOffset, end) for each box in [offset, end).
template <class Visit>
void eachBox(const std::string& bytes, std::size_t offset, std::size_t end, Visit visit) {
    while (offset + 8 <= end) {
        std::uint64_t size = bigEndian(bytes, offset, 4);
        std::size_t header = 8;
        if (size == 1) {
            size = bigEndian(bytes, offset + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = end - offset;
        }
        if (size < header || offset + size > end) return;
        visit(bytes.substr(offset + 4, 4), offset + header, offset + size);
        offset += size;
    }
}

}  // namespace

std::vector<std::string> topLevelBoxes(const std::filesystem::path& file) {
    std::string bytes = readFile(file);
    std::vector<std::string> types;
    eachBox(bytes, 0, bytes.size(),
            [&](const std::string& type, std::size_t, std::size_t) { types.push_back(type); });
    return types;
}

std::optional<std::uint32_t> movieTimescale(const std::filesystem::path& file) {
    std::string bytes = readFile(file);
    std::optional<std::uint32_t> result;
    eachBox(bytes, 0, bytes.size(), [&](const std::string& type, std::size_t payload, std::size_t end) {
        if (type != "moov") return;
        eachBox(bytes, payload, end, [&](const std::string& inner, std::size_t p, std::size_t) {
            if (inner != "mvhd") return;
            bool version1 = bytes[p] == 1;
            result = static_cast<std::uint32_t>(bigEndian(bytes, p + (version1 ? 20 : 12), 4));
        });
    });
    return result;
}

void makeVideo(const std::filesystem::path& file, const std::string& rate, double seconds, int sampleRate,
               const std::string& extraOutputArguments) {
    std::string length = std::to_string(seconds);
    makeMedia("-f lavfi -i testsrc=size=160x120:rate=" + rate + ":duration=" + length +
                  " -f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(sampleRate) + ":duration=" +
                  length + " -c:v libx264 -preset veryfast -bf 2 -c:a aac " + extraOutputArguments,
              file);
}

void makeLateVideo(const std::filesystem::path& file, double offset, double seconds) {
    auto picture = file.parent_path() / ("late-picture-" + file.filename().string());
    auto sound = file.parent_path() / ("late-sound-" + file.filename().string() + ".m4a");
    makeSilentVideo(picture, seconds);
    makeSound(sound, seconds);
    makeMedia("-itsoffset " + std::to_string(offset) + " -i " + shellQuote(picture.string()) + " -i " +
                  shellQuote(sound.string()) + " -c copy",
              file);
}

void makeVideoWithLongerSound(const std::filesystem::path& file, double videoSeconds, double audioSeconds) {
    makeMedia("-f lavfi -i testsrc=size=160x120:rate=25:duration=" + std::to_string(videoSeconds) +
                  " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=" +
                  std::to_string(audioSeconds) + " -c:v libx264 -preset ultrafast -c:a aac",
              file);
}

void makeSound(const std::filesystem::path& file, double seconds, int sampleRate) {
    makeMedia("-f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(sampleRate) +
                  ":duration=" + std::to_string(seconds) + " -c:a aac",
              file);
}

std::vector<std::filesystem::path> makeUnreadableSources(const std::filesystem::path& folder) {
    std::string noise(64 * 1024, '\0');
    std::uint32_t state = 2463534242u;  // a fixed xorshift sequence: the same bytes every run
    for (char& byte : noise) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state & 0xFF);
    }
    const std::vector<std::filesystem::path> sources = {
        folder / "随机字节.mp4", folder / "空文件.mp4",        folder / "笔记.mp4",
        folder / "文件夹.mp4",   folder / "截断-索引在后.mp4", folder / "截断-索引在前.mp4"};
    writeFile(sources[0], noise);
    writeFile(sources[1], "");
    writeFile(sources[2], "Meeting notes: not a recording.\n");
    std::filesystem::create_directory(sources[3]);
    const auto whole = folder / "完整.mp4";
    const auto wholeIndexFirst = folder / "完整-索引在前.mp4";
    makeVideo(whole, "25", 3, 48000);
    makeVideo(wholeIndexFirst, "25", 3, 48000, "-movflags +faststart");
    for (auto [from, to] : {std::pair{whole, sources[4]}, std::pair{wholeIndexFirst, sources[5]}}) {
        const std::string bytes = readFile(from);
        writeFile(to, bytes.substr(0, bytes.size() / 2));
        std::filesystem::remove(from);
    }
    return sources;
}

void makeSilentVideo(const std::filesystem::path& file, double seconds) {
    makeMedia("-f lavfi -i testsrc=size=160x120:rate=30000/1001:duration=" + std::to_string(seconds) +
                  " -c:v libx264 -preset ultrafast -bf 0 -f mp4",
              file);
}

}  // namespace talvian::test
