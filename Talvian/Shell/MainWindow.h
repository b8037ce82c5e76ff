#pragma once
// The application's one window: it hosts the root view, answers the controller's requests for
// file panels and for the text field being typed in, carries the menu bar, and routes the keys
// that no widget consumed to the playback shortcuts. Main thread.

#include <QMainWindow>

#include "MenuCommands.h"
#include "PlaybackShortcuts.h"
#include "Workspace/WorkspaceWindow.h"

namespace talvian {

class Workspace;
class WorkspaceView;

class MainWindow : public QMainWindow, public WorkspaceWindow {
    Q_OBJECT

  public:
    MainWindow(Workspace& workspace, QStringList arguments, QWidget* parent = nullptr);
    ~MainWindow() override;

    WorkspaceView& view() { return *view_; }
    // Builds the menu bar once; the menus follow the controller and the services from then on.
    MenuCommands& installMenus(MenuCommands::Services services);
    // The menu bar's binder; null until installed.
    MenuCommands* menus() const { return menus_; }

    static constexpr QSize kDefaultSize{1280, 820};

    // WorkspaceWindow
    std::optional<std::filesystem::path> chooseMediaFile(const std::string& title) override;
    bool endTextEditing() override;
    bool undoTextEditing() override;
    bool redoTextEditing() override;
    std::optional<std::filesystem::path> chooseProjectFile(const OpenPanelRequest& request) override;
    std::optional<std::filesystem::path> chooseSourceFile(const OpenPanelRequest& request) override;
    std::optional<std::filesystem::path> chooseFolder(const OpenPanelRequest& request) override;
    std::optional<std::filesystem::path> chooseSaveLocation(const SavePanelRequest& request) override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    Workspace& workspace_;
    WorkspaceView* view_;
    MenuCommands* menus_ = nullptr;
    PlaybackSpaceResponder responder_;
};

}  // namespace talvian
