#pragma once
// One entry of the pause list. The collapsed look (mark, start time, length on a rounded card)
// is shared by the list's painter and the row widget; the row widget is the expanded entry of
// the pause under review, with its audition buttons, its two boundary fields and its flip link.
// The widget keeps only what is being typed and the boundary complaints; every change goes
// through the controller. Main thread.

#include <QColor>
#include <QWidget>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Model/CoreTypes.h"

class QAbstractButton;
class QLabel;
class QPainter;

namespace talvian {

class StudioButton;
class StudioField;
class StudioLink;
class Workspace;

// What a row shows of the controller's state, read by the list at each refresh.
struct CutRowState {
    bool selected = false;  // the pause under review
    bool batchMode = false;
    bool inBatch = false;   // its id is among the batch ids
    bool disabled = false;  // a job runs or the options await a new analysis
    bool operator==(const CutRowState&) const = default;
};

namespace CutRowLook {

// Padding on every side of the card and its corner radius.
constexpr int kPadding = 12;
constexpr double kCornerRadius = 10;
// The top line: the mark's frame width, its symbol size, and the gap to the select area.
constexpr int kMarkWidth = 22;
constexpr int kMarkPixels = 15;
constexpr int kTopLineHeight = 22;
constexpr int kTopLineSpacing = 12;
// The height of a row showing only its top line.
constexpr int kCollapsedHeight = kPadding + kTopLineHeight + kPadding;

// "checkmark" or "minus": outside batch mode whether the pause is removed, in batch mode
// whether it is in the batch.
const char* markSymbol(const CutRegion& cut, const CutRowState& state);
// Studio::coral for a removed pause, Studio::secondary for a kept one (also in batch mode).
QColor markColor(const CutRegion& cut);
// Coral at 0.12 while reviewed or in the batch, else Studio::panel.
QColor cardColor(const CutRowState& state);
// The length text: max(end − start, 0) as "%.1f s".
std::string lengthText(const CutRegion& cut);
// Paints the card and its top line into `rect` (the disabled look at reduced opacity).
void paintCollapsed(QPainter& painter, const QRectF& rect, const CutRegion& cut, const CutRowState& state);
// The mark's click area in a row at `rect`.
QRectF markRect(const QRectF& rect);

}  // namespace CutRowLook

class CutRow : public QWidget {
    Q_OBJECT

  public:
    explicit CutRow(Workspace& workspace, QWidget* parent = nullptr);

    // The complaint shown when the typed boundaries are refused.
    static std::string boundaryIssueText();
    // The pair applyBoundary() would pass on: a text equal to the shown boundary of the stored
    // edge stands for that edge to the last bit, any other is read by Workspace::manualSeconds.
    // Accepted when both are finite, start ≥ 0, end ≤ `duration` (0 without a project) and
    // end − start > 0.08; nullopt means the complaint.
    static std::optional<std::pair<double, double>> boundaryDecision(const std::string& start,
                                                                     const std::string& end,
                                                                     const CutRegion& cut, double duration);

    // Shows `cut` with `state`. A change of the region (any field) resets both texts to its
    // boundaries; another region brings back that region's own complaint, if it had one. Fields
    // keep their caret when their text stays the same. The audition line follows the preview's
    // readiness at every call.
    void setCut(const CutRegion& cut, const CutRowState& state);
    // Forgets the complaints of regions no longer in `listed` (the list's regions).
    void keepComplaintsOf(const std::vector<CutRegion>& listed);
    const CutRegion& cut() const { return cut_; }
    const CutRowState& state() const { return state_; }

    // Checks both texts and applies them as one edit, or shows the complaint.
    void applyBoundary();
    const std::optional<std::string>& boundaryIssue() const { return boundaryIssue_; }

    // The height this row needs at `width` (the list gives it exactly that).
    int heightForWidth(int width) const override;
    bool hasHeightForWidth() const override { return true; }
    QSize sizeHint() const override;

    QAbstractButton& markButton() const { return *mark_; }
    QAbstractButton& selectArea() const { return *select_; }
    StudioButton& originalButton() const { return *original_; }
    StudioButton& editedButton() const { return *edited_; }
    StudioLink& flipLink() const { return *flip_; }
    StudioField& startField() const { return *startField_; }
    StudioField& endField() const { return *endField_; }
    QLabel& complaintLabel() const { return *complaint_; }
    // The part under the top line: shown for the reviewed pause outside batch mode.
    QWidget& details() const { return *details_; }

  signals:
    // The row's height may have changed (details shown or hidden, a complaint).
    void heightChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void markClicked();
    void selectClicked(Qt::KeyboardModifiers modifiers);
    void setIssue(std::optional<std::string> issue);
    std::optional<std::string> complaintFor(const Uuid& id) const;
    void resetTexts();

    Workspace& workspace_;
    CutRegion cut_;
    CutRowState state_;
    bool shown_ = false;
    std::optional<std::string> boundaryIssue_;
    // The complaints of the regions reviewed before, while they stay in the list.
    std::map<Uuid, std::string> complaints_;

    QAbstractButton* mark_;
    QAbstractButton* select_;
    QWidget* details_;
    QWidget* auditionLine_;
    StudioButton* original_;
    StudioButton* edited_;
    StudioLink* flip_;
    StudioField* startField_;
    StudioField* endField_;
    QLabel* complaint_;
};

}  // namespace talvian
