#pragma once

// The camera model with every service faked, with a file chooser the test
// answers and look files in a folder of its own, plus the Qt adapter the
// bar, the rail and their menus subscribe to. Main executor: a
// ManualExecutor the test runs.

#include <QAction>
#include <QMenu>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../model/model_harness.h"
#include "hollowkit/camera/camera_event.h"
#include "hollowkit/imaging/lut_library.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/testing/fake_file_picker.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/menus/menu_filler.h"
#include "lumenhollow/ui/window/tool_actions.h"

namespace lumenhollow::test {

struct BarsHarness : ModelHarness {
    FakeFilePicker picker;
    hollowkit::testsupport::TempDir looks;
    std::unique_ptr<ModelSignals> modelSignals;
    // The window the bar's and the rail's tools act for (made on first use).
    std::unique_ptr<QWidget> window;
    ToolActions* actions = nullptr;

    // A model on the USB route (a USB-like camera with two formats, the
    // camera on the cable) or on the wireless one (nothing on USB).
    explicit BarsHarness(bool usb = true) {
        cameras.setPocketConnected(usb);
        FakeCamera::Options options;
        options.position = hollowkit::CameraPosition{0, 0, 100};
        options.formats = {{1920, 1080, 30}, {1080, 1920, 30}};
        options.activeFormat = hollowkit::VideoFormatOption{1920, 1080, 30};
        cameras.setOptions(ConnectionMode::usb, options);
        CameraModelServices withPicker = services();
        withPicker.filePicker = &picker;
        model = CameraModel::create(std::move(withPicker));
        model->camera().start();
        main.runUntilIdle();
        model->dismissSheets();
        modelSignals = std::make_unique<ModelSignals>(model);
        // The camera reports its devices once it runs.
        emit(hollowkit::CameraEvent::devicesChanged());
    }

    ~BarsHarness() {
        window.reset();
        modelSignals.reset();
    }

    ToolActions& tools() {
        if (!window) {
            window = std::make_unique<QWidget>();
            actions = new ToolActions(*modelSignals, *window);
        }
        return *actions;
    }

    // Imports a small ".cube" look per name through the chooser.
    void importLooks(const std::vector<std::string>& names) {
        std::vector<std::filesystem::path> files;
        for (const std::string& name : names) {
            const std::string path = looks.file(name + ".cube");
            std::ofstream out(path);
            out << "LUT_3D_SIZE 2\n";
            for (int i = 0; i < 8; ++i) out << "0.5 0.25 0.125\n";
            files.emplace_back(path);
        }
        model->importLUT();
        ASSERT_TRUE(picker.choose(std::move(files)));
        main.runUntilIdle();
    }

    std::optional<std::string> selectedLookName() const {
        const auto& selected = state().selectedLUT;
        return selected ? std::optional(selected->name) : std::nullopt;
    }
};

// Opens `menu` as a user would (so it is filled afresh), finds the row
// titled `title`, in a submenu when `submenu` is given, and triggers it.
inline bool chooseRow(QMenu& menu, const QString& title, const QString& submenu = {}) {
    Q_EMIT menu.aboutToShow();
    QMenu* in = &menu;
    if (!submenu.isEmpty()) {
        in = nullptr;
        for (QAction* action : menu.actions()) {
            if (action->menu() && action->text() == menuText(submenu.toStdString())) in = action->menu();
        }
        if (!in) return false;
        Q_EMIT in->aboutToShow();
    }
    for (QAction* action : in->actions()) {
        if (action->text() == menuText(title.toStdString()) && action->isEnabled() && !action->menu()) {
            action->trigger();
            return true;
        }
    }
    return false;
}

// The titles of the rows that show a check mark.
inline std::vector<std::string> checkedRows(QMenu& menu) {
    Q_EMIT menu.aboutToShow();
    std::vector<std::string> rows;
    for (QAction* action : menu.actions()) {
        if (showsCheckMark(*action)) rows.push_back(action->text().toStdString());
    }
    return rows;
}

}  // namespace lumenhollow::test
