#pragma once

// TextButton: the rounded, padded push button of sheets, cards and popovers,
// in two kinds: prominent (the default action, filled with the application's
// accent under white text) and plain (a faint grey capsule under white text,
// for every other choice). An optional symbol leads the title. It stays a
// QPushButton, so default-button handling, finding it by title and its
// accessible name (the title) still work. A pop-up button (PopUpButton)
// is a plain one with its title at the left and the menu chevron at the right.
// GUI thread only.

#include <QColor>
#include <QPushButton>
#include <string>

namespace lumenhollow::ui {

enum class TextButtonKind { none, plain, prominent };
enum class TextButtonSize { none, regular, small };

// The fill and ink of a kind of button in a state, from the kit palette.
struct TextButtonColors {
    QColor fill;
    QColor text;
    bool operator==(const TextButtonColors&) const = default;
};
TextButtonColors textButtonColors(TextButtonKind kind, bool pressed, bool enabled);

// WCAG contrast ratio (1...21) between two opaque colours.
double contrastRatio(const QColor& a, const QColor& b);
// `over` drawn at its alpha on opaque `under`.
QColor composite(const QColor& over, const QColor& under);

class TextButton : public QPushButton {
    Q_OBJECT
public:
    struct Metrics {
        int height;
        int padding;  // left and right of the content
        double radius;
        double fontPx;
    };
    static Metrics metrics(TextButtonSize size);
    static constexpr int kSymbolSpacing = 4;

    TextButton(TextButtonKind kind, const QString& title, QWidget* parent,
               TextButtonSize size = TextButtonSize::regular, std::string symbol = {});

    TextButtonKind kind() const { return kind_; }
    const std::string& symbol() const { return symbol_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    // Title at the left, the menu chevron at the right edge.
    void setMenuChevron(bool shown);
    // The width of the face for `title`, padding and chevron included.
    int widthFor(const QString& title) const;

private:
    TextButtonKind kind_;
    Metrics metrics_;
    std::string symbol_;
    QFont font_;
    bool menuChevron_ = false;
};

}  // namespace lumenhollow::ui
