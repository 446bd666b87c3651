#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "hollowkit/imaging/lut_library.h"
#include "hollowkit/testing/manual_executor.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/testing/fake_file_picker.h"
#include "lumenhollow/testing/state_recorder.h"
#include "model_harness.h"

namespace lumenhollow::test {
namespace {

namespace hk = hollowkit;

// A look file folder and models over one store, each with the same chooser.
class LooksTest : public ::testing::Test {
protected:
    LooksTest() {
        h_.settings.set("pairingIdentifier", std::string("0123456789abcdef0123456789abcdef"));
        h_.settings.clearWrites();
    }

    // A model as a launch makes it, forgetting the store's earlier writes.
    CameraModel& launch() {
        h_.model.reset();
        h_.main.runUntilIdle();
        CameraModelServices services = h_.services();
        services.filePicker = &picker_;
        h_.model = CameraModel::create(std::move(services));
        h_.settings.clearWrites();
        // The stored looks are read on the look queue, here the test's executor.
        h_.main.runUntilIdle();
        return *h_.model;
    }

    std::string cube(const std::string& name, int size = 2) {
        std::string text = "TITLE \"" + name + "\"\nLUT_3D_SIZE " + std::to_string(size) + "\n";
        for (int i = 0; i < size * size * size; ++i) text += "0.5 0.25 0.125\n";
        return write(name, text);
    }

    // A 64 × 64 picture: the 16-point table laid out as 4 × 4 tiles.
    std::string png(const std::string& name) {
        cv::Mat image(64, 64, CV_8UC3, cv::Scalar(10, 20, 30));
        std::vector<uint8_t> encoded;
        cv::imencode(".png", image, encoded);
        return write(name, std::string(encoded.begin(), encoded.end()));
    }

