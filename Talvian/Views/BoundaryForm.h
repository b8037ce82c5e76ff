#pragma once
// The exact edges of one pause, typed in seconds of source time: the draft range can be heard
// as recorded or as cut before it is applied as one undoable edit. Only the two field texts
// belong to the form; the audition, the edit and its final check are the controller's.
// Main thread.

#include <QWidget>

#include <functional>
#include <optional>
#include <string>

#include "Kit/StudioPopover.h"
#include "Model/AuditionTimeline.h"
#include "Model/CoreTypes.h"

class QLabel;

namespace talvian {

class StudioButton;
class StudioField;
class Workspace;

class BoundaryForm : public QWidget {
    Q_OBJECT

  public:
    // `cut` as it was when the form opened; `duration` of the project (0 without one); `close`
    // takes the form away.
    BoundaryForm(Workspace& workspace, const CutRegion& cut, double duration, std::function<void()> close,
                 QWidget* parent = nullptr);
    ~BoundaryForm() override;

    // Why the two texts do not form a range that may be applied; none when they do. An
    // untouched field stands for the stored edge itself, to the last bit.
    static std::optional<std::string> validation(const std::string& start, const std::string& end,
                                                 const CutRegion& cut, double duration);
    std::optional<std::string> validation() const;

    StudioField& startField() const { return *startField_; }
    StudioField& endField() const { return *endField_; }
    StudioButton& applyButton() const { return *apply_; }
    StudioButton& cancelButton() const { return *cancel_; }
    StudioButton& originalButton() const { return *original_; }
    StudioButton& editedButton() const { return *edited_; }
    QLabel& validationLabel() const { return *validation_; }

    // The draft range heard as recorded or as cut; nothing while the texts are invalid or the
    // preview is not ready.
    void audition(AuditionMode mode);
    // Applies the typed range and closes; nothing while the texts are invalid.
    void apply();
    // Closes without changing the project.
    void cancel();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    std::optional<std::pair<double, double>> typedRange() const;
    void textChanged();
    void refresh();

    Workspace& workspace_;
    CutRegion cut_;
    double duration_;
    std::function<void()> close_;

    StudioField* startField_;
    StudioField* endField_;
    QLabel* validation_;
    StudioButton* original_;
    StudioButton* edited_;
    StudioButton* cancel_;
    StudioButton* apply_;
};

// The form in a popover attached to a control (the boundary grips).
class BoundaryFormPopover : public StudioPopover {
    Q_OBJECT

  public:
    BoundaryFormPopover(Workspace& workspace, const CutRegion& cut, double duration, QWidget* anchor);
    BoundaryForm& form() const { return *form_; }

  private:
    BoundaryForm* form_;
};

}  // namespace talvian
