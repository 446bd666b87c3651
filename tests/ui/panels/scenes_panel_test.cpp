#include "lumenhollow/ui/panels/scenes_panel.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QChildEvent>
#include <QDrag>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QWindow>

#include <algorithm>
#include <optional>

#include "scenes_rig.h"
#include "lumenhollow/testing/state_recorder.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/panels/scene_row.h"
#include "lumenhollow/ui/panels/scenes_panel_state.h"
#include "lumenhollow/ui/window/scenes_button.h"

namespace lumenhollow {
namespace {

using scenes_test::differingPixels;
using scenes_test::DragWatch;
using scenes_test::ScenesRig;

TEST(ScenesPanelState, CountBodySavingAndHeightFollowTheList) {
    const struct {
        bool positioning;
        size_t count;
        ScenesBody body;
        bool canSave;
        int height;
        std::string countText;
    } cases[] = {
        {true, 0, ScenesBody::empty, true, 8, "0 of 9"},
        {true, 1, ScenesBody::list, true, 74, "1 of 9"},
        {true, 3, ScenesBody::list, true, 206, "3 of 9"},
        {true, 6, ScenesBody::list, true, 404, "6 of 9"},
        {true, 7, ScenesBody::list, true, 420, "7 of 9"},
        {true, 9, ScenesBody::list, false, 420, "9 of 9"},
        {false, 0, ScenesBody::needsPositioning, false, 8, "0 of 9"},
        {false, 3, ScenesBody::needsPositioning, false, 206, "3 of 9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(scenesBody(c.positioning, c.count), c.body) << c.count << c.positioning;
        EXPECT_EQ(canSaveScene(c.positioning, c.count), c.canSave) << c.count << c.positioning;
        EXPECT_EQ(scenesListHeight(c.count), c.height) << c.count;
        EXPECT_EQ(scenesCountText(c.count), c.countText) << c.count;
    }
}

// Where the screen leaves the list less room than its height, the list
// takes the room and scrolls, but never shrinks below one row.
TEST(ScenesPanelState, TheListShrinksToTheRoomTheScreenLeaves) {
    const struct {
        size_t count;
        std::optional<int> room;
        int height;
    } cases[] = {
        {9, std::nullopt, 420}, {9, 1000, 420}, {9, 420, 420}, {9, 330, 330}, {7, 338, 338},
        {5, 338, 338},          {4, 338, 272},  {1, 338, 74},  {9, 40, 74},   {1, 40, 74},
        {0, 40, 8},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(scenesListHeight(c.count, c.room), c.height) << c.count << " rows, room " << c.room.value_or(-1);
    }
}

TEST(ScenesPanelState, PositionLine) {
    const struct {
        hollowkit::CameraPosition position;
        std::string text;
    } cases[] = {
        {{-12.4, 5.0, 150}, "pan -12\u00B0  \u00B7  tilt 5\u00B0  \u00B7  1.5x"},
        {{30.6, -0.4, std::nullopt}, "pan 31\u00B0  \u00B7  tilt 0\u00B0"},
        {{-0.2, 0.0, 100}, "pan 0\u00B0  \u00B7  tilt 0\u00B0  \u00B7  1.0x"},
        {{179.5, -89.5, 1175}, "pan 180\u00B0  \u00B7  tilt -90\u00B0  \u00B7  11.8x"},
    };
    for (const auto& c : cases) EXPECT_EQ(scenePositionSummary(c.position), c.text);
}

// Typing into the first row's name field, after a click into it, and leaving
// it in each way: the name the model keeps, what the field shows afterwards,
// and the settings written (one rename, one write; none without a change).
TEST(ScenesPanel, RenamingByClickAndKeyboardKeepsWhatTheModelKeeps) {
    const struct {
        const char* name;
        QString typed;
        std::function<void(ScenesRig&)> leave;
        std::string kept;
    } cases[] = {
        {"Return", "Desk", [](ScenesRig& r) { r.key(Qt::Key_Return); }, "Desk"},
        {"spaces trimmed", "  Window  ", [](ScenesRig& r) { r.key(Qt::Key_Return); }, "Window"},
        {"emptied field reverts", "", [](ScenesRig& r) { r.key(Qt::Key_Return); }, "Scene 1"},
        {"the same name again", "Scene 1", [](ScenesRig& r) { r.key(Qt::Key_Return); }, "Scene 1"},
        {"a click into the next row's name", "Shelf", [](ScenesRig& r) { r.clickName(1); }, "Shelf"},
        {"a click on the next row's grip", "Lamp",
         [](ScenesRig& r) { QTest::mouseClick(r.popoverWindow(), Qt::LeftButton, {}, r.rowGrip(r.row(1))); },
         "Lamp"},
        {"Escape closes the popover and keeps the name", "Door", [](ScenesRig& r) { r.key(Qt::Key_Escape); }, "Door"},
        {"the button hides", "Shelf", [](ScenesRig& r) { r.button->hide(); }, "Shelf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScenesRig rig(2);
        rig.open();
        rig.clickName(0);
        ASSERT_TRUE(rig.nameField(0)->hasFocus());
        rig.key(Qt::Key_A, Qt::ControlModifier);
        if (c.typed.isEmpty()) rig.key(Qt::Key_Backspace);
        rig.typeText(c.typed);
        rig.settings.clearWrites();
        c.leave(rig);
        EXPECT_EQ(rig.names(), (std::vector<std::string>{c.kept, "Scene 2"}));
        const bool changed = c.kept != "Scene 1";
        EXPECT_EQ(rig.settings.writtenKeys(), changed ? std::vector<std::string>{"scenes"} : std::vector<std::string>{});
        if (rig.button->popover()->isPresented()) {
            EXPECT_EQ(rig.nameField(0)->text().toStdString(), c.kept);
        } else {
            EXPECT_FALSE(rig.state().showScenes);
        }
    }
}

// Closing the popover commits only a name being typed: with nothing typed,
// also with the caret in a field, nothing is published or written.
TEST(ScenesPanel, ClosingThePopoverWritesOnlyATypedName) {
    const struct {
        const char* name;
        std::function<void(ScenesRig&)> before;
        size_t writes;
    } cases[] = {
        {"nothing touched", [](ScenesRig&) {}, 0},
        {"the caret in a name", [](ScenesRig& r) { r.clickName(1); }, 0},
        {"a row picked up", [](ScenesRig& r) { QTest::mouseClick(r.popoverWindow(), Qt::LeftButton, {}, r.rowGrip(r.row(2))); }, 0},
        {"a name typed", [](ScenesRig& r) { r.clickName(1); r.typeText("x"); }, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScenesRig rig(3);
        rig.open();
        c.before(rig);
        rig.settings.clearWrites();
        StateRecorder recorder(rig.model);
        rig.key(Qt::Key_Escape);
        ASSERT_FALSE(rig.button->popover()->isPresented());
        EXPECT_EQ(rig.settings.writes().size(), c.writes);
        EXPECT_EQ(recorder.count(Field::scenes), c.writes);
    }
}

// The name is a field from the start; the row paints no selection and its
// buttons no hover square; the position line is in the secondary grey.
TEST(ScenesPanel, TheRowIsAFieldWithNoSelectionOrHoverOfItsOwn) {
    ScenesRig rig(2);
    ScenesPanel* panel = rig.open();
    QLineEdit* field = rig.nameField(0);
    EXPECT_TRUE(field->isVisible());
    EXPECT_FALSE(field->hasFrame());
    EXPECT_EQ(field->text(), QStringLiteral("Scene 1"));
    EXPECT_EQ(field->placeholderText(), QStringLiteral("Name"));

    SceneRow* first = rig.row(0);
    const QImage before = rig.shownUnder(first);
    // Picked up (selected) by a press on its grip, then the pointer resting on each of its buttons.
    QTest::mouseClick(rig.popoverWindow(), Qt::LeftButton, {}, rig.rowGrip(first));
    ASSERT_EQ(panel->list()->currentRow(), 0);
    for (const char* name : {"go", "update", "delete"}) {
        SCOPED_TRACE(name);
        const auto* button = first->findChild<QToolButton*>(name);
        QTest::mouseMove(rig.popoverWindow(), rig.inPopover(button, button->rect().center()));
        ASSERT_TRUE(button->underMouse());
        EXPECT_EQ(differingPixels(rig.shownUnder(first), before), 0);
    }

    // No pixel of the position line is brighter than the secondary grey.
    QLabel* line = first->findChild<QLabel*>("position");
    // Its text alone, drawn on black.
    QImage drawn(line->size(), QImage::Format_RGB32);
    drawn.fill(Qt::black);
    line->render(&drawn, QPoint(), QRegion(), QWidget::DrawChildren);
    int brightest = 0;
    for (int y = 0; y < drawn.height(); ++y) {
        for (int x = 0; x < drawn.width(); ++x) brightest = std::max(brightest, qGray(drawn.pixel(x, y)));
    }
    EXPECT_GT(brightest, 60);  // drawn at all
    EXPECT_LT(brightest, 170);
}

// Dragging a row by its grip carries a picture of the row as the popover shows it.
TEST(ScenesPanel, ADraggedRowCarriesItsOwnPicture) {
    ScenesRig rig(3);
    ScenesPanel* panel = rig.open();
    SceneRow* second = rig.row(1);
    const QImage shown = rig.shownUnder(second);
    const QPoint grip = rig.rowGrip(second);
    DragWatch watch(panel->list());
    rig.drag(grip, QPoint(0, 8));
    ASSERT_TRUE(watch.picture) << "no drag started";
    EXPECT_EQ(differingPixels(*watch.picture, shown), 0);
    // Not a blank: the row's white name is in it.
    int brightest = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) brightest = std::max(brightest, qGray(watch.picture->pixel(x, y)));
    }
    EXPECT_GT(brightest, 200);
    // Held where it was pressed.
    EXPECT_EQ(watch.hotSpot, second->mapFrom(rig.button->popover(), grip));
}

// A name being typed outlives a change of the list made meanwhile (by the
// save key, or elsewhere, as the Camera menu or the island make them): the
// list changes, the row keeps the typed text and the keyboard, and the name
// is committed only when the person commits it.
TEST(ScenesPanel, ATypedNameOutlivesAChangeOfTheList) {
    const struct {
        const char* name;
        std::function<void(ScenesRig&)> change;
        std::vector<std::string> names;  // after Return
    } cases[] = {
        {"a scene saved with the key", [](ScenesRig& r) { r.key(Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier); },
         {"Desk", "Scene 2", "Scene 3", "Scene 4"}},
        {"another scene deleted elsewhere", [](ScenesRig& r) { r.model->deleteScene(r.state().scenes[1].id); },
         {"Desk", "Scene 3"}},
        {"the scene moved elsewhere", [](ScenesRig& r) { r.model->moveScenes({0}, 3); },
         {"Scene 2", "Scene 3", "Desk"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScenesRig rig(3);
        rig.open();
        rig.clickName(0);
        rig.key(Qt::Key_A, Qt::ControlModifier);
        rig.typeText("Desk");
        c.change(rig);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const auto typedRow = std::find_if(rig.state().scenes.begin(), rig.state().scenes.end(),
                                           [](const CameraScene& scene) { return scene.name == "Scene 1"; });
        ASSERT_NE(typedRow, rig.state().scenes.end()) << "the typed name was committed by the change";
        QLineEdit* field = rig.nameField(static_cast<int>(typedRow - rig.state().scenes.begin()));
        EXPECT_EQ(field->text(), QStringLiteral("Desk"));
        EXPECT_TRUE(field->hasFocus());
        rig.key(Qt::Key_Return);
        EXPECT_EQ(rig.names(), c.names);
    }
}

TEST(ScenesPanel, ACompletedMoveReordersAndRenumbers) {
    ScenesRig rig(3);
    rig.model->renameScene(rig.state().scenes[0].id, "First");
    ScenesPanel* panel = rig.open();
    // The list's own report of a drag of the first row below the last.
    ASSERT_TRUE(panel->list()->model()->moveRows(QModelIndex(), 0, 1, QModelIndex(), 3));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"Scene 2", "Scene 3", "First"}));
    const std::vector<SceneRow*> rows = panel->rows();
    ASSERT_EQ(rows.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rows[static_cast<size_t>(i)]->index(), i);
        EXPECT_EQ(rows[static_cast<size_t>(i)]->scene().name, rig.names()[static_cast<size_t>(i)]);
    }
}

TEST(ScenesPanel, RowButtonsAndTheSaveKeyReachTheModelOnce) {
    ScenesRig rig(2);
    ScenesPanel* panel = rig.open();
    // The save key while the popover holds the keyboard: one new scene.
    QTest::keyClick(rig.nameField(0), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(rig.state().scenes.size(), 3u);
    EXPECT_EQ(panel->findChild<QLabel*>("count")->text(), QStringLiteral("3 of 9"));
    // Delete the first row: the others move up and renumber.
    panel->rows().front()->findChild<QToolButton*>("delete")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"Scene 2", "Scene 3"}));
    EXPECT_EQ(panel->rows().front()->index(), 0);
    // Go there.
    rig.camera()->setPosition(hollowkit::CameraPosition{0, 0, 100});
    panel->rows().back()->findChild<QToolButton*>("go")->click();
    EXPECT_EQ(rig.state().notice, "Scene 3");
    // Full at nine: saving is off.
    for (int i = 0; i < 7; ++i) rig.model->saveCurrentPositionAsScene();
    EXPECT_FALSE(panel->findChild<QPushButton*>("save")->isEnabled());
}

