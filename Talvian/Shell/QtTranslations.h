#pragma once
// Qt's own texts (file panels, message boxes, context menus) in Simplified Chinese, from the
// translations the system's Qt ships (package qt6-translations-l10n). Main thread.

class QCoreApplication;

namespace talvian {

// Installs Qt's Chinese texts for the life of `application`; false when they are not installed.
bool installQtTranslations(QCoreApplication& application);

}  // namespace talvian
