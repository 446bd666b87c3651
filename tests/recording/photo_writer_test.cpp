#include "hollowkit/recording/photo_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "hollowkit/recording/media_library.h"
#include "hollowkit/testing/bounded_child.h"
#include "hollowkit/testing/held_still_encoder.h"
#include "hollowkit/testing/resident_size.h"
#include "hollowkit/testing/manual_executor.h"
#include "hollowkit/testing/still_image_probe.h"
#include "recording_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using Rgb = std::array<int, 3>;

// Four flat quadrants, top-left, top-right, bottom-left, bottom-right, in
// colours away from the ends of the scale so no channel clips.
constexpr std::array<Rgb, 4> kQuadrants{{{200, 40, 40}, {40, 180, 60}, {50, 70, 200}, {220, 210, 120}}};

// BT.709 limited range, the way the library reads NV12.
std::array<uint8_t, 3> toYCbCr709(const Rgb& rgb) {
    const double r = rgb[0] / 255.0;
    const double g = rgb[1] / 255.0;
    const double b = rgb[2] / 255.0;
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    const double cb = (b - y) / 1.8556;
    const double cr = (r - y) / 1.5748;
    return {static_cast<uint8_t>(std::lround(16 + 219 * y)),
            static_cast<uint8_t>(std::lround(128 + 224 * cb)),
            static_cast<uint8_t>(std::lround(128 + 224 * cr))};
}

int quadrantOf(int x, int y, int width, int height) {
    return (y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0);
}

VideoFrame quadrantFrame(PixelFormat format, int width, int height) {
    WritableVideoFrame frame = WritableVideoFrame::allocate(format, width, height);
    if (format == PixelFormat::bgra) {
        for (int y = 0; y < height; ++y) {
            auto row = frame.row(0, y);
            for (int x = 0; x < width; ++x) {
                const Rgb& c = kQuadrants[static_cast<size_t>(quadrantOf(x, y, width, height))];
                uint8_t* p = &row[static_cast<size_t>(x) * 4];
                p[0] = static_cast<uint8_t>(c[2]);
                p[1] = static_cast<uint8_t>(c[1]);
                p[2] = static_cast<uint8_t>(c[0]);
                p[3] = 255;
            }
        }
    } else {
        for (int y = 0; y < height; ++y) {
            auto row = frame.row(0, y);
            for (int x = 0; x < width; ++x) {
                row[static_cast<size_t>(x)] =
                    toYCbCr709(kQuadrants[static_cast<size_t>(quadrantOf(x, y, width, height))])[0];
            }
        }
        for (int y = 0; y < (height + 1) / 2; ++y) {
            auto row = frame.row(1, y);
            for (int x = 0; x < (width + 1) / 2; ++x) {
                const auto ycc =
                    toYCbCr709(kQuadrants[static_cast<size_t>(quadrantOf(2 * x, 2 * y, width, height))]);
                row[static_cast<size_t>(2 * x)] = ycc[1];
                row[static_cast<size_t>(2 * x + 1)] = ycc[2];
            }
        }
    }
    return std::move(frame).freeze(TimePoint{});
}

// The middle of each quadrant, averaged over a small square, against the
// colour painted there.
void expectQuadrantColours(const RgbImage& image, double tolerance) {
    const int w = image.width;
    const int h = image.height;
    const std::array<std::array<int, 2>, 4> centres{
        {{w / 4, h / 4}, {3 * w / 4, h / 4}, {w / 4, 3 * h / 4}, {3 * w / 4, 3 * h / 4}}};
    const int radius = std::max(1, std::min(w, h) / 16);
    for (size_t q = 0; q < 4; ++q) {
        const auto mean = image.meanAround(centres[q][0], centres[q][1], radius);
        for (size_t c = 0; c < 3; ++c) {
            EXPECT_NEAR(mean[c], kQuadrants[q][c], tolerance) << "quadrant " << q << " channel " << c;
        }
    }
}

