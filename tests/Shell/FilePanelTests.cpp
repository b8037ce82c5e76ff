#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "Shell/FilePanel.h"
#include "Shell/QtTranslations.h"
#include "ShellFixture.h"

namespace talvian::test {
namespace {

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

}  // namespace
}  // namespace talvian::test
