#pragma once
// The desktop's file browser, behind one small interface so that tests can record what
// the controller asked it to show.

#include <filesystem>

namespace talvian {

class DesktopServices {
  public:
    virtual ~DesktopServices() = default;
    // Opens a folder in the file browser.
    virtual void openFolder(const std::filesystem::path& folder) = 0;
    // Shows a file selected in its folder; where the desktop cannot select it, opens the folder.
    virtual void revealFile(const std::filesystem::path& file) = 0;
};

// The running desktop: the freedesktop file-manager call (org.freedesktop.FileManager1
// ShowItems) on the session bus for "reveal", QDesktopServices for opening folders. Needs a
// QGuiApplication. Main thread.
class SystemDesktopServices : public DesktopServices {
  public:
    void openFolder(const std::filesystem::path& folder) override;
    void revealFile(const std::filesystem::path& file) override;
};

}  // namespace talvian
