#include "UpdateDialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

#include <filesystem>
#include <utility>

#include "Model/Localization.h"
#include "ShellWidgets.h"
#include "Support/UnicodeText.h"
#include "Update/UpdateService.h"
#include "Workspace/DesktopServices.h"

namespace talvian {

namespace {

// The progress bar counts thousandths of the package.
constexpr int kProgressSteps = 1000;

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

QMessageBox* makeBox(const QString& text, const QString& detail) {
    QMessageBox* box = makeAlert(L("软件更新"), text, QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setInformativeText(detail);
    return box;
}

}  // namespace

std::unique_ptr<Updater> makeUpdaterWithDialogs(const AppServiceConfiguration& configuration) {
    auto desktop = std::make_shared<SystemDesktopServices>();
    auto updater = UpdateService::makeFeedUpdater(configuration, desktop);
    if (!updater) return nullptr;
    // A child of the updater: the dialogs go with it.
    new UpdateDialogs(*updater, std::move(desktop), updater.get());
    return updater;
}

UpdateDialogs::UpdateDialogs(OfferingUpdater& updater, std::shared_ptr<DesktopServices> desktop,
                             QObject* parent)
    : QObject(parent), updater_(updater), desktop_(std::move(desktop)) {
    connect(&updater_, &OfferingUpdater::updateFound, this, &UpdateDialogs::showOffer);
    connect(&updater_, &OfferingUpdater::upToDate, this, [this](const QString& runningVersion) {
        showReport(qt(L("已是最新版本")), qt(L("当前版本：%@", runningVersion.toStdString())));
    });
    connect(&updater_, &OfferingUpdater::failed, this, [this](const QString& message) {
        closeProgress();
        showReport(message, {});
    });
    connect(&updater_, &OfferingUpdater::downloaded, this, [this](const QString& path) {
        closeProgress();
        const std::string name = displayedName(std::filesystem::path(path.toStdString()).filename().string());
        showReport(qt(L("新版本已下载")), qt(L("已保存为“%@”，签名验证无误。安装前请先退出本程序。", name)),
                   path);
    });
}

UpdateDialogs::~UpdateDialogs() {
    // Dialogs over no window would outlive the updater they call; going, they call it no more.
    for (QObject* dialog :
         {static_cast<QObject*>(offer_), static_cast<QObject*>(progress_), static_cast<QObject*>(report_)})
        if (dialog) disconnect(dialog, nullptr, this, nullptr);
    delete offer_.data();
    delete progress_.data();
    delete report_.data();
}

QMessageBox* UpdateDialogs::offerDialog() const {
    return offer_;
}

QProgressDialog* UpdateDialogs::progressDialog() const {
    return progress_;
}

QMessageBox* UpdateDialogs::reportDialog() const {
    return report_;
}

void UpdateDialogs::showOffer(const QString& version, const QString& runningVersion) {
    delete offer_.data();
    QMessageBox* box = makeBox(qt(L("发现新版本 %@", version.toStdString())),
                               qt(L("你正在使用的版本是 %@。新版本的安装包会下载到“下载”文件夹，"
                                    "通过签名验证后保留，不会自动安装。",
                                    runningVersion.toStdString())));
    QPushButton* download = addAlertButton(*box, L("下载"), QMessageBox::AcceptRole);
    QPushButton* page = addAlertButton(*box, L("打开下载页面"), QMessageBox::ActionRole);
    QPushButton* later = addAlertButton(*box, L("以后再说"), QMessageBox::RejectRole);
    box->setEscapeButton(later);
    // However the dialog goes (a button, Esc, the close box), the offer ends.
    connect(box, &QMessageBox::finished, this, [this, box, download, page] {
        QAbstractButton* clicked = box->clickedButton();
        if (clicked == download) {
            // The progress is on screen before a download that fails at once reports.
            showProgress();
            updater_.downloadUpdate();
        } else if (clicked == page) {
            updater_.openDownloadPage();
        } else {
            updater_.dismissUpdate();
        }
    });
    offer_ = box;
    box->open();
}

void UpdateDialogs::showProgress() {
    closeProgress();
    auto* dialog = new QProgressDialog(QApplication::activeWindow());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(qt(L("软件更新")));
    dialog->setLabelText(qt(L("正在下载新版本…")));
    auto* cancel = new QPushButton(qt(L("取消")), dialog);
    cancel->setAutoDefault(false);
    dialog->setCancelButton(cancel);
    dialog->setRange(0, kProgressSteps);
    dialog->setValue(0);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumDuration(0);
    // Not modal: a modal progress dialog runs the event loop inside setValue, in the middle of
    // the transfer that reports the progress.
    dialog->setWindowModality(Qt::NonModal);
    connect(dialog, &QProgressDialog::canceled, this, [this] {
        closeProgress();
        updater_.cancelDownload();
    });
    connect(&updater_, &OfferingUpdater::downloadProgress, dialog, [dialog](qint64 received, qint64 total) {
        if (total > 0) dialog->setValue(static_cast<int>(received * kProgressSteps / total));
    });
    progress_ = dialog;
    dialog->show();
}

void UpdateDialogs::closeProgress() {
    if (!progress_) return;
    // Closing a progress dialog reports it as cancelled: not ours to hear any more.
    disconnect(progress_, nullptr, this, nullptr);
    std::exchange(progress_, nullptr)->close();
}

void UpdateDialogs::showReport(const QString& text, const QString& detail, const QString& reveal) {
    delete report_.data();
    QMessageBox* box = makeBox(text, detail);
    QPushButton* show =
        reveal.isEmpty() ? nullptr : addAlertButton(*box, L("在文件夹中显示"), QMessageBox::ActionRole);
    box->setEscapeButton(addAlertButton(*box, L("知道了"), QMessageBox::RejectRole));
    if (show) {
        connect(box, &QMessageBox::finished, this, [this, box, show, reveal] {
            if (box->clickedButton() == show && desktop_) desktop_->revealFile(reveal.toStdString());
        });
    }
    report_ = box;
    box->open();
}

}  // namespace talvian
