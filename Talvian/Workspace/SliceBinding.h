#pragma once
// How a view follows the controller: it names the slices it shows and one refresh, and the
// refresh runs once per turn of the event loop in which any of them changed, however many of
// them changed and however many operations published meanwhile. The refresh runs after the
// controller's signal has returned, so a control whose own event caused the change is never
// rebuilt while it is still handling that event. Main thread.

#include <QObject>

#include <functional>
#include <vector>

#include "Workspace.h"

namespace talvian {

// The slices a view can be bound to, each named by its change signal (WorkspaceState.h). A
// slice the controller adds is one more line here.
namespace Slice {
using Signal = void (Workspace::*)();
inline constexpr Signal document = &Workspace::documentChanged;
inline constexpr Signal job = &Workspace::jobChanged;
inline constexpr Signal detection = &Workspace::detectionChanged;
inline constexpr Signal review = &Workspace::reviewChanged;
inline constexpr Signal waveform = &Workspace::waveformChanged;
inline constexpr Signal playback = &Workspace::playbackChanged;
inline constexpr Signal exports = &Workspace::exportChanged;
// Whether each command can act (WorkspaceGuards.h): all that a button or menu item that only
// enables itself follows.
inline constexpr Signal guards = &Workspace::guardsChanged;
// Every slice at once, for a view that shows a little of each (the menus).
inline constexpr Signal any = &Workspace::changed;
}  // namespace Slice

// Binds `view` to `slices`: after any of them changed, `refresh` runs at the next turn of the
// event loop, and only once while it is pending. The binding belongs to `view` and ends with
// it: a view destroyed while its refresh is pending is not refreshed, nor is any view once
// the controller is gone. A view that refreshes different parts on different slices binds
// each part on its own. Main thread.
void bindSlices(QObject& view, Workspace& workspace, const std::vector<Slice::Signal>& slices,
                std::function<void()> refresh);

}  // namespace talvian
