#include "lumenhollow/ui/panels/screen_recording_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "lumenhollow/model/screen_take.h"
#include "lumenhollow/ui/kit/accessible_help.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/popover_scroll_area.h"
#include "lumenhollow/ui/kit/segmented_control.h"
#include "lumenhollow/ui/kit/switch_button.h"
#include "lumenhollow/ui/kit/symbol_label.h"
#include "lumenhollow/ui/kit/text_button.h"
#include "lumenhollow/ui/kit/typography.h"
#include "lumenhollow/ui/panels/corner_picker.h"
#include "lumenhollow/ui/panels/screen_permission_card.h"

namespace lumenhollow {

namespace {

constexpr int kOptionsSpacing = 16;
constexpr int kColumnSpacing = 10;
constexpr int kRebuildSpacing = 8;
constexpr double kSecondaryOpacity = 0.55;

QColor secondaryColour() { return ui::withOpacity(Qt::white, kSecondaryOpacity); }

QLabel* makePanelText(const QString& text, ui::TextStyle style, bool secondary, QWidget* parent,
                      std::optional<QFont::Weight> weight = std::nullopt) {
    auto* label = new QLabel(text, parent);
    QFont font = ui::uiFont(style);
    if (weight) font.setWeight(*weight);
    label->setFont(font);
    label->setWordWrap(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, secondary ? secondaryColour() : QColor(Qt::white));
    label->setPalette(palette);
    return label;
}

QFrame* makeDivider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: rgba(255, 255, 255, 30); border: none;"));
    return line;
}

template <typename Enum, size_t N>
QStringList enumTitles(const std::array<Enum, N>& cases) {
    QStringList titles;
    for (Enum value : cases) {
        const std::string_view title = hollowkit::toString(value);
        titles << QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
    }
    return titles;
}

template <typename Enum, size_t N>
int indexOf(const std::array<Enum, N>& cases, Enum value) {
    return static_cast<int>(std::find(cases.begin(), cases.end(), value) - cases.begin());
}

}  // namespace

ScreenRecordingPanel::ScreenRecordingPanel(ModelSignals& model, QWidget* parent) : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("screenRecordingPanel"));
    setFixedWidth(kWidth);
    // The sides' padding lies inside the rows, so a scroll bar takes the
    // right one's room rather than the rows'.
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, kPadding, 0, kPadding);
    column->setSpacing(kSpacing);
    switchRow_ = makeSwitchRow();
    column->addWidget(switchRow_);
    // Under the switch, the rest: whole where the screen holds it, else
    // scrolling, so every control stays within reach.
    body_ = new QWidget(this);
    auto* rows = new QVBoxLayout(body_);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(kSpacing);
    card_ = new ScreenPermissionCard(model_, body_);
    rows->addWidget(card_);
    rows->addWidget(makeDivider(body_));
    rows->addWidget(makeOptionsRow());
    microphoneNote_ =
        new ui::SymbolLabel("mic", QString(), ui::uiFont(ui::TextStyle::caption), secondaryColour(), body_);
    rows->addWidget(microphoneNote_);
    rows->addWidget(makePanelText(tr("Each take saves the screen, the camera, and a combined video, so you can edit "
                                     "them separately or post the combined one."),
                                  ui::TextStyle::caption, true, body_));
    rows->addWidget(makeRebuildBlock());
    scroll_ = new ui::PopoverScrollArea(body_, kWidth, kPadding, [this, column] {
        const QMargins margins = column->contentsMargins();
        return margins.top() + margins.bottom() + switchRow_->sizeHint().height() + column->spacing();
    }, this);
    scroll_->setObjectName(QStringLiteral("screenOptionsScroll"));
    column->addWidget(scroll_);

    model_.onChange({Field::recordScreen, Field::bubbleStyle, Field::displays, Field::screenDisplayID,
                     Field::autoZoom, Field::includeMacSound, Field::connection, Field::wirelessMicID,
                     Field::lastScreenTake, Field::composeProgress, Field::isStartingScreen,
                     Field::recordingStarted},
                    this, [this] { refresh(); });
    refresh();
}

