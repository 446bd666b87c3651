#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hollowkit/testing/still_image_probe.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/model/scene_store.h"
#include "lumenhollow/testing/state_recorder.h"
#include "model_harness.h"

namespace lumenhollow::test {
namespace {

namespace hk = hollowkit;
using Position = hk::CameraPosition;

// Models over one store on the USB route (or the wireless one), as launches
// make them, with the camera reporting the position the test gives it.
class ScenesTest : public ::testing::Test {
protected:
    ScenesTest() {
        h_.settings.set("pairingIdentifier", std::string("0123456789abcdef0123456789abcdef"));
        h_.cameras.setPocketConnected(true);
    }

    CameraModel& launch() {
        h_.model.reset();
        h_.main.runUntilIdle();
        h_.settings.clearWrites();
        CameraModel& model = h_.createAndStart();
        h_.settings.clearWrites();
        return model;
    }

    void saveAt(const Position& position) {
        h_.camera()->setPosition(position);
        h_.model->saveCurrentPositionAsScene();
    }

    // Scenes "A", "B", ... stored before the launch, at pan 10, 20, ...
    void storeScenes(const std::vector<std::string>& names) {
        std::vector<CameraScene> scenes;
        for (size_t i = 0; i < names.size(); ++i) {
            scenes.push_back({"00000000-0000-4000-8000-00000000000" + std::to_string(i), names[i],
                              Position{10.0 * static_cast<double>(i + 1), 0, std::nullopt}, std::nullopt});
        }
        (void)saveScenes(h_.settings, scenes);
    }

    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const CameraScene& scene : h_.state().scenes) result.push_back(scene.name);
        return result;
    }

    // What the store holds under "scenes", read back.
    std::vector<CameraScene> stored() const {
        const auto bytes = h_.settings.get<Bytes>("scenes");
        if (!bytes) return {};
        const auto decoded = decodeScenes(std::string(bytes->begin(), bytes->end()));
        return decoded ? decoded->scenes : std::vector<CameraScene>{};
    }

    std::string lastCommand() const {
        const auto commands = h_.camera()->commands();
        return commands.empty() ? "" : commands.back();
    }

    // Delivers a frame and waits for the thumbnail it becomes.
    bool deliverForThumbnail(size_t index, int width, int height) {
        const std::optional<Bytes> before = h_.state().scenes.at(index).thumbnail;
        h_.camera()->deliverFrame(FakeCamera::makeFrame(width, height));
        return h_.main.waitFor([&] {
            return index < h_.state().scenes.size() && h_.state().scenes[index].thumbnail &&
                   h_.state().scenes[index].thumbnail != before;
        });
    }

    ModelHarness h_;
};

TEST_F(ScenesTest, SavedPositionsAreRecalledExactly) {
    struct Case {
        Position position;
        std::string move;
    };
    const std::vector<Case> cases{
        {{10.5, -4.25, 150}, "move 10.50 -4.25 150"},
        {{-90, 20, std::nullopt}, "move -90.00 20.00"},
        {{0, 0, 400}, "move 0.00 0.00 400"},
    };
    launch();
    StateRecorder recorder(h_.model);
    for (const Case& c : cases) saveAt(c.position);
    EXPECT_EQ(recorder.values<Field::notice>(),
              (std::vector<std::optional<std::string>>{"Scene 1 saved (Alt+1)", "Scene 2 saved (Alt+2)",
                                                       "Scene 3 saved (Alt+3)"}));
    EXPECT_EQ(names(), (std::vector<std::string>{"Scene 1", "Scene 2", "Scene 3"}));
    std::set<std::string> ids;
    for (const CameraScene& scene : h_.state().scenes) {
        EXPECT_EQ(canonicalSceneId(scene.id), scene.id);
        ids.insert(scene.id);
    }
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_EQ(stored(), h_.state().scenes);

    // Another spot, then each scene again; over a relaunch too.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "saved" : "relaunched");
        if (round == 1) launch();
        for (size_t i = 0; i < cases.size(); ++i) {
            h_.camera()->setPosition(Position{1, 1, 100});
            StateRecorder recall(h_.model);
            h_.model->recallScene(static_cast<int>(i));
            EXPECT_EQ(h_.state().scenes[i].position, cases[i].position);
            EXPECT_EQ(lastCommand(), cases[i].move);
            const std::vector<std::optional<int>> zooms = recall.values<Field::zoom>();
            EXPECT_EQ(zooms, cases[i].position.zoom ? std::vector<std::optional<int>>{cases[i].position.zoom}
                                                    : std::vector<std::optional<int>>{});
            EXPECT_EQ(recall.values<Field::notice>(),
                      (std::vector<std::optional<std::string>>{"Scene " + std::to_string(i + 1)}));
        }
    }
}

