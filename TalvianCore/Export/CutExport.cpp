#include "CutExport.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <vector>

#include "AudioRenderer.h"
#include "Model/CutMath.h"
#include "Model/FileNaming.h"
#include "Model/Localization.h"
#include "Model/Uuid.h"
#include "Process/MediaProbe.h"
#include "Support/FileSystem.h"
#include "Support/MediaFingerprint.h"

namespace talvian::VevazAvezud {

namespace {

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return text;
}

MediaError copyMismatch() {
    return MediaError(L("原始副本与原片不一致，未交付此结果。"));
}

// Copies `source` into the empty work file `work` piece by piece, reading the token at every piece,
// and accepts the copy only when it has the source's size, the digest of what was written
// matches both the source and the copy as read back, and the source did not change
// meanwhile. Messages name `output`, the name the user will look for.
void copyVerified(const std::filesystem::path& source, const std::filesystem::path& work,
                  const std::filesystem::path& output, const Cancellation& cancellation) {
    const auto before = readMetadata(source);
    UniqueFd reader(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!reader) throw fileError(L("读取"), source, errno);
    // The work file exists already, empty and locked by the export (makeWorkFile).
    UniqueFd writer(::open(work.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW));
    if (!writer) throw fileError(L("写入"), output, errno);
    ::posix_fadvise(reader.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    cancellation.check();
    const auto copied =
        MediaFingerprint::copyWithDigest(reader.get(), source, writer.get(), output, cancellation);
    if (::fsync(writer.get()) != 0) throw fileError(L("写入"), output, errno);
    if (int code = writer.reset(); code != 0) throw fileError(L("写入"), output, code);
    reader.reset();

    if (copied.bytes != before.bytes || fileBytes(work) != before.bytes) throw copyMismatch();
    if (MediaFingerprint::sha256(source, cancellation) != copied.sha256 ||
        MediaFingerprint::sha256(work, cancellation) != copied.sha256)
        throw copyMismatch();
    if (readMetadata(source) != before) throw copyMismatch();
}

// The project's timeline must be the source's: the cut times of a project that claims 30 s of a
// 57 s recording would drop the end without a word.
void checkSourceMatches(const CutProject& project, const CancellationToken& cancellation) {
    const MediaInfo probed = Runner::probe(project.source, cancellation);
    if (!(std::fabs(probed.duration - project.info.duration) <= kSourceDurationTolerance) ||
        probed.hasVideo != project.info.hasVideo)
        throw MediaError(L("项目时长或音视频信息与原片不一致。请重新分析。"));
}

// The render must have read one version of the source from start to end: the same file (device
// and inode), size and exact modification time as before it began. A source rewritten, grown,
// cut short or replaced meanwhile may have given a result that mixes two recordings.
void checkSourceUnchanged(const CutProject& project, const SourceMetadata& before) {
    project.validateSource();
    if (readMetadata(project.source) != before) project.throwChangedSource();
}

// Moves the work file to `output`, or, when another export took that name meanwhile, to the
// next free one; returns the delivered name.
std::filesystem::path deliver(const std::filesystem::path& work, std::filesystem::path output,
                              const std::filesystem::path& folder, const std::string& stem,
                              const std::string& extension, const Cancellation& cancellation) {
    for (int attempt = 1;; ++attempt) {
        cancellation.check();
        if (moveIfFree(work, output)) return output;
        if (attempt == kDeliveryAttempts) throw fileError(L("保存"), output, EEXIST);
        output = uniqueOutput(folder, stem, extension, cancellation);
    }
}

// The work file must hold a sound track, a picture track exactly when the source has one, and
// last as long as the project predicts.
void checkDelivery(const std::filesystem::path& work, const CutProject& project, std::size_t rangeCount,
                   const CancellationToken& cancellation) {
    auto info = Runner::probe(work, cancellation);
    double tolerance =
        std::max(kMinimumDurationTolerance, kDurationTolerancePerRange * static_cast<double>(rangeCount));
    if (!info.hasAudio || info.hasVideo != project.info.hasVideo ||
        !(std::fabs(info.duration - project.keptDuration()) < tolerance))
        throw MediaError(L("导出后的轨道或时长检查未通过，未交付此结果。"));
}

}  // namespace

bool copiesOriginal(const CutProject& project, AudioOutputFormat format) {
    if (format != AudioOutputFormat::m4a) return false;
    if (std::any_of(project.cuts.begin(), project.cuts.end(),
                    [](const CutRegion& cut) { return cut.remove; }))
        return false;
    auto extension = lowercased(std::filesystem::path(project.source).extension().string());
    return extension == ".mp4" || extension == ".m4a";
}

std::string outputStem(const CutProject& project) {
    return std::filesystem::path(project.source).stem().string() + "-" + L("粗剪");
}

std::string outputExtension(const CutProject& project, AudioOutputFormat format) {
    return project.info.hasVideo ? "mp4" : rawValue(format);
}

std::filesystem::path exportCut(const MediaEntries& media, const CutProject& project,
                                const std::filesystem::path& outputFolder, AudioOutputFormat format,
                                const CancellationToken& cancellation, const ProgressCallback& progress) {
    project.validateSource();
    cancellation->check();
    if (format == AudioOutputFormat::wav && project.info.hasVideo)
        throw MediaError(L("WAV 导出仅用于纯音频素材；视频请使用 MP4 导出。"));

    const auto kept = CutMath::kept(project.cuts, project.info.duration);
    double keptSeconds = 0;
    for (const auto& range : kept) keptSeconds += std::max(0.0, range.end - range.start);
    if (kept.empty() || !(keptSeconds >= kMinimumKeptSeconds))
        throw MediaError(L("全部内容都被标为删除了。请恢复至少一段内容后再导出。"));

    // Every name rule is checked before anything is created or rendered.
    const auto source = std::filesystem::path(project.source);
    const auto stem = outputStem(project);
    const auto extension = outputExtension(project, format);
    const auto output = uniqueOutput(outputFolder, stem, extension, *cancellation);
    const bool copies = copiesOriginal(project, format);
    const SourceMetadata before = readMetadata(source);
    if (!copies) checkSourceMatches(project, cancellation);

    std::error_code error;
    std::filesystem::create_directories(outputFolder, error);
    if (error) throw fileError(L("创建"), outputFolder, error.value());
    const WorkPath work =
        makeWorkFile(outputFolder / (".Talvian-" + Uuid::random().string() + "." + extension), output);

    if (copies) {
        cancellation->check();
        copyVerified(source, work.path(), output, *cancellation);
        const auto delivered = deliver(work.path(), output, outputFolder, stem, extension, *cancellation);
        if (progress) progress(1.0, L("未删除片段，已导出原始副本"));
        return delivered;
    }

    if (project.info.hasVideo)
        media.renderVideo(source, project.info, kept, work.path(), cancellation, progress);
    else
        AudioRenderer::render(source, kept, work.path(), format, cancellation, progress, std::nullopt);
    checkSourceUnchanged(project, before);

    checkDelivery(work.path(), project, kept.size(), cancellation);
    const auto delivered = deliver(work.path(), output, outputFolder, stem, extension, *cancellation);
    if (progress) progress(1.0, L("导出完成"));
    return delivered;
}

}  // namespace talvian::VevazAvezud
