// The main output: exporting the reviewed project into a cut file, and the panel's facts that
// depend on how the export will write it.

#include "Export/AudioRenderer.h"
#include "Export/CutExport.h"
#include "Export/SupportDiagnostics.h"
#include "Model/FileNaming.h"
#include "Model/Localization.h"
#include "Model/ProjectFiles.h"
#include "Process/MediaProbe.h"
#include "Process/Runner.h"
#include "Support/FileSystem.h"
#include "WorkspaceInternals.h"

namespace fs = std::filesystem;

namespace talvian {

namespace {

// Channel counts from which editors may fold the sound down and lose channels.
constexpr std::int64_t kMultichannelCount = 3;

}  // namespace

// ---- The export panel's facts

bool Workspace::exportCopiesOriginal() const {
    // The format the export will really use: a video's sound always goes to AAC in the MP4,
    // whatever container was chosen for audio-only sources.
    return document().project && VevazAvezud::copiesOriginal(*document().project, exportFormat());
}

std::optional<std::string> Workspace::exportAudioTrackNote() const {
    if (!document().project || document().project->info.audioTracks <= 1) return std::nullopt;
    if (exportCopiesOriginal())
        return L("保留全部%@条音轨；此处显示第1条的规格。",
                 static_cast<long long>(document().project->info.audioTracks));
    return L("仅导出第1条音轨。");
}

std::optional<std::string> Workspace::exportAudioSpecLabel() const {
    const auto& info = exports().audioInfo;
    if (!exportAudioSource() || !info) return std::nullopt;
    std::int64_t rate = info->sampleRate;
    const bool encodesAac = exportFormat() == AudioOutputFormat::m4a && !exportCopiesOriginal() &&
                            info->channels < kMultichannelCount;
    if (encodesAac) rate = AudioRenderer::kAacSampleRate;
    return audioSpecText(rate, info->channels);
}

// ---- The export job

void Workspace::exportCut() {
    const Operation operation(*this);
    if (!document().project || d_->needsAnalysis() || job().busy) return;
    // The free-space check is a job of its own that keeps the status line.
    const CancellationToken token = d_->job_.start(std::nullopt);
    const CutProject project = *document().project;
    const fs::path folder = exports().outputFolder;
    const AudioOutputFormat format = exportFormat();
    const DiskPreflight preflight = d_->diskPreflight_ ? d_->diskPreflight_
                                                       : [](const CutProject& p, const fs::path& f,
                                                            AudioOutputFormat a, const CancellationToken& t) {
                                                             return ExportDiskPreflight::check(p, f, a, t);
                                                         };
    d_->runInBackground([project, folder, format, preflight, token](const MainThreadPost& post) {
        std::optional<DiskSpaceShortfall> shortfall;
        try {
            shortfall = preflight(project, folder, format, token);
        } catch (...) {
            // The check is advisory: without an answer the export goes ahead.
        }
        post([project, folder, format, token, shortfall](Internals& in) {
            if (!in.job_.owns(token)) return;
            if (token->isCancelled()) return in.job_.finish(JobOutcome::cancelled, std::nullopt);
            if (!shortfall) return in.startExport(project, folder, format);
            in.job_.finish(JobOutcome::failed, std::nullopt);
            in.owner.setNotice(shortfall->message());
            in.lastDiagnosticError_ = L("磁盘空间不足。当前剪辑已保留。");
        });
    });
}

void Workspace::Internals::startExport(const CutProject& project, const fs::path& folder,
                                       AudioOutputFormat format) {
    owner.stopAudition(true);
    pausePlayer();
    const CancellationToken token = job_.start(L("准备导出"));
    setCutOutput(std::nullopt);
    const MediaEntries media = playerFactory_.media();
    runInBackground([media, project, folder, format, token](const MainThreadPost& post) {
        fs::path output;
        try {
            // The export's reports carry on to the end, also after a cancel: its last step texts
            // say what was left on disk.
            output = VevazAvezud::exportCut(
                media, project, folder, format, token, [post, token](double f, const std::string& step) {
                    post([token, f, step](Internals& in) { in.job_.report(token, f, step, true); });
                });
        } catch (...) {
            post([error = std::current_exception(), token](Internals& in) { in.exportFailed(error, token); });
            return;
        }
        std::optional<std::int64_t> channels;
        try {
            // Its own token: a cancel after delivery must not lose the channel count.
            channels = AudioStreamProbe::read(output, makeCancellation()).channels;
        } catch (...) {
            // Unknown channels have their own notice below.
        }
        std::optional<std::string> saveError;
        try {
            VevazAvezud::save(project, exportProjectURL(output));
        } catch (...) {
            saveError = describeError(std::current_exception());
        }
        post([output, channels, saveError, token](Internals& in) {
            if (in.didExport(output, channels, token) && saveError) in.projectSaveFailed(*saveError);
        });
    });
}

bool Workspace::Internals::didExport(const fs::path& url, std::optional<std::int64_t> channels,
                                     const CancellationToken& token) {
    if (!job_.owns(token)) return false;
    if (token->isCancelled()) {
        job_.finishCancelled(L("已取消导出，原片未改动。"));
        return false;
    }
    setSourceReadIssue(std::nullopt);
    setCutOutput(url);
    set(&ExportState::outputIsHandoff, false);
    set(&ExportState::exportedAudioChannels, channels);
    set(&ExportState::channelStemsFolder, std::nullopt);
    job_.finish(JobOutcome::succeeded, L("已导出剪后文件及可恢复的剪辑项目。"));
    if (!channels)
        owner.setNotice(L("文件已导出，但未能读取输出声道数。请在目标软件中确认声音和声道后再使用。"));
    else if (*channels >= kMultichannelCount)
        owner.setNotice(
            L("已导出多声道文件。部分剪辑软件会将它混为双声道，可能漏掉某些声道的声音。剪映 11.6 "
              "的一次默认导出测试中，第 4 声道的信号几乎消失。请保留原片，并在目标软件中逐声道核验。"));
    return true;
}

void Workspace::Internals::projectSaveFailed(const std::string& text) {
    lastDiagnosticError_ = SupportDiagnostics::privateError(text);
    setCutStatus(L("剪后文件已导出，但项目文件保存失败。"));
    owner.setNotice(L("视频或音频已成功导出。项目文件保存失败：%@", text));
}

void Workspace::Internals::exportFailed(std::exception_ptr error, const CancellationToken& token) {
    if (!job_.owns(token)) return;
    if (errorIs<ProcessTimeout>(error)) setSourceReadIssue(describeError(error));
    job_.finish(error);
}

}  // namespace talvian
