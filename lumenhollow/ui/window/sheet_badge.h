#pragma once

// SheetBadge: a glyph or a short text centred on a filled circle (or on
// nothing), as the sheets' list rows and headers show them: the accent
// tinted symbol circles, the numbered steps, the footer's check mark.
// GUI thread only.

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

#include <string_view>

namespace lumenhollow {

class SheetBadge final : public QWidget {
    Q_OBJECT

public:
    // `text` in `font` and `ink`, centred in a `diameter` square over a
    // circle of `fill` (a transparent fill draws no circle).
    SheetBadge(QString text, QFont font, QColor ink, QColor fill, int diameter, QWidget* parent);
    // The registry's symbol `name` at `px` pixels.
    static SheetBadge* symbol(std::string_view name, double px, QColor ink, QColor fill, int diameter,
                              QWidget* parent);

    const QString& text() const { return text_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QFont font_;
    QColor ink_;
    QColor fill_;
};

}  // namespace lumenhollow