TEST_F(ScenesTest, ARecallWhileTrackingHoldsTheFollowerForThreeSeconds) {
    launch();
    saveAt(Position{10, 0, 100});
    h_.emit(hk::CameraEvent::stats(picture(1920, 1080)));
    const auto positionReads = [this] {
        return std::ranges::count(h_.camera()->commands(), std::string("currentPosition"));
    };
    const auto readsBeforeTracking = positionReads();
    h_.model->startFaceTracking();
    h_.main.advanceSeconds(0.5);
    ASSERT_GT(positionReads(), readsBeforeTracking) << "the follower reads the position every tick";

    h_.model->recallScene(0);
    const auto readsAtRecall = positionReads();
    h_.main.advanceSeconds(2.95);
    EXPECT_EQ(positionReads(), readsAtRecall) << "paused";
    h_.main.advanceSeconds(0.1);
    EXPECT_GT(positionReads(), readsAtRecall) << "following again after 3 s";
}

TEST_F(ScenesTest, RecallOutsideTheListDoesNothing) {
    storeScenes({"A", "B", "C"});
    launch();
    const size_t commands = h_.camera()->commands().size();
    StateRecorder recorder(h_.model);
    for (int index : {-1, 3, 8, 9, 1 << 30}) h_.model->recallScene(index);
    EXPECT_EQ(h_.camera()->commands().size(), commands);
    EXPECT_TRUE(recorder.entries().empty());
}

TEST_F(ScenesTest, WithoutPositioningSavingSaysWhyAndRecallAndUpdateDoNothing) {
    storeScenes({"A"});
    h_.cameras.setPocketConnected(false);
    launch();
    ASSERT_EQ(h_.state().connection, ConnectionMode::wireless);
    StateRecorder recorder(h_.model);
    h_.model->saveCurrentPositionAsScene();
    h_.model->recallScene(0);
    h_.model->updateScene(h_.state().scenes.front());
    EXPECT_EQ(recorder.fields(), (std::vector<Field>{Field::notice}));
    EXPECT_EQ(h_.state().notice, "Scenes need the USB connection");
    EXPECT_EQ(names(), (std::vector<std::string>{"A"}));
    EXPECT_TRUE(h_.settings.writes().empty());
    for (const std::string& command : h_.camera()->commands()) EXPECT_NE(command.rfind("move", 0), 0u) << command;
}

TEST_F(ScenesTest, NineScenesFillEverySlot) {
    launch();
    for (int i = 1; i <= 9; ++i) saveAt(Position{static_cast<double>(i), 0, std::nullopt});
    EXPECT_EQ(h_.state().notice, "Scene 9 saved (Alt+9)");
    h_.settings.clearWrites();
    StateRecorder recorder(h_.model);

    saveAt(Position{42, 0, std::nullopt});
    EXPECT_EQ(recorder.fields(), (std::vector<Field>{Field::notice}));
    EXPECT_EQ(h_.state().notice, "All 9 scene slots are used");
    EXPECT_EQ(h_.state().scenes.size(), 9u);
    EXPECT_TRUE(h_.settings.writes().empty());
}

TEST_F(ScenesTest, ACameraWithoutAPositionSavesNothing) {
    launch();
    h_.camera()->setPosition(std::nullopt);
    h_.model->saveCurrentPositionAsScene();
    EXPECT_TRUE(h_.state().scenes.empty());
    EXPECT_TRUE(h_.settings.writes().empty());
    EXPECT_TRUE(h_.state().notice.has_value());
}

