#include "QuitTeardown.h"

#include <QCoreApplication>

#include "Workspace/Workspace.h"

namespace talvian {

void quitWithTeardown(QCoreApplication& application, Workspace& workspace, std::chrono::milliseconds bound) {
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &workspace,
                     [&workspace, bound] { workspace.shutdown(bound); });
}

}  // namespace talvian