TEST(ScenesPanel, AReplaceWithoutAPositionSaysSo) {
    ScenesRig rig(1);
    ScenesPanel* panel = rig.open();
    rig.camera()->setPosition(std::nullopt);
    panel->rows().front()->findChild<QToolButton*>("update")->click();
    EXPECT_EQ(rig.state().notice, "The camera did not report its position");
}

// The widest position lines still show whole beside the row's buttons.
TEST(ScenesPanel, ThePositionLineIsNeverCut) {
    const hollowkit::CameraPosition positions[] = {{-179.5, -89.5, 1175}, {-12, 5, 150}, {0, 0, 100}};
    ScenesRig rig(0);
    for (const hollowkit::CameraPosition& position : positions) {
        rig.camera()->setPosition(position);
        rig.main.runUntilIdle();
        rig.model->saveCurrentPositionAsScene();
    }
    ScenesPanel* panel = rig.open();
    ASSERT_EQ(panel->rows().size(), std::size(positions));
    for (SceneRow* row : panel->rows()) {
        const auto* line = row->findChild<QLabel*>("position");
        SCOPED_TRACE(line->text().toStdString());
        EXPECT_GE(line->width(), line->sizeHint().width());
        const auto* go = row->findChild<QToolButton*>("go");
        EXPECT_LE(line->mapTo(row, QPoint(line->width(), 0)).x(), go->mapTo(row, QPoint(0, 0)).x());
    }
}

}  // namespace
}  // namespace lumenhollow

