#include "ShortcutReference.h"

#include <QAbstractButton>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QShortcut>
#include <QShowEvent>
#include <QTextLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <string>

#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Kit/StudioLabel.h"
#include "Model/Localization.h"
#include "ShellWidgets.h"

namespace talvian {

namespace {

constexpr int kWidth = 560;
constexpr int kHeight = 600;
constexpr int kPadding = 24;

constexpr int kTitlePixels = 17;
constexpr int kCalloutPixels = 12;
constexpr int kHeadlinePixels = 13;

constexpr int kBelowTitle = 6;
constexpr int kBelowIntro = 14;
constexpr int kAboveCount = 6;
constexpr int kBelowCount = 12;
constexpr int kAboveDivider = 14;
constexpr int kBelowDivider = 14;

constexpr int kSearchPadding = 9;
constexpr int kSearchSpacing = 8;
constexpr double kSearchCornerRadius = 6;
constexpr double kSearchBorderOpacity = 0.5;
constexpr int kSearchSymbolPixels = 14;

constexpr int kListSpacing = 22;
// Room between the rows and the scroll bar, and below the last row.
constexpr int kListTrailingPadding = 10;
constexpr int kListBottomPadding = 8;
constexpr int kSectionSpacing = 9;
constexpr int kBelowGroupTitle = 2;
constexpr int kEntrySpacing = 6;
constexpr int kLineSpacing = 18;
constexpr int kNoMatchSpacing = 8;

constexpr int kBarSpacing = 8;
constexpr double kDividerOpacity = 0.1;

// The keys' faces: a fixed-pitch CJK family draws the Latin keys, the Chinese key names
// ("空格", "⌘点时间码") and the ⌘ and ⇧ signs at a readable size; it has no ⌥, which the
// fixed-pitch DejaVu face supplies. setup.sh installs both (fonts-noto-cjk, fonts-dejavu-core).
constexpr const char* kKeysFamily = "Noto Sans Mono CJK SC";
constexpr const char* kKeysSignFamily = "DejaVu Sans Mono";

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

ShortcutRow row(const std::string& action, const QString& keys, std::optional<std::string> note = {}) {
    ShortcutRow made{qt(action), keys, std::nullopt};
    if (note) made.note = qt(*note);
    return made;
}

std::vector<ShortcutGroup> buildGroups() {
    // Two rows of the fine-tuning and batch groups share their remark.
    const std::string nudgeNote = L("先聚焦波形端点，且调整浮层已关闭；移动限当前视野。");
    const std::string batchNote = L("选择本身不改剪辑；再点“保留所选”或“删除所选”。");
    return {
        {qt(L("素材与项目")),
         {
             row(L("导入素材"), QStringLiteral("⌘O")),
             row(L("打开剪辑项目"), QStringLiteral("⇧⌘O")),
             row(L("保存剪辑项目"), QStringLiteral("⌘S")),
             row(L("撤销 / 重做"), QStringLiteral("⌘Z / ⇧⌘Z"), L("在文字框内，撤销优先处理文字编辑。")),
         }},
        {qt(L("播放与逐段复核")),
         {
             row(L("播放 / 暂停"), qt(L("空格")), L("输入框和已聚焦的控件优先处理空格。")),
             row(L("上一段 / 下一段并听原音"), QStringLiteral("↑ / ↓  ·  ⌥⌘P / ⌥⌘N")),
             row(L("听当前段原音 / 剪后"), QStringLiteral("O / R  ·  ⌥⌘1 / ⌥⌘2")),
             row(L("切换循环试听"), QStringLiteral("⌥⌘L"), L("仅当前有试听时可用；在全片播放时不可用。")),
             row(L("切换当前段保留 / 删除"), QStringLiteral("Delete  ·  ⌥⌘R")),
         }},
        {qt(L("波形与复听")),
         {
             row(L("回退三段并听原音"), QStringLiteral("U")),
             row(L("缩放波形"), QStringLiteral("+ / −")),
             row(L("适配全片"), QStringLiteral("F")),
         }},
        {qt(L("手动标记与边界")),
         {
             row(L("用播放位置设起点 / 终点"), QStringLiteral("⌥⌘I / ⌥⌘O"),
                 L("取点会暂停，只填入时间；点击“添加删除区间”后才修改剪辑。")),
             row(L("端点微调 0.01 秒"), QStringLiteral("← / →"), nudgeNote),
             row(L("端点微调 0.1 秒"), QStringLiteral("⇧← / ⇧→"), nudgeNote),
         }},
        {qt(L("批量选择")),
         {
             row(L("切换一个区间的选择"), qt(L("⌘点时间码")), batchNote),
             row(L("追加当前顺序的连续范围"), qt(L("⇧点时间码")), batchNote),
         }},
    };
}

// `text` rebuilt from the code points for which `keep` holds.
template <class Keep>
QString filtered(const QString& text, Keep keep) {
    QList<uint> kept;
    for (const uint point : text.toUcs4())
        if (keep(point)) kept.append(point);
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(kept.constData()), kept.size());
}

// The ascent of the first line of `text` as laid out in `font`, fallback families included: the
// action and the keys of a row are drawn in different faces and meet on this baseline.
qreal firstLineAscent(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    qreal ascent = 0;
    if (line.isValid()) {
        line.setLineWidth(kWidth);
        ascent = line.ascent();
    }
    layout.endLayout();
    return ascent;
}

QFont keysFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setFamilies({QString::fromLatin1(kKeysFamily), QString::fromLatin1(kKeysSignFamily), font.family()});
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(Studio::kBodyPixels);
    return font;
}

