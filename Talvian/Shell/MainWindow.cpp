#include "MainWindow.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTextEdit>

#include "Model/Localization.h"
#include "Workspace/Workspace.h"
#include "WorkspaceView.h"

namespace talvian {

namespace fs = std::filesystem;

namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}
fs::path pathOf(const QString& file) {
    return QFile::encodeName(file).toStdString();
}

// Every format the media layer opens is worth offering; the analysis refuses the rest with its
// own message.
QString mediaFilter() {
    return qt(L("音频或视频")) +
           QStringLiteral(
               " (*.mp4 *.m4v *.mov *.mkv *.webm *.avi *.mts *.m2ts *.mxf *.m4a *.mp3 *.wav *.aif "
               "*.aiff *.aac *.flac *.ogg *.opus *.caf *.wma *.MP4 *.MOV *.M4A *.MP3 *.WAV)") +
           QStringLiteral(";;") + qt(L("所有文件")) + QStringLiteral(" (*)");
}

// Qt's own dialog, so that it carries the application's palette and Chinese texts everywhere.
std::unique_ptr<QFileDialog> makeDialog(QWidget* parent, const std::string& title,
                                        const std::optional<fs::path>& startFolder) {
    auto dialog = std::make_unique<QFileDialog>(parent, qt(title));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    if (startFolder) dialog->setDirectory(QString::fromStdString(startFolder->string()));
    return dialog;
}

std::optional<fs::path> run(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return pathOf(dialog.selectedFiles().front());
}

}  // namespace

MainWindow::MainWindow(Workspace& workspace, QStringList arguments, QWidget* parent)
    : QMainWindow(parent),
      workspace_(workspace),
      view_(new WorkspaceView(workspace, std::move(arguments), this)) {
    setWindowTitle(qt(L("Talvian")));
    setCentralWidget(view_);
    view_->setFocus();
    resize(kDefaultSize);
    responder_.onToggle = [this] { view_->togglePlayback(); };
    responder_.onKey = [this](const QKeyEvent& event) { return view_->handleKey(event); };
    workspace_.setWindow(this);
}

MainWindow::~MainWindow() {
    workspace_.setWindow(nullptr);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (responder_.keyDown(*event, QApplication::focusWidget()))
        event->accept();
    else
        QMainWindow::keyPressEvent(event);
}

void MainWindow::keyReleaseEvent(QKeyEvent* event) {
    if (responder_.keyUp(*event))
        event->accept();
    else
        QMainWindow::keyReleaseEvent(event);
}

void MainWindow::changeEvent(QEvent* event) {
    // A window that loses the keys never sees the release of a held space bar.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) responder_.reset();
    QMainWindow::changeEvent(event);
}

// ---- Text editing

bool MainWindow::endTextEditing() {
    QWidget* focus = QApplication::focusWidget();
    if (!PlaybackSpaceResponder::isTextInput(focus) || focus->window() != this) return true;
    focus->clearFocus();
    return !focus->hasFocus();
}

namespace {

// One undo (or redo) step in the text field being typed in; false when none is.
bool stepTextEditing(bool undo) {
    QWidget* focus = QApplication::focusWidget();
    if (auto* line = qobject_cast<QLineEdit*>(focus)) {
        undo ? line->undo() : line->redo();
        return true;
    }
    if (auto* text = qobject_cast<QTextEdit*>(focus)) {
        undo ? text->undo() : text->redo();
        return true;
    }
    if (auto* plain = qobject_cast<QPlainTextEdit*>(focus)) {
        undo ? plain->undo() : plain->redo();
        return true;
    }
    return false;
}

}  // namespace

bool MainWindow::undoTextEditing() {
    return stepTextEditing(true);
}

bool MainWindow::redoTextEditing() {
    return stepTextEditing(false);
}

// ---- Panels

std::optional<fs::path> MainWindow::chooseMediaFile(const std::string& title) {
    auto dialog = makeDialog(this, title, std::nullopt);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(mediaFilter());
    return run(*dialog);
}

std::optional<fs::path> MainWindow::chooseProjectFile(const OpenPanelRequest& request) {
    auto dialog = makeDialog(this, request.title, request.startFolder);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setLabelText(QFileDialog::LookIn, qt(request.message));
    dialog->setNameFilter(qt(L("剪辑项目")) + QStringLiteral(" (*.json);;") + qt(L("所有文件")) +
                          QStringLiteral(" (*)"));
    return run(*dialog);
}

std::optional<fs::path> MainWindow::chooseSourceFile(const OpenPanelRequest& request) {
    auto dialog = makeDialog(this, request.title, request.startFolder);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(mediaFilter());
    return run(*dialog);
}

std::optional<fs::path> MainWindow::chooseFolder(const OpenPanelRequest& request) {
    auto dialog = makeDialog(this, request.title, request.startFolder);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    return run(*dialog);
}

std::optional<fs::path> MainWindow::chooseSaveLocation(const SavePanelRequest& request) {
    const bool mayReplace = request.kind != SavePanelRequest::Kind::package;
    while (true) {
        auto dialog = makeDialog(this, request.title, request.startFolder);
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        if (!request.defaultName.empty()) dialog->selectFile(qt(request.defaultName));
        if (!request.prompt.empty()) dialog->setLabelText(QFileDialog::Accept, qt(request.prompt));
        if (!request.nameLabel.empty()) dialog->setLabelText(QFileDialog::FileName, qt(request.nameLabel));
        if (!mayReplace) dialog->setOption(QFileDialog::DontConfirmOverwrite);
        auto chosen = run(*dialog);
        std::error_code error;
        if (!chosen || mayReplace || !fs::exists(*chosen, error)) return chosen;
        // A package is a new folder: an existing name is never replaced.
        QMessageBox::information(this, qt(L("提示")), qt(L("已有同名文件或文件夹，请换一个名称。")));
    }
}

}  // namespace talvian
