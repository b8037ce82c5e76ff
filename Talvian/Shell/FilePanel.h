#pragma once
// The file panels the controller asks for: Qt's own file dialog (not the desktop's, so that it
// carries the application's palette and Chinese texts everywhere) inside a dialog that shows the
// controller's message above it and, where a folder may be chosen instead of a file, a button
// that takes the folder shown. Main thread.

#include <QDialog>

#include <filesystem>
#include <optional>
#include <string>

class QFileDialog;

namespace talvian {

class FilePanel : public QDialog {
    Q_OBJECT

  public:
    FilePanel(QWidget* parent, const std::string& title, const std::string& message,
              const std::optional<std::filesystem::path>& startFolder);

    // The file dialog inside, for its mode, filters and labels.
    QFileDialog& files() { return *files_; }
    // Adds "选择当前文件夹": the folder being shown becomes the answer.
    void offerFolder();
    // Shows the panel modally; the chosen file or folder, nullopt when cancelled.
    std::optional<std::filesystem::path> run();

  private:
    QFileDialog* files_;
    std::optional<std::filesystem::path> folder_;
};

}  // namespace talvian