namespace lumenhollow {
namespace {

// The accent pixels `widget` draws now.
int accentPixelsOf(QWidget& widget) {
    const QImage image = widget.grab().toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - 0x0a) < 40 && std::abs(c.green() - 0x84) < 40 && std::abs(c.blue() - 0xff) < 40) {
                ++count;
            }
        }
    }
    return count;
}

TEST(ScenesPanel, ARowsButtonsShowTheKeyboardsFocusAndNoClicks) {
    ScenesRig rig(2);
    ScenesPanel* panel = rig.open();
    ASSERT_TRUE(panel);
    QWindow* popover = panel->window()->windowHandle();
    ASSERT_TRUE(popover);
    SceneRow* row = panel->rows().front();
    for (const char* name : {"picture", "go", "update", "delete"}) {
        SCOPED_TRACE(name);
        auto* button = row->findChild<QToolButton*>(name);
        ASSERT_TRUE(button);
        EXPECT_EQ(accentPixelsOf(*button), 0);
        // Tab from the field before the row's buttons until this one has the keyboard.
        rig.nameField(0)->setFocus(Qt::OtherFocusReason);
        for (int i = 0; i < 12 && !button->hasFocus(); ++i) QTest::keyClick(popover, Qt::Key_Backtab);
        for (int i = 0; i < 12 && !button->hasFocus(); ++i) QTest::keyClick(popover, Qt::Key_Tab);
        ASSERT_TRUE(button->hasFocus());
        EXPECT_GT(accentPixelsOf(*button), 10) << "the keyboard's focus is not drawn";
        // Given by the program, the focus draws nothing.
        rig.nameField(0)->setFocus(Qt::OtherFocusReason);
        button->setFocus(Qt::OtherFocusReason);
        EXPECT_EQ(accentPixelsOf(*button), 0);
    }
}