TEST_F(ScenesTest, MovesKeepTheMovedScenesInOrderBeforeTheDestination) {
    struct Case {
        std::set<int> sources;
        int destination;
        std::vector<std::string> order;  // empty: unchanged and nothing written
    };
    const std::vector<Case> cases{
        {{0}, 2, {"B", "A", "C", "D"}},
        {{3}, 0, {"D", "A", "B", "C"}},
        {{0}, 4, {"B", "C", "D", "A"}},
        {{0, 2}, 4, {"B", "D", "A", "C"}},
        {{1, 3}, 0, {"B", "D", "A", "C"}},
        {{1, 2}, 2, {"A", "B", "C", "D"}},
        {{2, 9}, 0, {"C", "A", "B", "D"}},
        {{0}, 99, {"B", "C", "D", "A"}},
        {{-1, 4}, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.sources) + " to " + std::to_string(c.destination));
        storeScenes({"A", "B", "C", "D"});
        launch();
        h_.model->moveScenes(c.sources, c.destination);
        if (c.order.empty()) {
            EXPECT_EQ(names(), (std::vector<std::string>{"A", "B", "C", "D"}));
            EXPECT_TRUE(h_.settings.writes().empty());
            continue;
        }
        EXPECT_EQ(names(), c.order);
        EXPECT_EQ(stored(), h_.state().scenes);
        // The first Alt digit follows the new order.
        h_.model->recallScene(0);
        EXPECT_EQ(lastCommand(), "move " + std::to_string((c.order[0][0] - 'A' + 1) * 10) + ".00 0.00");
    }
}

TEST_F(ScenesTest, RenamingTrimsTheNameAndIgnoresAnEmptyOne) {
    struct Case {
        const char* name;
        std::string id;
        std::string newName;
        std::string result;  // the second scene's name afterwards
        bool written;
    };
    const std::string id = "00000000-0000-4000-8000-000000000001";
    const std::vector<Case> cases{
        {"plain", id, "Desk", "Desk", true},
        {"spaces and line breaks around", id, "  Desk left \n", "Desk left", true},
        {"Unicode spaces around", id, "\u00A0\u3000Wide\u2028", "Wide", true},
        {"only white space", id, " \t\r\n ", "B", false},
        {"empty", id, "", "B", false},
        {"an unknown scene", "00000000-0000-4000-8000-000000000009", "Desk", "B", false},
        {"the same name", id, "B", "B", false},
        {"the same name with spaces around", id, "  B\n", "B", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        storeScenes({"A", "B", "C"});
        launch();
        StateRecorder recorder(h_.model);
        h_.model->renameScene(c.id, c.newName);
        EXPECT_EQ(names(), (std::vector<std::string>{"A", c.result, "C"}));
        // A change is published once and saved once; no change, neither.
        EXPECT_EQ(recorder.count(Field::scenes), c.written ? 1u : 0u);
        EXPECT_EQ(h_.settings.writtenKeys(), c.written ? std::vector<std::string>{"scenes"} : std::vector<std::string>{});
        EXPECT_EQ(stored(), h_.state().scenes);
    }
}

TEST_F(ScenesTest, DeletingMovesTheFollowingScenesOneDigitDown) {
    launch();
    for (int i = 1; i <= 3; ++i) saveAt(Position{static_cast<double>(i), 0, std::nullopt});
    const std::string second = h_.state().scenes[1].id;
    h_.model->deleteScene(second);
    EXPECT_EQ(names(), (std::vector<std::string>{"Scene 1", "Scene 3"}));
    EXPECT_EQ(stored(), h_.state().scenes);
    h_.model->recallScene(1);
    EXPECT_EQ(lastCommand(), "move 3.00 0.00");

    // Names count the scenes, they are not made unique.
    saveAt(Position{4, 0, std::nullopt});
    EXPECT_EQ(h_.state().notice, "Scene 3 saved (Alt+3)");
    EXPECT_EQ(names(), (std::vector<std::string>{"Scene 1", "Scene 3", "Scene 3"}));
}

TEST_F(ScenesTest, TheNextFrameBecomesTheThumbnailAndALaunchKeepsIt) {
    launch();
    saveAt(Position{5, 5, 200});
    ASSERT_FALSE(h_.state().scenes[0].thumbnail);
    ASSERT_TRUE(deliverForThumbnail(0, 1920, 1080));
    const auto picture = hk::decodeJpeg(*h_.state().scenes[0].thumbnail);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 320);
    EXPECT_EQ(picture->height, 180);
    EXPECT_EQ(stored(), h_.state().scenes);

    // Updating takes the camera's new position, then the next frame's picture.
    const std::vector<CameraScene> before = h_.state().scenes;
    h_.camera()->setPosition(Position{-7, 3, std::nullopt});
    h_.model->updateScene(before[0]);
    EXPECT_EQ(h_.state().notice, "Scene 1 updated to the current position");
    EXPECT_EQ(h_.state().scenes[0].position, (Position{-7, 3, std::nullopt}));
    EXPECT_EQ(h_.state().scenes[0].thumbnail, before[0].thumbnail);
    ASSERT_TRUE(deliverForThumbnail(0, 1080, 1920));
    const auto portrait = hk::decodeJpeg(*h_.state().scenes[0].thumbnail);
    ASSERT_TRUE(portrait);
    EXPECT_EQ(portrait->width, 320);
    EXPECT_EQ(portrait->height, 569);

    const std::vector<CameraScene> saved = h_.state().scenes;
    launch();
    EXPECT_EQ(h_.state().scenes, saved);
}

