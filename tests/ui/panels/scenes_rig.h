#pragma once

// The scenes popover as a person meets it, for the panel's tests: a model
// over a USB-like camera, the pill form of the scenes button in a shown
// window with the application's menu bar (whose keys recall and save the
// scenes), and presses, drags and keys sent to the popover's window at the
// places its parts take in it.

#include <QChildEvent>
#include <QCoreApplication>
#include <QDrag>
#include <QImage>
#include <QAction>
#include <QLineEdit>
#include <QMainWindow>
#include <QTest>
#include <QWindow>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../../model/model_harness.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/panels/scene_row.h"
#include "lumenhollow/ui/panels/scenes_panel.h"
#include "lumenhollow/ui/shell/camera_menu_bar.h"
#include "lumenhollow/ui/shell/updater.h"
#include "lumenhollow/ui/window/scenes_button.h"

namespace lumenhollow::scenes_test {

// Pixels that differ between two pictures of one size; -1 when the sizes differ.
inline int differingPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return -1;
    const QImage left = a.convertToFormat(QImage::Format_ARGB32);
    const QImage right = b.convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < left.height(); ++y) {
        for (int x = 0; x < left.width(); ++x) count += left.pixel(x, y) != right.pixel(x, y) ? 1 : 0;
    }
    return count;
}

// A model over a USB-like camera at a known position, and the pill form of
// the button in a shown window. Presses and keys go to the popover's window
// at the places the rows take in it, as a person's do.
struct ScenesRig : test::ModelHarness {
    std::unique_ptr<ModelSignals> signals;
    Updater updater{QStringLiteral("1.0"), [](const QString&, std::function<void()>) {}};
    QAction fullScreen;
    std::unique_ptr<QMainWindow> window;
    ScenesButton* button = nullptr;

    explicit ScenesRig(int scenes) {
        cameras.setPocketConnected(true);
        FakeCamera::Options options;
        options.position = hollowkit::CameraPosition{20, -4, 100};
        cameras.setOptions(ConnectionMode::usb, options);
        createAndStart();
        for (int i = 0; i < scenes; ++i) model->saveCurrentPositionAsScene();
        main.runUntilIdle();
        signals = std::make_unique<ModelSignals>(model);
        window = std::make_unique<QMainWindow>();
        window->setMenuBar(new CameraMenuBar(*signals, updater, fullScreen, window.get()));
        window->setCentralWidget(new QWidget);
        window->resize(600, 500);
        button = new ScenesButton(*signals, false, window->centralWidget());
        button->move(100, 20);
        window->show();
    }
    ~ScenesRig() {
        window.reset();
        signals.reset();
    }
    ScenesPanel* open() {
        if (!state().showScenes) model->setShowScenes(true);
        return qobject_cast<ScenesPanel*>(button->popover()->content());
    }
    SceneRow* row(int index) { return open()->rows().at(static_cast<size_t>(index)); }
    QLineEdit* nameField(int index) { return row(index)->findChild<QLineEdit*>("name"); }
    QWindow* popoverWindow() { return button->popover()->windowHandle(); }
    // `widget`'s point `at` in the popover's window.
    QPoint inPopover(const QWidget* widget, QPoint at) const { return widget->mapTo(button->popover(), at); }
    void clickAt(const QWidget* widget, QPoint at) {
        QTest::mouseClick(popoverWindow(), Qt::LeftButton, {}, inPopover(widget, at));
    }
    void clickName(int index) {
        QLineEdit* field = nameField(index);
        clickAt(field, QPoint(field->width() - 4, field->height() / 2));
    }
    // A place on the row that is none of its controls: below the position line.
    QPoint rowGrip(const SceneRow* r) const { return inPopover(r, QPoint(r->width() / 2, r->height() - 6)); }
    // A press at `from` in the popover, four moves of `step` each, and the release.
    void drag(QPoint from, QPoint step) {
        QTest::mousePress(popoverWindow(), Qt::LeftButton, {}, from);
        for (int i = 1; i <= 4; ++i) QTest::mouseMove(popoverWindow(), from + step * i);
        QTest::mouseRelease(popoverWindow(), Qt::LeftButton, {}, from + step * 4);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void typeText(const QString& text) {
        for (const QChar c : text) QTest::keyClick(popoverWindow(), c.toLatin1());
    }
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) { QTest::keyClick(popoverWindow(), key, modifiers); }
    // The popover's pixels under `widget`.
    QImage shownUnder(const QWidget* widget) {
        return button->popover()->grab(QRect(inPopover(widget, QPoint(0, 0)), widget->size())).toImage();
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const CameraScene& scene : state().scenes) out.push_back(scene.name);
        return out;
    }
};

// The picture and hot spot of each drag a view starts, read as the drag is
// let go (this platform ends a drag at once and deletes it later).
class DragWatch final : public QObject {
public:
    explicit DragWatch(QWidget* view) { view->installEventFilter(this); }
    std::optional<QImage> picture;
    QPoint hotSpot;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ChildAdded) {
            static_cast<QChildEvent*>(event)->child()->installEventFilter(this);
        } else if (event->type() == QEvent::DeferredDelete) {
            if (const auto* drag = qobject_cast<QDrag*>(watched)) {
                picture = drag->pixmap().toImage();
                hotSpot = drag->hotSpot();
            }
        }
        return false;
    }
};

}  // namespace lumenhollow::scenes_test
