#include "ModalPanels.h"

#include "DetectionSettingsPanel.h"
#include "ExportPanel.h"
#include "ExportResultCard.h"
#include "WorkspaceView.h"

namespace talvian {

QWidget* makeModalPanel(ModalPanel modal, Workspace& workspace, WorkspaceView& view) {
    switch (modal) {
        case ModalPanel::settings:
            return new DetectionSettingsPanel(workspace, view);
        case ModalPanel::done:
            return new ExportResultCard(workspace, view);
        case ModalPanel::exportPanel:
            return new ExportPanel(workspace, view);
    }
    return nullptr;
}

}  // namespace talvian
