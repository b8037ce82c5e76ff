#pragma once
// Helpers of the media-layer tests: small generated sources, ffprobe read-backs in JSON
// and a reader of MPEG-4 box headers.

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Model/CoreTypes.h"

namespace talvian::test {

// The sentence of the user error a call throws, or "(no error)".
std::string messageOf(auto&& call) {
    try {
        call();
    } catch (const UserError& error) {
        return error.message();
    }
    return "(no error)";
}

// Standard output of a shell command (fails the calling test when it exits non-zero).
std::string commandOutput(const std::string& command);

// `ffprobe -show_format -show_streams` of a file, as JSON.
nlohmann::json probeStreams(const std::filesystem::path& file);
// The packets of the first stream of a type ("v" or "a"), in file order, as JSON objects.
nlohmann::json probePackets(const std::filesystem::path& file, const std::string& type);
// The stream object of the first stream of a type, or null JSON.
nlohmann::json firstStreamOf(const nlohmann::json& probe, const std::string& codecType);

// A time base "1/T" as T.
std::int64_t timescaleOf(const nlohmann::json& stream);

// One picture decoded by ffmpeg into 8-bit RGB, rows top to bottom.
struct RgbFrame {
    int width = 0;
    int height = 0;
    std::string rgb;  // width × height × 3 bytes
    std::array<int, 3> at(int x, int y) const;
};
// The picture of `file` at `seconds` (the first one at 0) as ffmpeg's command line shows it:
// autorotated by the track's display matrix, converted from the range and matrix the file is
// tagged with; `filters` (such as "scale=641:361") runs after that.
RgbFrame decodedFrame(const std::filesystem::path& file, double seconds = 0, const std::string& filters = "");
// The largest difference of one channel between two colours.
int colourDistance(const std::array<int, 3>& a, const std::array<int, 3>& b);

// Top-level MPEG-4 boxes of a file, in order ("ftyp", "moov", "mdat" …).
std::vector<std::string> topLevelBoxes(const std::filesystem::path& file);
// The timescale in the movie header (mvhd), if the file has one.
std::optional<std::uint32_t> movieTimescale(const std::filesystem::path& file);

// Generators, all 160×120 testsrc pictures with an AAC sine (tiny and fast). The H.264
// of makeVideo has B-frames, so decoding order differs from presentation order.
// `rate` like "25" or "30000/1001"; audio at `sampleRate`.
void makeVideo(const std::filesystem::path& file, const std::string& rate, double seconds, int sampleRate,
               const std::string& extraOutputArguments = "");
// A source whose first picture frame is at `offset` seconds (an empty edit), sound from 0.
void makeLateVideo(const std::filesystem::path& file, double offset, double seconds);
// A picture of `videoSeconds` and a sound of `audioSeconds` (sound running on after the picture).
void makeVideoWithLongerSound(const std::filesystem::path& file, double videoSeconds, double audioSeconds);
// A 64×36 picture, blue on its right half, green in its top left quarter and red in its bottom
// left one (so every turn and flip looks different), with an AAC sine, for `seconds`; its track says to show
// it turned `degrees` clockwise (the display matrix phones write), as ffmpeg's autorotation shows it.
void makeRotatedVideo(const std::filesystem::path& file, int degrees, double seconds = 2);
// An AAC-only file.
void makeSound(const std::filesystem::path& file, double seconds, int sampleRate = 48000);
// A picture-only file.
void makeSilentVideo(const std::filesystem::path& file, double seconds);

// Sources no decoder reads through, as a user may pick them, in `folder`: random bytes, an
// empty file and a text file, each named ".mp4", a folder named ".mp4", and a 3-second video
// cut off at half its size, once with its index at the end (lost with the cut) and once with
// the index first. Returns their paths.
std::vector<std::filesystem::path> makeUnreadableSources(const std::filesystem::path& folder);

}  // namespace talvian::test
