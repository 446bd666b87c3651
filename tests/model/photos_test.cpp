#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/recording/media_library.h"
#include "hollowkit/testing/held_still_encoder.h"
#include "hollowkit/testing/still_image_probe.h"
#include "hollowkit/testing/test_support.h"
#include "recording_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;
using Notices = std::vector<std::optional<std::string>>;

// What happens to photos asked for before a frame comes, and to a request
// that no frame answers for long: a request waits for its frame however
// long it takes, also across a change of camera, and a newer press replaces
// the one still waiting, so one frame makes one photo, named by the last
// press.
TEST(PhotosTest, APhotoWaitsForItsFrameAndANewerPressReplacesIt) {
    struct Case {
        const char* name;
        int photos;
        double pressGapSeconds;  // between two presses
        bool otherRequest;       // another one-shot request waits as well (a position's thumbnail)
        std::function<void(RecordingHarness&)> between;
        bool frameAfter;
        Notices notices;
        size_t files;
    };
    const std::vector<Case> cases{
        {"one photo", 1, 0, false, [](RecordingHarness&) {}, true, {"Photo saved"}, 1},
        {"two before the next frame: one photo, of the second press", 2, 5, false, [](RecordingHarness&) {}, true,
         {"Photo saved"}, 1},
        {"three presses a minute apart, no frame between", 3, 60, false, [](RecordingHarness&) {}, true,
         {"Photo saved"}, 1},
        {"beside another request: both served", 1, 0, true, [](RecordingHarness&) {}, true, {"Photo saved"}, 1},
        {"no frame for a minute: taken when the frame comes", 1, 0, false,
         [](RecordingHarness& h) { h.main.advanceSeconds(60); }, true, {"Photo saved"}, 1},
        {"no frame ever: nothing shown", 1, 0, false, [](RecordingHarness& h) { h.main.advanceSeconds(600); },
         false, {}, 0},
        {"the connection switches: the next camera's frame takes it", 1, 0, false,
         [](RecordingHarness& h) {
             h.model->selectConnection(ConnectionMode::wireless);
             h.main.advanceSeconds(5);
         },
         true, {"Photo saved"}, 1},
        {"no live picture: nothing", 0, 0, false, [](RecordingHarness&) {}, true, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingHarness h;
        h.start(true);
        if (c.photos == 0) {
            h.emit(CameraEvent::stats(picture(1920, 1080, false)));
            h.model->takePhoto();
        }
        for (int i = 0; i < c.photos; ++i) {
            if (i > 0) h.main.advanceSeconds(c.pressGapSeconds);
            h.model->takePhoto();
        }
        const hollowkit::WallTime lastPress = h.main.clock().wallNow();
        EXPECT_EQ(h.model->unfinishedPhotos(), c.photos > 0 ? 1u : 0u) << "one photo waits for its frame";
        int otherAnswers = 0;
        if (c.otherRequest) h.model->tap().addFrameRequest([&](const hollowkit::VideoFrame&) { ++otherAnswers; });
        c.between(h);
        if (c.frameAfter) h.camera()->deliverFrame(FakeCamera::makeFrame(320, 180));
        h.main.waitFor([&] { return h.notices().size() >= c.notices.size(); });
        h.main.advanceSeconds(5);
        EXPECT_EQ(h.notices(), c.notices);
        EXPECT_EQ(otherAnswers, c.otherRequest ? 1 : 0);
        EXPECT_EQ(h.model->unfinishedPhotos(), c.frameAfter || c.photos == 0 ? 0u : 1u);
        const auto photos = h.files(".heic");
        ASSERT_EQ(photos.size(), c.files);
        for (const auto& photo : photos) {
            EXPECT_EQ(photo.filename().string(),
                      hollowkit::MediaLibrary::fileName(hollowkit::MediaLibrary::kPhotoKind, lastPress) + ".heic");
            const auto image = hollowkit::decodeHeifFile(photo);
            ASSERT_TRUE(image);
            EXPECT_EQ(image->width, 320);
            EXPECT_EQ(image->height, 180);
        }
    }
}

// Photos pressed faster than they are written wait with their frames, at
// most kMaxPendingPhotos of them; a press beyond is refused aloud, and one
// more is taken as soon as one is written. A press that only replaces the
// photo still waiting for its frame is no more and is not refused. While
// they wait nothing stands under their names (no empty file a kill could
// leave); each file appears whole, named by its press.
TEST(PhotosTest, AtMostEightPhotosWaitAndNothingStandsUnderTheirNamesUntilEachIsWhole) {
    hollowkit::testsupport::LogCapture log;
    hollowkit::HeldStillEncoder held;
    RecordingHarness h;
    h.stillEncoder = &held;
    h.start(true);
    // Seven taken by their frames and held in the encoder, an eighth waiting
    // for its frame and replaced by the presses after it.
    for (size_t i = 0; i + 1 < CameraModel::kMaxPendingPhotos; ++i) {
        h.model->takePhoto();
        h.camera()->deliverFrame(FakeCamera::makeFrame(320, 180));
        h.main.advanceSeconds(1);
    }
    ASSERT_TRUE(held.waitForEntered(1));
    for (int i = 0; i < 3; ++i) h.model->takePhoto();
    EXPECT_EQ(h.model->unfinishedPhotos(), CameraModel::kMaxPendingPhotos);
    EXPECT_TRUE(h.notices().empty()) << "a press that replaced the waiting photo was refused";
    h.camera()->deliverFrame(FakeCamera::makeFrame(320, 180));
    h.main.runUntilIdle();
    for (int i = 0; i < 2; ++i) h.model->takePhoto();
    EXPECT_EQ(h.model->unfinishedPhotos(), CameraModel::kMaxPendingPhotos);
    EXPECT_EQ(h.notices(), Notices(2, "Photo failed: 8 photos are still being saved"));
    EXPECT_EQ(log.count("Photos not taken while 8 are still being saved"), 1) << "once for the run of presses";
    EXPECT_TRUE(std::filesystem::is_empty(h.outputFolder)) << "a file stands under a photo's name before it is whole";

    held.release();
    ASSERT_TRUE(h.waitForNotices(2 + CameraModel::kMaxPendingPhotos));
    EXPECT_EQ(h.model->unfinishedPhotos(), 0u);
    h.model->takePhoto();
    h.camera()->deliverFrame(FakeCamera::makeFrame(320, 180));
    ASSERT_TRUE(h.waitForNotices(3 + CameraModel::kMaxPendingPhotos));
    EXPECT_EQ(h.notices().back(), "Photo saved") << "a press is taken again once the photos are written";
    const auto photos = h.files(".heic");
    ASSERT_EQ(photos.size(), CameraModel::kMaxPendingPhotos + 1);
    for (const auto& photo : photos) {
        EXPECT_TRUE(photo.filename().string().starts_with("Lumenhollow Photo ")) << photo;
        EXPECT_TRUE(hollowkit::decodeHeifFile(photo)) << photo;
    }
    EXPECT_EQ(static_cast<size_t>(std::distance(std::filesystem::directory_iterator(h.outputFolder), {})),
              photos.size())
        << "something beside the photos";
}

// Photos waiting behind a slow encoder when their folder is deleted, or
// moved to another disk (a copy, then a delete), and a later press made it
// again: every one is saved there, none is lost with the folder that went.
TEST(PhotosTest, PhotosWaitingWhenTheirFolderIsRemovedAreSavedInTheFolderMadeAgain) {
    for (const bool copiedAway : {false, true}) {
        SCOPED_TRACE(copiedAway ? "moved to another disk" : "deleted");
        hollowkit::HeldStillEncoder held;
        RecordingHarness h;
        h.stillEncoder = &held;
        h.start(true);
        for (int i = 0; i < 3; ++i) {
            h.model->takePhoto();
            h.camera()->deliverFrame(FakeCamera::makeFrame(320, 180));
            h.main.advanceSeconds(1);
        }
        ASSERT_TRUE(held.waitForEntered(1));
        if (copiedAway) {
            std::filesystem::copy(h.outputFolder, h.dir.path() / "On another disk",
                                  std::filesystem::copy_options::recursive);
        }
        std::filesystem::remove_all(h.outputFolder);
        h.model->takePhoto();  // makes the folder again
        h.camera()->deliverFrame(FakeCamera::makeFrame(320, 180));
        held.release();
        ASSERT_TRUE(h.waitForNotices(4));
        EXPECT_EQ(h.notices(), Notices(4, "Photo saved"));
        const auto photos = h.files(".heic");
        ASSERT_EQ(photos.size(), 4u);
        for (const auto& photo : photos) EXPECT_TRUE(hollowkit::decodeHeifFile(photo)) << photo;
    }
}

}  // namespace
}  // namespace lumenhollow::test
