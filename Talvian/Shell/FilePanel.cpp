#include "FilePanel.h"

#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Model/Localization.h"
#include "Views/Studio.h"

namespace talvian {

namespace {

constexpr int kSpacing = 12;

}  // namespace

FilePanel::FilePanel(QWidget* parent, const std::string& title, const std::string& message,
                     const std::optional<std::filesystem::path>& startFolder)
    : QDialog(parent), files_(new QFileDialog(this)) {
    setWindowTitle(QString::fromStdString(title));
    auto* stack = new QVBoxLayout(this);
    stack->setSpacing(kSpacing);
    if (!message.empty()) {
        auto* note = new QLabel(QString::fromStdString(message), this);
        note->setTextFormat(Qt::PlainText);
        note->setWordWrap(true);
        QPalette palette = note->palette();
        palette.setColor(QPalette::WindowText, Studio::secondary);
        note->setPalette(palette);
        stack->addWidget(note);
    }
    files_->setOption(QFileDialog::DontUseNativeDialog);
    // Embedded: the file dialog's own Open and Cancel end this panel.
    files_->setWindowFlags(Qt::Widget);
    if (startFolder) files_->setDirectory(QFile::decodeName(startFolder->c_str()));
    stack->addWidget(files_);
    connect(files_, &QDialog::finished, this, &QDialog::done);
}

void FilePanel::offerFolder() {
    auto* choose = new QPushButton(QString::fromStdString(L("选择当前文件夹")), this);
    choose->setAutoDefault(false);
    layout()->addWidget(choose);
    connect(choose, &QPushButton::clicked, this, [this] {
        folder_ = QFile::encodeName(files_->directory().absolutePath()).toStdString();
        accept();
    });
}

std::optional<std::filesystem::path> FilePanel::run() {
    folder_.reset();
    if (exec() != QDialog::Accepted) return std::nullopt;
    if (folder_) return folder_;
    const QStringList chosen = files_->selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return QFile::encodeName(chosen.front()).toStdString();
}

}  // namespace talvian
