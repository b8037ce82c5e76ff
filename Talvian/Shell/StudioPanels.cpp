#include "StudioPanels.h"

#include "DetectionSettingsPanel.h"
#include "ExportPanel.h"
#include "ExportResultCard.h"
#include "WorkspaceView.h"

namespace talvian {

QWidget* makeStudioPanel(StudioModal modal, Workspace& workspace, WorkspaceView& view) {
    switch (modal) {
        case StudioModal::settings:
            return new DetectionSettingsPanel(workspace, view);
        case StudioModal::done:
            return new ExportResultCard(workspace, view);
        case StudioModal::exportPanel:
            return new ExportPanel(workspace, view);
    }
    return nullptr;
}

}  // namespace talvian
