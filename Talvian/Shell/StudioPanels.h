#pragma once
// The panels the window shows over its dimmed content: the export panel, the result card of
// the last export and the detection settings; each is made anew at every opening. Main thread.

class QWidget;

namespace talvian {

class Workspace;
class WorkspaceView;
enum class StudioModal;

QWidget* makeStudioPanel(StudioModal modal, Workspace& workspace, WorkspaceView& view);

}  // namespace talvian
