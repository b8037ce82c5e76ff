#pragma once
// The root of the window: the header, the start screen or the editor, and the footer; the
// panel shown over the dimmed window; the controller's notice in an alert; the highlight while
// a file is dragged over the window; the window's single-key shortcuts; and, on the first
// appearance, the "--demo" launch argument. It keeps no state beyond which panel is open and
// a few flags; everything else is the controller's. Main thread.

#include <QStringList>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <optional>

class QKeyEvent;
class QMessageBox;
class QStackedWidget;

namespace talvian {

class EditorView;
class FooterBar;
class HeaderBar;
class StartScreen;
class Workspace;

// The panel shown over the window. ("export" is a keyword in C++.)
enum class ModalPanel { settings, exportPanel, done };

class WorkspaceView : public QWidget {
    Q_OBJECT

  public:
    // `arguments` are the process's launch arguments.
    WorkspaceView(Workspace& workspace, QStringList arguments, QWidget* parent = nullptr);
    ~WorkspaceView() override;

    // Makes the content of a panel (its card frame is added here); a panel without content
    // cannot be opened. The window's own panels are installed from the start; tests replace them.
    using PanelFactory = std::function<QWidget*(ModalPanel modal, WorkspaceView& view)>;
    void setPanelFactory(PanelFactory factory) { panelFactory_ = std::move(factory); }

    const std::optional<ModalPanel>& modal() const { return modal_; }
    // Opens (or, with nullopt, closes) the panel; the panel shown before is destroyed.
    void setModal(std::optional<ModalPanel> modal);
    // A panel is open: the window's content is dimmed and disabled and drops are refused.
    bool obstructed() const { return modal_.has_value(); }
    // The notice alert is open.
    bool noticeShown() const;
    // A panel or the notice is open: nothing the window does may change the edit.
    bool blocked() const { return obstructed() || noticeShown(); }
    // The "添加切点" popover of the timeline is open (set by the timeline).
    void setManualPresented(bool presented) { manualPresented_ = presented; }
    bool manualPresented() const { return manualPresented_; }
    // Makes the timeline's manual-range popover (see TimelineArea); its owner installs it.
    void setManualPopoverFactory(std::function<QWidget*(QWidget* anchor)> factory);
    bool dragOver() const { return dragOver_; }
    // The start screen shows while there is neither a source nor a project.
    bool showsStartScreen() const;

    // The window's single keys; true when the key was consumed.
    bool handleKey(const QKeyEvent& event);
    // The space bar: plays or pauses unless the window is blocked.
    void togglePlayback();

    HeaderBar& header() { return *header_; }
    EditorView& editor() { return *editor_; }
    QWidget* panel() const { return panel_; }
    QMessageBox* noticeAlert() const { return notice_; }

    // The smallest content size of the window.
    static constexpr QSize kMinimumSize{940, 760};

  signals:
    void modalChanged();
    // The window has painted for the first time (once per view).
    void firstPainted();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void documentChanged();
    void syncNotice();
    void setDragOver(bool over);
    void layOutOverlays();

    Workspace& workspace_;
    QStringList arguments_;
    PanelFactory panelFactory_;
    std::optional<ModalPanel> modal_;
    bool dragOver_ = false;
    bool started_ = false;  // the first paint's work has run
    bool manualPresented_ = false;
    // The last output seen: a new one opens the result card.
    std::optional<std::filesystem::path> shownOutput_;

    QWidget* content_;
    HeaderBar* header_;
    QStackedWidget* pages_;
    StartScreen* start_;
    EditorView* editor_;
    FooterBar* footer_;
    QWidget* dimmer_;
    QWidget* panel_ = nullptr;
    QWidget* dragHighlight_;
    QMessageBox* notice_ = nullptr;
};

}  // namespace talvian
