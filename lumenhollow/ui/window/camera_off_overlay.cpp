#include "lumenhollow/ui/window/camera_off_overlay.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/spinner.h"
#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/kit/typography.h"
#include "lumenhollow/ui/window/usb_hint.h"

namespace lumenhollow {

namespace {

constexpr const char* kCameraOffTitle = "The camera is off";
constexpr const char* kCameraOffPromise = "Turn it on and Lumenhollow reconnects by itself.";
constexpr double kCameraOffSymbolPx = 26;
constexpr double kCameraOffTitlePx = 17;
constexpr double kCameraOffPromisePx = 13;
constexpr int kCameraOffRowSpacing = 6;
constexpr int kCameraOffHintGap = 6;  // more than the stack's spacing above the hint

// The power symbol on a faint disc.
class CameraOffPowerBadge final : public QWidget {
public:
    explicit CameraOffPowerBadge(QWidget* parent)
        : QWidget(parent),
          disc_(ui::withOpacity(QColor(Qt::white), 0.1)),
          symbol_(ui::withOpacity(QColor(Qt::white), 0.8)) {
        setFixedSize(CameraOffOverlay::kBadgeSide, CameraOffOverlay::kBadgeSide);
        setAttribute(Qt::WA_TranslucentBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(disc_);
        painter.drawEllipse(rect());
        ui::Symbols::instance().draw(painter, rect(), "power", kCameraOffSymbolPx, symbol_);
    }

private:
    QColor disc_;
    QColor symbol_;
};

QLabel* cameraOffLabel(const char* text, const QFont& font, double opacity, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, ui::withOpacity(QColor(Qt::white), opacity));
    label->setPalette(palette);
    return label;
}

}  // namespace

CameraOffOverlay::CameraOffOverlay(std::function<void()> useUSB, QWidget* parent)
    : QWidget(parent),
      title_(cameraOffLabel(kCameraOffTitle, ui::uiFont(kCameraOffTitlePx, QFont::DemiBold), 1.0, this)),
      promise_(cameraOffLabel(kCameraOffPromise, ui::uiFont(kCameraOffPromisePx), 0.65, this)),
      hint_(new USBHint(std::move(useUSB), this)) {
    setAttribute(Qt::WA_NoMousePropagation);
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::ArrowCursor);
    setFocusPolicy(Qt::NoFocus);
    title_->setObjectName(QStringLiteral("cameraOffTitle"));
    hint_->setContentsMargins(0, kCameraOffHintGap, 0, 0);

    auto* row = new QHBoxLayout;
    row->setSpacing(kCameraOffRowSpacing);
    auto* spinner = new ui::Spinner(ui::Spinner::Size::mini, this);
    spinner->setColor(Qt::white);
    row->addWidget(spinner, 0, Qt::AlignVCenter);
    row->addWidget(promise_, 0, Qt::AlignVCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(kSpacing);
    layout->addStretch(1);
    layout->addWidget(new CameraOffPowerBadge(this), 0, Qt::AlignHCenter);
    layout->addWidget(title_, 0, Qt::AlignHCenter);
    layout->addLayout(row);
    layout->setAlignment(row, Qt::AlignHCenter);
    layout->addWidget(hint_, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    setState(state_);
}

void CameraOffOverlay::setState(const CameraOffOverlayState& state) {
    state_ = state;
    hint_->setVisible(state.offersUSB);
}

void CameraOffOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgbF(0, 0, 0, static_cast<float>(kDimming)));
}

}  // namespace lumenhollow
