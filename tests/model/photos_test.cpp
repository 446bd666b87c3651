#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/testing/still_image_probe.h"
#include "recording_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;
using Notices = std::vector<std::optional<std::string>>;

// What happens to photos asked for before a frame comes, and to a request
// that no frame answers: every photo asked for is written or failed aloud,
// and a request is never answered by a picture from much later.
TEST(PhotosTest, EveryPhotoAskedForIsWrittenOrFailsAloudAndNoneComesLate) {
    struct Case {
        const char* name;
        int photos;
        bool otherRequest;  // another one-shot request waits as well (a position's thumbnail)
        std::function<void(RecordingHarness&)> between;
        bool frameAfter;
        Notices notices;
        size_t files;
    };
    const std::vector<Case> cases{
        {"one photo", 1, false, [](RecordingHarness&) {}, true, {"Photo saved"}, 1},
        {"two before the next frame: two photos", 2, false, [](RecordingHarness&) {}, true,
         {"Photo saved", "Photo saved"}, 2},
        {"beside another request: both served", 1, true, [](RecordingHarness&) {}, true, {"Photo saved"}, 1},
        {"no frame for two seconds: given up, nothing written later", 1, false,
         [](RecordingHarness& h) { h.main.advanceSeconds(2); }, true, {"Photo failed: no picture arrived"}, 0},
        {"a frame just in time", 1, false, [](RecordingHarness& h) { h.main.advanceSeconds(1.9); }, true,
         {"Photo saved"}, 1},
        {"the connection switches: given up", 1, false,
         [](RecordingHarness& h) { h.model->selectConnection(ConnectionMode::wireless); }, false,
         {"Photo failed: no picture arrived"}, 0},
        {"no live picture: nothing", 0, false, [](RecordingHarness&) {}, true, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingHarness h;
        h.start(true);
        if (c.photos == 0) {
            h.emit(CameraEvent::stats(picture(1920, 1080, false)));
            h.model->takePhoto();
        }
        for (int i = 0; i < c.photos; ++i) h.model->takePhoto();
        int otherAnswers = 0;
        if (c.otherRequest) h.model->tap().addFrameRequest([&](const hollowkit::VideoFrame&) { ++otherAnswers; });
        c.between(h);
        if (c.frameAfter) h.camera()->deliverFrame(FakeCamera::makeFrame(320, 180));
        h.main.waitFor([&] { return h.notices().size() >= c.notices.size(); });
        h.main.advanceSeconds(5);
        EXPECT_EQ(h.notices(), c.notices);
        EXPECT_EQ(otherAnswers, c.otherRequest ? 1 : 0);
        const auto photos = h.files(".heic");
        ASSERT_EQ(photos.size(), c.files);
        for (const auto& photo : photos) {
            const auto image = hollowkit::decodeHeifFile(photo);
            ASSERT_TRUE(image);
            EXPECT_EQ(image->width, 320);
            EXPECT_EQ(image->height, 180);
        }
    }
}

}  // namespace
}  // namespace lumenhollow::test
