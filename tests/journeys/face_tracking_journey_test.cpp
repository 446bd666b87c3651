// Face tracking on the way through the USB journey. It needs a camera that
// films a face, so it runs on the demonstration's scene-seeing camera: the
// camera is turned away from the person first, then Ctrl+T finds the face,
// brings it to where the framing puts it and holds it there with the
// camera still.

#include <signal.h>

#include <gtest/gtest.h>

#include <cmath>

#include "hollowkit/imaging/framing_geometry.h"
#include "hollowkit/imaging/haar_face_detector_backend.h"
#include "hollowkit/simulation/scene_panorama.h"
#include "tests/journeys/usb_journey_steps.h"

namespace lumenhollow::journey {
namespace {

class FaceTrackingJourney : public ReturningUserJourney {};

// The photograph and the cascade come from Debian packages (opencv-doc, opencv-data).
std::optional<std::string> missingFaces() {
    if (!std::filesystem::exists(hollowkit::ScenePanorama::kFacePhotoPath)) {
        return std::string(hollowkit::ScenePanorama::kFacePhotoPath) + " is missing: install opencv-doc";
    }
    if (!std::filesystem::exists(hollowkit::HaarFaceDetectorBackend::kDefaultCascadePath)) {
        return std::string(hollowkit::HaarFaceDetectorBackend::kDefaultCascadePath) + " is missing: install opencv-data";
    }
    return std::nullopt;
}

double framingError(const nlohmann::json& centre) {
    if (!centre.is_array() || centre.size() != 2) return 1.0;
    return std::hypot(centre[0].get<double>() - hollowkit::kFramingTargetX,
                      centre[1].get<double>() - hollowkit::kFramingTargetY);
}

// Why one report breaks the hold (the face tracked, on the target within
// `near`, the camera where it settled within a degree); empty when it does not.
std::string holdBreak(const nlohmann::json& report, const ReportedPose& settled, double near) {
    std::string why;
    if (report["trackedFace"] != true) why += "no tracked face; ";
    if (report["trackedFace"] == true && framingError(report["trackedFaceCentre"]) >= near) {
        why += "the face is " + std::to_string(framingError(report["trackedFaceCentre"])) + " off the target; ";
    }
    const std::optional<ReportedPose> pose = poseOf(report);
    if (!pose) {
        why += "no pose; ";
    } else if (std::abs(pose->pan - settled.pan) >= 1.0 || std::abs(pose->tilt - settled.tilt) >= 1.0) {
        why += "the camera moved to " + describe(*pose) + "; ";
    }
    return why;
}

TEST_F(FaceTrackingJourney, FaceTrackingBringsTheFaceToTheTargetAndHoldsIt) {
    if (auto missing = missingFaces()) GTEST_SKIP() << *missing;
    JourneyApp app(desktop_, "faces", LUMENHOLLOW_DEMO_PATH);
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();
    // The face, straight ahead at the start, is put off the framing's target first.
    const std::optional<ReportedPose> start = settledPose(app);
    ASSERT_TRUE(start) << app.describe();
    ASSERT_TRUE(xdotool(desktop_, {"windowfocus", "--sync", *app.window()}));
    ASSERT_TRUE(xdotool(desktop_, {"keydown", "Left"}));
    const bool turned = app.waitForState([&](const nlohmann::json& s) {
        const std::optional<ReportedPose> pose = poseOf(s);
        return pose && pose->pan <= start->pan - 8;
    });
    ASSERT_TRUE(xdotool(desktop_, {"keyup", "Left"}));
    ASSERT_TRUE(turned) << app.describe();
    const std::optional<ReportedPose> away = settledPose(app);
    ASSERT_TRUE(away) << app.describe();

    ASSERT_TRUE(app.key("ctrl+t"));
    constexpr double kNearTarget = 0.1;
    ASSERT_TRUE(app.waitForState(
        [&](const nlohmann::json& s) {
            return s["faceTracking"] == true && framingError(s["trackedFaceCentre"]) < kNearTarget;
        },
        60s))
        << "the face never reached the target\n" << app.describe();
    const std::optional<ReportedPose> settled = settledPose(app, 30s);
    ASSERT_TRUE(settled) << "the camera kept hunting\n" << app.describe();
    EXPECT_GT(settled->pan, away->pan + 4) << "the camera came to rest short of the face";

    // Held: two seconds of reports with the face on the target and the camera still.
    uint64_t first = 0;
    std::string broken;  // what the first report that broke the hold showed
    ASSERT_TRUE(app.waitForState(
        [&](const nlohmann::json& s) {
            broken = holdBreak(s, *settled, kNearTarget);
            if (!broken.empty()) {
                broken += "\nreport: " + s.dump() + "\nsettled: " + describe(*settled);
                return true;
            }
            if (first == 0) first = s["sample"].get<uint64_t>();
            return s["sample"].get<uint64_t>() >= first + 20;
        },
        30s))
        << app.describe();
    EXPECT_EQ(broken, "") << app.describe();

    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(30s), std::optional<int>(0)) << app.describe();
}


}  // namespace
}  // namespace lumenhollow::journey