Bytes readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// An encoder that fails, and notes the thread it was called on.
class FailingEncoder final : public StillEncoder {
public:
    Result<Bytes, std::string> encodeHeif(const VideoFrame&, int) const override {
        thread = std::this_thread::get_id();
        return unexpected(std::string("broken on purpose"));
    }
    Result<Bytes, std::string> encodeJpeg(const VideoFrame&, int, int, int) const override {
        thread = std::this_thread::get_id();
        return unexpected(std::string("broken on purpose"));
    }
    mutable std::atomic<std::thread::id> thread{};
};

class PhotoWriterTest : public ::testing::Test {
protected:
    // A photo of the n-th day from now, in the test's folder.
    PhotoPlace place(int day = 0) const {
        return PhotoPlace{dir_.path(), kDay + std::chrono::hours(24 * day)};
    }
    std::filesystem::path named(const std::string& suffix, int day = 0) const {
        return dir_.path() / (MediaLibrary::fileName(MediaLibrary::kPhotoKind, place(day).date) + suffix + ".heic");
    }
    size_t entries() const { return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir_.path()), {})); }

    static inline const WallTime kDay = std::chrono::system_clock::now();
    testsupport::TempDir dir_;
    testsupport::LogCapture log_;
};

// Full size, the picture's colours, both input formats, sizes that are not
// multiples of the coding block, each under its date's name.
TEST_F(PhotoWriterTest, PhotoDecodesAtFullSizeWithThePicturesColours) {
    struct Case {
        PixelFormat format;
        int width;
        int height;
    };
    const Case cases[] = {
        {PixelFormat::nv12, 1920, 1080},
        {PixelFormat::bgra, 1920, 1080},
        {PixelFormat::nv12, 642, 362},
        {PixelFormat::bgra, 641, 361},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (c.format == PixelFormat::nv12 ? "nv12 " : "bgra ") << c.width << "x" << c.height);
        const auto written = PhotoWriter::writeNow(quadrantFrame(c.format, c.width, c.height), place(++n));
        ASSERT_TRUE(written.has_value()) << written.error().userMessage();
        EXPECT_EQ(written.value(), named("", n));
        std::string why;
        const auto image = decodeHeifFile(written.value(), &why);
        ASSERT_TRUE(image.has_value()) << why;
        EXPECT_EQ(image->width, c.width);
        EXPECT_EQ(image->height, c.height);
        expectQuadrantColours(*image, 6.0);
        EXPECT_EQ(std::filesystem::status(written.value()).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms(0644));
        // The photos and nothing else: no temporary is left beside them.
        EXPECT_EQ(entries(), static_cast<size_t>(n));
    }
}

TEST_F(PhotoWriterTest, ThumbnailIsScaledDownToTheLargestWidthAndDecodes) {
    struct Case {
        PixelFormat format;
        int width;
        int height;
        double largestWidth;
        int expectedWidth;
        int expectedHeight;
    };
    const Case cases[] = {
        {PixelFormat::nv12, 1920, 1080, 320, 320, 180},
        {PixelFormat::bgra, 1920, 1080, 320, 320, 180},
        {PixelFormat::nv12, 3840, 2160, 320, 320, 180},
        {PixelFormat::nv12, 1080, 1920, 320, 320, 569},  // portrait: 568.9 rounds up
        {PixelFormat::bgra, 200, 120, 320, 200, 120},    // never enlarged
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        const auto jpeg =
            PhotoWriter::jpegThumbnailNow(quadrantFrame(c.format, c.width, c.height), c.largestWidth);
        ASSERT_TRUE(jpeg.has_value());
        std::string why;
        const auto image = decodeJpeg(*jpeg, &why);
        ASSERT_TRUE(image.has_value()) << why;
        EXPECT_EQ(image->width, c.expectedWidth);
        EXPECT_EQ(image->height, c.expectedHeight);
        expectQuadrantColours(*image, 8.0);
    }
}

