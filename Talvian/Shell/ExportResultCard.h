#pragma once
// The card that follows every new export result: what was written, the button that shows it in
// the file browser, the channel WAVs of a multichannel file, and, after an editor hand-off, the
// guide that names the timeline file and copies its path for the editor's file chooser. It
// reads everything from the controller at each change and keeps nothing but the guide's
// "copied" flag. Main thread.

#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

class QLabel;
class QHBoxLayout;
class QVBoxLayout;

namespace talvian {

class StudioButton;
class Workspace;
class WorkspaceView;

// What the card reads of the controller.
struct ResultCardFacts {
    std::optional<std::filesystem::path> output;
    std::optional<std::int64_t> channels;
    bool outputIsHandoff = false;
    std::optional<std::filesystem::path> stemsFolder;
    std::optional<std::filesystem::path> handoffTimeline;
    bool busy = false;

    static ResultCardFacts of(const Workspace& workspace);
};

// What the card shows and what its buttons act on.
struct ResultCardState {
    // The file or folder name of the output; empty without one.
    std::string outputName;
    // "打开文件夹" shows this selected; without it the output folder is opened instead.
    std::optional<std::filesystem::path> revealed;
    // "声道 WAV…" is offered only where the controller will act on it: a recorded cut file (not
    // a hand-off package, whose channel count is an earlier export's) of at least 3 channels.
    bool offersStems = false;
    // It is offered but a job runs: the controller would ignore it now.
    bool stemsEnabled = false;
    // "显示声道" shows this folder.
    std::optional<std::filesystem::path> stemsFolder;
    // The hand-off guide's timeline file: only while the output shown is the package holding it,
    // so that a later cut export never shows an earlier package's guide.
    std::optional<std::filesystem::path> guideTimeline;

    bool operator==(const ResultCardState&) const = default;
    static ResultCardState make(const ResultCardFacts& facts);
};

// The guide below the card's buttons after a hand-off.
class HandoffGuide : public QWidget {
    Q_OBJECT

  public:
    explicit HandoffGuide(std::filesystem::path timeline, QWidget* parent = nullptr);
    const std::filesystem::path& timeline() const { return timeline_; }
    // The plain file-system path went onto the clipboard and reading it back gave that path.
    bool copied() const { return copied_; }
    // Clears the clipboard, writes the path as plain text and reads it back.
    void copyPath();
    // The sentence naming the timeline file.
    static std::string sentence(const std::filesystem::path& timeline);

  private:
    void showCopied();

    std::filesystem::path timeline_;
    bool copied_ = false;
    StudioButton* copy_;
};

class ExportResultCard : public QWidget {
    Q_OBJECT

  public:
    ExportResultCard(Workspace& workspace, WorkspaceView& view, QWidget* parent = nullptr);

    const ResultCardState& state() const { return state_; }
    // The guide while one is shown.
    HandoffGuide* guide() const { return guide_; }

    static constexpr int kWidth = 500;

  private:
    void refresh();
    void close();
    void reveal();
    void exportStems();

    Workspace& workspace_;
    WorkspaceView& view_;
    ResultCardState state_;
    bool shown_ = false;  // refresh() has built the widgets once

    QVBoxLayout* stack_;
    QLabel* name_;
    StudioButton* stems_;
    StudioButton* showStems_;
    HandoffGuide* guide_ = nullptr;
};

}  // namespace talvian
