#pragma once
// The export panel: what the export will write (length after the cut, picture size and
// codecs, sound format, notes), the output folder, the hand-off offers, and the export itself.
// It keeps only its own loading state (the codec summary and the read's identity); every
// other value is the controller's and every action one of its operations. Main thread.

#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "Model/CoreTypes.h"

class QAbstractButton;
class QLabel;

namespace talvian {

class FilledShape;
class Workspace;
class WorkspaceView;

class ExportPanel : public QWidget {
    Q_OBJECT

  public:
    // The panel's outer width, its padding included.
    static constexpr int kWidth = 470;

    ExportPanel(Workspace& workspace, WorkspaceView& view, QWidget* parent = nullptr);
    ~ExportPanel() override;

    // The output folder as shown: the home folder folds to "~", a folder inside it to
    // "~/…"; anything else (also "/home/xy" with home "/home/x") stays whole.
    static std::string displayPath(const std::string& path, const std::string& home);

    // What the panel is shown from.
    struct Facts {
        bool hasProject = false;
        bool hasVideo = false;
        std::int64_t width = 0;
        std::int64_t height = 0;
        double duration = 0;
        double removedDuration = 0;
        std::optional<std::string> videoCodecs;
        std::optional<std::string> audioSpecLabel;
        std::optional<std::string> audioInfoIssue;
        std::optional<std::string> audioTrackNote;
        bool copiesOriginal = false;
        bool hasOutput = false;  // a delivered result of the open recording
        std::optional<std::int64_t> exportedAudioChannels;
        bool outputIsHandoff = false;
        bool channelStemsFolderSet = false;
        bool audioHandoffInfoPresented = false;
        bool cutBusy = false;
        bool needsAnalysis = false;
    };
    enum class SoundLine { format, issue, reading };
    // What the panel shows for those facts.
    struct State {
        bool formatChoice = false;  // the M4A / WAV segments instead of the fixed MP4 box
        std::string keptDuration;   // the "剪后时长" value
        std::optional<std::string> videoRow;
        SoundLine soundLine = SoundLine::reading;
        std::string soundText;  // the audio format label, the read issue, or the reading sentence
        std::optional<std::string> trackNote;
        bool copyNote = false;
        bool offersStems = false;
        bool showsStems = false;
        bool audioHandoff = false;
        bool exportEnabled = false;
        bool operator==(const State&) const = default;
    };
    static State state(const Facts& facts);
    Facts facts() const;

    // Reads the codecs of the export source; the controller runs it on its pool. Replaceable
    // so that a test can hold a read open.
    using CodecReader = std::function<std::optional<std::string>(
        const std::filesystem::path& source, bool copiesOriginal, std::optional<std::int64_t> channels,
        const CancellationToken& cancellation)>;
    void setCodecReader(CodecReader reader) { codecReader_ = std::move(reader); }

    const std::optional<std::string>& videoCodecs() const { return videoCodecs_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void close();
    void load();
    void continueLoading();
    void applyCodecs(const std::filesystem::path& source, const std::optional<std::string>& codecs);
    void disappear();
    void refresh();
    void fitCard();

    Workspace& workspace_;
    WorkspaceView& view_;
    CodecReader codecReader_;
    bool awaitingAudioInfo_ = false;
    bool started_ = false;
    std::optional<std::string> videoCodecs_;

    FilledShape* mp4Box_ = nullptr;
    FilledShape* formatBox_ = nullptr;
    QAbstractButton* m4a_ = nullptr;
    QAbstractButton* wav_ = nullptr;
    QLabel* keptDuration_ = nullptr;
    QWidget* videoRow_ = nullptr;
    QLabel* videoValue_ = nullptr;
    QWidget* formatRow_ = nullptr;
    QLabel* formatValue_ = nullptr;
    QWidget* issueBox_ = nullptr;
    QLabel* issueText_ = nullptr;
    QLabel* reading_ = nullptr;
    QLabel* trackNote_ = nullptr;
    QLabel* copyNote_ = nullptr;
    QLabel* folder_ = nullptr;
    QAbstractButton* stems_ = nullptr;
    QAbstractButton* showStems_ = nullptr;
    QWidget* audioHandoff_ = nullptr;
    QAbstractButton* export_ = nullptr;
};

}  // namespace talvian