QLabel* label(const QString& text, int pixels, QFont::Weight weight, QWidget* parent) {
    return makeLabel(text.toStdString(), pixels, weight, Studio::text, parent);
}

QLabel* wrapping(QLabel* label) {
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// The rounded well of the search field: the window's background colour, a 1 px border in the
// secondary colour at half strength drawn inside the same shape.
class SearchWell : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), kSearchCornerRadius, kSearchCornerRadius);
        painter.fillPath(shape, Studio::background);
        const QRectF inside = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QPen(Studio::withOpacity(Studio::secondary, kSearchBorderOpacity), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(inside, kSearchCornerRadius - 0.5, kSearchCornerRadius - 0.5);
    }
};

// A symbol that acts as a button with no surface of its own (the field's clear button).
class SymbolButton : public QAbstractButton {
  public:
    SymbolButton(const char* symbol, int pixels, QWidget* parent)
        : QAbstractButton(parent), symbol_(symbol), pixels_(pixels) {
        setFocusPolicy(Qt::TabFocus);
        setFixedSize(pixels, pixels);
    }
    QSize sizeHint() const override { return {pixels_, pixels_}; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (isDown()) painter.setOpacity(Studio::kPressedOpacity);
        painter.drawPixmap(0, 0, Studio::symbol(symbol_, pixels_, Studio::text));
        if (hasFocus()) {
            painter.setOpacity(1);
            painter.setPen(QPen(Studio::coral, 1));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
        }
    }

  private:
    const char* symbol_;
    int pixels_;
};

// One shortcut: the action (wrapping) and its keys (never wrapped) on one baseline, then the
// remark. Screen readers get the line as one element.
QWidget* entry(const ShortcutRow& shortcut, QWidget* parent) {
    auto* widget = new QWidget(parent);
    auto* stack = new QVBoxLayout(widget);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(kEntrySpacing);

    auto* line = new QWidget(widget);
    line->setAccessibleName(shortcut.action + QStringLiteral(" ") + shortcut.keys);
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(kLineSpacing);
    QLabel* action = wrapping(label(shortcut.action, Studio::kBodyPixels, QFont::Normal, line));
    QLabel* keys = label(shortcut.keys, Studio::kBodyPixels, QFont::Normal, line);
    keys->setFont(keysFont());
    keys->setAlignment(Qt::AlignRight | Qt::AlignTop);
    keys->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    const qreal lift =
        firstLineAscent(shortcut.action, action->font()) - firstLineAscent(shortcut.keys, keys->font());
    const int shift = static_cast<int>(std::lround(lift));
    if (shift > 0) keys->setContentsMargins(0, shift, 0, 0);
    if (shift < 0) action->setContentsMargins(0, -shift, 0, 0);
    row->addWidget(action, 1);
    row->addWidget(keys, 0, Qt::AlignTop);
    stack->addWidget(line);

    if (shortcut.note)
        stack->addWidget(wrapping(label(*shortcut.note, kCalloutPixels, QFont::Normal, widget)));
    return widget;
}

}  // namespace

// ---- The table and its search

const std::vector<ShortcutGroup>& ShortcutReference::groups() {
    static const std::vector<ShortcutGroup> table = buildGroups();
    return table;
}

