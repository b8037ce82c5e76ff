#include "MainWindow.h"

#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>

#include "FilePanel.h"
#include "Model/Localization.h"
#include "Workspace/Workspace.h"
#include "WorkspaceView.h"

namespace talvian {

namespace fs = std::filesystem;

namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

QString filter(const std::string& name, const char* patterns) {
    return qt(name) + QStringLiteral(" (") + QLatin1String(patterns) + QStringLiteral(")");
}

QString withAllFiles(const QString& filters) {
    return filters + QStringLiteral(";;") + filter(L("所有文件"), "*");
}

// Every format the media layer opens is worth offering; the analysis refuses the rest with its
// own message.
QString mediaFilter() {
    return withAllFiles(
        filter(L("音频或视频"),
               "*.mp4 *.m4v *.mov *.mkv *.webm *.avi *.mts *.m2ts *.mxf *.m4a *.mp3 *.wav *.aif "
               "*.aiff *.aac *.flac *.ogg *.opus *.caf *.wma *.MP4 *.MOV *.M4A *.MP3 *.WAV"));
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

MenuCommands& MainWindow::installMenus(MenuCommands::Services services) {
    if (!menus_) menus_ = new MenuCommands(*this, workspace_, std::move(services));
    return *menus_;
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
    return chooseSourceFile({title, std::string(), std::nullopt});
}

std::optional<fs::path> MainWindow::chooseProjectFile(const OpenPanelRequest& request) {
    FilePanel panel(this, request.title, request.message, request.startFolder);
    panel.files().setFileMode(QFileDialog::ExistingFile);
    panel.files().setNameFilter(withAllFiles(filter(L("剪辑项目"), "*.json")));
    // A hand-off package is a folder: the one being shown can be chosen as it is.
    panel.offerFolder();
    return panel.run();
}

std::optional<fs::path> MainWindow::chooseSourceFile(const OpenPanelRequest& request) {
    FilePanel panel(this, request.title, request.message, request.startFolder);
    panel.files().setFileMode(QFileDialog::ExistingFile);
    panel.files().setNameFilter(mediaFilter());
    return panel.run();
}

std::optional<fs::path> MainWindow::chooseFolder(const OpenPanelRequest& request) {
    FilePanel panel(this, request.title, request.message, request.startFolder);
    panel.files().setFileMode(QFileDialog::Directory);
    panel.files().setOption(QFileDialog::ShowDirsOnly);
    return panel.run();
}

std::optional<fs::path> MainWindow::chooseSaveLocation(const SavePanelRequest& request) {
    const bool mayReplace = request.kind != SavePanelRequest::Kind::package;
    while (true) {
        FilePanel panel(this, request.title, request.message, request.startFolder);
        QFileDialog& files = panel.files();
        files.setAcceptMode(QFileDialog::AcceptSave);
        files.setFileMode(QFileDialog::AnyFile);
        if (request.kind == SavePanelRequest::Kind::project)
            files.setNameFilter(withAllFiles(filter(L("剪辑项目"), "*.json")));
        if (request.kind == SavePanelRequest::Kind::plainText)
            files.setNameFilter(withAllFiles(filter(L("文本文件"), "*.txt")));
        if (!request.defaultName.empty()) files.selectFile(qt(request.defaultName));
        if (!request.prompt.empty()) files.setLabelText(QFileDialog::Accept, qt(request.prompt));
        if (!request.nameLabel.empty()) files.setLabelText(QFileDialog::FileName, qt(request.nameLabel));
        if (!mayReplace) files.setOption(QFileDialog::DontConfirmOverwrite);
        auto chosen = panel.run();
        std::error_code error;
        if (!chosen || mayReplace || !fs::exists(*chosen, error)) return chosen;
        // A package is a new folder: an existing name is never replaced.
        QMessageBox refusal(QMessageBox::NoIcon, qt(L("提示")), qt(L("已有同名文件或文件夹，请换一个名称。")),
                            QMessageBox::NoButton, this);
        refusal.addButton(qt(L("知道了")), QMessageBox::RejectRole)->setAutoDefault(false);
        refusal.exec();
    }
}

}  // namespace talvian