QWidget* ScreenRecordingPanel::makeSwitchRow() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(kPadding, 0, kPadding, 0);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    const QString title = tr("Record Screen and Camera");
    const QString subtitle = tr("Your Mac's screen with you in the corner");
    texts->addWidget(makePanelText(title, ui::TextStyle::headline, false, row));
    texts->addWidget(makePanelText(subtitle, ui::TextStyle::callout, true, row));
    layout->addLayout(texts, 1);
    switch_ = new ui::SwitchButton(ui::appAccentColor(), row);
    // The switch draws no text: the row's title names it.
    ui::setTitle(*switch_, title);
    switch_->setAccessibleDescription(subtitle);
    layout->addWidget(switch_, 0, Qt::AlignVCenter);
    // The model decides: it refuses while busy, and the switch then keeps
    // showing the value it had.
    connect(switch_, &QAbstractButton::clicked, this, [this] { model_.model().toggleRecordScreen(); });
    return row;
}

QWidget* ScreenRecordingPanel::makeOptionsRow() {
    options_ = new QWidget(this);
    optionsOpacity_ = new QGraphicsOpacityEffect(options_);
    options_->setGraphicsEffect(optionsOpacity_);
    auto* row = new QHBoxLayout(options_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(kOptionsSpacing);
    corner_ = new CornerPicker(options_);
    row->addWidget(corner_, 0, Qt::AlignTop);
    connect(corner_, &CornerPicker::cornerChosen, this, [this](hollowkit::BubbleCorner corner) {
        hk::BubbleStyle style = model_.state().bubbleStyle;
        style.corner = corner;
        model_.model().setBubbleStyle(style);
    });

    // The column's width is fixed, so its wrapping captions know their height.
    auto* columnBox = new QWidget(options_);
    columnBox->setFixedWidth(kWidth - 2 * kPadding - CornerPicker::kCanvasWidth - kOptionsSpacing);
    auto* column = new QVBoxLayout(columnBox);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(kColumnSpacing);
    column->addWidget(
        makePanelText(tr("Camera"), ui::TextStyle::subheadline, false, options_, QFont::DemiBold));
    shape_ = new ui::SegmentedControl(enumTitles(hollowkit::kAllBubbleShapes), options_);
    shape_->setToolTip(
        tr("Circle keeps you in a round bubble. Cutout removes your room and stands you in front of the screen."));
    shape_->setAccessibleName(tr("Shape"));
    column->addWidget(shape_);
    size_ = new ui::SegmentedControl(enumTitles(hollowkit::kAllBubbleSizes), options_);
    size_->setAccessibleName(tr("Size"));
    column->addWidget(size_);

    backgroundGroup_ = new QWidget(options_);
    auto* background = new QVBoxLayout(backgroundGroup_);
    background->setContentsMargins(0, 0, 0, 0);
    background->setSpacing(4);
    background->addWidget(makePanelText(tr("Background"), ui::TextStyle::caption, true, backgroundGroup_));
    background_ = new ui::SegmentedControl(enumTitles(hollowkit::kAllBubbleBackgrounds), backgroundGroup_);
    background_->setToolTip(tr("Blur or remove the room behind you, live in the preview and in the combined video"));
    background_->setAccessibleName(tr("Background"));
    background->addWidget(background_);
    column->addWidget(backgroundGroup_);
    cutoutCaption_ = makePanelText(tr("Your room is removed live, so only you appear over the screen."),
                                   ui::TextStyle::caption, true, options_);
    column->addWidget(cutoutCaption_);

    display_ = new QComboBox(options_);
    display_->setAccessibleName(tr("Display"));
    display_->setFont(ui::uiFont(ui::TextStyle::callout));
    column->addWidget(display_);
    autoZoom_ = new QCheckBox(tr("Auto Zoom on Clicks"), options_);
    autoZoom_->setToolTip(tr("Zooms in where you click and follows your cursor, then eases back out"));
    macSound_ = new QCheckBox(tr("Include Mac Sound"), options_);
    for (QCheckBox* box : {autoZoom_, macSound_}) {
        box->setFont(ui::uiFont(ui::TextStyle::callout));
        column->addWidget(box);
    }
    row->addWidget(columnBox, 1, Qt::AlignTop);

    connect(shape_, &ui::SegmentedControl::segmentChosen, this, [this](int index) { writeBubble(index, -1, -1); });
    connect(size_, &ui::SegmentedControl::segmentChosen, this, [this](int index) { writeBubble(-1, index, -1); });
    connect(background_, &ui::SegmentedControl::segmentChosen, this,
            [this](int index) { writeBubble(-1, -1, index); });
    connect(display_, &QComboBox::activated, this, [this](int index) {
        if (index < 0 || static_cast<size_t>(index) >= displayItems_.size()) return;
        model_.model().setScreenDisplayID(displayItems_[static_cast<size_t>(index)].id);
    });
    connect(autoZoom_, &QCheckBox::clicked, this, [this](bool on) { model_.model().setAutoZoom(on); });
    connect(macSound_, &QCheckBox::clicked, this, [this](bool on) { model_.model().setIncludeMacSound(on); });
    return options_;
}

QWidget* ScreenRecordingPanel::makeRebuildBlock() {
    rebuild_ = new QWidget(this);
    auto* outer = new QVBoxLayout(rebuild_);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(kSpacing);
    outer->addWidget(makeDivider(rebuild_));
    auto* block = new QVBoxLayout;
    block->setSpacing(kRebuildSpacing);
    auto* top = new QHBoxLayout;
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(makePanelText(tr("Last Take"), ui::TextStyle::subheadline, false, rebuild_, QFont::DemiBold));
    takeLabel_ = makePanelText(QString(), ui::TextStyle::caption, true, rebuild_);
    takeLabel_->setWordWrap(false);  // one line
    texts->addWidget(takeLabel_);
    top->addLayout(texts, 1);
    apply_ = new ui::TextButton(ui::TextButtonKind::plain, tr("Apply Changes"), rebuild_, ui::TextButtonSize::small);
    apply_->setToolTip(
        tr("Rebuild Combined.mov with the camera shape, background, position, size and auto zoom chosen above"));
    top->addWidget(apply_, 0, Qt::AlignTop);
    block->addLayout(top);
    rebuildAnother_ = new QPushButton(tr("Rebuild Another Take…"), rebuild_);
    rebuildAnother_->setFlat(true);
    rebuildAnother_->setFont(ui::uiFont(ui::TextStyle::caption));
    rebuildAnother_->setCursor(Qt::PointingHandCursor);
    rebuildAnother_->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; padding: 0; text-align: left; }"
                                                  "QPushButton:disabled { color: rgba(255, 255, 255, 90); }")
                                       .arg(ui::platformAccentColor().name()));
    block->addWidget(rebuildAnother_, 0, Qt::AlignLeft);
    outer->addLayout(block);

    connect(apply_, &QPushButton::clicked, this, [this] {
        if (shownTake_) model_.model().rebuildScreenTake(*shownTake_);
    });
    connect(rebuildAnother_, &QPushButton::clicked, this, [this] { model_.model().chooseTakeToRebuild(); });
    return rebuild_;
}

