#pragma once
// What the controller needs of the window it serves: the modal panels, and the text field
// being typed in (which owns its own undo). The main window implements it; tests answer it.

#include <filesystem>
#include <optional>
#include <string>

namespace talvian {

// The texts and start folder of an open panel.
struct OpenPanelRequest {
    std::string title;
    std::string message;
    std::optional<std::filesystem::path> startFolder;
};

// A save panel. `kind` decides the content type the panel allows.
struct SavePanelRequest {
    enum class Kind { project, plainText, package };
    Kind kind = Kind::project;
    std::string title;
    std::string message;
    std::string prompt;       // the confirm button; empty: the panel's own
    std::string nameLabel;    // the label of the name field; empty: the panel's own
    std::string defaultName;  // proposed file or folder name
    std::optional<std::filesystem::path> startFolder;
};

class WorkspaceWindow {
  public:
    virtual ~WorkspaceWindow() = default;
    // A modal open panel for one media file (audio or video); nullopt when cancelled.
    virtual std::optional<std::filesystem::path> chooseMediaFile(const std::string& title) = 0;
    // Asks the focused text field to end editing; false when it keeps the focus.
    virtual bool endTextEditing() = 0;
    // Undo/redo inside the text field being typed in; false when no field is being edited.
    virtual bool undoTextEditing() = 0;
    virtual bool redoTextEditing() = 0;

    // ==== Panels of project files, sources and outputs. Each is modal and returns nullopt
    //      when the user cancels.
    // One review-project JSON file or one folder (a hand-off package).
    virtual std::optional<std::filesystem::path> chooseProjectFile(const OpenPanelRequest& request) = 0;
    // One movie or audio file.
    virtual std::optional<std::filesystem::path> chooseSourceFile(const OpenPanelRequest& request) = 0;
    // One folder; new folders may be made in the panel.
    virtual std::optional<std::filesystem::path> chooseFolder(const OpenPanelRequest& request) = 0;
    // Where to write a new file or package; an existing file may be chosen for replacement
    // only where the kind allows it (projects and plain text).
    virtual std::optional<std::filesystem::path> chooseSaveLocation(const SavePanelRequest& request) = 0;
    // ==== end of panels
};

}  // namespace talvian
