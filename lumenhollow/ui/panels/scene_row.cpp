#include "lumenhollow/ui/panels/scene_row.h"

#include <QFocusEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "lumenhollow/ui/kit/accessible_help.h"
#include "lumenhollow/ui/kit/keyboard_press.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/shortcuts.h"
#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/kit/typography.h"
#include "lumenhollow/ui/panels/scenes_panel_state.h"

namespace lumenhollow {

namespace {

constexpr const char* kGoToScene = "Go to this scene";
constexpr int kSceneButtonSide = 26;
constexpr int kSceneButtonSpacing = 2;
constexpr double kSceneSecondaryOpacity = 0.55;
constexpr double kScenePlaceholderOpacity = 0.3;
// Borderless: the symbol alone, no box on hover; a press dims it.
constexpr const char* kSceneButtonSheet =
    "QToolButton { border: none; background: transparent; padding: 0; }"
    "QToolButton:pressed { color: rgba(255, 255, 255, 140); }";
// The rounding of a row's buttons and of its picture, which the ring follows.
constexpr double kSceneButtonRadius = 6;
// A plain field: the name as text until the caret is in it, no box or fill.
constexpr const char* kSceneNameSheet = "QLineEdit { border: none; background: transparent; padding: 0; }";

// The position line: its digits each in a cell as wide as the widest, so a
// row's figures line up with the next row's and never jitter as they change.
class PositionLine final : public QLabel {
public:
    PositionLine(const QColor& colour, QWidget* parent) : QLabel(parent), colour_(colour) {}

    QSize sizeHint() const override {
        const QFontMetricsF metrics(font());
        return QSize(static_cast<int>(std::ceil(ui::tabularWidth(metrics, text()))),
                     static_cast<int>(std::ceil(metrics.height())));
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override {
        if (laidOut_ != text() || !(laidOutFont_ == font())) {
            line_ = ui::layoutTabular(QFontMetricsF(font()), text());
            laidOut_ = text();
            laidOutFont_ = font();
        }
        QPainter painter(this);
        painter.setFont(font());
        painter.setPen(colour_);
        ui::drawTabular(painter, QPointF(0, ui::centredBaseline(QFontMetricsF(font()), height() / 2.0)), line_);
    }

private:
    QColor colour_;
    ui::TabularLine line_;
    QString laidOut_;
    QFont laidOutFont_;
};

// A row's button: drawn by the sheet above, with the focus ring over it
// while the keyboard has put the focus there (a click does not).
class SceneToolButton final : public QToolButton {
public:
    explicit SceneToolButton(QWidget* parent) : QToolButton(parent) {
        setStyleSheet(QString::fromUtf8(kSceneButtonSheet));
        ui::FocusRing::of(*this);
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QToolButton::paintEvent(event);
        QPainter painter(this);
        ui::paintFocusRing(painter, *this, ui::GlassShape::roundedRect, rect(), kSceneButtonRadius);
    }
};

QToolButton* sceneSymbolButton(const char* symbol, const char* help, const char* name, QWidget* parent) {
    auto* button = new SceneToolButton(parent);
    button->setObjectName(QString::fromUtf8(name));
    // An icon drawn as text: the help names it.
    ui::setHelp(*button, QObject::tr(help));
    button->setFont(ui::Symbols::instance().font(15));
    // The style's tool-button minimum is wider than the glyph; the room goes to the position line.
    button->setFixedSize(kSceneButtonSide, kSceneButtonSide);
    if (auto glyph = ui::Symbols::instance().glyph(symbol)) button->setText(QString(*glyph));
    return button;
}

}  // namespace

QPixmap scenePicture(const std::optional<hollowkit::Bytes>& thumbnail, int index, qreal devicePixelRatio) {
    const QSize size = SceneRow::kThumbnailSize;
    QPixmap pixmap((QSizeF(size) * devicePixelRatio).toSize());
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(QPointF(0, 0), size), kSceneButtonRadius, kSceneButtonRadius);
    painter.setClipPath(clip);
    QImage image;
    if (thumbnail) image.loadFromData(thumbnail->data(), static_cast<int>(thumbnail->size()));
    if (!image.isNull()) {
        // Fills the frame, the overflow cut off.
        QImage filled = image.scaled(pixmap.size(), Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
        filled.setDevicePixelRatio(devicePixelRatio);
        const QSizeF shown = filled.deviceIndependentSize();
        painter.drawImage(QPointF((size.width() - shown.width()) / 2, (size.height() - shown.height()) / 2), filled);
    } else {
        painter.fillRect(QRect(QPoint(0, 0), size), ui::withOpacity(QColor(Qt::white), 0.55 * 0.2));
        ui::Symbols::instance().draw(painter, QRectF(QPointF(0, 0), size), "camera.viewfinder", 18,
                                     ui::withOpacity(QColor(Qt::white), 0.55));
    }
    const QString badge = QString::fromStdString(ui::shortcutText(ui::sceneRecallShortcut(index)));
    const QFont font = ui::uiFont(10, QFont::Bold);
    const QFontMetricsF metrics(font);
    const double textWidth = ui::tabularWidth(metrics, badge);
    const QRectF box(3, size.height() - 3 - (metrics.height() + 2), textWidth + 8, metrics.height() + 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 153));
    painter.drawRoundedRect(box, 3, 3);
    painter.setFont(font);
    painter.setPen(Qt::white);
    ui::drawTabular(painter, QPointF(box.left() + 4, ui::centredBaseline(metrics, box.center().y())), badge);
    return pixmap;
}

SceneRow::SceneRow(ModelSignals& model, CameraScene scene, int index, QWidget* parent)
    : QWidget(parent), model_(model), scene_(std::move(scene)), index_(index) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 4, 8, 4);
    row->setSpacing(10);

    picture_ = new SceneToolButton(this);
    picture_->setObjectName(QStringLiteral("picture"));
    picture_->setIconSize(kThumbnailSize);
    picture_->setFixedSize(kThumbnailSize);
    ui::setHelp(*picture_, tr(kGoToScene));
    connect(picture_, &QToolButton::clicked, this, [this] { model_.model().recallScene(index_); });
    row->addWidget(picture_);

    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    name_ = new QLineEdit(QString::fromStdString(scene_.name), this);
    name_->setObjectName(QStringLiteral("name"));
    name_->setPlaceholderText(tr("Name"));
    name_->setAccessibleName(tr("Name"));
    name_->setFont(ui::uiFont(13, QFont::DemiBold));
    name_->setFrame(false);
    name_->setStyleSheet(QString::fromUtf8(kSceneNameSheet));
    QPalette namePalette = name_->palette();
    namePalette.setColor(QPalette::Text, Qt::white);
    namePalette.setColor(QPalette::PlaceholderText, ui::withOpacity(QColor(Qt::white), kScenePlaceholderOpacity));
    name_->setPalette(namePalette);
    // A long name scrolls inside the field rather than widening the row.
    name_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    connect(name_, &QLineEdit::returnPressed, this, [this] { commitRename(); });
    // Leaving the field commits; the filter goes with the row (~SceneRow).
    name_->installEventFilter(this);
    position_ = new PositionLine(ui::withOpacity(QColor(Qt::white), kSceneSecondaryOpacity), this);
    position_->setObjectName(QStringLiteral("position"));
    position_->setFont(ui::uiFont(ui::TextStyle::caption));
    text->addWidget(name_);
    text->addWidget(position_);
    row->addLayout(text, 1);
    row->addSpacing(4);

    auto* go = sceneSymbolButton("play.fill", kGoToScene, "go", this);
    connect(go, &QToolButton::clicked, this, [this] { model_.model().recallScene(index_); });
    auto* update = sceneSymbolButton("arrow.triangle.2.circlepath", "Replace with the current camera position",
                                     "update", this);
    connect(update, &QToolButton::clicked, this, [this] { model_.model().updateScene(scene_); });
    auto* remove = sceneSymbolButton("trash", "Delete this scene", "delete", this);
    connect(remove, &QToolButton::clicked, this, [this] { model_.model().deleteScene(scene_.id); });
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(kSceneButtonSpacing);
    buttons->addWidget(go);
    buttons->addWidget(update);
    buttons->addWidget(remove);
    row->addLayout(buttons);

    setFixedHeight(kSceneRowHeight);
    setScene(scene_, index_);
}