void ScreenRecordingPanel::writeBubble(int shape, int size, int background) {
    hk::BubbleStyle style = model_.state().bubbleStyle;
    if (shape >= 0) style.shape = hollowkit::kAllBubbleShapes.at(static_cast<size_t>(shape));
    if (size >= 0) style.size = hollowkit::kAllBubbleSizes.at(static_cast<size_t>(size));
    if (background >= 0) style.background = hollowkit::kAllBubbleBackgrounds.at(static_cast<size_t>(background));
    model_.model().setBubbleStyle(style);
}

double ScreenRecordingPanel::optionsOpacity() const { return optionsOpacity_->opacity(); }

void ScreenRecordingPanel::showEvent(QShowEvent* event) {
    // Access can change outside the application; it is asked again whenever
    // the panel comes on screen.
    refresh();
    QWidget::showEvent(event);
}

void ScreenRecordingPanel::refresh() {
    const PublishedState& state = model_.state();
    CameraModel& model = model_.model();
    ScreenPanelFacts facts;
    facts.recordScreen = state.recordScreen;
    facts.accessGranted = model.isScreenCaptureGranted();
    facts.shape = state.bubbleStyle.shape;
    facts.displayCount = state.displays.size();
    facts.connection = state.connection;
    facts.usesMacMicrophone = model.usesMacMicrophone();
    facts.hasLastTake = state.lastScreenTake.has_value();
    facts.lastTakeHasBothMovies = state.lastScreenTake && ScreenTake{*state.lastScreenTake}.hasScreenAndCamera();
    facts.busy = model.isBusy();
    shown_ = screenPanel(facts);

    switch_->setOn(state.recordScreen);
    card_->setVisible(shown_.showPermissionCard);
    options_->setEnabled(shown_.optionsEnabled);
    optionsOpacity_->setOpacity(shown_.optionsOpacity);
    const hk::BubbleStyle& bubble = state.bubbleStyle;
    corner_->setStyle(bubble.corner, bubble.size, bubble.shape);
    shape_->setCurrentIndex(indexOf(hollowkit::kAllBubbleShapes, bubble.shape));
    size_->setCurrentIndex(indexOf(hollowkit::kAllBubbleSizes, bubble.size));
    background_->setCurrentIndex(indexOf(hollowkit::kAllBubbleBackgrounds, bubble.background));
    backgroundGroup_->setVisible(shown_.showBackgroundPicker);
    cutoutCaption_->setVisible(!shown_.showBackgroundPicker);
    display_->setVisible(shown_.showDisplayMenu);
    refreshDisplayMenu();
    autoZoom_->setChecked(state.autoZoom);
    macSound_->setChecked(state.includeMacSound);
    microphoneNote_->setVisible(shown_.microphoneNote.has_value());
    if (shown_.microphoneNote) {
        microphoneNote_->setSymbol(shown_.microphoneNote->symbol);
        microphoneNote_->setText(shown_.microphoneNote->text);
    }
    rebuild_->setVisible(shown_.showRebuild);
    rebuild_->setEnabled(shown_.rebuildEnabled);
    shownTake_ = shown_.showRebuild ? state.lastScreenTake : std::nullopt;
    if (shownTake_) {
        takeLabel_->setText(lastTakeLabel(*shownTake_, folderCreationTime(*shownTake_), QDateTime::currentDateTime(),
                                          QLocale()));
    }
    scroll_->setLeast(options_->sizeHint().height());
    scroll_->fitToRoom();
}

void ScreenRecordingPanel::refreshDisplayMenu() {
    const PublishedState& state = model_.state();
    std::vector<DisplayMenuItem> items = displayMenuItems(state.displays);
    if (items != displayItems_) {
        displayItems_ = std::move(items);
        display_->clear();
        for (const DisplayMenuItem& item : displayItems_) display_->addItem(item.title);
    }
    const auto chosen = std::find_if(displayItems_.begin(), displayItems_.end(),
                                     [&](const DisplayMenuItem& item) { return item.id == state.screenDisplayID; });
    display_->setCurrentIndex(chosen == displayItems_.end() ? 0 : static_cast<int>(chosen - displayItems_.begin()));
}

}  // namespace lumenhollow