QString ShortcutReference::searchText(const QString& text) {
    // Compatibility decomposition turns full-width letters into plain ones and splits accents
    // off their letters; dropping the marks then makes the match blind to accents.
    QString folded = filtered(text.normalized(QString::NormalizationForm_KD), [](uint point) {
                         return QChar::category(static_cast<char32_t>(point)) != QChar::Mark_NonSpacing;
                     }).toCaseFolded();
    // The modifier names become the signs the keys are written with, one name after another.
    static const std::pair<const char*, QString> names[] = {
        {"command", QStringLiteral("⌘")}, {"control", QStringLiteral("⌘")}, {"ctrl", QStringLiteral("⌘")},
        {"cmd", QStringLiteral("⌘")},     {"option", QStringLiteral("⌥")},  {"alt", QStringLiteral("⌥")},
        {"shift", QStringLiteral("⇧")},   {"space", qt(L("空格"))},
    };
    for (const auto& [name, sign] : names) folded.replace(QLatin1String(name), sign);
    return filtered(folded,
                    [](uint point) { return point != '+' && !QChar::isSpace(static_cast<char32_t>(point)); });
}

std::vector<ShortcutGroup> ShortcutReference::matches(const QString& query) {
    const QString wanted = searchText(query);
    std::vector<ShortcutGroup> kept;
    for (const ShortcutGroup& group : groups()) {
        ShortcutGroup narrowed{group.title, {}};
        for (const ShortcutRow& shortcut : group.rows) {
            const QString haystack =
                searchText(group.title + shortcut.action + shortcut.keys + shortcut.note.value_or(QString()));
            if (wanted.isEmpty() || haystack.contains(wanted)) narrowed.rows.push_back(shortcut);
        }
        if (!narrowed.rows.empty()) kept.push_back(std::move(narrowed));
    }
    return kept;
}

QString ShortcutReference::countText(const QString& query) {
    long long count = 0;
    for (const ShortcutGroup& group : matches(query)) count += static_cast<long long>(group.rows.size());
    // The word follows the text as typed: spaces alone still count as a search.
    return qt(L("%@ 项%@", count, query.isEmpty() ? L("操作") : L("匹配")));
}

// ---- The sheet

