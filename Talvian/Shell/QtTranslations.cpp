#include "QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <string>
#include <string_view>

#include "Model/Localization.h"

namespace talvian {

namespace {

// The texts of Qt's file icon provider (a file panel's "Type" column) that Qt's Chinese
// translation does not carry; every other text is left to the translators installed later,
// which are asked first.
class MissingQtTexts : public QTranslator {
  public:
    using QTranslator::QTranslator;

    bool isEmpty() const override { return false; }

    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        if (!context || !sourceText || std::string_view(context) != "QAbstractFileIconProvider") return {};
        const std::string_view source(sourceText);
        if (source == "Folder") return QString::fromStdString(L("文件夹"));
        if (source == "File") return QString::fromStdString(L("文件"));
        if (source == "Drive") return QString::fromStdString(L("驱动器"));
        if (source == "%1 File") return QString::fromStdString(L("%1 文件"));
        return {};
    }
};

}  // namespace

bool installQtTranslations(QCoreApplication& application) {
    // Qt's own formats (a file panel's dates and sizes) follow the default locale, whatever
    // language the session runs in.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    QCoreApplication::installTranslator(new MissingQtTexts(&application));
    auto* texts = new QTranslator(&application);
    if (!texts->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete texts;
        return false;
    }
    return QCoreApplication::installTranslator(texts);
}

}  // namespace talvian
