// The scene camera's cost per picture: it must render 1080p at 30 frames a
// second on one core, beside the application it feeds. Run with
// OPENCV_FOR_THREADS_NUM=1 for the one-core figure.

#include <benchmark/benchmark.h>

#include "hollowkit/simulation/scene_panorama.h"

namespace hollowkit {
namespace {

const std::shared_ptr<const ScenePanorama>& scene() {
    static const auto built = ScenePanorama::build();
    return built;
}

// Pan drifts a little every picture, so no two windows sit on the same
// sub-pixel position. Arguments: width, height, zoom percent.
void BM_SceneRender(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const int zoom = static_cast<int>(state.range(2));
    const VirtualLens lens = scene()->lens();
    double pan = -20;
    for (auto _ : state) {
        pan = pan > 20 ? -20 : pan + 0.37;
        VideoFrame frame = scene()->render(lens.window({pan, 3, zoom}, width, height), width, height, TimePoint{});
        benchmark::DoNotOptimize(frame);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SceneRender)
    ->Args({1920, 1080, 100})
    ->Args({1920, 1080, 400})
    ->Args({1280, 720, 100})
    ->Unit(benchmark::kMillisecond);

void BM_SceneBuild(benchmark::State& state) {
    for (auto _ : state) {
        auto built = ScenePanorama::build();
        benchmark::DoNotOptimize(built);
    }
}
BENCHMARK(BM_SceneBuild)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace hollowkit
