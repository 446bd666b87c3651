// The scene rows as a person uses them in the open popover: the digits of
// the position line and the key badge, where a click ends an edit, what a
// name at rest shows, which row a drag carries, and the recall keys.

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <functional>
#include <string>
#include <vector>

#include "lumenhollow/ui/panels/scene_row.h"
#include "lumenhollow/ui/panels/scenes_panel.h"
#include "scenes_rig.h"

namespace lumenhollow {
namespace {

using scenes_test::differingPixels;
using scenes_test::DragWatch;
using scenes_test::ScenesRig;

// A rig whose scenes stand at `positions`, in that order.
std::unique_ptr<ScenesRig> rigAt(const std::vector<hollowkit::CameraPosition>& positions) {
    auto rig = std::make_unique<ScenesRig>(0);
    for (const hollowkit::CameraPosition& position : positions) {
        rig->camera()->setPosition(position);
        rig->main.runUntilIdle();
        rig->model->saveCurrentPositionAsScene();
    }
    return rig;
}

// The rightmost column of `image` with a pixel brighter than `floor` in rows
// [top, bottom), or -1.
int rightmostBright(const QImage& image, int floor, int top = 0, int bottom = -1) {
    if (bottom < 0) bottom = image.height();
    for (int x = image.width() - 1; x >= 0; --x) {
        for (int y = top; y < bottom; ++y) {
            if (qGray(image.pixel(x, y)) > floor) return x;
        }
    }
    return -1;
}

// A row's position line alone, drawn on black.
QImage positionLineOnBlack(SceneRow* row) {
    auto* line = row->findChild<QLabel*>("position");
    QImage drawn(line->size(), QImage::Format_RGB32);
    drawn.fill(Qt::black);
    line->render(&drawn, QPoint(), QRegion(), QWidget::DrawChildren);
    return drawn;
}

// Ones and eights take the same room: the lines end in the same column, and
// the key badges of the first and the eighth scene are as wide.
TEST(SceneRowDigits, OnesAndEightsTakeTheSameRoom) {
    const auto rig = rigAt({{11, 11, 110}, {88, 88, 880}});
    rig->open();
    const QImage ones = positionLineOnBlack(rig->row(0));
    const QImage eights = positionLineOnBlack(rig->row(1));
    ASSERT_EQ(rig->row(0)->findChild<QLabel*>("position")->text(), QString::fromUtf8("pan 11°  ·  tilt 11°  ·  1.1x"));
    EXPECT_GT(rightmostBright(ones, 60), 0);
    EXPECT_EQ(rightmostBright(ones, 60), rightmostBright(eights, 60));

    // The badge's dark box, in the rows under its text, over the grey placeholder.
    const auto badgeEnd = [](int index) {
        const QImage picture = scenePicture(std::nullopt, index, 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
        const int y = SceneRow::kThumbnailSize.height() - 3 - 2;
        const int grey = qGray(picture.pixel(SceneRow::kThumbnailSize.width() - 6, y));
        int end = -1;
        for (int x = 0; x < SceneRow::kThumbnailSize.width() / 2; ++x) {
            if (qGray(picture.pixel(x, y)) < grey - 8) end = x;
        }
        return end;
    };
    EXPECT_GT(badgeEnd(0), 10);
    EXPECT_EQ(badgeEnd(0), badgeEnd(7));
    EXPECT_EQ(badgeEnd(0), badgeEnd(3));
}

// The middle of the panel's label that reads `text`, in the panel.
QPoint labelCentre(ScenesPanel* panel, const QString& text) {
    for (QLabel* label : panel->findChildren<QLabel*>()) {
        if (label->text() == text) return label->mapTo(panel, label->rect().center());
    }
    return QPoint(-1, -1);
}

// A click on the panel itself, away from its controls, ends the edit of a
// name and commits it, as a click on another row does; the popover stays.
TEST(SceneRowEditing, AClickOnThePanelItselfCommitsTheName) {
    const struct {
        const char* name;
        std::function<QPoint(ScenesPanel*)> at;  // in the panel
    } cases[] = {
        {"the title", [](ScenesPanel* p) { return labelCentre(p, QStringLiteral("Scenes")); }},
        {"the count", [](ScenesPanel* p) {
             auto* count = p->findChild<QLabel*>("count");
             return count->mapTo(p, count->rect().center());
         }},
        {"the header between them", [](ScenesPanel* p) { return QPoint(p->width() / 2, 20); }},
        {"the footer's caption", [](ScenesPanel* p) { return labelCentre(p, QStringLiteral("Drag to reorder")); }},
        {"the footer's left edge", [](ScenesPanel* p) { return QPoint(4, p->height() - 6); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScenesRig rig(2);
        ScenesPanel* panel = rig.open();
        rig.clickName(0);
        rig.key(Qt::Key_A, Qt::ControlModifier);
        rig.typeText("Desk");
        const QPoint at = c.at(panel);
        ASSERT_TRUE(panel->rect().contains(at));
        rig.settings.clearWrites();
        rig.clickAt(panel, at);
        EXPECT_EQ(rig.names(), (std::vector<std::string>{"Desk", "Scene 2"}));
        EXPECT_EQ(rig.settings.writtenKeys(), std::vector<std::string>{"scenes"});
        EXPECT_FALSE(rig.nameField(0)->hasFocus());
        EXPECT_TRUE(rig.button->popover()->isPresented());
    }
}

// A name too long for its field reads from its start whenever the field is
// at rest: as the popover opens, after an edit, after a rename elsewhere.
// The second row, named just the start, shows what the first must show.
TEST(SceneRowEditing, ANameAtRestShowsItsStart) {
    const std::string start = "Scene 0";
    const std::string longName = start + " " + std::string(80, 'x');
    const struct {
        const char* name;
        std::function<void(ScenesRig&)> act;
    } cases[] = {
        {"the popover opens", [&](ScenesRig& r) {
             r.model->renameScene(r.state().scenes[0].id, longName);
             r.open();
         }},
        {"typed, then left", [&](ScenesRig& r) {
             r.open();
             r.clickName(0);
             r.key(Qt::Key_A, Qt::ControlModifier);
             r.typeText(QString::fromStdString(longName));
             QTest::mouseClick(r.popoverWindow(), Qt::LeftButton, {}, r.rowGrip(r.row(1)));
         }},
        {"renamed elsewhere", [&](ScenesRig& r) {
             r.open();
             r.model->renameScene(r.state().scenes[0].id, longName);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScenesRig rig(2);
        rig.model->renameScene(rig.state().scenes[1].id, start);
        c.act(rig);
        ASSERT_EQ(rig.names()[0], longName);
        QLineEdit* field = rig.nameField(0);
        QLineEdit* reference = rig.nameField(1);
        ASSERT_FALSE(field->hasFocus());
        ASSERT_EQ(field->size(), reference->size());
        ASSERT_GT(field->fontMetrics().horizontalAdvance(QString::fromStdString(longName)), field->width());
        const QRect opening(0, 0, field->fontMetrics().horizontalAdvance(QString::fromStdString(start)) + 2,
                            field->height());
        EXPECT_EQ(differingPixels(rig.shownUnder(field).copy(opening), rig.shownUnder(reference).copy(opening)), 0);
    }
}

// A drag carries the row it starts on, wherever on the row it starts and
// whichever row was clicked before; the drop moves the selected row, so
// that is the one the drag started on too. The press starts nothing else:
// the picture does not go to the scene, the name is not left editing.
TEST(SceneRowDrag, ADragCarriesTheRowItStartsOn) {
    const struct {
        const char* name;
        std::function<QPoint(ScenesRig&, SceneRow*)> at;  // in the popover
    } starts[] = {
        {"picture", [](ScenesRig& r, SceneRow* row) {
             auto* picture = row->findChild<QToolButton*>("picture");
             return r.inPopover(picture, picture->rect().center());
         }},
        {"name", [](ScenesRig& r, SceneRow* row) {
             auto* field = row->findChild<QLineEdit*>("name");
             return r.inPopover(field, QPoint(10, field->height() / 2));
         }},
        {"position line", [](ScenesRig& r, SceneRow* row) {
             auto* line = row->findChild<QLabel*>("position");
             return r.inPopover(line, QPoint(10, line->height() / 2));
         }},
        {"grip", [](ScenesRig& r, SceneRow* row) { return r.rowGrip(row); }},
        {"go button", [](ScenesRig& r, SceneRow* row) {
             auto* go = row->findChild<QToolButton*>("go");
             return r.inPopover(go, go->rect().center());
         }},
    };
    const struct {
        const char* name;
        std::function<void(ScenesRig&)> before;
    } befores[] = {
        {"nothing clicked before", [](ScenesRig&) {}},
        {"another row's position line clicked before", [](ScenesRig& r) {
             auto* line = r.row(0)->findChild<QLabel*>("position");
             r.clickAt(line, QPoint(10, line->height() / 2));
         }},
        {"another row's picture clicked before", [](ScenesRig& r) {
             auto* picture = r.row(2)->findChild<QToolButton*>("picture");
             r.clickAt(picture, picture->rect().center());
         }},
    };
    for (const auto& before : befores) {
        for (const auto& start : starts) {
            SCOPED_TRACE(std::string(before.name) + ", from the " + start.name);
            ScenesRig rig(3);
            ScenesPanel* panel = rig.open();
            before.before(rig);
            SceneRow* second = rig.row(1);
            const QImage shown = rig.shownUnder(second);
            const std::optional<std::string> notice = rig.state().notice;
            const QPoint from = start.at(rig, second);
            DragWatch watch(panel->list());
            rig.drag(from, QPoint(0, 8));
            ASSERT_TRUE(watch.picture) << "no drag started";
            EXPECT_EQ(differingPixels(*watch.picture, shown), 0) << "another row was carried";
            EXPECT_EQ(watch.hotSpot, second->mapFrom(rig.button->popover(), from));
            EXPECT_EQ(panel->list()->currentRow(), 1) << "the drop would move another row";
            EXPECT_EQ(rig.state().notice, notice) << "the press went to a scene";
            EXPECT_FALSE(rig.nameField(1)->hasFocus()) << "the name was left editing";
        }
    }
}

// In a name being edited a drag selects text; no row moves.
TEST(SceneRowDrag, ADragInANameBeingEditedSelectsText) {
    ScenesRig rig(2);
    ScenesPanel* panel = rig.open();
    rig.clickName(0);
    QLineEdit* field = rig.nameField(0);
    ASSERT_TRUE(field->hasFocus());
    const QPoint from = rig.inPopover(field, QPoint(2, field->height() / 2));
    DragWatch watch(panel->list());
    rig.drag(from, QPoint(10, 0));
    EXPECT_FALSE(watch.picture);
    EXPECT_TRUE(field->hasSelectedText());
    EXPECT_TRUE(field->hasFocus());
}

// Alt+1 to Alt+9 go to their scene while the popover is open, also with a
// name being edited, which they never type into; a key past the list does
// nothing.
TEST(SceneRowKeys, TheRecallKeysWorkWhileThePopoverIsOpen) {
    const struct {
        const char* name;
        bool editing;
        Qt::Key key;
        std::optional<std::string> recalled;  // the scene's name, which the notice shows
        std::optional<std::string> move;      // the camera's command
    } cases[] = {
        {"Alt+1, no name edited", false, Qt::Key_1, "Scene 1", "move 10.00 1.00 100"},
        {"Alt+3, no name edited", false, Qt::Key_3, "Scene 3", "move 30.00 3.00 100"},
        {"Alt+1, a name edited", true, Qt::Key_1, "Scene 1", "move 10.00 1.00 100"},
        {"Alt+2, a name edited", true, Qt::Key_2, "Scene 2", "move 20.00 2.00 100"},
        {"Alt+9, past the list", true, Qt::Key_9, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto rig = rigAt({{10, 1, 100}, {20, 2, 100}, {30, 3, 100}});
        const std::optional<std::string> saved = rig->state().notice;
        rig->open();
        if (c.editing) rig->clickName(1);
        const size_t commands = rig->camera()->commands().size();
        rig->key(c.key, Qt::AltModifier);
        rig->main.runUntilIdle();
        std::vector<std::string> moves;
        const std::vector<std::string> after = rig->camera()->commands();
        for (size_t i = commands; i < after.size(); ++i) {
            if (after[i].rfind("move ", 0) == 0) moves.push_back(after[i]);
        }
        EXPECT_EQ(moves, c.move ? std::vector<std::string>{*c.move} : std::vector<std::string>{});
        EXPECT_EQ(rig->state().notice, c.recalled ? c.recalled : saved);
        EXPECT_EQ(rig->nameField(1)->text(), QStringLiteral("Scene 2"));
        EXPECT_EQ(rig->nameField(1)->hasFocus(), c.editing);
        // Closing commits nothing new.
        rig->key(Qt::Key_Escape);
        EXPECT_EQ(rig->names(), (std::vector<std::string>{"Scene 1", "Scene 2", "Scene 3"}));
    }
}

}  // namespace
}  // namespace lumenhollow
