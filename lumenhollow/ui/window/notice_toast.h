#pragma once

// NoticeToast: the model's transient notice, one line of text on a glass
// capsule under the top bar. It slides in from the window's top edge with a
// fade and leaves the same way (at once with animations off), and never
// takes the mouse: what lies under it stays reachable. The column above
// places it and says what it shows; it decides nothing. GUI thread only.

#include <QFont>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>
#include <string>

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/window/window_layout.h"

class QVariantAnimation;

namespace lumenhollow {

class NoticeToast final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kHeight = 30;
    static constexpr int kInset = 14;
    static constexpr double kTextPx = 13;
    static constexpr double kTransitionSeconds = 0.2;

    explicit NoticeToast(QWidget* parent);

    // Shows `text` (coming in when it was away) or, with nothing, leaves.
    void setNotice(const std::optional<std::string>& text);
    // Where it rests while shown, in its parent's coordinates.
    void setRestRect(const RectF& rest);

    const QString& text() const { return text_; }
    bool hasNotice() const { return shown_; }
    // 0: away, 1: at rest.
    double progress() const { return progress_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void animateTo(bool in);
    void place();

    QFont font_;
    QString text_;
    int textWidth_ = 0;
    bool shown_ = false;
    double progress_ = 0;
    RectF rest_;
    QPointer<QVariantAnimation> animation_;
    ui::GlassLook glass_;
};

}  // namespace lumenhollow