TEST(PhotoWriterSizeTest, ThumbnailSizeRule) {
    struct Case {
        int width;
        int height;
        double largestWidth;
        std::optional<PhotoWriter::Size> expected;
    };
    const Case cases[] = {
        {1920, 1080, 320, PhotoWriter::Size{320, 180}},
        {1280, 720, 320, PhotoWriter::Size{320, 180}},
        {1000, 563, 320, PhotoWriter::Size{320, 180}},
        {319, 100, 320, PhotoWriter::Size{319, 100}},
        {1920, 1080, 320.6, PhotoWriter::Size{321, 180}},
        {4000, 3, 320, PhotoWriter::Size{320, 1}},  // a sliver keeps one row
        {1920, 1080, 0.5, std::nullopt},
        {1920, 1080, -320, std::nullopt},
        {1920, 1080, std::nan(""), std::nullopt},
        {0, 1080, 320, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PhotoWriter::thumbnailSize(c.width, c.height, c.largestWidth), c.expected)
            << c.width << "x" << c.height << " at most " << c.largestWidth;
    }
}

TEST_F(PhotoWriterTest, FailuresGiveTheirTextsAndLeaveNothing) {
    const VideoFrame frame = quadrantFrame(PixelFormat::nv12, 64, 48);
    FailingEncoder failing;
    const auto missing = dir_.path() / "gone";
    const auto locked = dir_.path() / "locked";
    std::filesystem::create_directory(locked);
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const struct {
        const char* name;
        VideoFrame frame;
        PhotoPlace place;
        const StillEncoder* encoder;
        std::string message;
        bool logged;
    } cases[] = {
        {"no picture", VideoFrame(), place(), nullptr, "The frame had no image data", false},
        {"the encoder fails", frame, place(), &failing, "Could not encode the photo", true},
        {"a folder that does not exist", frame, PhotoPlace{missing, kDay}, nullptr,
         "No such file or directory (" + missing.string() + ")", false},
        // Root writes anywhere, so this one only fails for other users.
        {"a folder without write permission", frame, PhotoPlace{locked, kDay}, nullptr,
         "Permission denied (" + locked.string() + ")", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.place.folder == locked && ::geteuid() == 0) continue;
        const auto result = c.encoder ? PhotoWriter::writeNow(c.frame, c.place, *c.encoder)
                                      : PhotoWriter::writeNow(c.frame, c.place);
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().userMessage(), c.message);
        if (c.logged) {
            EXPECT_TRUE(log_.contains("broken on purpose"));
        }
        EXPECT_EQ(entries(), 1u) << "only the locked folder";
        EXPECT_TRUE(std::filesystem::is_empty(locked));
    }
    EXPECT_FALSE(PhotoWriter::jpegThumbnailNow(VideoFrame(), 320).has_value());
    EXPECT_FALSE(PhotoWriter::jpegThumbnailNow(frame, 320, failing).has_value());
}

// A disk that fills while a photo is written, after earlier photos took its
// first names: the notice names no file that exists (not the earlier photo
// under the name it tried first), and nothing of the failed photo is left.
TEST_F(PhotoWriterTest, ADiskFullNoticeNamesNoPhotoThatExists) {
    // Fine texture: far larger than the room left once the earlier photos
    // are on the disk.
    const VideoFrame frame = patternFrame(640, 480, 0, TimePoint());
    const struct {
        const char* name;
        std::vector<std::string> earlier;  // suffixes of the names taken before
    } cases[] = {
        {"no earlier photo", {}},
        {"an earlier photo under the first name", {""}},
        {"earlier photos under the first two names", {"", " 2"}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto folder = dir_.path() / ("small" + std::to_string(n++));
        // A page for each earlier photo, and one more for none.
        testsupport::SmallDisk disk(folder, 4096 * std::max<size_t>(1, c.earlier.size()));
        const PhotoPlace small{folder, kDay};
        const auto nameIn = [&](const std::string& suffix) {
            return folder / (MediaLibrary::fileName(MediaLibrary::kPhotoKind, kDay) + suffix + ".heic");
        };
        for (const std::string& suffix : c.earlier) std::ofstream(nameIn(suffix)) << "an earlier photo";

        const auto result = PhotoWriter::writeNow(frame, small);
        ASSERT_FALSE(result.has_value()) << "the photo fitted";
        EXPECT_EQ(result.error().kind, PhotoError::Kind::writeFailed);
        EXPECT_EQ(result.error().code.value(), disk.expectedError()) << result.error().userMessage();
        const std::string message = result.error().userMessage();
        std::error_code error;
        EXPECT_FALSE(std::filesystem::is_regular_file(result.error().path, error)) << message;
        size_t files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            ++files;
            EXPECT_EQ(message.find(entry.path().filename().string()), std::string::npos)
                << message << " names " << entry.path().filename();
        }
        EXPECT_EQ(files, c.earlier.size()) << "something of the failed photo was left";
        for (const std::string& suffix : c.earlier) {
            const Bytes kept = readAll(nameIn(suffix));
            EXPECT_EQ(std::string(kept.begin(), kept.end()), "an earlier photo");
        }
    }
}

