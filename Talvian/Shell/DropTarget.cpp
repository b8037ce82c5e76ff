#include "DropTarget.h"

#include <QFile>
#include <QMetaObject>

#include "Model/Localization.h"
#include "Workspace/Workspace.h"

namespace talvian {

DropTarget::Outcome DropTarget::decide(bool obstructed, bool busy, qsizetype count) {
    if (obstructed || busy) return Outcome::refused;
    return count == 1 ? Outcome::accepted : Outcome::tooMany;
}

bool DropTarget::drop(Workspace& workspace, bool obstructed, const QList<QUrl>& urls) {
    switch (decide(obstructed, workspace.job().busy, urls.size())) {
        case Outcome::refused:
            return false;
        case Outcome::tooMany:
            workspace.setNotice(L("一次导入一段口播素材。"));
            return false;
        case Outcome::accepted:
            break;
    }
    if (!urls.front().isLocalFile()) return true;
    // The load runs after the drop has returned to the system, as its own event: a job that
    // starts in between makes loadSource refuse with its own message.
    const std::filesystem::path file = QFile::encodeName(urls.front().toLocalFile()).toStdString();
    // The controller is the call's context: a call still queued when it goes is dropped.
    QMetaObject::invokeMethod(
        &workspace, [&workspace, file] { workspace.loadSource(file, true); }, Qt::QueuedConnection);
    return true;
}

}  // namespace talvian
