#include "lumenhollow/ui/window/usb_hint.h"

#include <QLabel>
#include <QVBoxLayout>

#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/pill_button.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow {

namespace {

constexpr const char* kUsbHintWarning = "Wi-Fi takes this Mac off the internet while it uses the camera's network.";
constexpr const char* kUsbHintTitle = "Use USB-C Instead";
constexpr double kUsbHintTextPx = 12;
constexpr double kUsbHintButtonPx = 12.5;

}  // namespace

USBHint::USBHint(std::function<void()> action, QWidget* parent)
    : QWidget(parent),
      action_(std::move(action)),
      warning_(new QLabel(QString::fromUtf8(kUsbHintWarning), this)),
      button_(new ui::PillButton("cable.connector", QString::fromUtf8(kUsbHintTitle),
                                 ui::uiFont(kUsbHintButtonPx, QFont::DemiBold), this)) {
    warning_->setObjectName(QStringLiteral("usbHintWarning"));
    warning_->setTextFormat(Qt::PlainText);
    warning_->setWordWrap(true);
    warning_->setAlignment(Qt::AlignHCenter);
    warning_->setFont(ui::uiFont(kUsbHintTextPx));
    // A wrapping label in a centred stack needs its width given.
    warning_->setFixedSize(ui::wrappedTextSize(warning_->font(), warning_->text(), kTextMaxWidth));
    QPalette palette = warning_->palette();
    palette.setColor(QPalette::WindowText, ui::withOpacity(QColor(Qt::white), 0.5));
    warning_->setPalette(palette);
    button_->setObjectName(QStringLiteral("useUsbInstead"));
    connect(button_, &QAbstractButton::clicked, this, [this] {
        if (action_) action_();
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kSpacing);
    layout->addWidget(warning_, 0, Qt::AlignHCenter);
    layout->addWidget(button_, 0, Qt::AlignHCenter);
}

}  // namespace lumenhollow
