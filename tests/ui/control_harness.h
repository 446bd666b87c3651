#pragma once

// One bottom-area control over the camera model with every service faked,
// on a ManualExecutor run from the test, in a shown and active host window
// so QTest's pointer events reach it as a user's do.

#include <QTest>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "../model/model_harness.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/ui/kit/model_signals.h"

namespace lumenhollow::test {

struct ControlHarness : ModelHarness {
    // Photos and movies a control asks for land here, never outside the test.
    hollowkit::testsupport::TempDir outputRoot;
    std::unique_ptr<ModelSignals> modelSignals;
    std::unique_ptr<QWidget> host;

    // A USB-like camera at a known position (it can be positioned) or a
    // wireless-like one, with `range` as the camera's zoom range.
    explicit ControlHarness(bool usb = true,
                            std::optional<hollowkit::ZoomRange> range = hollowkit::ZoomRange{100, 400}) {
        cameras.setPocketConnected(usb);
        FakeCamera::Options options;
        options.zoomRange = range;
        options.position = hollowkit::CameraPosition{20, -4, 100};
        cameras.setOptions(usb ? ConnectionMode::usb : ConnectionMode::wireless, options);
        outputFolder = outputRoot.path() / "Lumenhollow";
        createAndStart();
        model->dismissSheets();
        modelSignals = std::make_unique<ModelSignals>(model);
        host = std::make_unique<QWidget>();
        host->resize(480, 240);
    }

    ~ControlHarness() {
        host.reset();
        modelSignals.reset();
    }

    void showHost() {
        host->show();
        host->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(host.get(), 5000));
    }

    hollowkit::GimbalVelocity velocity() const { return camera()->gimbal().storedVelocity(); }
    size_t positionReads() const {
        return static_cast<size_t>(std::ranges::count(camera()->commands(), std::string("currentPosition")));
    }
};

}  // namespace lumenhollow::test
