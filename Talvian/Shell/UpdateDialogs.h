#pragma once
// The updater's face: the offer of a newer version, the download's progress, and the report a
// manual check or a download ends with. It only shows what the updater reports; every choice
// calls the updater. Dialogs open over the active window, without blocking the event loop.
// Main thread.

#include <QObject>
#include <QPointer>

#include <memory>

class QMessageBox;
class QProgressDialog;

namespace talvian {

struct AppServiceConfiguration;
class DesktopServices;
class OfferingUpdater;
class Updater;

// The application's updater for a configuration with updates enabled: the feed updater with
// its dialogs as its child (they go with it), both on the desktop's services; none otherwise.
// Touches no network.
std::unique_ptr<Updater> makeUpdaterWithDialogs(const AppServiceConfiguration& configuration);

class UpdateDialogs : public QObject {
    Q_OBJECT

  public:
    // `desktop` shows a kept download in its folder.
    UpdateDialogs(OfferingUpdater& updater, std::shared_ptr<DesktopServices> desktop,
                  QObject* parent = nullptr);
    ~UpdateDialogs() override;

    // The dialogs while they are open (null otherwise).
    QMessageBox* offerDialog() const;
    QProgressDialog* progressDialog() const;
    QMessageBox* reportDialog() const;

  private:
    void showOffer(const QString& version, const QString& runningVersion);
    void showProgress();
    void closeProgress();
    // A report with "知道了"; `reveal`, when given, adds "在文件夹中显示" for that file.
    void showReport(const QString& text, const QString& detail, const QString& reveal = {});

    OfferingUpdater& updater_;
    std::shared_ptr<DesktopServices> desktop_;
    QPointer<QMessageBox> offer_;
    QPointer<QProgressDialog> progress_;
    QPointer<QMessageBox> report_;
};

}  // namespace talvian
