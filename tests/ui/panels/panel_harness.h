#pragma once

// A feature panel over the camera model with every service faked: fake
// displays (whose access answer the test sets), a folder chooser and a
// composer the test answers, on a ManualExecutor run from the test.

#include <QTest>

#include <filesystem>
#include <fstream>
#include <memory>

#include "../../model/model_harness.h"
#include "hollowkit/testing/fake_recording_system.h"
#include "lumenhollow/testing/fake_file_picker.h"
#include "lumenhollow/testing/fake_take_composer.h"
#include "lumenhollow/ui/kit/model_signals.h"

namespace lumenhollow::test {

struct PanelHarness : ModelHarness {
    hollowkit::FakeRecordingSystem fakes;
    hollowkit::RecordingSystem system = fakes.take();
    std::shared_ptr<TakeCompositions> compositions = std::make_shared<TakeCompositions>();
    FakeFilePicker picker;
    hollowkit::testsupport::TempDir takes;
    std::unique_ptr<ModelSignals> modelSignals;

    explicit PanelHarness(bool usb = true) {
        cameras.setPocketConnected(usb);
        CameraModelServices s = services();
        s.recordingSystem = &system;
        s.filePicker = &picker;
        s.takeComposers = FakeTakeComposer::factory(compositions);
        model = CameraModel::create(std::move(s));
        model->camera().start();
        main.runUntilIdle();
        model->dismissSheets();
        modelSignals = std::make_unique<ModelSignals>(model);
    }

    ~PanelHarness() {
        modelSignals.reset();
        for (size_t i = 0; i < compositions->size(); ++i) {
            compositions->finish(i, hollowkit::unexpected(hollowkit::ComposeError::exportFailed("ended")));
        }
        main.runUntilIdle();
    }

    // A take folder under the scratch folder holding the named (empty) files.
    std::filesystem::path takeFolder(const std::string& name, std::initializer_list<const char*> files) {
        const std::filesystem::path folder = takes.path() / name;
        std::filesystem::create_directories(folder);
        for (const char* file : files) std::ofstream(folder / file) << "";
        return folder;
    }
};

}  // namespace lumenhollow::test
