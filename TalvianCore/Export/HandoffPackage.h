#pragma once
// The editor hand-off package: a full byte copy of the source, an FCPXML 1.9 timeline whose
// clips are the kept frame ranges of that copy, the review project pointing into the
// package, a manifest and the import instructions. No rendered media: the editor cuts the
// full copy, so clip edges can still be pulled back out.

#include <cstdint>
#include <filesystem>
#include <string>

#include "Export/HandoffPlan.h"
#include "Model/CoreTypes.h"
#include "Model/CutProject.h"
#include "Support/MediaFingerprint.h"

namespace talvian {

struct EditorHandoffResult {
    std::filesystem::path folder;  // the package
    std::filesystem::path xmlURL;  // its timeline file
    double duration = 0;           // seconds of the timeline (whole frames)
    std::int64_t clips = 0;        // kept frame ranges
    bool operator==(const EditorHandoffResult&) const = default;
};

namespace EditorHandoff {

// The source is copied and verified in pieces of this size, so memory stays flat.
inline constexpr std::size_t kCopyChunkBytes = MediaFingerprint::kChunkBytes;
// Timeline file names keep at most this many UTF-8 bytes before the suffix.
inline constexpr std::size_t kTimelineStemBytes = 200;

// Writes the package into `destination`, which must not exist: created with mode 0700, and
// removed again on every failure after that, so it is either complete or gone. Throws the
// suitability refusals, MediaError "交接文件夹已存在，请换一个名称；已有文件不会覆盖。",
// "无法新建交接文件夹。请检查路径、空间或同名文件。", "无法创建原片副本。",
// "原片在交接过程中发生变化，已取消生成。请重新分析后再试。", the cancellation message, the
// source check's errors and file errors. Progress 0 … 1 with step texts. Background thread.
EditorHandoffResult exportPackage(const CutProject& project, const std::filesystem::path& destination,
                                  const CancellationToken& cancellation,
                                  const ProgressCallback& progress = {});

// The FCPXML 1.9 text of a plan whose media is the copy at `media` (an absolute path).
// Names are made valid XML 1.0 (control characters and ill-formed UTF-8 replaced) and
// escaped. Throws only the frame-time errors of HandoffFrameRate::time.
std::string xml(const EditorHandoffPlan& plan, const std::filesystem::path& media);

// "<stem>-粗剪.fcpxml" for a source: control characters, "/" and ":" become "_", white space
// and dots are trimmed, the stem keeps whole characters up to 200 bytes, and an empty stem
// becomes "口播素材".
std::string xmlFilename(const std::filesystem::path& source);

// The standard percent-encoded "file://" URL of an absolute path.
std::string fileURL(const std::filesystem::path& path);

}  // namespace EditorHandoff

}  // namespace talvian
