// The support report saved as a text file: gathered on the main thread, built off it, written
// atomically where the user chose. No job: the controller does not become busy.

#include <QLocale>
#include <QStringList>

#include <nlohmann/json.hpp>

#include "Export/SupportDiagnostics.h"
#include "Model/AppConfiguration.h"
#include "Model/FileSystem.h"
#include "Model/Localization.h"
#include "Process/Dependencies.h"
#include "Process/Runner.h"
#include "Workspace.h"

namespace fs = std::filesystem;

namespace talvian {

namespace {

// ffprobe's time limit for the report's media facts (seconds).
constexpr double kDiagnosticsProbeTimeoutSeconds = 12.0;

std::string infoText(const nlohmann::json& info, const char* key) {
    const auto found = info.find(key);
    return found != info.end() && found->is_string() ? found->get<std::string>() : "—";
}

// The language code of the user's first preferred language ("zh", "en"); "en" when none.
std::string preferredLanguage() {
    const QStringList languages = QLocale::system().uiLanguages();
    if (languages.isEmpty()) return "en";
    const QLocale locale(languages.first());
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage) return "en";
    const QString code = QLocale::languageToCode(locale.language());
    return code.isEmpty() ? "en" : code.toStdString();
}

struct ProbedStreams {
    std::vector<std::string> codecs;
    std::optional<std::int64_t> channels;
};

// Codec names of the audio and video streams and the first audio stream's channel count;
// any failure leaves the facts empty (the report shows "—").
ProbedStreams probeStreams(const fs::path& source) {
    ProbedStreams facts;
    try {
        const auto result =
            Runner::run(Dependencies::require("ffprobe"),
                        {"-v", "error", "-show_entries", "stream=codec_type,codec_name,channels", "-of",
                         "json", source.string()},
                        makeCancellation(), kDiagnosticsProbeTimeoutSeconds);
        const auto answer = nlohmann::json::parse(result.stdout, nullptr, false);
        if (!answer.is_object() || !answer.contains("streams") || !answer["streams"].is_array()) return {};
        bool firstAudio = true;
        for (const auto& stream : answer["streams"]) {
            if (!stream.is_object()) continue;
            const auto type = stream.value("codec_type", nlohmann::json()).is_string()
                                  ? stream["codec_type"].get<std::string>()
                                  : std::string();
            if (type != "audio" && type != "video") continue;
            if (stream.contains("codec_name") && stream["codec_name"].is_string())
                facts.codecs.push_back(stream["codec_name"].get<std::string>());
            if (type == "audio" && firstAudio) {
                firstAudio = false;
                if (stream.contains("channels") && stream["channels"].is_number_integer())
                    facts.channels = stream["channels"].get<std::int64_t>();
            }
        }
    } catch (...) {
        return {};
    }
    return facts;
}

}  // namespace

void Workspace::exportDiagnostics() {
    if (!window_) return;
    SavePanelRequest request;
    request.kind = SavePanelRequest::Kind::plainText;
    request.defaultName = "Talvian-Diagnostics.txt";
    const auto target = window_->chooseSaveLocation(request);
    if (!target) return;

    // The snapshot: edits made while the report is built do not reach it.
    const std::optional<MediaInfo> info = project_ ? std::optional<MediaInfo>(project_->info) : std::nullopt;
    const std::optional<fs::path> source = source_;
    const std::optional<std::string> lastError = lastDiagnosticError_;
    const nlohmann::json infoDictionary = readInfoDictionary();
    const std::string version = infoText(infoDictionary, "CFBundleShortVersionString");
    const std::string build = infoText(infoDictionary, "CFBundleVersion");
    const std::string language = preferredLanguage();

    runInBackground([this, target = *target, info, source, lastError, version, build, language] {
        const ProbedStreams streams = source ? probeStreams(*source) : ProbedStreams();
        std::optional<DiagnosticMedia> media;
        if (info) media = DiagnosticMedia(*info, streams.codecs, streams.channels);
        const std::string report =
            SupportDiagnostics::text(version, build, SupportDiagnostics::systemVersion(),
                                     SupportDiagnostics::processorName(), language, lastError, media);
        postToMain([target, report](Workspace& w) {
            try {
                writeFileAtomically(target, report);
            } catch (...) {
                w.setNotice(L("无法保存诊断信息，请选择其他保存位置。"));
            }
        });
    });
}

}  // namespace talvian
