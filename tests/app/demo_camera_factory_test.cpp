// The demonstration's cameras as the model meets them: a camera that only
// says it connects leaves the model connecting however long it waits (also
// after a change of route, past the old camera's "stopped"), and a change
// of route away from it completes at once; one that is off keeps the model's
// camera off through its reconnects; without a camera on the cable the
// model starts on Wi-Fi and a switch to USB opens the guide; an upright
// camera films 1080 x 1920.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "lumenhollow/app/demo_camera_factory.h"
#include "tests/model/model_harness.h"

namespace lumenhollow::test {
namespace {

using Answer = DemoQuietCamera::Answer;
using namespace std::chrono_literals;

// The model over the demonstration's cameras, started as the application
// starts it.
struct DemoModel {
    ModelHarness h;
    DemoCameraFactory cameras;
    std::shared_ptr<CameraModel> model;

    explicit DemoModel(DemoCameraFactory::Options options) : cameras(h.main, std::move(options)) {
        CameraModelServices base = h.services();
        model = CameraModel::create(CameraModelServices{base.main, base.settings, base.secrets, base.random, base.disk,
                                                        cameras, base.shell, base.desktop, base.displayLayer,
                                                        base.notchDisplayLayer, base.outputFolder,
                                                        std::move(base.imaging)});
        model->camera().start();
        h.main.runUntilIdle();
    }

    const PublishedState& state() const { return model->state(); }
};

DemoCameraFactory::Options quiet(Answer answer, bool pluggedIn = true) {
    DemoCameraFactory::Options options;
    options.quiet = answer;
    options.pluggedIn = pluggedIn;
    return options;
}

TEST(DemoCameraFactoryTest, QuietCamerasHoldTheModelBeforeAPictureAndLetItSwitch) {
    const struct {
        const char* name;
        Answer answer;
        bool cameraOff;
    } cases[] = {
        {"connecting", Answer::connecting, false},
        {"off", Answer::cameraOff, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DemoModel demo(quiet(c.answer));
        // Past every reconnect wait and the stop watchdog.
        demo.h.main.advance(2min);
        EXPECT_EQ(demo.state().connection, ConnectionMode::usb);
        EXPECT_EQ(demo.state().cameraOff, c.cameraOff);
        EXPECT_FALSE(demo.state().stats.has_value());
        if (!c.cameraOff) {
            EXPECT_EQ(demo.state().statusText, "Connecting");
        }

        // The stop completes: the Wi-Fi camera is there without the watchdog.
        demo.model->selectConnection(ConnectionMode::wireless);
        demo.h.main.runUntilIdle();
        EXPECT_EQ(demo.state().connection, ConnectionMode::wireless);
        EXPECT_TRUE(demo.model->camera().supportsCameraSettings()) << "the USB camera was never replaced";
        demo.h.main.advance(2min);
        EXPECT_EQ(demo.state().cameraOff, c.cameraOff);
        EXPECT_FALSE(demo.state().stats.has_value());
        if (!c.cameraOff) {
            EXPECT_EQ(demo.state().statusText, "Connecting");
        }
    }
}

TEST(DemoCameraFactoryTest, WithoutACameraOnTheCableTheModelStartsOnWiFiAndUSBOpensTheGuide) {
    DemoModel demo(quiet(Answer::cameraOff, false));
    EXPECT_EQ(demo.state().connection, ConnectionMode::wireless);
    EXPECT_TRUE(demo.state().cameraOff);
    demo.model->switchToUSB();
    demo.h.main.runUntilIdle();
    EXPECT_TRUE(demo.state().showUSBGuide);
    EXPECT_EQ(demo.state().connection, ConnectionMode::wireless);
}

TEST(DemoCameraFactoryTest, AnUprightCameraFilmsAPortraitPicture) {
    for (const bool upright : {false, true}) {
        SCOPED_TRACE(upright ? "upright" : "level");
        hollowkit::ManualExecutor main;
        DemoCameraFactory::Options options;
        options.upright = upright;
        DemoCameraFactory cameras(main, options);
        const std::shared_ptr<hollowkit::PocketCamera> camera = cameras.makeCamera(ConnectionMode::usb, "", {});
        const std::optional<hollowkit::VideoFormatOption> format = camera->activeFormat();
        ASSERT_TRUE(format.has_value());
        EXPECT_EQ(format->height > format->width, upright);
        EXPECT_EQ(std::max(format->width, format->height), 1920);
    }
}

}  // namespace
}  // namespace lumenhollow::test
