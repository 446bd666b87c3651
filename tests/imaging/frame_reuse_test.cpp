// The per-picture paths that make a frame-sized picture of their own (the
// blur's working pictures, a conversion to BGRA) reuse it from picture to
// picture through the scratch their owner keeps. The allocator gives a freed
// heap top back at once (memory_settings.h), so a picture made and freed
// anew each time is mapped and zeroed again: thousands of page faults per
// picture. Counted here as the faults of the thread doing the work, once it
// is warm.

#include <sys/resource.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "hollowkit/imaging/background_treatment.h"
#include "hollowkit/imaging/bgra_frames.h"
#include "hollowkit/testing/bounded_child.h"
#include "hollowkit/testing/imaging_test_pictures.h"

namespace hollowkit {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int64_t kPagesPerFrame = int64_t{kWidth} * kHeight * 4 / 4096;

int64_t faultsOnThisThread() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}

struct ReuseCase {
    const char* name;
    PixelFormat source;
    // One picture's work; what it makes is gone when it returns.
    std::function<bool(const FigureScene&, WritableVideoFrame&)> picture;
};

void PrintTo(const ReuseCase& c, std::ostream* out) {
    *out << c.name;
}

class FrameReuseTest : public testing::TestWithParam<ReuseCase> {};

TEST_P(FrameReuseTest, AWarmPathMapsNoFrameAnew) {
    if (!testsupport::kPlainMemoryPeaks) GTEST_SKIP() << "sanitizers replace the allocator";
    const ReuseCase& c = GetParam();
    const FigureScene scene = makeFigureScene(kWidth, kHeight, c.source);
    WritableVideoFrame output = WritableVideoFrame::allocate(PixelFormat::bgra, kWidth, kHeight);
    ASSERT_TRUE(c.picture(scene, output));
    ASSERT_TRUE(c.picture(scene, output));
    constexpr int kPictures = 6;
    const int64_t before = faultsOnThisThread();
    for (int i = 0; i < kPictures; ++i) ASSERT_TRUE(c.picture(scene, output));
    const int64_t perPicture = (faultsOnThisThread() - before) / kPictures;
    // A frame mapped anew faults in every one of its pages.
    EXPECT_LT(perPicture, kPagesPerFrame / 8) << "of " << kPagesPerFrame << " pages a frame";
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FrameReuseTest,
    testing::Values(
        ReuseCase{"blur", PixelFormat::bgra,
                  [scratch = std::make_shared<BlurScratch>()](const FigureScene& scene, WritableVideoFrame& output) {
                      return applyBackground(scene.frame, &scene.truth, BubbleBackground::blur, output, nullptr,
                                             scratch.get());
                  }},
        ReuseCase{"nv12AsBgra", PixelFormat::nv12,
                  [scratch = std::make_shared<BgraScratch>()](const FigureScene& scene, WritableVideoFrame&) {
                      return !asBgra(scene.frame, scratch.get()).isNull();
                  }}),
    [](const auto& c) { return std::string(c.param.name); });

}  // namespace
}  // namespace hollowkit
