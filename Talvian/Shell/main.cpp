// The process entry: the Qt application, its look and the Chinese texts of Qt's own dialogs,
// then the application object, then the event loop.

#include <QApplication>

#include <clocale>

#include "DeveloperHooks.h"
#include "Kit/Studio.h"
#include "Kit/StudioPopover.h"
#include "QtTranslations.h"
#include "TalvianApp.h"

int main(int argc, char** argv) {
    // Before the application object: the accessibility bridge may ask for its windows at once.
    talvian::StudioPopover::installApplicationAccessibility();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Talvian"));
    QApplication::setOrganizationName(QStringLiteral("Talvian"));
    // libmpv refuses to start under a locale whose numbers are not written the C way.
    std::setlocale(LC_NUMERIC, "C");

    talvian::installQtTranslations(application);
    talvian::Studio::applyToApplication(application);

    const QStringList arguments = QApplication::arguments();
    talvian::TalvianApp app(application, arguments);
    talvian::installDeveloperHooks(app.window(), app.workspace(),
                                   arguments.contains(QStringLiteral("--demo")));
    return QApplication::exec();
}
