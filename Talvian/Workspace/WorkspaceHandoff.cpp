// The two outputs besides the cut file: one WAV per channel of a multichannel export, and
// the editor hand-off package of a video source (for audio sources, a WAV cut file).

#include "Export/ChannelStems.h"
#include "Export/ExportDiskPreflight.h"
#include "Export/HandoffPackage.h"
#include "Model/FileNaming.h"
#include "Model/Localization.h"
#include "WorkspaceInternals.h"

namespace fs = std::filesystem;

namespace talvian {

namespace {

// Channel counts worth splitting into stems.
constexpr std::int64_t kMinimumStemChannels = 3;
// Characters of a UUID that name a stems folder.
constexpr std::size_t kStemsFolderIDCharacters = 8;

}  // namespace

// ---- Channel stems

void Workspace::exportChannelStems() {
    const Operation operation(*this);
    if (job().busy || exports().outputIsHandoff || !document().cutOutput ||
        !exports().exportedAudioChannels || *exports().exportedAudioChannels < kMinimumStemChannels ||
        !d_->window_)
        return;
    const fs::path exported = *document().cutOutput;
    const auto parent = d_->showPanel([this] {
        return d_->window_->chooseFolder(
            {L("选择声道文件保存位置"),
             L("将新建文件夹，每个声道生成一份同步 "
               "WAV。与视频一起使用时，请对齐起点并静音视频自带音频，再逐声道检查。"),
             exports().outputFolder});
    });
    // The panel was modal: another job or result may have arrived meanwhile.
    if (!parent || job().busy || document().cutOutput != exported || exports().outputIsHandoff) return;
    const fs::path stems =
        *parent / (L("声道") + "-WAV-" + Uuid::random().string().substr(0, kStemsFolderIDCharacters));

    const CancellationToken token = d_->job_.start(L("准备分离声道"));
    const ProgressCallback progress = d_->jobProgress(token);
    d_->runInBackground([exported, stems, token, progress](const MainThreadPost& post) {
        try {
            const fs::path folder = ChannelStems::exportStems(exported, stems, token, progress);
            post([folder, token](Internals& in) { in.didExportChannelStems(folder, token); });
        } catch (...) {
            post([error = std::current_exception(), token](Internals& in) {
                if (in.job_.owns(token)) in.job_.finish(error);
            });
        }
    });
}

void Workspace::Internals::didExportChannelStems(const fs::path& folder, const CancellationToken& token) {
    if (!job_.owns(token)) return;
    if (token->isCancelled()) return job_.finishCancelled(L("已取消导出，原片未改动。"));
    set(&ExportState::channelStemsFolder, std::optional<fs::path>(folder));
    job_.finish(JobOutcome::succeeded, L("已生成各声道 WAV；对齐视频起点并检查混音。"));
    owner.setNotice(L(
        "各声道 WAV 已生成。请分别放入独立音轨并对齐到同一起点，勿首尾串接；与视频一起使用时先静音视频自带音"
        "频。逐声道试听；混音后检查同步、相位和峰值，峰值超标时降低音轨音量并重新检查。"));
}

// ---- Editor hand-off

void Workspace::exportHandoff() {
    const Operation operation(*this);
    if (!document().project || d_->needsAnalysis() || job().busy) return;
    if (!document().project->info.hasVideo) {
        setAudioHandoffInfoPresented(true);
        return;
    }
    if (!d_->window_) return;
    const CutProject project = *document().project;
    SavePanelRequest request;
    request.kind = SavePanelRequest::Kind::package;
    request.title = L("导出剪映工程 · 试验");
    request.prompt = L("生成交接包");
    request.nameLabel = L("交接包名称：");
    request.defaultName = fs::path(project.source).stem().string() + L(" 剪映交接");
    request.startFolder = exports().outputFolder;
    request.message =
        L("保留完整原片和可调整的切点，约占用 %@。已用30fps H.264测试片实测剪映 Mac "
          "5.5.0、11.6.0。暂限标准 SDR（Rec.709）、固定帧率的单音轨视频。切点对齐整帧，不传递音频淡入淡出。",
          byteCountText(project.sourceBytes));
    const auto chosen = d_->showPanel([this, &request] { return d_->window_->chooseSaveLocation(request); });
    if (!chosen || job().busy) return;
    const fs::path package = *chosen;

    stopAudition(true);
    d_->pausePlayer();
    const CancellationToken token = d_->job_.start(L("正在检查工程交接条件…"));
    d_->setCutOutput(std::nullopt);
    const ProgressCallback progress = d_->jobProgress(token);
    d_->runInBackground([project, package, token, progress](const MainThreadPost& post) {
        try {
            EditorHandoffResult result = EditorHandoff::exportPackage(project, package, token, progress);
            post([result = std::move(result), token](Internals& in) {
                if (!in.job_.owns(token)) return;
                if (token->isCancelled()) return in.job_.finishCancelled(L("已取消工程导出，原片未改动。"));
                in.set(&ExportState::handoffXMLURL, std::optional<fs::path>(result.xmlURL));
                in.setCutOutput(result.folder);
                in.set(&ExportState::outputIsHandoff, true);
                in.job_.finish(JobOutcome::succeeded,
                               L("已生成 %@ 段工程，共 %@。下一步在剪映首页导入时间线。",
                                 static_cast<long long>(result.clips), timeLabel(result.duration)));
            });
        } catch (...) {
            post([error = std::current_exception(), token](Internals& in) {
                // A failure of a job that was replaced meanwhile must not end the new one.
                if (in.job_.owns(token)) in.job_.finish(error, L("已取消工程导出，原片未改动。"));
            });
        }
    });
}

void Workspace::exportAudioHandoffWAV() {
    const Operation operation(*this);
    const bool ready = exports().audioHandoffInfoPresented && document().project &&
                       !document().project->info.hasVideo && document().source &&
                       document().project->source == document().source->string() && !d_->needsAnalysis() &&
                       !job().busy;
    setAudioHandoffInfoPresented(false);
    if (!ready) return;
    setAudioOutputFormat(AudioOutputFormat::wav);
    exportCut();
}

}  // namespace talvian