ShortcutReference::ShortcutReference(QWidget* parent) : QDialog(parent) {
    setWindowTitle(qt(L("键盘快捷键")));
    setWindowModality(Qt::WindowModal);
    setFixedSize(kWidth, kHeight);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Studio::panel);
    setPalette(colours);
    setAutoFillBackground(true);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    stack->setSpacing(0);

    stack->addWidget(label(qt(L("键盘快捷键")), kTitlePixels, QFont::DemiBold, this));
    stack->addSpacing(kBelowTitle);
    stack->addWidget(wrapping(label(qt(L("关闭说明后，在剪辑窗口使用；菜单中灰色的操作当前不可用。")),
                                    Studio::kBodyPixels, QFont::Normal, this)));
    stack->addSpacing(kBelowIntro);

    // The search box.
    auto* well = new SearchWell(this);
    auto* search = new QHBoxLayout(well);
    search->setContentsMargins(kSearchPadding, kSearchPadding, kSearchPadding, kSearchPadding);
    search->setSpacing(kSearchSpacing);
    search->addWidget(makeSymbol("magnifyingglass", kSearchSymbolPixels, Studio::text, well), 0,
                      Qt::AlignVCenter);
    field_ = new StudioField(qt(L("搜索操作或按键")), well);
    field_->setAccessibleName(qt(L("搜索快捷键")));
    field_->setFrame(false);
    field_->setTextMargins(0, 0, 0, 0);
    QPalette fieldColours = field_->palette();
    fieldColours.setColor(QPalette::Base, Qt::transparent);
    field_->setPalette(fieldColours);
    search->addWidget(field_, 1, Qt::AlignVCenter);
    clear_ = new SymbolButton("xmark.circle.fill", kSearchSymbolPixels, well);
    clear_->setAccessibleName(qt(L("清空快捷键搜索")));
    search->addWidget(clear_, 0, Qt::AlignVCenter);
    stack->addWidget(well);

    stack->addSpacing(kAboveCount);
    count_ = label({}, kCalloutPixels, QFont::Normal, this);
    stack->addWidget(count_);
    stack->addSpacing(kBelowCount);

    // The list: the no-match state, then one section per group, every row built once and
    // shown or hidden by the search.
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    // The first item sits one list spacing below the top, as below an anchor of no height.
    column->setContentsMargins(0, kListSpacing, kListTrailingPadding, kListBottomPadding);
    column->setSpacing(kListSpacing);

    noMatch_ = new QWidget(content);
    auto* noMatch = new QVBoxLayout(noMatch_);
    noMatch->setContentsMargins(0, 0, 0, 0);
    noMatch->setSpacing(kNoMatchSpacing);
    noMatch->addWidget(label(qt(L("没有找到匹配的快捷键")), kHeadlinePixels, QFont::Bold, noMatch_));
    noMatch->addWidget(wrapping(label(qt(L("试试“循环”“保存”或 Ctrl+S，也可以清空搜索。")),
                                      Studio::kBodyPixels, QFont::Normal, noMatch_)));
    column->addWidget(noMatch_);

    for (const ShortcutGroup& group : groups()) {
        Section section;
        section.widget = new QWidget(content);
        auto* rows = new QVBoxLayout(section.widget);
        rows->setContentsMargins(0, 0, 0, 0);
        rows->setSpacing(kSectionSpacing);
        rows->addWidget(label(group.title, kHeadlinePixels, QFont::Bold, section.widget));
        rows->addSpacing(kBelowGroupTitle);
        for (const ShortcutRow& shortcut : group.rows) {
            section.rows.push_back(entry(shortcut, section.widget));
            rows->addWidget(section.rows.back());
        }
        column->addWidget(section.widget);
        sections_.push_back(std::move(section));
    }
    column->addStretch(1);
    scroll_ = new StudioScroll(content, this);
    stack->addWidget(scroll_, 1);

    stack->addSpacing(kAboveDivider);
    auto* divider = new FilledShape(Studio::withOpacity(Qt::white, kDividerOpacity), 0, this);
    divider->setFixedHeight(1);
    stack->addWidget(divider);
    stack->addSpacing(kBelowDivider);

    auto* bar = new QHBoxLayout;
    bar->setSpacing(kBarSpacing);
    // The signs in the keys are the Mac's; the legend names the keys they stand for here.
    bar->addWidget(label(qt(L("⌘ Ctrl   ⌥ Alt   ⇧ Shift")), kCalloutPixels, QFont::Normal, this), 0,
                   Qt::AlignVCenter);
    bar->addStretch(1);
    // A Studio button is no push button, so no button is the dialog's default: Return typed in
    // the search field leaves the sheet open.
    close_ = new StudioButton(qt(L("关闭")), false, this);
    bar->addWidget(close_, 0, Qt::AlignVCenter);
    stack->addLayout(bar);

    connect(close_, &QAbstractButton::clicked, this, &QDialog::reject);
    connect(clear_, &QAbstractButton::clicked, this, [this] {
        field_->clear();
        focusSearch();
    });
    connect(field_, &QLineEdit::textChanged, this, [this] {
        showMatches();
        scroll_->verticalScrollBar()->setValue(0);
    });
    // Ctrl+F from anywhere in the sheet returns to the search; Escape is the dialog's own reject.
    new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this, this, &ShortcutReference::focusSearch,
                  Qt::WindowShortcut);

    showMatches();
    field_->setFocus(Qt::OtherFocusReason);
}

QString ShortcutReference::query() const {
    return field_->text();
}

void ShortcutReference::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) focusSearch();
}

void ShortcutReference::focusSearch() {
    field_->setFocus(Qt::ShortcutFocusReason);
}

void ShortcutReference::showMatches() {
    const QString typed = query();
    const std::vector<ShortcutGroup> kept = matches(typed);
    const auto& table = groups();
    for (std::size_t g = 0; g < table.size(); ++g) {
        const auto found = std::find_if(kept.begin(), kept.end(), [&](const ShortcutGroup& group) {
            return group.title == table[g].title;
        });
        sections_[g].widget->setVisible(found != kept.end());
        for (std::size_t r = 0; r < table[g].rows.size(); ++r) {
            const bool shown =
                found != kept.end() &&
                std::any_of(found->rows.begin(), found->rows.end(),
                            [&](const ShortcutRow& row) { return row.action == table[g].rows[r].action; });
            sections_[g].rows[r]->setVisible(shown);
        }
    }
    noMatch_->setVisible(kept.empty());
    clear_->setVisible(!typed.isEmpty());
    count_->setText(countText(typed));
}

}  // namespace talvian
