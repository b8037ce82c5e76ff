#pragma once
// Screen-reader interfaces for the controls that paint themselves.

#include <QAccessible>
#include <QString>

namespace talvian {

// Lets screen readers read every `Widget` (exactly that class, not a subclass) through
// `Accessible(widget)`. Installs the factory once per pair; main thread.
template <class Accessible, class Widget>
void installAccessibleFactory() {
    static const bool installed =
        (QAccessible::installFactory([](const QString& key, QObject* object) -> QAccessibleInterface* {
             auto* widget = qobject_cast<Widget*>(object);
             if (widget == nullptr || key != QLatin1String(Widget::staticMetaObject.className()))
                 return nullptr;
             return new Accessible(widget);
         }),
         true);
    (void)installed;
}

}  // namespace talvian
