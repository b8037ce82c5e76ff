#include "FilePanel.h"

#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Kit/Studio.h"
#include "Model/Localization.h"

namespace talvian {

namespace {

constexpr int kSpacing = 12;

// The columns of Qt's file model.
constexpr int kSizeColumn = 1;
constexpr int kDateColumn = 3;

// Qt's file model writes sizes and dates in the session's locale; the panel writes them in the
// application's (Chinese) one like every other text of the window.
class LocalFileFacts : public QIdentityProxyModel {
  public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!files || role != Qt::DisplayRole ||
            (index.column() != kSizeColumn && index.column() != kDateColumn))
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        if (index.column() == kDateColumn)
            return QLocale().toString(files->lastModified(source), QLocale::ShortFormat);
        // Folders show no size, as in Qt's own column.
        return files->isDir(source) ? QString() : QLocale().formattedDataSize(files->size(source));
    }
};

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
    files_->setProxyModel(new LocalFileFacts(files_));
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
