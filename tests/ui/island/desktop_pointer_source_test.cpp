// The desktop's pointer source does no work while unwatched, and asks at a
// bounded pace while watched. Here, away from X11 (the offscreen platform),
// it asks Qt's cursor on the main executor's timer, so the executor's
// virtual time shows every query.

#include "lumenhollow/ui/island/x11/desktop_pointer_source.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include "hollowkit/testing/manual_executor.h"

namespace lumenhollow::ui {
namespace {

// A mouse move over one of the application's own windows.
void moveOverOwnWindow(QWindow& window) {
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &move);
}

TEST(DesktopPointerSource, AsksNothingWhileUnwatched) {
    hollowkit::ManualExecutor main;
    QWidget own;
    own.show();
    ASSERT_TRUE(own.windowHandle());
    DesktopPointerSource pointer(main);
    QSignalSpy moved(&pointer, &PointerSource::moved);

    QCursor::setPos(300, 200);
    moveOverOwnWindow(*own.windowHandle());
    EXPECT_EQ(main.advanceSeconds(2.0), 0u) << "a timer runs for nobody";
    EXPECT_EQ(pointer.queries(), 0u);

    pointer.setWatching(true);
    EXPECT_FALSE(pointer.hearsRawEvents()) << "no X server here";
    EXPECT_EQ(pointer.queries(), 1u) << "a fresh sample on watching";
    EXPECT_EQ(pointer.sample().position, QCursor::pos());
    // A burst of moves over our own windows is asked for once, then once
    // more at the end of the interval for the last of them.
    for (int i = 0; i < 50; ++i) moveOverOwnWindow(*own.windowHandle());
    EXPECT_EQ(pointer.queries(), 2u);
    main.advanceSeconds(0.5);
    const uint64_t asked = pointer.queries();
    EXPECT_GT(asked, 1u) << "without raw events, asked on a timer";
    QCursor::setPos(310, 210);
    main.advanceSeconds(0.1);
    EXPECT_EQ(pointer.sample().position, QPoint(310, 210));
    EXPECT_GE(moved.count(), 1);

    pointer.setWatching(false);
    const uint64_t atEnd = pointer.queries();
    const int movesAtEnd = moved.count();
    QCursor::setPos(400, 300);
    moveOverOwnWindow(*own.windowHandle());
    EXPECT_EQ(main.advanceSeconds(2.0), 0u);
    EXPECT_EQ(pointer.queries(), atEnd);
    EXPECT_EQ(moved.count(), movesAtEnd);
}

}  // namespace
}  // namespace lumenhollow::ui
