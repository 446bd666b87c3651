#include "hollowkit/imaging/face_search.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/testing/fake_face_detector_backend.h"

namespace hollowkit {
namespace {

VideoFrame picture() {
    return WritableVideoFrame::allocate(PixelFormat::bgra, 8, 8).freeze(TimePoint{});
}

TEST(FaceSearchTest, SearchesWhenDueKeepsTheLargestFaceAndLetsItGoAfterTheLinger) {
    const NormalizedRect small{0.1, 0.1, 0.1, 0.1};
    const NormalizedRect large{0.5, 0.3, 0.2, 0.3};
    using Answer = FakeFaceDetectorBackend::Answer;
    struct Step {
        double seconds;
        bool due;
        std::optional<Answer> answer;  // what a search at this time finds
        std::optional<NormalizedRect> face;
    };
    const std::vector<Step> steps{
        {0.0, true, Answer(std::vector<NormalizedRect>{small, large}), large},
        {0.2, false, std::nullopt, large},
        {0.25, true, Answer(std::vector<NormalizedRect>{}), large},                    // a miss keeps it
        {0.9, true, Answer(unexpected(std::string("no model"))), large},               // so does a failure
        {1.2, true, Answer(std::vector<NormalizedRect>{}), std::nullopt},              // past the linger
        {1.5, true, Answer(std::vector<NormalizedRect>{small}), small},
        {0.1, true, Answer(std::vector<NormalizedRect>{}), std::nullopt},              // time went back
    };
    auto backend = std::make_unique<FakeFaceDetectorBackend>();
    FakeFaceDetectorBackend* fake = backend.get();
    for (const Step& step : steps) {
        if (step.answer) fake->pushAnswer(*step.answer);
    }
    FaceSearch search(std::move(backend));
    EXPECT_EQ(search.face(), std::nullopt);
    size_t searches = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.seconds);
        EXPECT_EQ(search.due(step.seconds), step.due);
        if (step.answer) {
            search.search(picture(), step.seconds);
            ++searches;
        }
        EXPECT_EQ(search.face(), step.face);
    }
    EXPECT_EQ(fake->callCount(), searches);

    search.forget();
    EXPECT_EQ(search.face(), std::nullopt);
    EXPECT_TRUE(search.due(0.15)) << "a forgotten search is due at once";
}

}  // namespace
}  // namespace hollowkit
