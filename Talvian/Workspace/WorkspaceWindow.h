#pragma once
// What the controller needs of the window it serves: the open panel, and the text field
// being typed in (which owns its own undo). The main window implements it; tests answer it.

#include <filesystem>
#include <optional>
#include <string>

namespace talvian {

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
};

}  // namespace talvian