    std::string write(const std::string& name, const std::string& contents) {
        const std::string path = temp_.file(name);
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    // A launch whose looks are read on `lookQueue`, which the test steps;
    // nothing has run yet.
    CameraModel& launchReadingOn(hk::ManualExecutor& lookQueue) {
        h_.model.reset();
        h_.main.runUntilIdle();
        CameraModelServices services = h_.services();
        services.filePicker = &picker_;
        services.imaging.lookQueue = &lookQueue;
        h_.model = CameraModel::create(std::move(services));
        h_.settings.clearWrites();
        return *h_.model;
    }

    // Reads one look and hands it to the model.
    void readOneLook(hk::ManualExecutor& lookQueue) {
        ASSERT_TRUE(lookQueue.runOne());
        h_.main.runUntilIdle();
    }

    // Imports `files` through the chooser.
    void import(CameraModel& model, std::vector<std::filesystem::path> files) {
        model.importLUT();
        ASSERT_TRUE(picker_.choose(std::move(files)));
        h_.main.runUntilIdle();
    }

    static std::vector<std::string> ids(const std::vector<hk::ColorLUT>& looks) {
        std::vector<std::string> result;
        for (const hk::ColorLUT& look : looks) result.push_back(look.id);
        return result;
    }

    std::optional<std::string> selectedId() const {
        const auto& selected = h_.state().selectedLUT;
        return selected ? std::optional(selected->id) : std::nullopt;
    }

    hk::testsupport::TempDir temp_;
    ModelHarness h_;
    FakeFilePicker picker_;
};

TEST_F(LooksTest, OneChoiceAddsTheGoodFilesReportsTheBadOneAndSelectsTheLastNewLook) {
    CameraModel& model = launch();
    const std::string goodCube = cube("Warm Film.cube");
    const std::string broken = write("broken.CUBE", "LUT_3D_SIZE 2\n0 0 0\n");
    const std::string goodPng = png("grade.png");
    StateRecorder recorder(h_.model);

    model.importLUT();
    ASSERT_EQ(picker_.requests().size(), 1u);
    const FileChoiceRequest& request = picker_.requests().front();
    EXPECT_EQ(request.title, "Import a LUT");
    EXPECT_TRUE(request.multipleSelection);
    EXPECT_EQ(request.types, (std::vector<FileType>{{"LUT files", {"cube"}}, {"PNG images", {"png"}}}));
    ASSERT_TRUE(picker_.choose({goodCube, broken, goodPng}));
    h_.main.runUntilIdle();

    EXPECT_EQ(ids(h_.state().customLUTs), (std::vector<std::string>{goodCube, goodPng}));
    EXPECT_EQ(h_.state().customLUTs.front().name, "Warm Film");
    EXPECT_EQ(selectedId(), goodPng);
    EXPECT_EQ(recorder.values<Field::notice>(),
              (std::vector<std::optional<std::string>>{"broken.CUBE: Expected 8 LUT entries, found 1"}));
    // Each look is added as it arrives; the last new one is selected at the end.
    EXPECT_EQ(recorder.fields(),
              (std::vector<Field>{Field::customLUTs, Field::notice, Field::customLUTs, Field::selectedLUT}));
    EXPECT_EQ(h_.settings.writes(),
              (std::vector<SettingsWrite>{{"customLUTPaths", StringArray{goodCube, goodPng}}, {"selectedLUT", goodPng}}));

    // A second launch finds both looks and the selection, and writes nothing.
    launch();
    EXPECT_EQ(ids(h_.state().customLUTs), (std::vector<std::string>{goodCube, goodPng}));
    EXPECT_EQ(selectedId(), goodPng);
    EXPECT_EQ(h_.state().customLUTs.back().dimension, 16);
    EXPECT_TRUE(h_.settings.writes().empty());
}

TEST_F(LooksTest, ChoicesThatAddNoNewLookChangeNothingAndWriteNothing) {
    const std::string first = cube("first.cube");
    const std::string second = cube("second.cube");
    const std::string broken = write("broken.cube", "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n");
    struct Case {
        const char* name;
        std::optional<std::vector<std::filesystem::path>> chosen;  // nothing: cancelled
        std::vector<std::optional<std::string>> notices;
    };
    const std::vector<Case> cases{
        {"cancelled", std::nullopt, {}},
        {"nothing chosen", std::vector<std::filesystem::path>{}, {}},
        {"already imported", std::vector<std::filesystem::path>{first, second}, {}},
        {"only failures, the later notice last",
         std::vector<std::filesystem::path>{broken, temp_.file("gone.png"), first},
         {"broken.cube: 1D LUTs (LUT_1D_SIZE) are not supported: use a 3D .cube file",
          "gone.png: The LUT file could not be read"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        h_.settings.remove("customLUTPaths");
        h_.settings.remove("selectedLUT");
        CameraModel& model = launch();
        import(model, {first, second});
        model.setSelectedLUT(hk::LUTLibrary::builtIn().front());
        h_.settings.clearWrites();
        StateRecorder recorder(h_.model);

        model.importLUT();
        ASSERT_TRUE(c.chosen ? picker_.choose(*c.chosen) : picker_.cancel());
        h_.main.runUntilIdle();

        EXPECT_EQ(ids(h_.state().customLUTs), (std::vector<std::string>{first, second}));
        EXPECT_EQ(selectedId(), hk::LUTLibrary::builtIn().front().id);
        EXPECT_EQ(recorder.values<Field::notice>(), c.notices);
        EXPECT_EQ(recorder.count(Field::notice), recorder.entries().size()) << "only notices";
        EXPECT_TRUE(h_.settings.writes().empty());
    }
}

TEST_F(LooksTest, AKnownFileAmongNewOnesKeepsItsPlaceAndTheLastNewOneIsSelected) {
    const std::string a = cube("a.cube");
    const std::string b = cube("b.cube");
    const std::string c = cube("c.cube");
    CameraModel& model = launch();
    import(model, {a});
    import(model, {b, a, c, b});
    EXPECT_EQ(ids(h_.state().customLUTs), (std::vector<std::string>{a, b, c}));
    EXPECT_EQ(selectedId(), c);
    EXPECT_EQ(h_.settings.get<StringArray>("customLUTPaths"), (StringArray{a, b, c}));
}

// Other spellings of an imported file, chosen later or stored by an older
// version, are the same look: neither import nor launch loads it twice. A
// path holding a NUL is that path's failure, not a cut path's look.
TEST_F(LooksTest, SpellingsOfAnImportedFileAreTheSameLookAndANulPathIsRefused) {
    const std::string a = cube("a.cube");
    const std::string dotted = temp_.path().string() + "/./a.cube";
    const std::string nul = a + std::string(1, '\0') + ".png";
    CameraModel& model = launch();
    import(model, {a});
    StateRecorder recorder(h_.model);
    import(model, {dotted, temp_.path().string() + "/x/../a.cube", nul});
    EXPECT_EQ(ids(h_.state().customLUTs), (std::vector<std::string>{a}));
    EXPECT_EQ(recorder.values<Field::notice>(),
              (std::vector<std::optional<std::string>>{"a.cube\\x00.png: The LUT file has a NUL character in its path"}));

    h_.settings.set("customLUTPaths", StringArray{dotted, a, nul, a + "/"});
    launch();
    EXPECT_EQ(ids(h_.state().customLUTs), (std::vector<std::string>{dotted}));
}

TEST_F(LooksTest, RemovingALookDeselectsItOnlyWhenItIsTheSelectedOne) {
    const std::string a = cube("a.cube");
    const std::string b = cube("b.cube");
    struct Case {
        const char* name;
        std::string remove;
        std::vector<std::string> remaining;
        std::optional<std::string> selectedAfter;
    };
    const std::vector<Case> cases{
        {"the selected one", b, {a}, std::nullopt},
        {"another one", a, {b}, b},
        {"one never imported", temp_.file("x.cube"), {a, b}, b},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        h_.settings.remove("customLUTPaths");
        CameraModel& model = launch();
        import(model, {a, b});
        h_.settings.clearWrites();

        hk::ColorLUT look;
        look.id = c.remove;
        model.removeImportedLUT(look);
        EXPECT_EQ(ids(h_.state().customLUTs), c.remaining);
        EXPECT_EQ(selectedId(), c.selectedAfter);
        std::vector<SettingsWrite> writes{{"customLUTPaths", StringArray(c.remaining)}};
        if (!c.selectedAfter) writes.push_back({"selectedLUT", std::nullopt});
        EXPECT_EQ(h_.settings.writes(), writes);

        // What was removed stays away after a relaunch.
        launch();
        EXPECT_EQ(ids(h_.state().customLUTs), c.remaining);
        EXPECT_EQ(selectedId(), c.selectedAfter);
    }
}

TEST_F(LooksTest, ALookFileGoneBetweenLaunchesIsLeftOutWithoutANoticeAndItsPathIsKept) {
    const std::string a = cube("a.cube");
    const std::string gone = cube("gone.cube");
    CameraModel& model = launch();
    import(model, {a, gone});
    ASSERT_EQ(selectedId(), gone);
    std::filesystem::remove(gone);

    launch();
    EXPECT_EQ(ids(h_.state().customLUTs), (std::vector<std::string>{a}));
    EXPECT_EQ(h_.state().selectedLUT, std::nullopt);
    EXPECT_EQ(h_.state().notice, std::nullopt);
    // Reading writes nothing: the path and the choice wait for the file's return.
    EXPECT_TRUE(h_.settings.writes().empty());
    EXPECT_EQ(h_.settings.get<StringArray>("customLUTPaths"), (StringArray{a, gone}));
    EXPECT_EQ(h_.settings.get<std::string>("selectedLUT"), gone);
}

// The stored looks are read off the main executor once the model is up: the
// camera runs and its picture shows before any of them, each is added as it
// is read, and the stored choice is selected when its own look comes,
// without a write.
TEST_F(LooksTest, StoredLooksArriveOneByOneAndTheStoredChoiceWaitsForItsLook) {
    const std::string a = cube("a.cube");
    const std::string b = cube("b.cube", 3);
    const std::string c = cube("c.cube");
    h_.settings.set("customLUTPaths", StringArray{a, b, c});
    h_.settings.set("selectedLUT", b);
    hk::ManualExecutor lookQueue;
    CameraModel& model = launchReadingOn(lookQueue);
    model.camera().start();
    h_.main.runUntilIdle();
    h_.camera()->deliverFrame(FakeCamera::makeFrame(64, 36));
    h_.main.runUntilIdle();
    EXPECT_EQ(h_.displayLayer->enqueued(), 1) << "the picture does not wait for the looks";
    EXPECT_TRUE(h_.state().customLUTs.empty());
    EXPECT_EQ(selectedId(), std::nullopt);

    struct Step {
        std::vector<std::string> looks;
        std::optional<std::string> selected;
    };
    for (const Step& step : {Step{{a}, std::nullopt}, Step{{a, b}, b}, Step{{a, b, c}, b}}) {
        SCOPED_TRACE(step.looks.size());
        readOneLook(lookQueue);
        EXPECT_EQ(ids(h_.state().customLUTs), step.looks);
        EXPECT_EQ(selectedId(), step.selected);
        const auto applied = model.processor().lut();
        EXPECT_EQ(applied ? std::optional(applied->id) : std::nullopt, step.selected);
    }
    EXPECT_EQ(h_.state().selectedLUT->dimension, 3);
    EXPECT_TRUE(h_.settings.writes().empty());
}

TEST_F(LooksTest, AChoiceMadeWhileTheStoredLookIsReadIsKept) {
    const std::string a = cube("a.cube");
    const std::string b = cube("b.cube");
    h_.settings.set("customLUTPaths", StringArray{a, b});
    h_.settings.set("selectedLUT", b);
    const std::vector<std::optional<hk::ColorLUT>> choices{hk::LUTLibrary::builtIn().back(), std::nullopt};
    for (const std::optional<hk::ColorLUT>& choice : choices) {
        SCOPED_TRACE(choice ? choice->name : "None");
        hk::ManualExecutor lookQueue;
        CameraModel& model = launchReadingOn(lookQueue);
        readOneLook(lookQueue);
        model.setSelectedLUT(choice);
        readOneLook(lookQueue);
        EXPECT_EQ(ids(h_.state().customLUTs), (std::vector<std::string>{a, b}));
        EXPECT_EQ(h_.state().selectedLUT, choice);
        EXPECT_EQ(model.processor().lut(), choice);
        h_.settings.set("selectedLUT", b);
    }
}

// A change to the list while stored looks are still read keeps the paths
// not read yet; an import waits for them and comes after.
TEST_F(LooksTest, ChangesWhileStoredLooksAreReadKeepThePathsNotReadYet) {
    const std::string a = cube("a.cube");
    const std::string b = cube("b.cube");
    const std::string c = cube("c.cube");
    const std::string d = cube("d.cube");
    h_.settings.set("customLUTPaths", StringArray{a, b, c});
    hk::ManualExecutor lookQueue;
    CameraModel& model = launchReadingOn(lookQueue);
    readOneLook(lookQueue);
    model.removeImportedLUT(h_.state().customLUTs.front());
    EXPECT_EQ(h_.settings.get<StringArray>("customLUTPaths"), (StringArray{b, c}));
    model.importLUT();
    ASSERT_TRUE(picker_.choose({d, a}));
    h_.main.runUntilIdle();

    lookQueue.runUntilIdle();
    h_.main.runUntilIdle();
    EXPECT_EQ(ids(h_.state().customLUTs), (std::vector<std::string>{b, c, d, a}));
    EXPECT_EQ(h_.settings.get<StringArray>("customLUTPaths"), (StringArray{b, c, d, a}));
    EXPECT_EQ(selectedId(), a);
}

// A list grown without bound: a bounded number of paths is tried, and one
// line tells what was left out.
TEST_F(LooksTest, SixtyThousandMissingStoredLooksMakeOneLogLine) {
    StringArray stored;
    for (int i = 0; i < 60'000; ++i) stored.push_back(temp_.file("gone-" + std::to_string(i) + ".cube"));
    stored.push_back(cube("kept.cube"));
    h_.settings.set("customLUTPaths", stored);
    hk::testsupport::LogCapture log;
    launch();
    EXPECT_TRUE(h_.state().customLUTs.empty());
    EXPECT_EQ(log.count("Looks:"), 1);
    EXPECT_EQ(log.count("Looks: 60001 of 60001 stored looks not loaded; 256 failed, the first " + stored.front() +
                        ": The LUT file could not be read; 59745 after the first 256 not tried"),
              1);
    EXPECT_TRUE(h_.settings.writes().empty());
    EXPECT_EQ(h_.settings.get<StringArray>("customLUTPaths"), stored);
}

TEST_F(LooksTest, AGuideTurnsOnAndOffAndIsStoredEachTime) {
    CameraModel& model = launch();
    model.toggleGuide(GuideKind::grid);
    model.toggleGuide(GuideKind::vertical);
    EXPECT_EQ(h_.state().guides, (std::set<GuideKind>{GuideKind::grid, GuideKind::vertical}));
    model.toggleGuide(GuideKind::grid);
    EXPECT_EQ(h_.state().guides, (std::set<GuideKind>{GuideKind::vertical}));
    EXPECT_EQ(h_.settings.writtenKeys(), (std::vector<std::string>{"guides", "guides", "guides"}));
    EXPECT_EQ(h_.settings.get<StringArray>("guides"), (StringArray{"9:16 Frame"}));
}

}  // namespace
}  // namespace lumenhollow::test
