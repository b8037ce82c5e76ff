#pragma once
// The review project: the complete result of one analysis and the state of one review, its
// structural validation and the check that its source on disk is still the analysed file.
// The JSON form is in ProjectJson.h.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CoreTypes.h"

namespace talvian {

// A project inside an editor hand-off package refers to the source copy in the same package.
struct PackagedSource {
    std::string relativePath;  // "media/<file name>", relative to the project file's folder
    std::string sha256;        // 64 lowercase hexadecimal digits

    // Throws MediaError "交接包的素材引用无效。请保留完整的 media 文件夹。" unless the path is
    // exactly "media/<name>" (name not empty, ".", ".."; no NUL) and the digest is well formed.
    void validate() const;
    bool operator==(const PackagedSource&) const = default;
};

// How far (seconds) a probed source's duration may differ from the project's before the
// project no longer describes that source (export and hand-off alike).
inline constexpr double kSourceDurationTolerance = 0.02;

struct CutProject {
    // Versions 1 … 4 name the identity mechanism (the base); 5 … 8 are the same with paddingRight.
    static constexpr std::int64_t kMinimumVersion = 1;
    static constexpr std::int64_t kMaximumVersion = 8;
    static constexpr std::int64_t kRightPaddingVersionOffset = 4;
    static constexpr std::int64_t kBaseFixedPath = 1;    // source by path, fixed threshold
    static constexpr std::int64_t kBaseAnyModePath = 2;  // source by path, any detection mode
    static constexpr std::int64_t kBasePackaged = 3;     // the packaged copy named by packagedSource
    static constexpr std::int64_t kBaseDigest = 4;       // source by path, guarded by sourceSHA256
    // Limits that keep a project small enough to re-encode on every backup.
    static constexpr std::size_t kMaximumCuts = 9'999;
    static constexpr std::size_t kMaximumWaveformValues = 2'000;
    // A cut may end this far past the duration (seconds).
    static constexpr double kCutEndTolerance = 0.01;
    // Modification times closer than this (seconds) are the same.
    static constexpr double kModifiedAtTolerance = 0.01;

    std::int64_t version = 1;
    std::string source;            // absolute path of the source media
    std::int64_t sourceBytes = 0;  // size when analysed or last verified
    double modifiedAt = 0;         // seconds since 1970-01-01 UTC, nanoseconds as fraction
    MediaInfo info;
    CutOptions options;
    std::vector<CutRegion> cuts;
    std::vector<double> waveform;                     // one peak per bin in 0 … 1
    std::optional<DetectionDiagnostics> diagnostics;  // adaptive analyses
    std::optional<double> effectiveThresholdDB;       // lowered by the quiet-recording guard (dBFS)
    std::optional<PackagedSource> packagedSource;
    std::optional<std::string> sourceSHA256;  // 64 lowercase hexadecimal digits

    // `sourceSHA256` or `packagedSource` present: a moved source can be found by its digest.
    bool canRelocateSource() const { return sourceSHA256 || packagedSource; }
    // `base` plus 4 when options.paddingRight is present.
    std::int64_t versionForBase(std::int64_t base) const;

    // Seconds removed: the merged `remove` cuts inside 0 … info.duration (overlaps count once).
    double removedDuration() const;
    // max(0, info.duration − removedDuration()).
    double keptDuration() const;
    // "这段录音音量较轻，静音阈值已降至 −41.3 dB。" when fixed mode and the quiet-recording guard
    // lowered the threshold; absent otherwise.
    std::optional<std::string> quietRecordingHint() const;

    // Throws MediaError "项目文件格式无效。" on the first failing structural rule, then
    // "停顿参数超出有效范围。" (options), then the packaged-source error. Changes nothing.
    void validateStructure() const;
    // validateStructure(), then one metadata read of `source` (links followed): throws
    // MissingProjectSource (ENOENT, ENOTDIR), MediaError for other read errors,
    // ChangedProjectSource (size or time differ, digest present) or MediaError
    // "源文件已变化，请重新导入并分析，避免用旧时间点剪错内容。" (no digest). Background thread.
    void validateSource() const;
    // What validateSource() throws for a source that is no longer the analysed file, also when
    // a later check finds it changed: ChangedProjectSource (digest present) or that MediaError.
    [[noreturn]] void throwChangedSource() const;

    bool operator==(const CutProject&) const = default;
};

}  // namespace talvian
