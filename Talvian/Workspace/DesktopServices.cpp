#include "DesktopServices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QStringList>
#include <QUrl>

namespace talvian {

namespace {

// A file manager that does not answer within this time is treated as absent (ms).
constexpr int kFileManagerReplyTimeout = 2000;

QUrl fileUrl(const std::filesystem::path& path) {
    return QUrl::fromLocalFile(QString::fromStdString(path.string()));
}

}  // namespace

void SystemDesktopServices::openFolder(const std::filesystem::path& folder) {
    QDesktopServices::openUrl(fileUrl(folder));
}

void SystemDesktopServices::revealFile(const std::filesystem::path& file) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call =
            QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                           "org.freedesktop.FileManager1", "ShowItems");
        call << QStringList{fileUrl(file).toString()} << QString();
        const QDBusMessage reply = bus.call(call, QDBus::Block, kFileManagerReplyTimeout);
        if (reply.type() == QDBusMessage::ReplyMessage) return;
    }
    // No file manager on the bus can select files: the folder holding the file stands in.
    openFolder(file.parent_path());
}

void SystemDesktopServices::openLink(const std::string& address) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
}

}  // namespace talvian