// A photo goes to the folder held when its shutter was pressed: moved aside
// while the photo is encoded, and its path taken by something else, it
// gets the whole photo, and nothing is left at the path or beside it.
TEST_F(PhotoWriterTest, APhotoGoesToTheFolderOfItsPressWhereverItWasMoved) {
    const struct {
        const char* name;
        bool file;  // the path taken by a file; else by a link to another folder
    } cases[] = {{"replaced by a file", true}, {"replaced by a link", false}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto folder = dir_.path() / ("Lumenhollow" + std::to_string(n));
        const auto moved = dir_.path() / ("Moved" + std::to_string(n));
        const auto elsewhere = dir_.path() / ("Elsewhere" + std::to_string(n++));
        std::filesystem::create_directory(folder);
        std::filesystem::create_directory(elsewhere);
        ManualExecutor main;
        HeldStillEncoder held;
        std::optional<Result<std::filesystem::path, PhotoError>> outcome;
        PhotoWriter writer(main, held);
        writer.write(quadrantFrame(PixelFormat::nv12, 320, 240), PhotoPlace::heldAt(folder, kDay),
                     [&](Result<std::filesystem::path, PhotoError> result) { outcome = std::move(result); });
        ASSERT_TRUE(held.waitForEntered(1));
        std::filesystem::rename(folder, moved);
        if (c.file) {
            std::ofstream(folder) << "a file";
        } else {
            std::filesystem::create_directory_symlink(elsewhere, folder);
        }
        held.release();
        ASSERT_TRUE(main.waitFor([&] { return outcome.has_value(); }));
        ASSERT_TRUE(outcome->has_value()) << outcome->error().userMessage();
        const auto photo = moved / outcome->value().filename();
        EXPECT_EQ(outcome->value(), std::filesystem::canonical(moved) / photo.filename()) << "told where it is";
        EXPECT_TRUE(decodeHeifFile(photo).has_value());
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(moved), {}), 1) << "a temporary was left";
        EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
    }
}

