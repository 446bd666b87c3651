#include "lumenhollow/ui/shell/tray_icon.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace lumenhollow {
namespace {

// The share of the icon's square that stands out from a panel of `panel`:
// pixels whose lightness differs from the panel's by at least a quarter.
double standsOut(const QImage& icon, QColor panel) {
    QImage onPanel(icon.size(), QImage::Format_RGB32);
    onPanel.fill(panel);
    {
        QPainter painter(&onPanel);
        painter.drawImage(0, 0, icon);
    }
    const auto lightness = [](QRgb pixel) {
        return (0.2126 * qRed(pixel) + 0.7152 * qGreen(pixel) + 0.0722 * qBlue(pixel)) / 255.0;
    };
    const double background = lightness(panel.rgb());
    int differing = 0;
    for (int y = 0; y < onPanel.height(); ++y) {
        for (int x = 0; x < onPanel.width(); ++x) {
            if (std::abs(lightness(onPanel.pixel(x, y)) - background) >= 0.25) ++differing;
        }
    }
    return static_cast<double>(differing) / (onPanel.width() * onPanel.height());
}

// Panels come light and dark; the icon is never drawn as a mask a panel
// would have to tint.
TEST(TrayIconTest, EveryIconShowsOnLightAndDarkPanels) {
    const struct {
        const char* name;
        QColor panel;
    } panels[] = {
        {"white", QColor(255, 255, 255)},
        {"light grey", QColor(0xeb, 0xeb, 0xeb)},
        {"dark grey", QColor(0x30, 0x30, 0x30)},
        {"black", QColor(0, 0, 0)},
    };
    for (const char* symbol : {"video", "video.fill", "record.circle.fill"}) {
        for (const int pixels : {22, TrayIcon::kIconPixels}) {
            const QImage icon = trayIconImage(symbol, pixels);
            ASSERT_EQ(icon.size(), QSize(pixels, pixels));
            for (const auto& panel : panels) {
                SCOPED_TRACE(testing::Message() << symbol << " at " << pixels << " px on " << panel.name);
                EXPECT_GE(standsOut(icon, panel.panel), 0.08);
            }
        }
    }
}

}  // namespace
}  // namespace lumenhollow
