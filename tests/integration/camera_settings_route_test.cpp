// The camera settings panel's choices through the model to the simulated
// camera over the real wireless route: each choice must reach the camera as
// exactly one setting frame, whether it is made while the picture runs or
// before the camera is live, and a choice the camera refuses must not stay.

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "hollowkit/camera/camera_command.h"
#include "lumenhollow/ui/panels/camera_settings_choices.h"
#include "model_route_rig.h"

namespace lumenhollow::test {
namespace {

namespace hk = hollowkit;
using Setting = hk::CameraSetting;
using R = hk::CameraResolution;
using F = hk::CameraFrameRate;
using Choice = std::function<std::optional<CameraSettingsChange>(const CameraSettingsState&)>;

// One DUML request as the camera logged it: its key and payload.
struct SettingFrame {
    std::string key;
    hk::Bytes payload;
    bool operator==(const SettingFrame&) const = default;
};

void PrintTo(const SettingFrame& frame, std::ostream* out) { *out << frame.key << " " << hk::hexString(frame.payload); }

SettingFrame frameOf(const Setting& setting) {
    const hk::CameraCommand command = hk::CameraCommand::setting(setting);
    return {hk::DumlFrame::commandKey(command.cmdSet, command.cmdId), command.payload};
}

// The keys the camera's settings travel under, one sample of each kind.
const std::set<std::string>& settingKeys() {
    static const std::set<std::string> keys = [] {
        std::set<std::string> out;
        for (const Setting& s : {Setting::videoFormat(R::p4K, F::fps30), Setting::compression(hk::VideoCodec::hevc),
                                 Setting::colorProfile(hk::ColorProfile::normal),
                                 Setting::exposureMode(hk::ExposureMode::manual), Setting::iso(hk::CameraISO::iso100),
                                 Setting::exposureCompensation(1), Setting::whiteBalance(std::nullopt)}) {
            out.insert(frameOf(s).key);
        }
        return out;
    }();
    return keys;
}

// Every setting frame the camera received, in order.
std::vector<SettingFrame> settingFramesReceived(const hk::SimPocketUdp& camera) {
    std::vector<SettingFrame> out;
    for (const hk::SimReceivedCommand& command : camera.commands()) {
        const std::string key = command.frame.commandKey();
        if (settingKeys().contains(key)) out.push_back({key, command.frame.payload});
    }
    return out;
}

// The panel's own choice functions against the model's current settings, as
// the panel makes them; "As on Camera" and the like change nothing.
void choose(ModelRouteRig& rig, const Choice& choice) {
    rig.onMain([&] {
        if (auto change = choice(rig.model->state().cameraSettings)) {
            rig.model->applyCameraSetting(change->next, change->setting);
        }
    });
}

// A command that travels the same queue after the settings: once the camera
// logged it, every setting sent before it has arrived.
bool fenceArrived(ModelRouteRig& rig) {
    const size_t flipsBefore = rig.udp.framesWithKey("04/4C").size();
    rig.onMain([&] { rig.model->flipGimbal(); });
    return rig.waitUntil([&](const Seen&) { return rig.udp.framesWithKey("04/4C").size() > flipsBefore; }, 10s);
}

TEST(CameraSettingsRouteTest, EachChoiceReachesTheCameraAsOneSettingFrame) {
    ASSERT_FALSE(wirelessAccessUnits().empty());
    const auto fps = [](F f) -> Choice { return [f](const auto& s) { return chooseFrameRate(s, f); }; };
    const auto ev = [](int step) -> Choice { return [step](const auto& s) { return stepEV(s, step); }; };
    const struct {
        const char* name;
        std::vector<Choice> beforeLive;  // made while the camera is still connecting
        std::vector<Choice> whileLive;
        std::vector<Setting> received;
    } cases[] = {
        {"60 FPS first", {}, {fps(F::fps60)}, {Setting::videoFormat(R::p4K, F::fps60)}},
        {"1080p 9:16 first, then 24 FPS", {},
         {[](const auto& s) { return chooseResolution(s, R::vertical1080); }, fps(F::fps24)},
         {Setting::videoFormat(R::vertical1080, F::fps30), Setting::videoFormat(R::vertical1080, F::fps24)}},
        {"As on Camera after a codec", {},
         {[](const auto& s) { return chooseCodec(s, hk::VideoCodec::h264); },
          [](const auto& s) { return chooseCodec(s, std::nullopt); }},
         {Setting::compression(hk::VideoCodec::h264)}},
        {"EV up past the top, then down one", {},
         {ev(+1), ev(+1), ev(+1), ev(+1), ev(+1), ev(+1), ev(+1), ev(+1), ev(+1), ev(+1), ev(-1)},
         {Setting::exposureCompensation(1), Setting::exposureCompensation(2), Setting::exposureCompensation(3),
          Setting::exposureCompensation(4), Setting::exposureCompensation(5), Setting::exposureCompensation(6),
          Setting::exposureCompensation(7), Setting::exposureCompensation(8), Setting::exposureCompensation(9),
          Setting::exposureCompensation(8)}},
        {"Manual, then ISO 800", {},
         {[](const auto& s) { return chooseExposureMode(s, hk::ExposureMode::manual); },
          [](const auto& s) { return chooseISO(s, hk::CameraISO::iso800); }},
         {Setting::exposureMode(hk::ExposureMode::manual), Setting::iso(hk::CameraISO::iso800)}},
        {"auto white balance off, a drag let go at 7300, then on", {},
         {[](const auto& s) { return chooseAutoWhiteBalance(s, false, loadKelvin(s)); },
          [](const auto& s) { return applyKelvin(s, 6400, true); },
          [](const auto& s) { return applyKelvin(s, 7300, false); },
          [](const auto& s) { return chooseAutoWhiteBalance(s, true, 7300); }},
         {Setting::whiteBalance(5600), Setting::whiteBalance(7300), Setting::whiteBalance(std::nullopt)}},
        {"D-Log 2 chosen before the camera is live", {[](const auto& s) {
             return chooseColorProfile(s, hk::ColorProfile::dLog2);
         }},
         {}, {Setting::colorProfile(hk::ColorProfile::dLog2)}},
        {"a format before the camera is live, a codec after", {fps(F::fps50)},
         {[](const auto& s) { return chooseCodec(s, hk::VideoCodec::h264); }},
         {Setting::videoFormat(R::p4K, F::fps50), Setting::compression(hk::VideoCodec::h264)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ModelRouteRig rig(false);
        ASSERT_EQ(rig.seen().connection, ConnectionMode::wireless);
        rig.onMain([&] { rig.model->camera().start(); });
        for (const Choice& choice : c.beforeLive) choose(rig, choice);
        ASSERT_TRUE(rig.waitUntil([](const Seen& s) { return s.statusText == "Live"; })) << rig.seen().statusText;
        for (const Choice& choice : c.whileLive) choose(rig, choice);
        ASSERT_TRUE(fenceArrived(rig));

        std::vector<SettingFrame> expected;
        for (const Setting& setting : c.received) expected.push_back(frameOf(setting));
        EXPECT_EQ(settingFramesReceived(rig.udp), expected);
        EXPECT_EQ(rig.udp.sequenceViolations(), 0);
    }
}

// A refusal over the route takes the choice back; the next choice of the
// same kind goes out on its own, once.
TEST(CameraSettingsRouteTest, ARefusedChoiceReturnsAndTheNextOneIsSentOnce) {
    ASSERT_FALSE(wirelessAccessUnits().empty());
    ModelRouteRig rig(false);
    rig.onMain([&] { rig.model->camera().start(); });
    ASSERT_TRUE(rig.waitUntil([](const Seen& s) { return s.statusText == "Live"; })) << rig.seen().statusText;
    const SettingFrame iso = frameOf(Setting::iso(hk::CameraISO::iso400));
    rig.udp.setReplyRule(0x02, 0x2A, hk::SimReplyRule::reject(0x01));
    choose(rig, [](const auto& s) { return chooseISO(s, hk::CameraISO::iso400); });
    auto shownISO = [&] { return rig.onMain([&] { return rig.model->state().cameraSettings.iso; }); };
    EXPECT_TRUE(rig.waitUntil([&](const Seen&) { return !shownISO().has_value(); }, 10s));

    rig.udp.setReplyRule(0x02, 0x2A, hk::SimReplyRule::accept());
    choose(rig, [](const auto& s) { return chooseISO(s, hk::CameraISO::iso400); });
    ASSERT_TRUE(fenceArrived(rig));
    EXPECT_EQ(settingFramesReceived(rig.udp), (std::vector<SettingFrame>{iso, iso}));
    EXPECT_EQ(shownISO(), hk::CameraISO::iso400);
}

}  // namespace
}  // namespace lumenhollow::test