// A photo whose folder is removed while it is encoded (deleted, or moved to
// another disk, which copies the folder and deletes it) is not lost with
// it: it goes to the folder its path names then, made again when nothing
// made it meanwhile, and beside a later photo when a later press did.
TEST_F(PhotoWriterTest, APhotoWhoseFolderWasRemovedGoesToTheFolderAtItsPathNow) {
    const struct {
        const char* name;
        bool copiedAway;  // moved to another disk: a copy is left elsewhere
        bool madeAgain;   // a later press made the folder again, with its photo
    } cases[] = {
        {"deleted", false, false},
        {"moved to another disk", true, false},
        {"deleted, and made again by a later press", false, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto folder = dir_.path() / ("Lumenhollow" + std::to_string(n));
        const auto copy = dir_.path() / ("Copy" + std::to_string(n++));
        std::filesystem::create_directory(folder);
        std::ofstream(folder / "an earlier photo.heic") << "an earlier photo";
        ManualExecutor main;
        HeldStillEncoder held;
        std::optional<Result<std::filesystem::path, PhotoError>> outcome;
        PhotoWriter writer(main, held);
        writer.write(quadrantFrame(PixelFormat::nv12, 320, 240), PhotoPlace::heldAt(folder, kDay),
                     [&](Result<std::filesystem::path, PhotoError> result) { outcome = std::move(result); });
        ASSERT_TRUE(held.waitForEntered(1));
        if (c.copiedAway) std::filesystem::copy(folder, copy);
        std::filesystem::remove_all(folder);
        if (c.madeAgain) {
            std::filesystem::create_directory(folder);
            std::ofstream(folder / "a later photo.heic") << "a later photo";
        }
        held.release();
        ASSERT_TRUE(main.waitFor([&] { return outcome.has_value(); }));
        ASSERT_TRUE(outcome->has_value()) << outcome->error().userMessage();
        EXPECT_EQ(outcome->value(), std::filesystem::canonical(folder) / named("").filename()) << "told where it is";
        EXPECT_TRUE(decodeHeifFile(folder / named("").filename()).has_value());
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), c.madeAgain ? 2 : 1)
            << "a temporary was left, or a later photo went";
        if (c.copiedAway) {
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(copy), {}), 1) << "the copy is as it was";
        }
    }
}

// A photo takes the first of its date's names that nothing stands under:
// whatever is there (an earlier photo, an empty file, a folder) is left as
// it is.
TEST_F(PhotoWriterTest, TakesTheFirstFreeNameAndNeverTouchesWhatIsThere) {
    std::ofstream(named("")) << "an earlier photo";
    std::ofstream(named(" 2")).close();
    std::filesystem::create_directory(named(" 3"));
    const auto result = PhotoWriter::writeNow(quadrantFrame(PixelFormat::nv12, 64, 48), place());
    ASSERT_TRUE(result.has_value()) << result.error().userMessage();
    EXPECT_EQ(result.value(), named(" 4"));
    EXPECT_TRUE(decodeHeifFile(named(" 4")).has_value());
    const Bytes kept = readAll(named(""));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "an earlier photo");
    EXPECT_EQ(std::filesystem::file_size(named(" 2")), 0u);
    EXPECT_TRUE(std::filesystem::is_directory(named(" 3")));
    EXPECT_EQ(entries(), 4u);
}

// Until a photo is whole nothing stands under its name, so an end at any
// moment before (a kill) leaves no empty or cut file there. The writer
// counts a photo from the moment it is expected (its frame still to come)
// until it is written, and waiting for it ends when it is.
TEST_F(PhotoWriterTest, NothingStandsUnderAPhotosNameBeforeItIsWholeAndWaitingCountsItFromItsPress) {
    ManualExecutor main;
    HeldStillEncoder held;
    std::optional<Result<std::filesystem::path, PhotoError>> outcome;
    PhotoWriter writer(main, held);
    EXPECT_TRUE(writer.waitUntilDone(std::chrono::milliseconds(0))) << "nothing to wait for";
    writer.expect();  // the shutter is pressed; the frame is to come
    EXPECT_EQ(writer.unfinished(), 1u);
    EXPECT_FALSE(writer.waitUntilDone(std::chrono::milliseconds(0)));
    writer.write(quadrantFrame(PixelFormat::nv12, 320, 240), place(),
                 [&](Result<std::filesystem::path, PhotoError> result) { outcome = std::move(result); });
    writer.withdraw();  // handed over: counted as the writer's work now
    ASSERT_TRUE(held.waitForEntered(1));
    EXPECT_EQ(writer.unfinished(), 1u);
    EXPECT_FALSE(writer.waitUntilDone(std::chrono::milliseconds(0)));
    EXPECT_EQ(entries(), 0u) << "a file stands under the name while the photo is encoded";
    held.release();
    EXPECT_TRUE(writer.waitUntilDone(std::chrono::seconds(60)));
    EXPECT_EQ(writer.unfinished(), 0u);
    EXPECT_EQ(entries(), 1u);
    EXPECT_TRUE(decodeHeifFile(named("")).has_value());
    ASSERT_TRUE(main.waitFor([&] { return outcome.has_value(); }));
    EXPECT_EQ(outcome->value(), named(""));
}