// Tab goes through the panel as it reads: the list's rows and their buttons,
// then the footer's button, whose press saves a new scene.
TEST(ScenesPanel, TabReachesEveryRowsButtonsBeforeTheFootersSave) {
    ScenesRig rig(3);
    ScenesPanel* panel = rig.open();
    ASSERT_TRUE(panel);
    QWindow* popover = panel->window()->windowHandle();
    ASSERT_TRUE(popover);
    auto* list = panel->findChild<QListWidget*>();
    auto* save = panel->findChild<QWidget*>(QStringLiteral("save"));
    ASSERT_TRUE(list && save);
    list->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(list->hasFocus());
    int lastRowButton = -1;
    int saveAt = -1;
    int rowButtons = 0;
    for (int i = 0; i < 40 && saveAt < 0; ++i) {
        QTest::keyClick(popover, Qt::Key_Tab);
        QWidget* focused = QApplication::focusWidget();
        ASSERT_TRUE(focused);
        if (focused == save) saveAt = i;
        for (SceneRow* row : panel->rows()) {
            if (row->isAncestorOf(focused) && qobject_cast<QToolButton*>(focused)) {
                lastRowButton = i;
                ++rowButtons;
            }
        }
    }
    ASSERT_GE(saveAt, 0) << "Tab never reached the footer's button";
    // Each of the three rows has its picture, go, replace and delete buttons.
    EXPECT_EQ(rowButtons, 12);
    EXPECT_LT(lastRowButton, saveAt);
}

