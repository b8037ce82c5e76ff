#include "SliceBinding.h"

#include <QMetaObject>
#include <QPointer>

#include <utility>

namespace talvian {

namespace {

// A child of the view it refreshes. The queued call is addressed to the binding, so Qt drops
// it when the binding goes with its view.
class SliceBinding : public QObject {
  public:
    SliceBinding(QObject& view, Workspace& workspace, std::function<void()> refresh)
        : QObject(&view), workspace_(&workspace), refresh_(std::move(refresh)) {}

    void schedule() {
        if (std::exchange(pending_, true)) return;
        QMetaObject::invokeMethod(
            this, [this] { run(); }, Qt::QueuedConnection);
    }

  private:
    void run() {
        // Cleared first: a refresh that calls an operation asks for the next refresh itself.
        pending_ = false;
        if (workspace_) refresh_();
    }

    QPointer<Workspace> workspace_;
    std::function<void()> refresh_;
    bool pending_ = false;
};

}  // namespace

void bindSlices(QObject& view, Workspace& workspace, const std::vector<Slice::Signal>& slices,
                std::function<void()> refresh) {
    // Owned by `view` (Qt's parent ownership).
    auto* binding = new SliceBinding(view, workspace, std::move(refresh));
    for (const Slice::Signal signal : slices)
        QObject::connect(&workspace, signal, binding, &SliceBinding::schedule);
}

}  // namespace talvian
