// The export settings: the output folder, the audio container, and the background read of
// the source's audio format that the export panel describes.

#include <QSettings>

#include <cstdio>

#include "Export/SupportDiagnostics.h"
#include "Model/FileSystem.h"
#include "Model/Localization.h"
#include "Process/Runner.h"
#include "Workspace.h"

namespace fs = std::filesystem;

namespace talvian {

void Workspace::setAudioHandoffInfoPresented(bool value) {
    publish(audioHandoffInfoPresented_, value);
}

// ---- The export panel's facts

AudioOutputFormat Workspace::exportFormat() const {
    return project_ && project_->info.hasVideo ? AudioOutputFormat::m4a : audioOutputFormat_;
}

std::optional<fs::path> Workspace::exportAudioSource() const {
    if (cutBusy_ || needsAnalysis() || !project_ || !source_ || project_->source != source_->string())
        return std::nullopt;
    return source_;
}

std::string Workspace::audioSpecText(std::int64_t sampleRate, std::int64_t channels) {
    std::string rate;
    if (sampleRate > 999) {
        rate = std::to_string(sampleRate / 1000);
        if (const std::int64_t rest = sampleRate % 1000; rest != 0) {
            char digits[8];
            std::snprintf(digits, sizeof digits, "%03d", static_cast<int>(rest));
            std::string fraction(digits);
            fraction.erase(fraction.find_last_not_of('0') + 1);
            rate += "." + fraction;
        }
        rate += " kHz";
    } else {
        rate = std::to_string(sampleRate) + " Hz";
    }
    const std::string layout = channels == 1   ? L("单声道")
                               : channels == 2 ? L("双声道")
                                               : L("%@ 声道", static_cast<long long>(channels));
    return rate + " · " + layout;
}

// ---- The audio-format read

void Workspace::cancelExportAudioInfo() {
    exportAudioInfoCancellation_->cancel();
    exportAudioInfoGeneration_ = Uuid::random();
    publish(exportAudioInfo_, std::optional<AudioStreamInfo>());
    publish(exportAudioInfoLoading_, false);
    publish(exportAudioInfoIssue_, std::optional<std::string>());
}

void Workspace::readExportAudioInfo() {
    cancelExportAudioInfo();
    const auto url = exportAudioSource();
    if (!url) return;
    const Uuid generation = Uuid::random();
    const CancellationToken token = makeCancellation();
    exportAudioInfoGeneration_ = generation;
    exportAudioInfoCancellation_ = token;
    publish(exportAudioInfoLoading_, true);
    const AudioInfoReader reader =
        exportAudioInfoReader_
            ? exportAudioInfoReader_
            : [](const fs::path& file, const CancellationToken& t) { return AudioStreamInfo::read(file, t); };
    runInBackground([this, reader, url = *url, generation, token] {
        std::optional<AudioStreamInfo> info;
        std::exception_ptr error;
        try {
            info = reader(url, token);
        } catch (...) {
            error = std::current_exception();
        }
        postToMain([info, error, url, generation, token](Workspace& w) {
            if (w.exportAudioInfoGeneration_ != generation || w.exportAudioSource() != url) return;
            w.publish(w.exportAudioInfoLoading_, false);
            if (token->isCancelled()) return;
            if (info) return w.publish(w.exportAudioInfo_, info);
            w.lastDiagnosticError_ = SupportDiagnostics::privateError(describeError(error));
            bool timedOut = false;
            try {
                std::rethrow_exception(error);
            } catch (const ProcessTimeout&) {
                timedOut = true;
            } catch (...) {
            }
            w.publish(w.exportAudioInfoIssue_,
                      std::optional<std::string>(
                          timedOut ? L("读取音频规格超时。可重新选择同一素材后重试，当前剪辑保留。")
                                   : L("无法读取音频规格。可重新选择同一素材后重试，当前剪辑保留。")));
        });
    });
}

// ---- The output folder

void Workspace::chooseOutput() {
    if (!window_) return;
    const auto chosen = window_->chooseFolder({L("选择输出文件夹"), std::string(), outputFolder_});
    if (!chosen) return;
    publish(outputFolder_, *chosen);
    QSettings("Talvian", "Talvian")
        .setValue("talvian.outputFolder", QString::fromStdString(chosen->string()));
}

void Workspace::openOutput() {
    std::error_code error;
    fs::create_directories(outputFolder_, error);
    if (error) {
        const std::string text = fileError(L("创建"), outputFolder_, error.value()).message();
        lastDiagnosticError_ = SupportDiagnostics::privateError(text);
        setNotice(text);
        return;
    }
    desktop().openFolder(outputFolder_);
}

}  // namespace talvian
