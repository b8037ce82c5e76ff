#pragma once
// The desktop's file browser and link handler, behind one small interface so that tests can
// record what the controller and the views asked it to show. The views call it directly
// (Workspace::desktopServices()): "show in folder" for outputs, the support and guide links.

#include <filesystem>
#include <string>

namespace talvian {

class DesktopServices {
  public:
    virtual ~DesktopServices() = default;
    // Opens a folder in the file browser.
    virtual void openFolder(const std::filesystem::path& folder) = 0;
    // Shows a file or folder selected in the folder that holds it; where the desktop cannot
    // select it, opens that folder.
    virtual void revealFile(const std::filesystem::path& file) = 0;
    // Opens a link ("https:" or "mailto:") with the desktop's handler.
    virtual void openLink(const std::string& address) = 0;
};

// The running desktop: the freedesktop file-manager call (org.freedesktop.FileManager1
// ShowItems) on the session bus for "reveal", QDesktopServices for opening folders and links.
// Needs a QGuiApplication. Main thread.
class SystemDesktopServices : public DesktopServices {
  public:
    void openFolder(const std::filesystem::path& folder) override;
    void revealFile(const std::filesystem::path& file) override;
    void openLink(const std::string& address) override;
};

}  // namespace talvian
