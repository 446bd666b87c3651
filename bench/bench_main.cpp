// The main of the benchmark programs that have no main of their own: FFmpeg's
// process-wide log and the heap allocator's settings are set up once, as
// the application does, so encoder statistics stay out of the output and
// memory figures are the application's.

#include <benchmark/benchmark.h>

#include "hollowkit/base/memory_settings.h"
#include "hollowkit/media/ffmpeg_log.h"

int main(int argc, char** argv) {
    hollowkit::installFfmpegLogging();
    hollowkit::applyMemorySettings();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