SceneRow::~SceneRow() {
    // The field may lose the keyboard while the row is taken apart; nothing
    // of the row is left to commit to then.
    retire();
}

void SceneRow::retire() { name_->removeEventFilter(this); }

void SceneRow::resumeTyping(const std::optional<QString>& typed, bool focused) {
    if (typed) {
        name_->setText(*typed);
        name_->setModified(true);
    }
    if (focused) name_->setFocus(Qt::OtherFocusReason);
}

void SceneRow::setScene(const CameraScene& scene, int index) {
    const bool renamed = scene.name != scene_.name;
    const bool repictured = scene.thumbnail != scene_.thumbnail || index != index_ || picture_->icon().isNull();
    scene_ = scene;
    index_ = index;
    // A screen reader names the row, and so its buttons' group, by its scene.
    if (accessibleName() != QString::fromStdString(scene_.name)) setAccessibleName(QString::fromStdString(scene_.name));
    // A name being typed stays while other things about the scene change.
    if (renamed || !name_->hasFocus()) showName(QString::fromStdString(scene_.name));
    const QString position = QString::fromStdString(scenePositionSummary(scene_.position));
    if (position_->text() != position) position_->setText(position);
    if (repictured) showPicture();
}

void SceneRow::showName(const QString& name) {
    // Setting the same text again would move the caret and forget the undo steps.
    if (name_->text() != name) name_->setText(name);
    name_->setModified(false);
    // A field at rest reads from the start of its name, however long.
    if (!name_->hasFocus()) name_->setCursorPosition(0);
}

bool SceneRow::hasTypedName() const { return name_->isModified(); }

std::optional<QString> SceneRow::typedName() const {
    return hasTypedName() ? std::optional<QString>(name_->text()) : std::nullopt;
}

bool SceneRow::nameHasFocus() const { return name_->hasFocus(); }

bool SceneRow::eventFilter(QObject* watched, QEvent* event) {
    // A key with Alt or Meta is a command, never text: Alt and a digit no
    // scene answers to types nothing into the name.
    if (watched == name_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->modifiers() & (Qt::AltModifier | Qt::MetaModifier)) && !key->text().isEmpty()) return true;
    }
    // The field's own menu takes the keyboard for a moment; that is no leaving.
    if (watched == name_ && event->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
        commitRename();
    }
    return QWidget::eventFilter(watched, event);
}

void SceneRow::showPicture() {
    picture_->setIcon(QIcon(scenePicture(scene_.thumbnail, index_, devicePixelRatioF())));
}

void SceneRow::commitRename() {
    const std::string id = scene_.id;
    model_.model().renameScene(id, name_->text().toStdString());
    // Whatever the model kept (trimmed, or the old name for an empty field)
    // is what shows; a scene deleted meanwhile keeps the typed text.
    const auto& scenes = model_.state().scenes;
    const auto kept = std::find_if(scenes.begin(), scenes.end(), [&](const CameraScene& s) { return s.id == id; });
    showName(kept != scenes.end() ? QString::fromStdString(kept->name) : name_->text());
}

}  // namespace lumenhollow
