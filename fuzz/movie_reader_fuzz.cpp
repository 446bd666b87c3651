// The movie reader on arbitrary files, read the way the composer reads a
// take: opened from a path, then asked for the picture at every 1/30 s
// along the movie's length, each picture's planes read whole and turned
// into NV12 now and then. The input lives in a memory file reached through
// /proc, so no disk is touched.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/media/ffmpeg_log.h"
#include "hollowkit/recording/movie_reader.h"

namespace hollowkit {
namespace {

class NullSink final : public LogSink {
public:
    void writeConsole(std::string_view) override {}
    void writeSystem(std::string_view) override {}
};

// A composition asks for at most this much of a movie here; longer claimed
// lengths only repeat the same work.
constexpr int kMaxSteps = 120;
// A bigger picture is within the reader's limits but too slow for fuzzing.
constexpr int64_t kMaxPixels = 1920 * 1080;

void check(bool condition) {
    if (!condition) std::abort();
}

unsigned touchPlanes(const DecodedPicture& picture) {
    unsigned sum = 0;
    for (const ImagePlane& plane : picture.planes.planes) {
        check(plane.data != nullptr && plane.width > 0 && plane.height > 0 && plane.stride >= plane.width);
        for (int y = 0; y < plane.height; ++y) {
            const uint8_t* row = plane.data + static_cast<ptrdiff_t>(y) * plane.stride;
            sum += row[0] + row[plane.width - 1];
        }
    }
    return sum;
}

}  // namespace
}  // namespace hollowkit

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace hollowkit;
    static NullSink sink;
    static const bool once = [] {
        PocketLog::setSinkForTesting(&sink);
        installFfmpegLogging();
        return true;
    }();
    (void)once;

    const int fd = ::memfd_create("movie", MFD_CLOEXEC);
    check(fd >= 0);
    size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        check(n > 0);
        written += static_cast<size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    auto reader = MovieReader::open(path);
    if (reader && (*reader)->hasVideo()) {
        MovieReader& movie = **reader;
        check(movie.width() > 0 && movie.height() > 0);
        if (int64_t{movie.width()} * movie.height() <= kMaxPixels) {
            unsigned sum = 0;
            for (int i = 0; i < kMaxSteps; ++i) {
                const double t = i / 30.0;
                if (i > 0 && t > movie.duration()) break;
                const DecodedPicture* picture = movie.frameAt(t);
                if (picture == nullptr) continue;
                check(picture->time <= t && t < picture->endTime);
                check(picture->planes.planes[0].width == movie.width());
                sum += touchPlanes(*picture);
                if (i % 8 == 0) {
                    const VideoFrame frame = picture->toNv12();
                    check(frame && frame.width() == movie.width() && frame.height() == movie.height());
                }
            }
            (void)sum;
        }
    }
    ::close(fd);
    return 0;
}
