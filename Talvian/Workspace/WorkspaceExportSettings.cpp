// The export settings: the output folder, the audio container, and the background read of
// the source's audio format that the export panel describes.

#include <QSettings>

#include <cstdio>

#include "Export/SupportDiagnostics.h"
#include "Model/Localization.h"
#include "Process/MediaProbe.h"
#include "Process/Runner.h"
#include "Support/FileSystem.h"
#include "WorkspaceInternals.h"

namespace fs = std::filesystem;

namespace talvian {

void Workspace::setAudioHandoffInfoPresented(bool value) {
    const Operation operation(*this);
    d_->set(&ExportState::audioHandoffInfoPresented, value);
}

// ---- The export panel's facts

AudioOutputFormat Workspace::exportFormat() const {
    return document().project && document().project->info.hasVideo ? AudioOutputFormat::m4a
                                                                   : exports().audioOutputFormat;
}

std::optional<fs::path> Workspace::exportAudioSource() const {
    if (job().busy || d_->needsAnalysis() || !document().project || !document().source ||
        document().project->source != document().source->string())
        return std::nullopt;
    return document().source;
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

void Workspace::Internals::resetExportAudioInfo() {
    exportAudioLoader_.cancel();
    exportAudioInfoSource_.reset();
    set(&ExportState::audioInfo, std::nullopt);
    set(&ExportState::audioInfoLoading, false);
    set(&ExportState::audioInfoIssue, std::nullopt);
}

void Workspace::cancelExportAudioInfo() {
    const Operation operation(*this);
    d_->exportAudioLoader_.cancel();
    d_->set(&ExportState::audioInfoLoading, false);
}

void Workspace::readExportAudioInfo() {
    const Operation operation(*this);
    const auto url = exportAudioSource();
    // The facts of a source do not change while it stays the source.
    if (url && d_->exportAudioInfoSource_ == url && exports().audioInfo) return;
    d_->resetExportAudioInfo();
    if (!url) return;
    d_->exportAudioInfoSource_ = url;
    d_->set(&ExportState::audioInfoLoading, true);
    const AudioInfoReader reader = d_->exportAudioInfoReader_
                                       ? d_->exportAudioInfoReader_
                                       : [](const fs::path& file, const CancellationToken& t) {
                                             return AudioStreamProbe::read(file, t);
                                         };
    d_->exportAudioLoader_.request([this, reader, url = *url](const LoadTicket& ticket) {
        d_->runInBackground([reader, url, ticket](const MainThreadPost& post) {
            std::optional<AudioStreamInfo> info;
            std::exception_ptr error;
            try {
                info = reader(url, ticket.token);
            } catch (...) {
                error = std::current_exception();
            }
            post([info, error, url, ticket](Internals& in) {
                if (!in.exportAudioLoader_.isCurrent(ticket)) return;
                // The read is over either way: a view waiting for it is never left waiting.
                in.set(&ExportState::audioInfoLoading, false);
                if (in.owner.exportAudioSource() != url) return;
                if (info) return in.set(&ExportState::audioInfo, info);
                in.lastDiagnosticError_ = SupportDiagnostics::privateError(describeError(error));
                const bool timedOut = errorIs<ProcessTimeout>(error);
                in.set(&ExportState::audioInfoIssue,
                       std::optional<std::string>(
                           timedOut ? L("读取音频规格超时。可重新选择同一素材后重试，当前剪辑保留。")
                                    : L("无法读取音频规格。可重新选择同一素材后重试，当前剪辑保留。")));
            });
        });
    });
}

// ---- The output folder

void Workspace::chooseOutput() {
    const Operation operation(*this);
    if (!d_->window_) return;
    const auto chosen = d_->showPanel([this] {
        return d_->window_->chooseFolder({L("选择输出文件夹"), std::string(), exports().outputFolder});
    });
    if (!chosen) return;
    d_->set(&ExportState::outputFolder, *chosen);
    QSettings("Talvian", "Talvian")
        .setValue("talvian.outputFolder", QString::fromStdString(chosen->string()));
}

void Workspace::openOutput() {
    const Operation operation(*this);
    std::error_code error;
    fs::create_directories(exports().outputFolder, error);
    if (error) {
        const std::string text = fileError(L("创建"), exports().outputFolder, error.value()).message();
        d_->lastDiagnosticError_ = SupportDiagnostics::privateError(text);
        setNotice(text);
        return;
    }
    desktopServices().openFolder(exports().outputFolder);
}

// ---- The codec read of the export panel

void Workspace::cancelExportCodecs() {
    d_->exportCodecLoader_.cancel();
}

void Workspace::readExportCodecs(CodecRead read,
                                 std::function<void(const std::optional<std::string>&)> apply) {
    d_->exportCodecLoader_.request(
        [this, read = std::move(read), apply = std::move(apply)](const LoadTicket& ticket) {
            d_->runInBackground([read, apply, ticket](const MainThreadPost& post) {
                std::optional<std::string> codecs;
                try {
                    codecs = read(ticket.token);
                } catch (...) {
                    // A failed, timed-out or cancelled read leaves the picture size alone.
                }
                post([apply, ticket, codecs](Internals& in) {
                    if (in.exportCodecLoader_.isCurrent(ticket)) apply(codecs);
                });
            });
        });
}

}  // namespace talvian
