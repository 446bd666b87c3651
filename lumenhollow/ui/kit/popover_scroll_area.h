#pragma once

// PopoverScrollArea: the part of a popover's content that scrolls where the
// popover's screen is too short for all of it (what popoverBodyRoom leaves
// once the content's other rows are counted), and otherwise shows all of it
// without a scroll bar. Its rows keep their width: they have the content's
// side padding inside them, and a scroll bar takes the right padding's room.
// Its height follows the rows as they come and go. GUI thread.

#include <QScrollArea>

#include <functional>

namespace lumenhollow::ui {

class PopoverScrollArea final : public QScrollArea {
    Q_OBJECT
public:
    // `rows` becomes the area's widget; its layout's side margins are set
    // to `padding`. `width` is the content's width; `otherRows` tells the
    // height the content's rows outside the area take.
    PopoverScrollArea(QWidget* rows, int width, int padding, std::function<int()> otherRows, QWidget* parent);

    // Never shorter than this, whatever the screen (the area then scrolls
    // within it).
    void setLeast(int least) { least_ = least; }
    // Takes the height the rows want, or what the popover's screen leaves.
    void fitToRoom();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* rows_;
    const int width_;
    const int padding_;
    const std::function<int()> otherRows_;
    int least_ = 0;
};

}  // namespace lumenhollow::ui