// A list that was not saved is never said to be: once the reason has been
// told, a new scene is kept until Lumenhollow quits, and so is an update.
TEST_F(ScenesTest, NoNoticeSaysSavedOrUpdatedForAListThatWasNotSaved) {
    struct Case {
        const char* name;
        std::optional<std::string> storeFailure;  // the store's writes fail so
        Position first;                           // the first scene's position
        std::string told;                         // the first save's notice
    };
    const std::vector<Case> cases{
        {"the store cannot write", "Read-only file system", {1, 1, std::nullopt},
         "Settings cannot be saved (Read-only file system); changes last until Lumenhollow quits"},
        {"a position that is not a number", std::nullopt, {std::nan(""), 1, std::nullopt},
         "Scenes cannot be saved (a position is not a finite number); changes last until Lumenhollow quits"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        h_.settings.failWrites(std::nullopt);
        h_.settings.remove("scenes");
        launch();
        h_.settings.failWrites(c.storeFailure);
        StateRecorder recorder(h_.model);
        saveAt(c.first);
        saveAt(Position{2, 2, std::nullopt});
        h_.camera()->setPosition(Position{3, 3, std::nullopt});
        h_.model->updateScene(h_.state().scenes.at(1));
        EXPECT_EQ(recorder.values<Field::notice>(),
                  (std::vector<std::optional<std::string>>{
                      c.told, "Scene 2 kept until Lumenhollow quits (Alt+2)",
                      "Scene 2 updated to the current position, kept until Lumenhollow quits"}));
        ASSERT_EQ(h_.state().scenes.size(), 2u);
        EXPECT_EQ(h_.state().scenes[1].position, (Position{3, 3, std::nullopt}));
        if (!c.storeFailure) {
            EXPECT_TRUE(h_.settings.writes().empty()) << "a list that cannot be stored is not written";
        }
    }
}

// A scene's picture is the next frame, however long it takes to come; a
// newer request for the same scene replaces the one still waiting, and a
// deleted scene leaves nothing waiting. Each request is counted as
// unfinished work (a quit waits for it) until its picture is in its scene.
TEST_F(ScenesTest, AThumbnailWaitsForItsFrameHoweverLongAndANewerRequestForItsSceneReplacesIt) {
    struct Case {
        const char* name;
        std::function<void()> beforeTheFrame;
        size_t waiting;       // requests waiting for the frame
        size_t withPicture;   // scenes the frame gives their picture
    };
    const std::vector<Case> cases{
        {"a frame 2.5 s after the save",
         [this] {
             saveAt(Position{1, 1, std::nullopt});
             h_.main.advanceSeconds(2.5);
         },
         1, 1},
        {"a frame ten minutes after the save",
         [this] {
             saveAt(Position{1, 1, std::nullopt});
             h_.main.advanceSeconds(600);
         },
         1, 1},
        {"saved, then updated before a frame",
         [this] {
             saveAt(Position{1, 1, std::nullopt});
             h_.main.advanceSeconds(3);
             h_.camera()->setPosition(Position{2, 2, std::nullopt});
             h_.model->updateScene(h_.state().scenes.at(0));
             h_.main.advanceSeconds(3);
         },
         1, 1},
        {"two scenes saved before a frame",
         [this] {
             saveAt(Position{1, 1, std::nullopt});
             saveAt(Position{2, 2, std::nullopt});
             h_.main.advanceSeconds(3);
         },
         2, 2},
        {"saved, then deleted before a frame",
         [this] {
             saveAt(Position{1, 1, std::nullopt});
             h_.model->deleteScene(h_.state().scenes.at(0).id);
         },
         0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        h_.settings.remove("scenes");
        launch();
        c.beforeTheFrame();
        EXPECT_EQ(h_.model->unfinishedPhotos(), c.waiting);
        ASSERT_TRUE(std::none_of(h_.state().scenes.begin(), h_.state().scenes.end(),
                                 [](const CameraScene& scene) { return scene.thumbnail.has_value(); }));
        h_.camera()->deliverFrame(FakeCamera::makeFrame(640, 360));
        const auto pictured = [&] {
            return static_cast<size_t>(std::count_if(h_.state().scenes.begin(), h_.state().scenes.end(),
                                                     [](const CameraScene& scene) { return scene.thumbnail.has_value(); }));
        };
        // Done once no request is unfinished: every picture is in its scene.
        EXPECT_TRUE(h_.main.waitFor([&] { return h_.model->unfinishedPhotos() == 0; }));
        EXPECT_EQ(pictured(), c.withPicture);
        EXPECT_EQ(h_.model->tap().pendingFrameRequests(), 0u);
        EXPECT_EQ(stored(), h_.state().scenes);
    }
}

TEST_F(ScenesTest, AThumbnailForADeletedSceneDoesNotBringItBack) {
    launch();
    saveAt(Position{1, 1, std::nullopt});
    const std::string deleted = h_.state().scenes[0].id;
    // The frame is on its way to the encoder when the scene goes.
    h_.camera()->deliverFrame(FakeCamera::makeFrame(640, 360));
    h_.main.runUntilIdle();
    h_.model->deleteScene(deleted);

    saveAt(Position{2, 2, std::nullopt});
    // The encoder keeps order, so the deleted scene's picture has come back first.
    ASSERT_TRUE(deliverForThumbnail(0, 640, 360));
    h_.main.runUntilIdle();
    ASSERT_EQ(h_.state().scenes.size(), 1u);
    EXPECT_NE(h_.state().scenes[0].id, deleted);
    EXPECT_EQ(stored(), h_.state().scenes);
}

TEST_F(ScenesTest, AStoredListThatDoesNotReadWholeKeepsWhatItCanAndSetsTheRestAside) {
    const std::string good1 = R"({"id":"00000000-0000-4000-8000-000000000001","name":"Desk","position":{"pan":1,"tilt":2}})";
    const std::string good2 = R"({"id":"00000000-0000-4000-8000-000000000002","name":"Door","position":{"pan":3,"tilt":4}})";
    const std::string noName = R"({"id":"00000000-0000-4000-8000-000000000003","position":{"pan":5,"tilt":6}})";
    const auto bytes = [](const std::string& text) { return SettingsValue(Bytes(text.begin(), text.end())); };
    struct Case {
        const char* name;
        SettingsValue value;
        std::vector<std::string> names;
        const char* logged;  // nothing: the value read whole and is not set aside
    };
    const std::vector<Case> cases{
        {"one scene without a name", bytes("[" + good1 + "," + noName + "," + good2 + "]"), {"Desk", "Door"},
         "Scenes: read 2 of 3 stored scenes (scene 2: no \"name\" text)"},
        {"not JSON", bytes("[{\"id\": garbage"), {}, "Scenes: the stored list is not JSON; starting with no scenes"},
        {"an object", bytes("{}"), {}, "Scenes: the stored list is not a JSON array; starting with no scenes"},
        {"text, not data", SettingsValue(std::string("[" + good1 + "]")), {},
         "Scenes: the stored value is not data; starting with no scenes"},
        {"whole", bytes("[" + good1 + "," + good2 + "]"), {"Desk", "Door"}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t copiesBefore = h_.settings.copies().size();
        h_.settings.set("scenes", c.value);
        h_.settings.set("videoCodec", std::string("H.264"));
        hk::testsupport::LogCapture log;
        launch();
        EXPECT_EQ(names(), c.names);
        EXPECT_EQ(log.count("Scenes:"), c.logged ? 1 : 0);
        if (c.logged) {
            EXPECT_TRUE(log.contains(c.logged)) << ::testing::PrintToString(log.lines());
        }
        // Reading wrote nothing and left the other settings alone.
        EXPECT_TRUE(h_.settings.writes().empty());
        EXPECT_EQ(h_.state().codec, hk::VideoCodec::h264);

        // The first change keeps a copy of the old value before replacing it; later ones do not.
        saveAt(Position{9, 9, std::nullopt});
        const std::vector<KeptSettingsCopy> copies = h_.settings.copies();
        ASSERT_EQ(copies.size(), copiesBefore + (c.logged ? 1 : 0));
        if (c.logged) {
            EXPECT_EQ(copies.back(), (KeptSettingsCopy{"scenes", c.value}));
        }
        const std::vector<SettingsWrite> writes = h_.settings.writes();
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].key, "scenes");
        h_.settings.clearWrites();
        h_.model->deleteScene(h_.state().scenes.back().id);
        EXPECT_EQ(h_.settings.writtenKeys(), (std::vector<std::string>{"scenes"}));
        EXPECT_EQ(h_.settings.copies().size(), copiesBefore + (c.logged ? 1 : 0));
        EXPECT_EQ(names(), c.names);
    }
}

// A stored list longer than the nine slots, as a damaged or hostile file
// holds it: the first nine are the scenes, the rest are named in one log
// line, and the first change keeps the whole stored list aside before it
// replaces it.
TEST_F(ScenesTest, AStoredListPastTheNineSlotsKeepsTheFirstNineAndSetsTheListAside) {
    for (const size_t count : {size_t{10}, size_t{10'000}}) {
        SCOPED_TRACE(count);
        std::vector<CameraScene> many;
        for (size_t i = 0; i < count; ++i) {
            const std::string digits = std::to_string(i);
            const std::string id = "00000000-0000-4000-8000-" + std::string(12 - digits.size(), '0') + digits;
            many.push_back({id, "S" + std::to_string(i), Position{static_cast<double>(i % 90), 0, std::nullopt},
                            std::nullopt});
        }
        const size_t copiesBefore = h_.settings.copies().size();
        (void)saveScenes(h_.settings, many);
        const SettingsValue original = *h_.settings.value("scenes");
        hk::testsupport::LogCapture log;
        launch();
        EXPECT_EQ(names(), (std::vector<std::string>{"S0", "S1", "S2", "S3", "S4", "S5", "S6", "S7", "S8"}));
        ASSERT_EQ(log.count("Scenes:"), 1) << ::testing::PrintToString(log.lines());
        EXPECT_TRUE(log.contains("Scenes: read 9 of " + std::to_string(count) + " stored scenes (" +
                                 std::to_string(count - 9) + " past the limit of 9 not read)"))
            << ::testing::PrintToString(log.lines());
        EXPECT_TRUE(h_.settings.writes().empty());

        // Full: saving is refused and writes nothing; a rename is the first change.
        saveAt(Position{1, 1, std::nullopt});
        EXPECT_TRUE(h_.settings.writes().empty());
        h_.model->renameScene(h_.state().scenes[0].id, "First");
        const std::vector<KeptSettingsCopy> copies = h_.settings.copies();
        ASSERT_EQ(copies.size(), copiesBefore + 1);
        EXPECT_EQ(copies.back(), (KeptSettingsCopy{"scenes", original}));
        EXPECT_EQ(h_.settings.writtenKeys(), (std::vector<std::string>{"scenes"}));
        EXPECT_EQ(stored(), h_.state().scenes);
        EXPECT_EQ(stored().size(), 9u);
    }
}

TEST_F(ScenesTest, AnUnreadableListOnALaterLaunchIsKeptBesideTheFirst) {
    const std::string good = R"({"id":"00000000-0000-4000-8000-000000000001","name":"Desk","position":{"pan":1,"tilt":2}})";
    // One whole-list failure and one scene whose name is not UTF-8.
    const std::string firstText = "[" + good + ",{\"id\":";
    const std::string secondText = "[" + good + R"(,{"id":"00000000-0000-4000-8000-000000000002","name":)" +
                                   "\"D\xe9\"," + R"("position":{"pan":3,"tilt":4}}])";
    const SettingsValue first(Bytes(firstText.begin(), firstText.end()));
    const SettingsValue second(Bytes(secondText.begin(), secondText.end()));

    h_.settings.set("scenes", first);
    launch();
    EXPECT_TRUE(names().empty());
    saveAt(Position{9, 9, std::nullopt});

    h_.settings.set("scenes", second);
    launch();
    EXPECT_EQ(names(), std::vector<std::string>{"Desk"});
    saveAt(Position{8, 8, std::nullopt});
    EXPECT_EQ(h_.settings.writtenKeys(), (std::vector<std::string>{"scenes"}));

    EXPECT_EQ(h_.settings.copies(),
              (std::vector<KeptSettingsCopy>{{"scenes", first}, {"scenes", second}}));
    EXPECT_EQ(names(), (std::vector<std::string>{"Desk", "Scene 2"}));
}

// While no copy of a list read in part can be kept, the list stays stored as
// it was: the scenes last for the session, the user is told once, and the
// first change after a copy can be kept again stores the list.
TEST_F(ScenesTest, AListReadInPartIsLeftAsItIsWhileNoCopyCanBeKept) {
    const std::string damaged = "[{\"id\": garbage";
    const SettingsValue original(Bytes(damaged.begin(), damaged.end()));
    h_.settings.set("scenes", original);
    launch();
    h_.settings.failCopies("No space left on device");
    saveAt(Position{1, 1, std::nullopt});
    EXPECT_EQ(h_.state().notice, "Scenes cannot be saved (no copy of the stored ones could be kept: No space left on "
                                 "device); changes last until Lumenhollow quits");
    saveAt(Position{2, 2, std::nullopt});
    EXPECT_EQ(h_.state().notice, "Scene 2 kept until Lumenhollow quits (Alt+2)");
    EXPECT_TRUE(h_.settings.writes().empty());
    EXPECT_EQ(h_.settings.value("scenes"), original);
    EXPECT_EQ(names(), (std::vector<std::string>{"Scene 1", "Scene 2"}));

    h_.settings.failCopies(std::nullopt);
    saveAt(Position{3, 3, std::nullopt});
    EXPECT_EQ(h_.state().notice, "Scene 3 saved (Alt+3)");
    EXPECT_EQ(h_.settings.copies(), (std::vector<KeptSettingsCopy>{{"scenes", original}}));
    EXPECT_EQ(h_.settings.writtenKeys(), (std::vector<std::string>{"scenes"}));
    EXPECT_EQ(stored().size(), 3u);

    // A store that stops saving is told once, whichever change finds out.
    h_.settings.failWrites("Read-only file system");
    h_.model->setCodec(hk::VideoCodec::h264);
    const std::string told = "Settings cannot be saved (Read-only file system); changes last until Lumenhollow quits";
    EXPECT_EQ(h_.state().notice, told);
    const uint64_t serial = h_.model->noticeSerial();
    h_.model->setCountdownSeconds(3);
    h_.model->deleteScene(h_.state().scenes.front().id);
    EXPECT_EQ(h_.model->noticeSerial(), serial) << "told again";
    EXPECT_EQ(h_.state().countdownSeconds, 3);
}

}  // namespace
}  // namespace lumenhollow::test
