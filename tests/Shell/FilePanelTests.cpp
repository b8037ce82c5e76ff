#include <QAbstractProxyModel>
#include <QApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>

#include "Shell/FilePanel.h"
#include "Shell/QtTranslations.h"
#include "ShellFixture.h"

namespace talvian::test {
namespace {

namespace fs = std::filesystem;

// Acts on the panel once it runs modally.
void whenShown(const std::function<void(FilePanel&)>& act) {
    QTimer::singleShot(0, [act] {
        QElapsedTimer clock;
        clock.start();
        while (!qobject_cast<FilePanel*>(QApplication::activeModalWidget()) && clock.elapsed() < 5000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        auto* panel = qobject_cast<FilePanel*>(QApplication::activeModalWidget());
        ASSERT_NE(panel, nullptr);
        act(*panel);
    });
}

QPushButton* buttonNamed(QWidget& root, const QString& text) {
    for (auto* button : root.findChildren<QPushButton*>())
        if (button->text() == text) return button;
    return nullptr;
}

class FilePanelTest : public ShellTest {
  protected:
    // As the application does at launch: Qt's own buttons and labels in Chinese.
    static void SetUpTestSuite() { ASSERT_TRUE(installQtTranslations(*QCoreApplication::instance())); }
};

TEST_F(FilePanelTest, TheProjectPanelShowsTheMessageAndTakesAFileOrTheFolderShown) {
    showWindow();
    const auto package = folder / "交接包";
    std::filesystem::create_directories(package);
    writeFile(package / "review.quenlo.json", "{}");
    const OpenPanelRequest request{"打开剪辑项目或交接包", "选择剪辑项目 JSON 文件，或完整的交接文件夹。",
                                   package};

    // The folder being shown: a hand-off package.
    whenShown([&](FilePanel& panel) {
        QStringList notes;
        for (auto* label : panel.findChildren<QLabel*>()) notes << label->text();
        EXPECT_TRUE(notes.contains(QStringLiteral("选择剪辑项目 JSON 文件，或完整的交接文件夹。")));
        EXPECT_EQ(panel.windowTitle(), QStringLiteral("打开剪辑项目或交接包"));
        saveShot(panel, "project-panel");
        QPushButton* choose = buttonNamed(panel, QStringLiteral("选择当前文件夹"));
        ASSERT_NE(choose, nullptr);
        EXPECT_FALSE(choose->autoDefault());
        // Qt's own texts of the file dialog are Chinese too.
        EXPECT_NE(buttonNamed(panel, QStringLiteral("取消")), nullptr);
        EXPECT_EQ(buttonNamed(panel, QStringLiteral("Cancel")), nullptr);
        choose->click();
    });
    EXPECT_EQ(mainWindow->chooseProjectFile(request), package);

    // A file chosen in the file dialog.
    whenShown([&](FilePanel& panel) {
        panel.files().selectFile(QString::fromStdString((package / "review.quenlo.json").string()));
        // What the dialog's Open button does.
        QMetaObject::invokeMethod(&panel.files(), "accept");
    });
    EXPECT_EQ(mainWindow->chooseProjectFile(request), package / "review.quenlo.json");

    // Cancelled.
    whenShown([](FilePanel& panel) { panel.files().reject(); });
    EXPECT_EQ(mainWindow->chooseProjectFile(request), std::nullopt);
}

TEST_F(FilePanelTest, ASourcePanelOffersNoFolder) {
    showWindow();
    whenShown([&](FilePanel& panel) {
        EXPECT_EQ(buttonNamed(panel, QStringLiteral("选择当前文件夹")), nullptr);
        panel.files().reject();
    });
    EXPECT_EQ(
        mainWindow->chooseSourceFile({"重新定位原素材，保留剪辑", "请选择搬移后的同一原片。", folder.path()}),
        std::nullopt);
}

// Qt's own file model writes types, sizes and dates in the session's language ("Folder",
// "12/11/26 9:00 AM" under LANG=C): the panel shows them in Chinese whatever the session's is.
TEST_F(FilePanelTest, TheFileListShowsTypesSizesAndDatesInChinese) {
    EXPECT_EQ(QLocale().name(), QStringLiteral("zh_CN"));
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    const auto modified =
        std::chrono::sys_seconds(std::chrono::seconds(1'796'979'600));  // 2026-12-11 09:00 UTC
    const QDateTime modifiedAt = QDateTime::fromSecsSinceEpoch(modified.time_since_epoch().count());
    const fs::path shown = folder / "素材";
    fs::create_directories(shown / "旧稿");
    writeFile(shown / "口播.wav", std::string(123'456, 'x'));
    const struct {
        const char* name;
        QString type;  // empty: whatever the file's kind is called, not checked
        QString size;
    } rows[] = {
        {"旧稿", QStringLiteral("文件夹"), QString()},
        {"口播.wav", QString(), chinese.formattedDataSize(123'456)},
    };
    for (const auto& row : rows)
        fs::last_write_time(shown / row.name, std::chrono::file_clock::from_sys(modified));

    FilePanel panel(nullptr, "选择原素材", {}, shown);
    panel.show();
    // What the dialog's list shows: its file model, through the proxy in front of it if any.
    auto* files = panel.files().findChild<QFileSystemModel*>();
    ASSERT_NE(files, nullptr);
    QAbstractProxyModel* proxy = panel.files().proxyModel();
    const auto shownIndex = [&](const QModelIndex& index) {
        return proxy ? proxy->mapFromSource(index) : index;
    };
    EXPECT_EQ(files->headerData(3, Qt::Horizontal).toString(), QStringLiteral("修改日期"));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = QString::fromStdString((shown / row.name).string());
        // The model reads the folder on a thread of its own.
        const auto cell = [&](int column) {
            return shownIndex(files->index(path)).siblingAtColumn(column).data().toString().toStdString();
        };
        ASSERT_TRUE(waitUntil([&] { return !cell(3).empty(); }, 5000));
        EXPECT_EQ(cell(0), row.name);
        EXPECT_EQ(cell(1), row.size.toStdString());
        if (!row.type.isEmpty()) {
            EXPECT_EQ(cell(2), row.type.toStdString());
        }
        EXPECT_EQ(cell(3), chinese.toString(modifiedAt, QLocale::ShortFormat).toStdString());
    }
    saveShot(panel, "file-panel-chinese-columns");
}

}  // namespace
}  // namespace talvian::test
