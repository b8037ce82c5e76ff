#pragma once
// The review waveform over the real controller: a two-minute recording with scripted pauses,
// shown 601 × 190 on a plain window of the background colour (so x = 601 × t / span and a
// click fraction is x / 600), with the pointer and key events a person would send.

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../Workspace/WorkspaceFixture.h"
#include "Pixels.h"
#include "Views/WaveformBoundaryHandle.h"
#include "Views/WaveformView.h"

namespace talvian::test {

// Saves a picture of a widget when TALVIAN_VIEW_SHOTS names a folder, so that a person can look
// at the states the tests reach.
inline void saveShot(QWidget& widget, const std::string& name) {
    const QByteArray folder = qgetenv("TALVIAN_VIEW_SHOTS");
    if (folder.isEmpty()) return;
    widget.grab().save(QString::fromUtf8(folder) + "/" + QString::fromStdString(name) + ".png");
}

// A pointer event at `local` in `widget`; the global position defaults to where `local` is now.
// The views then follow what it did, as they do before a person's next event arrives.
inline void sendMouse(QWidget& widget, QEvent::Type type, const QPointF& local,
                      Qt::KeyboardModifiers modifiers = Qt::NoModifier, std::optional<QPointF> global = {}) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, local, global.value_or(widget.mapToGlobal(local)), button, buttons, modifiers);
    QApplication::sendEvent(&widget, &event);
    settle();
}

// A press at `from`, moves to `to` in one-pixel steps, a release there.
inline void pointerDrag(QWidget& widget, QPointF from, QPointF to, Qt::KeyboardModifiers modifiers = {}) {
    sendMouse(widget, QEvent::MouseButtonPress, from, modifiers);
    const QPointF step = (to - from) / std::max(1.0, std::abs((to - from).x()));
    for (QPointF at = from; at != to;) {
        at = std::abs((to - at).x()) <= 1 ? to : at + step;
        sendMouse(widget, QEvent::MouseMove, at, modifiers);
    }
    sendMouse(widget, QEvent::MouseButtonRelease, to, modifiers);
}

// A key press sent to `widget` (Qt passes an ignored key on to the parents, up to the window);
// the views then follow what it did.
inline void sendKey(QWidget& widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                    bool autoRepeat = false, quint32 nativeModifiers = 0) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers, 0, 0, nativeModifiers, QString(), autoRepeat);
    QApplication::sendEvent(&widget, &event);
    settle();
}

// The window the waveform sits on; records every key press that reached it.
class WaveformHost : public Host {
  public:
    std::vector<int> keysReceived;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        keysReceived.push_back(event->key());
        event->accept();
    }
};

class WaveformTest : public WorkspaceTest {
  protected:
    static constexpr int kWidth = 601;
    static constexpr int kHeight = 190;

    CutRegion removed{10, 12, true};
    CutRegion kept{20, 21, false};
    CutRegion brief{30, 30.08, true};  // 0.0799999999999983 s in binary: too short for grips
    CutRegion wide{40, 44, true};

    WaveformHost host;
    WaveformView* view = nullptr;
    std::vector<double> seeks;

    void SetUp() override {
        WorkspaceTest::SetUp();
        analysis.duration = 120;
        analysis.cuts = [this](const CutOptions&) {
            return std::vector<CutRegion>{removed, kept, brief, wide};
        };
        // The scripted source is no real recording: no detail load unless a test asks for one.
        workspace->setWaveformDetailDelay(std::chrono::hours(1));
    }

    // Opens the recording and builds the view over it.
    void openView() {
        open(sourceA);
        view = new WaveformView(
            *workspace, [this](double fraction) { seeks.push_back(fraction); }, &host);
        view->setGeometry(0, 0, kWidth, kHeight);
        host.resize(kWidth, kHeight);
    }
    // Shows the window and gives it the keys (focus and key tests).
    bool showActive() {
        host.show();
        host.activateWindow();
        return QTest::qWaitForWindowActive(&host);
    }
    // Each lets the view follow the controller before the test reads it.
    void zoom(double start, double end) {
        workspace->setWaveformWindow(WaveformWindow{start, end});
        settle();
    }
    void review(const CutRegion& region) {
        workspace->selectCutRow(region.id, false, false);
        settle();
    }
    CutRegion current(const Uuid& id) const {
        for (const auto& region : workspace->document().project->cuts)
            if (region.id == id) return region;
        ADD_FAILURE() << "no such region";
        return {};
    }
    // x of a source time in the view's current window.
    double xOf(double seconds) const {
        const WaveformWindow window = workspace->visibleWaveformWindow();
        return kWidth * (seconds - window.start) / window.length();
    }
    QImage picture() {
        settle();
        return grabbed(host);
    }
    WaveformBoundaryHandle& grip(CutBoundary edge) { return *view->handle(edge); }
    // The grip's centre in global coordinates.
    QPointF gripCentre(CutBoundary edge) {
        WaveformBoundaryHandle& handle = grip(edge);
        return handle.mapToGlobal(QPointF(handle.width() / 2.0, handle.height() / 2.0));
    }
    // Drags a grip by `dx` pixels, measured in global coordinates as the grip moves along.
    void dragGrip(CutBoundary edge, double dx, bool release = true) {
        WaveformBoundaryHandle& handle = grip(edge);
        const QPointF start = gripCentre(edge);
        auto send = [&](QEvent::Type type, QPointF global) {
            sendMouse(handle, type, handle.mapFromGlobal(global), Qt::NoModifier, global);
        };
        send(QEvent::MouseButtonPress, start);
        const int steps = static_cast<int>(std::abs(dx));
        for (int i = 1; i <= steps; ++i) send(QEvent::MouseMove, start + QPointF(dx * i / steps, 0));
        if (release) send(QEvent::MouseButtonRelease, start + QPointF(dx, 0));
    }
};

}  // namespace talvian::test
