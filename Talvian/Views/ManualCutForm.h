#pragma once
// The form in which a range is added by hand: two typed times (the controller's own manual
// texts, so they outlive the form and are shared with the menu commands), buttons that take the
// playback position into either, a live hint of what the range would do, its auditions before
// it exists, and the add button. The form keeps no state of its own. Main thread.

#include <QWidget>

#include "Kit/StudioPopover.h"

class QLabel;

namespace talvian {

class StudioButton;
class StudioField;
class Workspace;

class ManualCutForm : public QWidget {
    Q_OBJECT

  public:
    explicit ManualCutForm(Workspace& workspace, QWidget* parent = nullptr);

    // Which buttons may be pressed, from the controller's guards: the take buttons follow
    // canCapture, the auditions need the ready preview and a range that may be added, "添加"
    // only the latter.
    struct Controls {
        bool take = false;
        bool audition = false;
        bool add = false;
        bool operator==(const Controls&) const = default;
    };
    static Controls controls(bool canCapture, bool previewReady, bool canAdd);

    StudioField& startField() const { return *startField_; }
    StudioField& endField() const { return *endField_; }
    StudioButton& takeStartButton() const { return *takeStart_; }
    StudioButton& takeEndButton() const { return *takeEnd_; }
    StudioButton& originalButton() const { return *original_; }
    StudioButton& editedButton() const { return *edited_; }
    StudioButton& addButton() const { return *add_; }
    QLabel& hintLabel() const { return *hint_; }

  private:
    void refresh();

    Workspace& workspace_;
    StudioField* startField_;
    StudioButton* takeStart_;
    StudioField* endField_;
    StudioButton* takeEnd_;
    QLabel* hint_;
    StudioButton* original_;
    StudioButton* edited_;
    StudioButton* add_;
};

// The form in a popover under the control that opened it (the timeline's "添加切点").
class ManualCutPopover : public StudioPopover {
    Q_OBJECT

  public:
    ManualCutPopover(Workspace& workspace, QWidget* anchor);
    ManualCutForm& form() const { return *form_; }

  private:
    ManualCutForm* form_;
};

}  // namespace talvian
