// The support report saved as a text file: gathered on the main thread, built off it, written
// atomically where the user chose. No job: the controller does not become busy.

#include <QLocale>
#include <QStringList>

#include <nlohmann/json.hpp>

#include "Export/SupportDiagnostics.h"
#include "Model/Localization.h"
#include "Support/AppConfiguration.h"
#include "Support/FileSystem.h"
#include "WorkspaceInternals.h"

namespace fs = std::filesystem;

namespace talvian {

namespace {

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

}  // namespace

void Workspace::exportDiagnostics() {
    const Operation operation(*this);
    if (!d_->window_) return;
    SavePanelRequest request;
    request.kind = SavePanelRequest::Kind::plainText;
    request.defaultName = "Talvian-Diagnostics.txt";
    const auto target = d_->showPanel([this, &request] { return d_->window_->chooseSaveLocation(request); });
    if (!target) return;

    // The snapshot: edits made while the report is built do not reach it.
    const std::optional<MediaInfo> info =
        document().project ? std::optional<MediaInfo>(document().project->info) : std::nullopt;
    const std::optional<fs::path> source = document().source;
    const std::optional<std::string> lastError = d_->lastDiagnosticError_;
    const nlohmann::json infoDictionary = readInfoDictionary();
    const std::string version = infoText(infoDictionary, "CFBundleShortVersionString");
    const std::string build = infoText(infoDictionary, "CFBundleVersion");
    const std::string language = preferredLanguage();

    d_->runInBackground(
        [target = *target, info, source, lastError, version, build, language](const MainThreadPost& post) {
            const DiagnosticStreams streams =
                source ? SupportDiagnostics::probeStreams(*source) : DiagnosticStreams();
            std::optional<DiagnosticMedia> media;
            if (info) media = DiagnosticMedia(*info, streams.codecs, streams.channels);
            const std::string report =
                SupportDiagnostics::text(version, build, SupportDiagnostics::systemVersion(),
                                         SupportDiagnostics::processorName(), language, lastError, media);
            post([target, report](Internals& in) {
                try {
                    writeFileAtomically(target, report);
                } catch (...) {
                    // One advice whatever the reason: the user picks another place.
                    in.owner.setNotice(L("无法保存诊断信息，请选择其他保存位置。"));
                }
            });
        });
}

}  // namespace talvian
