#include "lumenhollow/ui/window/connecting_overlay.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/pill_button.h"
#include "lumenhollow/ui/kit/spinner.h"
#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/kit/typography.h"
#include "lumenhollow/ui/window/usb_hint.h"

namespace lumenhollow {

namespace {

constexpr double kConnectingWarningPx = 28;
constexpr double kConnectingStatusPx = 14;
constexpr double kConnectingReconnectPx = 13;
constexpr const char* kConnectingReconnectTitle = "Reconnect";

// The failure's triangle in the accent colour.
class ConnectingWarningGlyph final : public QWidget {
public:
    explicit ConnectingWarningGlyph(QWidget* parent) : QWidget(parent), color_(ui::appAccentColor()) {
        setFixedSize(static_cast<int>(kConnectingWarningPx) + 4, static_cast<int>(kConnectingWarningPx) + 4);
        setAttribute(Qt::WA_TranslucentBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        ui::Symbols::instance().draw(painter, rect(), "exclamationmark.triangle.fill", kConnectingWarningPx, color_);
    }

private:
    QColor color_;
};

}  // namespace

ConnectingOverlay::ConnectingOverlay(std::function<void()> retry, std::function<void()> useUSB, QWidget* parent)
    : QWidget(parent),
      retry_(std::move(retry)),
      useUSB_(std::move(useUSB)),
      spinner_(new ui::Spinner(ui::Spinner::Size::large, this)),
      warning_(new ConnectingWarningGlyph(this)),
      status_(new QLabel(this)),
      hint_(new USBHint(useUSB_, this)),
      reconnect_(new ui::PillButton("arrow.clockwise", QString::fromUtf8(kConnectingReconnectTitle),
                                    ui::uiFont(kConnectingReconnectPx, QFont::DemiBold), this)) {
    // Presses, drags and the wheel stop here instead of reaching the picture.
    setAttribute(Qt::WA_NoMousePropagation);
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::ArrowCursor);
    setFocusPolicy(Qt::NoFocus);
    spinner_->setColor(Qt::white);
    warning_->setObjectName(QStringLiteral("connectingWarning"));
    // The status line is data: shown as it is, "%" and all.
    status_->setObjectName(QStringLiteral("connectingStatus"));
    status_->setTextFormat(Qt::PlainText);
    status_->setWordWrap(true);
    status_->setAlignment(Qt::AlignHCenter);
    status_->setFont(ui::uiFont(kConnectingStatusPx, QFont::Medium));
    QPalette palette = status_->palette();
    palette.setColor(QPalette::WindowText, ui::withOpacity(QColor(Qt::white), 0.85));
    status_->setPalette(palette);
    reconnect_->setObjectName(QStringLiteral("reconnect"));
    connect(reconnect_, &QAbstractButton::clicked, this, [this] {
        if (retry_) retry_();
    });

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(kSpacing);
    layout->addStretch(1);
    layout->addWidget(spinner_, 0, Qt::AlignHCenter);
    layout->addWidget(warning_, 0, Qt::AlignHCenter);
    layout->addWidget(status_, 0, Qt::AlignHCenter);
    layout->addWidget(hint_, 0, Qt::AlignHCenter);
    layout->addWidget(reconnect_, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    setState(state_);
}

void ConnectingOverlay::setState(const ConnectingOverlayState& state) {
    state_ = state;
    spinner_->setVisible(!state.failed);
    warning_->setVisible(state.failed);
    status_->setText(QString::fromStdString(state.text));
    // A wrapping label in a centred stack needs its width given.
    status_->setFixedSize(ui::wrappedTextSize(status_->font(), status_->text(), kTextMaxWidth));
    hint_->setVisible(state.offersUSB && useUSB_);
    reconnect_->setVisible(state.failed && retry_);
}

void ConnectingOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgbF(0, 0, 0, static_cast<float>(kDimming)));
}

}  // namespace lumenhollow
