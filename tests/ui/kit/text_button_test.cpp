#include "lumenhollow/ui/kit/text_button.h"

#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QImage>
#include <QTest>
#include <QWindow>
#include <cstdlib>

#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow::ui {
namespace {

// The backdrop a button stands on: the sheets' and popovers' dark grey.
QColor buttonBackdrop() { return darkPalette().color(QPalette::Window); }

// Within one step of eight bits in each channel.
bool sameColour(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) <= 1 && std::abs(a.green() - b.green()) <= 1 &&
           std::abs(a.blue() - b.blue()) <= 1;
}

TEST(TextButton, ContrastRatiosMatchTheKnownValues) {
    const struct {
        QColor a;
        QColor b;
        double ratio;
    } cases[] = {
        {Qt::white, Qt::black, 21.0},
        {Qt::white, Qt::white, 1.0},
        {QColor(0x77, 0x77, 0x77), Qt::white, 4.48},
        {QColor(0xfb, 0x9f, 0x98), Qt::white, 2.0},  // the lightened accent a stock style draws
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(contrastRatio(c.a, c.b), c.ratio, 0.01) << c.a.name().toStdString();
        EXPECT_NEAR(contrastRatio(c.b, c.a), c.ratio, 0.01) << c.a.name().toStdString();
    }
}

// Each kind, at rest, pressed and disabled: its text stays readable on its
// face as drawn on the dark backdrop, a press shows, and disabled dims both.
TEST(TextButton, EveryStateKeepsItsTextReadable) {
    const struct {
        TextButtonKind kind;
        double minContrast;
    } cases[] = {
        // The accent at full strength under white reaches large-text
        // contrast, twice the stock style's lightened accent.
        {TextButtonKind::prominent, 3.0},
        {TextButtonKind::plain, 4.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        const TextButtonColors rest = textButtonColors(c.kind, false, true);
        const TextButtonColors pressed = textButtonColors(c.kind, true, true);
        const TextButtonColors disabled = textButtonColors(c.kind, false, false);
        for (const TextButtonColors& colors : {rest, pressed}) {
            const QColor face = composite(colors.fill, buttonBackdrop());
            EXPECT_GE(contrastRatio(composite(colors.text, face), face), c.minContrast);
        }
        EXPECT_NE(composite(pressed.fill, buttonBackdrop()), composite(rest.fill, buttonBackdrop()));
        EXPECT_LT(disabled.text.alphaF(), rest.text.alphaF());
        EXPECT_LT(disabled.fill.alphaF(), rest.fill.alphaF());
    }
    EXPECT_EQ(textButtonColors(TextButtonKind::prominent, false, true).fill, appAccentColor());
    EXPECT_EQ(textButtonColors(TextButtonKind::prominent, false, true).text, QColor(Qt::white));
}

// As drawn: the face is the kind's colour, padded round the whole title
// (and the symbol), and a press in the window clicks it.
TEST(TextButton, DrawsItsFacePaddedAndTakesAPressInItsWindow) {
    QWidget window;
    window.setPalette(darkPalette());
    window.setAutoFillBackground(true);
    window.resize(400, 120);
    auto* prominent = new TextButton(TextButtonKind::prominent, QStringLiteral("Get Started"), &window);
    auto* plain = new TextButton(TextButtonKind::plain, QStringLiteral("Save Current Position"), &window,
                                 TextButtonSize::regular, "plus");
    auto* bare = new TextButton(TextButtonKind::plain, QStringLiteral("Save Current Position"), &window);
    prominent->move(20, 20);
    plain->move(20, 70);
    bare->resize(bare->sizeHint());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (TextButton* button : {prominent, plain}) button->resize(button->sizeHint());

    const TextButton::Metrics regular = TextButton::metrics(TextButtonSize::regular);
    const double title = QFontMetricsF(uiFont(regular.fontPx, QFont::Medium)).horizontalAdvance(prominent->text());
    EXPECT_GE(prominent->width(), title + 2 * regular.padding);
    EXPECT_EQ(prominent->height(), regular.height);
    EXPECT_GT(plain->width(), bare->width());  // room for the symbol

    const QImage shot = window.grab().toImage();
    const auto faceAt = [&](const TextButton* button) {
        // Inside the padding, halfway down: the face, clear of the title.
        return shot.pixelColor(button->geometry().left() + regular.padding / 2, button->geometry().center().y());
    };
    EXPECT_TRUE(sameColour(faceAt(prominent), appAccentColor())) << faceAt(prominent).name().toStdString();
    const QColor plainFace = composite(textButtonColors(TextButtonKind::plain, false, true).fill, buttonBackdrop());
    EXPECT_TRUE(sameColour(faceAt(plain), plainFace)) << faceAt(plain).name().toStdString();

    int clicks = 0;
    QObject::connect(prominent, &QPushButton::clicked, &window, [&] { ++clicks; });
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, prominent->geometry().center());
    EXPECT_EQ(clicks, 1);
}

}  // namespace
}  // namespace lumenhollow::ui