TEST(ScenesPanel, TheRowsAndTheirButtonsAreInTheAccessibleTree) {
    ScenesRig rig(2);
    ScenesPanel* panel = rig.open();
    ASSERT_TRUE(panel);
    auto* list = panel->findChild<QListWidget*>();
    ASSERT_TRUE(list);
    QAccessibleInterface* shown = QAccessible::queryAccessibleInterface(list);
    ASSERT_TRUE(shown);
    ASSERT_EQ(shown->childCount(), 2);
    for (int i = 0; i < 2; ++i) {
        QAccessibleInterface* row = shown->child(i);
        ASSERT_TRUE(row);
        EXPECT_EQ(row->object(), panel->rows()[static_cast<size_t>(i)]);
        EXPECT_EQ(shown->indexOfChild(row), i);
        EXPECT_EQ(row->text(QAccessible::Name).toStdString(), rig.names()[static_cast<size_t>(i)]);
        std::vector<std::string> buttons;
        for (int j = 0; j < row->childCount(); ++j) {
            QAccessibleInterface* part = row->child(j);
            if (part && part->role() == QAccessible::Button) buttons.push_back(part->text(QAccessible::Name).toStdString());
        }
        EXPECT_EQ(buttons, (std::vector<std::string>{"Go to this scene", "Go to this scene",
                                                     "Replace with the current camera position", "Delete this scene"}));
    }
}

}  // namespace
}  // namespace lumenhollow
