#pragma once
// The whole main window is a drop target for one recording. The window counts the dropped
// files and asks here what to do; an accepted file goes to Workspace::loadSource, which checks
// it further and reports through the notice. Main thread.

#include <QList>
#include <QUrl>

namespace talvian {

class Workspace;

class DropTarget {
  public:
    enum class Outcome {
        refused,   // a panel or the notice is open, or a job runs: nothing happens
        accepted,  // exactly one item
        tooMany,   // two or more: the notice says so
    };
    // The decision for `count` dropped items. Pure.
    static Outcome decide(bool obstructed, bool busy, qsizetype count);
    // Acts on a drop of `urls`; true when the drop is accepted. An accepted item that is not a
    // local file is ignored silently.
    static bool drop(Workspace& workspace, bool obstructed, const QList<QUrl>& urls);
};

}  // namespace talvian