// The instance encodes on its own queue, never on the thread that hands the
// frame over, and answers on the main executor.
TEST_F(PhotoWriterTest, EncodesOffTheCallersThreadAndAnswersOnMain) {
    ManualExecutor main;
    FailingEncoder failing;
    std::optional<Result<std::filesystem::path, PhotoError>> outcome;
    std::optional<std::optional<Bytes>> thumbnail;
    bool answeredOnMain = true;
    {
        PhotoWriter writer(main, failing);
        writer.write(quadrantFrame(PixelFormat::nv12, 64, 48), place(),
                     [&](Result<std::filesystem::path, PhotoError> result) {
                         answeredOnMain = answeredOnMain && main.isCurrent();
                         outcome = std::move(result);
                     });
        writer.jpegThumbnail(quadrantFrame(PixelFormat::nv12, 64, 48), 320, [&](std::optional<Bytes> jpeg) {
            answeredOnMain = answeredOnMain && main.isCurrent();
            thumbnail = std::move(jpeg);
        });
        ASSERT_TRUE(main.waitFor([&] { return outcome.has_value() && thumbnail.has_value(); }));
    }
    EXPECT_NE(failing.thread.load(), std::this_thread::get_id());
    EXPECT_TRUE(answeredOnMain);
    ASSERT_FALSE(outcome->has_value());
    EXPECT_EQ(outcome->error().userMessage(), "Could not encode the photo");
    EXPECT_FALSE(thumbnail->has_value());
}

// Photos handed over are written even when the writer goes right away.
TEST_F(PhotoWriterTest, DestroyingTheWriterFinishesPhotosHandedOver) {
    ManualExecutor main;
    int answers = 0;
    {
        PhotoWriter writer(main);
        for (int i = 0; i < 3; ++i) {
            writer.write(quadrantFrame(PixelFormat::nv12, 320, 240), place(),
                         [&](Result<std::filesystem::path, PhotoError> result) {
                             EXPECT_TRUE(result.has_value());
                             ++answers;
                         });
        }
    }
    // Three photos of one second, in the order they were handed over.
    for (const char* suffix : {"", " 2", " 3"}) {
        EXPECT_TRUE(decodeHeifFile(named(suffix)).has_value()) << suffix;
    }
    main.runUntilIdle();
    EXPECT_EQ(answers, 3);
}

// The HEIF encoder's worker threads free what they used when a photo is done,
// but glibc keeps such memory at the top of each thread's heap: photo after
// photo, a program that took them grew by megabytes each. Once the first
// photos have loaded the encoder, more photos leave no more resident.
TEST_F(PhotoWriterTest, PhotoAfterPhotoLeavesNoMoreMemoryResident) {
    if (!testsupport::kPlainMemoryPeaks) GTEST_SKIP() << "sanitizers replace the allocator";
    const VideoFrame frame = quadrantFrame(PixelFormat::nv12, 1920, 1080);
    const auto outcome = testsupport::runInChild(
        [&] {
            ManualExecutor main;
            PhotoWriter writer(main);
            int asked = 0;
            int answered = 0;
            const auto take = [&](int count) {
                for (int i = 0; i < count; ++i, ++asked) {
                    writer.write(frame, place(asked),
                                 [&answered](Result<std::filesystem::path, PhotoError> result) {
                                     answered += result ? 1 : 0;
                                 });
                }
                return main.waitFor([&] { return answered == asked; }, std::chrono::seconds(120));
            };
            if (!take(2)) return 2;
            const int64_t before = testsupport::residentBytes();
            if (!take(8)) return 2;
            const int64_t grown = testsupport::residentBytes() - before;
            std::fprintf(stderr, "eight more photos grew the process by %lld kB\n",
                         static_cast<long long>(grown / 1024));
            return grown < 12 * (int64_t{1} << 20) ? 0 : 1;
        },
        std::chrono::seconds(240));
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0);
}

}  // namespace
}  // namespace hollowkit
