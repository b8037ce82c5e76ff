#pragma once
// The window over a controller with scripted players and a scripted analysis, and the events
// a person would send it.

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPixmap>

#include <memory>

#include "../Workspace/WorkspaceFixture.h"
#include "Shell/MainWindow.h"
#include "Shell/WorkspaceView.h"

namespace talvian::test {

// A key press (or release) as the window receives it.
inline QKeyEvent keyEvent(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                          const QString& text = {}, bool autoRepeat = false) {
    return QKeyEvent(type, key, modifiers, text, autoRepeat);
}

// Drops `files` at the centre of `view`; returns whether the drop was accepted.
inline bool dropFiles(QWidget& view, const QList<QUrl>& files) {
    QMimeData data;
    data.setUrls(files);
    const QPointF centre = QRectF(view.rect()).center();
    QDragEnterEvent enter(centre.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &enter);
    QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &drop);
    return drop.isAccepted();
}

// The texts of the labels and buttons under `root` that are on screen.
inline QStringList visibleTexts(QWidget& root) {
    QStringList texts;
    for (auto* label : root.findChildren<QLabel*>())
        if (label->isVisible() && !label->text().isEmpty()) texts << label->text();
    for (auto* button : root.findChildren<QAbstractButton*>())
        if (button->isVisible() && !button->text().isEmpty()) texts << button->text();
    return texts;
}

// The first button under `root` labelled `text`, shown or not.
inline QAbstractButton* buttonWithText(QWidget& root, const QString& text) {
    for (auto* button : root.findChildren<QAbstractButton*>())
        if (button->text() == text) return button;
    return nullptr;
}

// A controller with scripted players and analysis, shown in the real window.
class ShellTest : public WorkspaceTest {
  protected:
    QStringList arguments;
    std::unique_ptr<MainWindow> mainWindow;

    // Builds the window (after the test has set `arguments`) and shows it.
    void showWindow() {
        mainWindow = std::make_unique<MainWindow>(*workspace, arguments);
        mainWindow->show();
        ASSERT_TRUE(waitUntil([&] { return mainWindow->isVisible(); }));
    }
    WorkspaceView& view() { return mainWindow->view(); }
    // Loads a source and waits for its analysis, then lets the window follow the controller.
    void open(const std::filesystem::path& source) {
        WorkspaceTest::open(source);
        settle();
    }
    void TearDown() override {
        mainWindow.reset();
        WorkspaceTest::TearDown();
    }
};

// Saves a picture of a widget when TALVIAN_VIEW_SHOTS names a folder, so that a person can look
// at states that the screenshot script cannot reach.
inline void saveShot(QWidget& widget, const std::string& name) {
    const QByteArray folder = qgetenv("TALVIAN_VIEW_SHOTS");
    if (folder.isEmpty()) return;
    widget.grab().save(QString::fromUtf8(folder) + "/" + QString::fromStdString(name) + ".png");
}

// The same for a menu, popped up on its own for the picture.
inline void saveMenuShot(QMenu& menu, const std::string& name) {
    if (qEnvironmentVariableIsEmpty("TALVIAN_VIEW_SHOTS")) return;
    menu.popup(QPoint(0, 0));
    waitUntil([&] { return menu.isVisible(); }, 5000);
    saveShot(menu, name);
    menu.hide();
}

}  // namespace talvian::test
