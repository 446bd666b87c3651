#include "lumenhollow/ui/panels/scenes_panel.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QWindow>

#include <algorithm>

#include "../../model/model_harness.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/panels/scene_row.h"
#include "lumenhollow/ui/panels/scenes_panel_state.h"
#include "lumenhollow/ui/window/scenes_button.h"

namespace lumenhollow {
namespace {

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

// A model over a USB-like camera at a known position, and the pill form of
// the button in a shown window.
struct ScenesRig : test::ModelHarness {
    std::unique_ptr<ModelSignals> signals;
    std::unique_ptr<QWidget> window;
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
        window = std::make_unique<QWidget>();
        window->resize(600, 500);
        button = new ScenesButton(*signals, false, window.get());
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
    QLineEdit* nameField(int row) { return open()->rows().at(static_cast<size_t>(row))->findChild<QLineEdit*>("name"); }
    QLabel* nameText(int row) { return open()->rows().at(static_cast<size_t>(row))->findChild<QLabel*>("nameText"); }
    // A double-click on the row's name where it shows in the popover's window.
    void doubleClickName(int row) {
        QLabel* text = nameText(row);
        QWidget* top = text->window();
        QTest::mouseDClick(top->windowHandle(), Qt::LeftButton, {}, text->mapTo(top, QPoint(4, text->height() / 2)));
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const CameraScene& scene : state().scenes) out.push_back(scene.name);
        return out;
    }
};

// Typing into the first row's name field and leaving it in each way: the
// name the model keeps, and what the field shows afterwards.
TEST(ScenesPanel, RenamingByKeyboardKeepsWhatTheModelKeeps) {
    const struct {
        const char* name;
        QString typed;
        std::function<void(ScenesRig&, QLineEdit*)> leave;
        std::string kept;
    } cases[] = {
        {"Return", "Desk", [](ScenesRig&, QLineEdit* f) { QTest::keyClick(f, Qt::Key_Return); }, "Desk"},
        {"spaces trimmed", "  Window  ", [](ScenesRig&, QLineEdit* f) { QTest::keyClick(f, Qt::Key_Return); },
         "Window"},
        {"emptied field reverts", "", [](ScenesRig&, QLineEdit* f) { QTest::keyClick(f, Qt::Key_Return); },
         "Scene 1"},
        {"Escape closes the popover and keeps the name", "Door",
         [](ScenesRig&, QLineEdit* f) { QTest::keyClick(f, Qt::Key_Escape); }, "Door"},
        {"the button hides", "Shelf", [](ScenesRig& r, QLineEdit*) { r.button->hide(); }, "Shelf"},
    };
    for (const auto& c : cases) {
        ScenesRig rig(2);
        rig.doubleClickName(0);
        QLineEdit* field = rig.nameField(0);
        ASSERT_TRUE(field->isVisible()) << c.name;
        QTest::keyClicks(field, c.typed);
        if (c.typed.isEmpty()) QTest::keyClick(field, Qt::Key_Backspace);
        c.leave(rig, field);
        EXPECT_EQ(rig.names(), (std::vector<std::string>{c.kept, "Scene 2"})) << c.name;
        if (rig.button->popover()->isPresented()) {
            EXPECT_EQ(rig.nameField(0)->text().toStdString(), c.kept) << c.name;
            EXPECT_EQ(rig.nameText(0)->text().toStdString(), c.kept) << c.name;
            EXPECT_TRUE(rig.nameText(0)->isVisible()) << c.name;
        } else {
            EXPECT_FALSE(rig.state().showScenes) << c.name;
        }
    }
}

// The name reads as text, not as a field, until a double-click or the row's
// "Rename" starts an edit; the position line is in the secondary grey.
TEST(ScenesPanel, TheNameIsTextUntilAnEditStarts) {
    ScenesRig rig(2);
    ScenesPanel* panel = rig.open();
    EXPECT_TRUE(rig.nameText(0)->isVisible());
    EXPECT_EQ(rig.nameText(0)->text(), QStringLiteral("Scene 1"));
    EXPECT_FALSE(rig.nameField(0)->isVisible());

    rig.doubleClickName(0);
    EXPECT_TRUE(rig.nameField(0)->isVisible());
    EXPECT_FALSE(rig.nameText(0)->isVisible());
    EXPECT_EQ(rig.nameField(0)->selectedText(), QStringLiteral("Scene 1"));

    SceneRow* second = panel->rows().at(1);
    EXPECT_EQ(second->renameAction().text(), QStringLiteral("Rename"));
    EXPECT_TRUE(second->actions().contains(&second->renameAction()));
    second->renameAction().trigger();
    EXPECT_TRUE(rig.nameField(1)->isVisible());

    // No pixel of the position line is brighter than the secondary grey.
    QLabel* line = panel->rows().front()->findChild<QLabel*>("position");
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
