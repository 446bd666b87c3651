#pragma once

// Popover: a glass panel that opens beside the control it belongs to (its
// anchor) and closes on Escape, on a click outside it, on dismiss(), and on
// its own when the anchor is hidden or goes away, so a model flag that
// follows it never outlives the control that set it. It has no arrow.
//
// The anchor is the parent, so the popover never outlives it. The content is
// built anew by a factory at every opening. GUI thread.

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>

namespace lumenhollow::ui {

// The side of the anchor the popover opens on; none counts as below.
enum class PopoverEdge : uint8_t { none = 0, above, below, leading };

// Where a popover of `size` opens beside `anchor` (both in global
// coordinates), kGap away from it and centred on it across that side. When
// the side lacks room inside `screen` it opens on the opposite side; in the
// end it is shifted to lie inside `screen` where it fits.
QRect popoverFrame(const QRect& anchor, const QSize& size, PopoverEdge edge, const QRect& screen);

class Popover final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kGap = 6;
    static constexpr double kCornerRadius = 12;

    using ContentFactory = std::function<QWidget*(QWidget* parent)>;

    Popover(QWidget* anchor, PopoverEdge edge, ContentFactory makeContent);
    // Silent: whoever listens may be going away too. An owner that outlives
    // its anchor clears its own flag.
    ~Popover() override;

    // Builds fresh content, sizes the popover to it and shows it beside the
    // anchor. Nothing when it is open already or the anchor is not visible.
    void present();
    // Closes it, as Escape does; nothing when it is closed.
    void dismiss();
    bool isPresented() const { return isVisible(); }
    // The content of the last opening (null before the first).
    QWidget* content() const { return content_; }
    PopoverEdge edge() const { return edge_; }

Q_SIGNALS:
    // While it closes, its content still in place: last chance to commit edits.
    void closing();
    // After it closed, whatever closed it.
    void dismissed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void place();

    QWidget* const anchor_;
    const PopoverEdge edge_;
    ContentFactory makeContent_;
    QPointer<QWidget> content_;
};

}  // namespace lumenhollow::ui
