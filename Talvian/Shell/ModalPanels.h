#pragma once
// The panels the window shows over its dimmed content: the export panel, the result card of
// the last export and the detection settings; each is made anew at every opening. Main thread.

class QWidget;

namespace talvian {

class Workspace;
class WorkspaceView;
enum class ModalPanel;

QWidget* makeModalPanel(ModalPanel modal, Workspace& workspace, WorkspaceView& view);

}  // namespace talvian
