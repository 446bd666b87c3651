#pragma once

// NoticeToast: the model's transient notice, one line of text on a glass
// capsule under the top bar; a notice wider than the room the window gives
// it wraps onto more lines, on a rounded rectangle as wide as the longest. It slides in from the window's top edge with a
// fade and leaves the same way (at once with animations off), and never
// takes the mouse: what lies under it stays reachable. The column above
// places it and says what it shows; it decides nothing. GUI thread only.

#include <QFont>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <QStringList>

#include <functional>
#include <optional>
#include <string>

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/window/window_layout.h"

class QVariantAnimation;

namespace lumenhollow {

// The toast's lines and size for `text` given at most `maxWidth` (insets
// included): one line as wide as the text while it fits, 30 high; beyond
// that, lines broken after a space or a '/' (or, for a run too long for a
// line, anywhere), each `lineHeight` high, with the one line's space above
// and below. `advance` measures a text's width.
struct NoticeToastLayout {
    QStringList lines;
    double width = 0;
    double height = 0;
};
NoticeToastLayout noticeToastLayout(const QString& text, double maxWidth, double lineHeight,
                                    const std::function<double(const QString&)>& advance);

class NoticeToast final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kHeight = 30;
    static constexpr int kInset = 14;
    static constexpr double kTextPx = 13;
    static constexpr double kTransitionSeconds = 0.2;
    // The least space between the toast and the window's sides.
    static constexpr int kSideMargin = 16;

    explicit NoticeToast(QWidget* parent);

    // Shows `text` (coming in when it was away) or, with nothing, leaves.
    void setNotice(const std::optional<std::string>& text);
    // Where it rests while shown, in its parent's coordinates.
    void setRestRect(const RectF& rest);
    // The widest it may be: a longer notice wraps.
    void setMaxWidth(double width);

    const QString& text() const { return text_; }
    const QStringList& lines() const { return layout_.lines; }
    bool hasNotice() const { return shown_; }
    // 0: away, 1: at rest.
    double progress() const { return progress_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void animateTo(bool in);
    void place();
    void relayout();

    QFont font_;
    QString text_;
    double maxWidth_ = 1e9;
    double lineHeight_ = 0;
    NoticeToastLayout layout_;
    bool shown_ = false;
    double progress_ = 0;
    RectF rest_;
    QPointer<QVariantAnimation> animation_;
    ui::GlassLook glass_;
};

}  // namespace lumenhollow
