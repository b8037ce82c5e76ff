#pragma once
// Qt's own texts and formats (file panels, message boxes, context menus, dates and sizes) in
// Simplified Chinese whatever language the session runs in: the translations the system's Qt
// ships (package qt6-translations-l10n), the few texts they lack, and Chinese as the default
// locale. Main thread.

class QCoreApplication;

namespace talvian {

// Makes Chinese the default locale and installs Qt's Chinese texts for the life of
// `application`; false when Qt's translations are not installed (the default locale and the
// texts this program supplies are set all the same).
bool installQtTranslations(QCoreApplication& application);

}  // namespace talvian
