// libFuzzer target for the review-project reader. Any bytes may reach ProjectJson::decode from a
// project file, a hand-off package or a session backup, so the reader must answer every input
// with a project or a MediaError: no crash, no other exception, no undefined behaviour, no leak.
// What decodes and passes the structural check must also survive a save: encode() must accept
// it and its bytes must read back as the same project, in both styles.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Model/ProjectJson.h"

namespace {

using talvian::CutProject;
using talvian::MediaError;
namespace ProjectJson = talvian::ProjectJson;

[[noreturn]] void fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "ProjectDecoderFuzzer: %s\n%s\n", what, detail.c_str());
    std::abort();
}

void checkRoundTrip(const CutProject& project, ProjectJson::Style style) {
    std::string encoded;
    try {
        encoded = ProjectJson::encode(project, style);
    } catch (const MediaError& error) {
        fail("encode refused a project that passed validateStructure()", error.message());
    }
    CutProject again;
    try {
        again = ProjectJson::decode(encoded);
        again.validateStructure();
    } catch (const MediaError& error) {
        fail("the encoded project does not read back", error.message() + "\n" + encoded);
    }
    if (!(again == project)) fail("the encoded project reads back different", encoded);
    // A second save of the read-back project writes the same bytes, so a backup never churns.
    if (ProjectJson::encode(again, style) != encoded) fail("encoding is not stable", encoded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CutProject project;
    try {
        project = ProjectJson::decode(bytes);
    } catch (const MediaError& error) {
        if (error.message().empty()) fail("a refusal without a message");
        return 0;
    }

    try {
        project.validateStructure();
    } catch (const MediaError&) {
        // Nothing is written that the reader would refuse.
        try {
            ProjectJson::encode(project, ProjectJson::Style::compact);
        } catch (const MediaError&) {
            return 0;
        }
        fail("encode accepted a project that fails validateStructure()");
    }

    checkRoundTrip(project, ProjectJson::Style::pretty);
    checkRoundTrip(project, ProjectJson::Style::compact);

    // The summaries the review window shows are computed from any valid project.
    double removed = project.removedDuration();
    double kept = project.keptDuration();
    if (!std::isfinite(removed) || removed < 0 || !std::isfinite(kept) || kept < 0)
        fail("removed or kept duration out of range");
    (void)project.quietRecordingHint();
    return 0;
}
