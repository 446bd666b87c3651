#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hollowkit/imaging/lut_library.h"
#include "lumenhollow/testing/state_recorder.h"
#include "model_harness.h"

namespace lumenhollow::test {
namespace {

namespace hk = hollowkit;
using Stored = std::map<std::string, SettingsValue, std::less<>>;

const std::string kIdentifier = "0123456789abcdef0123456789abcdef";

hk::BubbleStyle style(hk::BubbleCorner corner, hk::BubbleSize size, hk::BubbleShape shape,
                      hk::BubbleBackground background) {
    return hk::BubbleStyle(corner, size, shape, background);
}

const hk::ColorLUT& firstBuiltInLook() {
    return hk::LUTLibrary::builtIn().front();
}

// A model over `stored` (with a usable pairing identifier, so that building
// the camera writes nothing) whose construction's writes are forgotten.
CameraModel& createOver(ModelHarness& h, const Stored& stored) {
    h.settings.set("pairingIdentifier", kIdentifier);
    for (const auto& [key, value] : stored) h.settings.set(key, value);
    h.settings.clearWrites();
    return h.create();
}

template <Field F>
bool sameField(const PublishedState& a, const PublishedState& b) {
    return a.*FieldTraits<F>::member == b.*FieldTraits<F>::member;
}

TEST(CameraSettingsTest, EachAssignmentPublishesOnceAndWritesItsKeysOnceAndARelaunchReadsItBack) {
    struct Case {
        const char* name;
        Stored stored;
        Field field;
        std::function<void(CameraModel&)> assign;
        std::vector<SettingsWrite> writes;
        bool (*same)(const PublishedState&, const PublishedState&);
    };
    using S = std::string;
    const std::filesystem::path take = "/home/ann/Videos/Lumenhollow/Lumenhollow Screen Recording 2024-05-01 at 12.00.00";
    const std::vector<Case> cases{
        {"codec", {}, Field::codec, [](CameraModel& m) { m.setCodec(hk::VideoCodec::h264); },
         {{"videoCodec", S("H.264")}}, sameField<Field::codec>},
        {"codec assigned its own value still writes", {}, Field::codec,
         [](CameraModel& m) { m.setCodec(hk::VideoCodec::hevc); }, {{"videoCodec", S("HEVC")}},
         sameField<Field::codec>},
        {"countdown", {}, Field::countdownSeconds, [](CameraModel& m) { m.setCountdownSeconds(5); },
         {{"recordCountdown", int64_t{5}}}, sameField<Field::countdownSeconds>},
        {"record screen", {}, Field::recordScreen, [](CameraModel& m) { m.setRecordScreen(true); },
         {{"recordScreen", true}}, sameField<Field::recordScreen>},
        {"one bubble field writes all four keys", {}, Field::bubbleStyle,
         [](CameraModel& m) {
             m.setBubbleStyle(style(hk::BubbleCorner::bottomTrailing, hk::BubbleSize::large, hk::BubbleShape::circle,
                                    hk::BubbleBackground::keep));
         },
         {{"bubbleCorner", S("Bottom Right")},
          {"bubbleSize", S("Large")},
          {"bubbleShape", S("Circle")},
          {"bubbleBackground", S("Normal")}},
         sameField<Field::bubbleStyle>},
        {"every bubble field", {}, Field::bubbleStyle,
         [](CameraModel& m) {
             m.setBubbleStyle(style(hk::BubbleCorner::topLeading, hk::BubbleSize::small, hk::BubbleShape::cutout,
                                    hk::BubbleBackground::remove));
         },
         {{"bubbleCorner", S("Top Left")},
          {"bubbleSize", S("Small")},
          {"bubbleShape", S("Cutout")},
          {"bubbleBackground", S("Remove")}},
         sameField<Field::bubbleStyle>},
        {"Mac sound", {}, Field::includeMacSound, [](CameraModel& m) { m.setIncludeMacSound(true); },
         {{"includeMacSound", true}}, sameField<Field::includeMacSound>},
        {"automatic zoom off", {}, Field::autoZoom, [](CameraModel& m) { m.setAutoZoom(false); },
         {{"autoZoom", false}}, sameField<Field::autoZoom>},
        {"notch island off", {}, Field::showInNotch, [](CameraModel& m) { m.setShowInNotch(false); },
         {{"showInNotch", false}}, sameField<Field::showInNotch>},
        {"notch content", {}, Field::notchContent, [](CameraModel& m) { m.setNotchContent(NotchContent::controls); },
         {{"notchContent", S("Controls Only")}}, sameField<Field::notchContent>},
        {"notch trigger", {}, Field::notchTrigger, [](CameraModel& m) { m.setNotchTrigger(NotchTrigger::click); },
         {{"notchTrigger", S("When Clicked")}}, sameField<Field::notchTrigger>},
        {"close behaviour", {}, Field::closeBehavior,
         [](CameraModel& m) { m.setCloseBehavior(CloseBehavior::quit); },
         {{"closeBehavior", S("Quit Lumenhollow")}}, sameField<Field::closeBehavior>},
        {"guides in case order", {}, Field::guides,
         [](CameraModel& m) { m.setGuides({GuideKind::vertical, GuideKind::grid}); },
         {{"guides", StringArray{"Grid", "9:16 Frame"}}}, sameField<Field::guides>},
        {"no guides is an empty list", {{"guides", StringArray{"Horizon"}}}, Field::guides,
         [](CameraModel& m) { m.setGuides({}); }, {{"guides", StringArray{}}}, sameField<Field::guides>},
        {"a look", {}, Field::selectedLUT, [](CameraModel& m) { m.setSelectedLUT(firstBuiltInLook()); },
         {{"selectedLUT", firstBuiltInLook().id}}, sameField<Field::selectedLUT>},
        {"no look removes the key", {{"selectedLUT", firstBuiltInLook().id}}, Field::selectedLUT,
         [](CameraModel& m) { m.setSelectedLUT(std::nullopt); }, {{"selectedLUT", std::nullopt}},
         sameField<Field::selectedLUT>},
        {"last take", {}, Field::lastScreenTake, [take](CameraModel& m) { m.setLastScreenTake(take); },
         {{"lastScreenTake", Url::fromPath(take)}}, sameField<Field::lastScreenTake>},
        {"no last take removes the key", {{"lastScreenTake", Url::fromPath(take)}}, Field::lastScreenTake,
         [](CameraModel& m) { m.setLastScreenTake(std::nullopt); }, {{"lastScreenTake", std::nullopt}},
         sameField<Field::lastScreenTake>},
        {"wireless microphone", {}, Field::wirelessMicID,
         [](CameraModel& m) { m.setWirelessMicID("alsa_input.usb-Mic"); },
         {{"wirelessMicrophone", S("alsa_input.usb-Mic")}}, sameField<Field::wirelessMicID>},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        CameraModel& model = createOver(h, c.stored);
        StateRecorder recorder(h.model);
        c.assign(model);
        EXPECT_EQ(recorder.fields(), std::vector<Field>{c.field});
        EXPECT_EQ(h.settings.writes(), c.writes);

        // The next launch over the same store starts where this one left off.
        h.settings.clearWrites();
        const std::shared_ptr<CameraModel> relaunched = CameraModel::create(h.services());
        EXPECT_TRUE(c.same(relaunched->state(), h.state()));
        EXPECT_TRUE(h.settings.writes().empty()) << "reading writes nothing";
    }
}

TEST(CameraSettingsTest, TheLivePreviewTreatsTheRoomOnlyWhileRecordScreenTooIsOn) {
    using S = std::string;
    const hk::BubbleStyle blurred = style(hk::BubbleCorner::bottomTrailing, hk::BubbleSize::medium,
                                          hk::BubbleShape::circle, hk::BubbleBackground::blur);
    const hk::BubbleStyle cutout = style(hk::BubbleCorner::topLeading, hk::BubbleSize::small,
                                         hk::BubbleShape::cutout, hk::BubbleBackground::keep);
    const hk::BubbleStyle plain = style(hk::BubbleCorner::topLeading, hk::BubbleSize::small,
                                        hk::BubbleShape::circle, hk::BubbleBackground::keep);
    struct Case {
        const char* name;
        Stored stored;
        std::function<void(CameraModel&)> change;  // nothing: as constructed
        std::optional<hk::BubbleStyle> style;
        bool active;
    };
    const std::vector<Case> cases{
        {"on and blurred at start", {{"recordScreen", true}, {"bubbleBackground", S("Blur")}}, nullptr, blurred,
         true},
        {"off and blurred at start", {{"bubbleBackground", S("Blur")}}, nullptr, std::nullopt, false},
        {"turned off while blurred", {{"recordScreen", true}, {"bubbleBackground", S("Blur")}},
         [](CameraModel& m) { m.setRecordScreen(false); }, std::nullopt, false},
        {"turned on with a cut-out", {{"bubbleCorner", S("Top Left")}, {"bubbleSize", S("Small")},
                                      {"bubbleShape", S("Cutout")}},
         [](CameraModel& m) { m.setRecordScreen(true); }, cutout, true},
        {"a new style while on", {{"recordScreen", true}}, [&](CameraModel& m) { m.setBubbleStyle(blurred); },
         blurred, true},
        {"a style keeping the room while on", {{"recordScreen", true}, {"bubbleBackground", S("Blur")}},
         [&](CameraModel& m) { m.setBubbleStyle(plain); }, plain, false},
        {"a new style while off", {}, [&](CameraModel& m) { m.setBubbleStyle(blurred); }, std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        CameraModel& model = createOver(h, c.stored);
        if (c.change) c.change(model);
        EXPECT_EQ(model.backgroundPreview().style(), c.style);
        EXPECT_EQ(model.backgroundPreview().isActive(), c.active);
    }
}

TEST(CameraSettingsTest, TheFrameProcessorTakesEveryLookChoice) {
    ModelHarness h;
    CameraModel& model = createOver(h, {});
    model.setSelectedLUT(firstBuiltInLook());
    ASSERT_TRUE(model.processor().lut().has_value());
    EXPECT_EQ(model.processor().lut()->id, firstBuiltInLook().id);
    model.setSelectedLUT(std::nullopt);
    EXPECT_EQ(model.processor().lut(), std::nullopt);
}

TEST(CameraSettingsTest, AnObserverThatAssignsAgainLeavesTheStoreAndThePreviewWithTheLastValue) {
    struct Case {
        const char* name;
        Field field;
        // Assigns the first value; the observer answers with the second.
        std::function<void(CameraModel&)> assign;
        std::function<void(CameraModel&)> answer;
        std::function<void(const ModelHarness&)> check;
    };
    const std::vector<Case> cases{
        {"codec", Field::codec, [](CameraModel& m) { m.setCodec(hk::VideoCodec::h264); },
         [](CameraModel& m) { m.setCodec(hk::VideoCodec::hevc); },
         [](const ModelHarness& h) {
             EXPECT_EQ(h.state().codec, hk::VideoCodec::hevc);
             EXPECT_EQ(h.settings.get<std::string>("videoCodec"), "HEVC");
         }},
        {"record screen", Field::recordScreen, [](CameraModel& m) { m.setRecordScreen(true); },
         [](CameraModel& m) { m.setRecordScreen(false); },
         [](const ModelHarness& h) {
             EXPECT_FALSE(h.state().recordScreen);
             EXPECT_EQ(h.settings.get<bool>("recordScreen"), false);
             EXPECT_EQ(h.model->backgroundPreview().style(), std::nullopt);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        CameraModel& model = createOver(h, {{"bubbleBackground", std::string("Blur")}});
        bool answered = false;
        model.addObserver([&](Field field) {
            if (field != c.field || answered) return;
            answered = true;
            c.answer(model);
        });
        c.assign(model);
        EXPECT_TRUE(answered);
        c.check(h);
        EXPECT_EQ(h.settings.writes().size(), 2u) << "two assignments, two writes";
    }
}

}  // namespace
}  // namespace lumenhollow::test
