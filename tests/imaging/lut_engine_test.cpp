#include "hollowkit/imaging/lut_engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "hollowkit/imaging/lut_library.h"
#include "hollowkit/imaging/row_workers.h"
#include "hollowkit/testing/test_support.h"
#include "lut_test_support.h"

namespace hollowkit {
namespace {

using luttest::Rgb;
using Kernel = LutEngine::Kernel;

const Kernel kKernels[] = {Kernel::best, Kernel::portable};

const char* kernelName(Kernel k) { return k == Kernel::best ? "best" : "portable"; }

// A picture that walks every level of each channel and mixes them.
VideoFrame testPicture(int width, int height) {
    return luttest::bgraFrame(width, height, [](int x, int y) {
        return Rgb{static_cast<uint8_t>(x), static_cast<uint8_t>(y * 3 + x / 7),
                   static_cast<uint8_t>(x * 5 + y * 11)};
    });
}

VideoFrame render(const LutEngine& engine, const VideoFrame& input, Kernel kernel,
                  RowWorkers* workers = nullptr) {
    WritableVideoFrame out =
        WritableVideoFrame::allocate(PixelFormat::bgra, input.width(), input.height());
    EXPECT_TRUE(engine.apply(input, out, workers, kernel));
    return std::move(out).freeze(input.pts());
}

// The greatest channel difference between each output pixel and `expected`.
int maxDifference(const VideoFrame& out, const std::function<Rgb(int, int)>& expected) {
    int worst = 0;
    for (int y = 0; y < out.height(); ++y) {
        for (int x = 0; x < out.width(); ++x) {
            const auto bgra = luttest::bgraAt(out, x, y);
            const Rgb want = expected(x, y);
            worst = std::max({worst, std::abs(bgra[2] - want.r), std::abs(bgra[1] - want.g),
                              std::abs(bgra[0] - want.b)});
        }
    }
    return worst;
}

Rgb inputAt(const VideoFrame& frame, int x, int y) {
    const auto p = luttest::bgraAt(frame, x, y);
    return {p[2], p[1], p[0]};
}

TEST(LutEngineTest, RefusesTablesItCannotUse) {
    EXPECT_NE(LutEngine::prepare(luttest::identityTable(2)), nullptr);
    EXPECT_NE(LutEngine::prepare(luttest::identityTable(64)), nullptr);

    ColorLUT one = luttest::identityTable(2);
    one.dimension = 1;
    one.rgba = std::vector<float>(4);
    EXPECT_EQ(LutEngine::prepare(one), nullptr);
    EXPECT_EQ(LutEngine::prepare(ColorLUT{}), nullptr);

    ColorLUT tooBig;
    tooBig.dimension = 257;
    EXPECT_EQ(LutEngine::prepare(tooBig), nullptr);

    ColorLUT short_ = luttest::identityTable(3);
    std::vector<float> shorter = short_.rgba.toVector();
    shorter.pop_back();
    short_.rgba = std::move(shorter);
    EXPECT_EQ(LutEngine::prepare(short_), nullptr);

    ColorLUT nan = luttest::identityTable(3);
    std::vector<float> withNan = nan.rgba.toVector();
    withNan[17] = std::numeric_limits<float>::quiet_NaN();
    nan.rgba = std::move(withNan);
    EXPECT_EQ(LutEngine::prepare(nan), nullptr);

    ColorLUT emptyRange = luttest::identityTable(3);
    emptyRange.domainMin[1] = 1.0f;
    EXPECT_EQ(LutEngine::prepare(emptyRange), nullptr);
    ColorLUT reversed = luttest::identityTable(3);
    reversed.domainMin[2] = 2.0f;
    EXPECT_EQ(LutEngine::prepare(reversed), nullptr);
    ColorLUT infinite = luttest::identityTable(3);
    infinite.domainMax[0] = std::numeric_limits<float>::infinity();
    EXPECT_EQ(LutEngine::prepare(infinite), nullptr);
}

TEST(LutEngineTest, IdentityLeavesEveryLevelAlone) {
    const VideoFrame input = testPicture(256, 86);
    for (int n : {2, 17, 33, 64}) {
        const auto engine = LutEngine::prepare(luttest::identityTable(n));
        ASSERT_NE(engine, nullptr);
        for (Kernel k : kKernels) {
            SCOPED_TRACE(std::to_string(n) + " points, " + kernelName(k));
            const VideoFrame out = render(*engine, input, k);
            EXPECT_LE(maxDifference(out, [&](int x, int y) { return inputAt(input, x, y); }), 1);
        }
    }
}

// Trilinear interpolation in double precision is the reference: every look
// must land within one step of it, whatever the kernel.
TEST(LutEngineTest, MatchesTheFloatReference) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    ColorLUT noisy = luttest::tableOf(9, [&](float, float, float) {
        return std::array<float, 3>{unit(random), unit(random), unit(random)};
    });
    // Values beyond 0...1 are interpolated before the output is clamped.
    ColorLUT wide = luttest::tableOf(5, [](float r, float g, float b) {
        return std::array<float, 3>{r * 1.4f - 0.2f, 1.2f - g * 1.4f, b * b * 1.3f - 0.1f};
    });
    std::vector<ColorLUT> tables = LUTLibrary::builtIn();
    tables.push_back(noisy);
    tables.push_back(wide);

    const VideoFrame input = testPicture(256, 86);
    for (const ColorLUT& lut : tables) {
        const auto engine = LutEngine::prepare(lut);
        ASSERT_NE(engine, nullptr);
        VideoFrame previous;
        for (Kernel k : kKernels) {
            SCOPED_TRACE(lut.id + ", " + kernelName(k));
            const VideoFrame out = render(*engine, input, k);
            EXPECT_LE(maxDifference(out,
                                    [&](int x, int y) {
                                        return luttest::referenceMap(lut, inputAt(input, x, y));
                                    }),
                      1);
            // Both kernels compute the same fixed-point sums.
            if (!previous.isNull()) {
                for (int y = 0; y < out.height(); ++y) {
                    ASSERT_TRUE(std::equal(out.row(0, y).begin(), out.row(0, y).end(),
                                           previous.row(0, y).begin()))
                        << "row " << y;
                }
            }
            previous = out;
        }
    }
}

TEST(LutEngineTest, KeepsAlphaAndHandlesOddWidths) {
    const auto engine = LutEngine::prepare(*LUTLibrary::builtInLook("builtin.warm"));
    const ColorLUT& warm = *LUTLibrary::builtInLook("builtin.warm");
    const auto pixel = [](int x, int y) {
        return Rgb{static_cast<uint8_t>(x * 37), static_cast<uint8_t>(y * 53),
                   static_cast<uint8_t>(x * y)};
    };
    for (int width : {1, 3, 7}) {
        const VideoFrame input = luttest::bgraFrame(width, 5, pixel, TimePoint{}, [](int x, int y) {
            return static_cast<uint8_t>(x * 40 + y);
        });
        for (Kernel k : kKernels) {
            const VideoFrame out = render(*engine, input, k);
            for (int y = 0; y < 5; ++y) {
                for (int x = 0; x < width; ++x) {
                    EXPECT_EQ(luttest::bgraAt(out, x, y)[3], x * 40 + y);
                }
            }
            EXPECT_LE(maxDifference(out,
                                    [&](int x, int y) {
                                        return luttest::referenceMap(warm, pixel(x, y));
                                    }),
                      1);
        }
    }
}

TEST(LutEngineTest, Nv12IsBt709LimitedRange) {
    const auto identity = LutEngine::prepare(luttest::identityTable(33));
    // Full-range or BT.601 decoding would miss these by far more than 2.
    struct Case {
        luttest::Ycc ycc;
        Rgb rgb;
    };
    const Case cases[] = {
        {{16, 128, 128}, {0, 0, 0}},       {{235, 128, 128}, {255, 255, 255}},
        {{63, 102, 240}, {255, 0, 0}},     {{173, 42, 26}, {0, 255, 0}},
        {{32, 240, 118}, {0, 0, 255}},     {{126, 128, 128}, {128, 128, 128}},
    };
    for (const auto& c : cases) {
        const VideoFrame input = luttest::nv12Frame(
            2, 2, [&](int, int) { return c.ycc.y; }, [&](int, int) { return c.ycc; });
        for (Kernel k : kKernels) {
            const VideoFrame out = render(*identity, input, k);
            EXPECT_LE(maxDifference(out, [&](int, int) { return c.rgb; }), 2)
                << int{c.ycc.y} << "/" << int{c.ycc.cb} << "/" << int{c.ycc.cr};
            EXPECT_EQ(luttest::bgraAt(out, 1, 1)[3], 255);
        }
    }
}

// NV12 through a look: the standard's matrix to 8 bits, then the look; each
// 2×2 block shares its chroma. Odd sizes included.
TEST(LutEngineTest, Nv12MatchesTheReference) {
    const ColorLUT& film = *LUTLibrary::builtInLook("builtin.film");
    const auto engine = LutEngine::prepare(film);
    const auto luma = [](int x, int y) { return static_cast<uint8_t>(x * 3 + y * 7); };
    const auto chroma = [](int cx, int cy) {
        return luttest::Ycc{0, static_cast<uint8_t>(cx * 9 + cy), static_cast<uint8_t>(255 - cx * 5 - cy * 3)};
    };
    for (auto [width, height] : {std::pair{86, 36}, std::pair{7, 5}}) {
        const VideoFrame input = luttest::nv12Frame(width, height, luma, chroma);
        for (Kernel k : kKernels) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " " + kernelName(k));
            const VideoFrame out = render(*engine, input, k);
            EXPECT_LE(maxDifference(out,
                                    [&](int x, int y) {
                                        const auto c = chroma(x / 2, y / 2);
                                        return luttest::referenceMap(
                                            film, luttest::referenceBt709(luma(x, y), c.cb, c.cr));
                                    }),
                      1);
        }
    }
}

TEST(LutEngineTest, WorkersGiveTheSamePicture) {
    const auto engine = LutEngine::prepare(*LUTLibrary::builtInLook("builtin.teal-orange"));
    RowWorkers workers(3);
    for (const VideoFrame& input :
         {testPicture(256, 97), luttest::nv12Frame(
                                    99, 41, [](int x, int y) { return static_cast<uint8_t>(x + y); },
                                    [](int x, int y) {
                                        return luttest::Ycc{0, static_cast<uint8_t>(x * 3),
                                                            static_cast<uint8_t>(y * 5)};
                                    })}) {
        const VideoFrame alone = render(*engine, input, Kernel::best);
        const VideoFrame shared = render(*engine, input, Kernel::best, &workers);
        for (int y = 0; y < input.height(); ++y) {
            ASSERT_TRUE(std::equal(alone.row(0, y).begin(), alone.row(0, y).end(),
                                   shared.row(0, y).begin()))
                << "row " << y;
        }
    }
}

// ".cube" text of `n` points whose entries ramp 0...1 along each axis (the
// identity if the grid spanned 0...1), after the given keyword lines.
std::string rampCube(int n, const std::string& header) {
    std::string text = "TITLE \"ramp\"\nLUT_3D_SIZE " + std::to_string(n) + "\n" + header;
    for (int b = 0; b < n; ++b) {
        for (int g = 0; g < n; ++g) {
            for (int r = 0; r < n; ++r) {
                char line[96];
                std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n", r / (n - 1.0), g / (n - 1.0),
                              b / (n - 1.0));
                text += line;
            }
        }
    }
    return text;
}

// A ramp table is linear along each axis, so over an input range [lo, hi]
// it maps a value x to (x − lo) / (hi − lo), held at 0 and 1: an analytic
// result for every pixel, read from a file and applied to a picture.
TEST(LutEngineTest, AppliesACubeFileOverItsInputRange) {
    struct Range {
        double lo, hi;
    };
    struct Case {
        const char* label;
        std::string header;
        Range red, green, blue;
    };
    const Case cases[] = {
        {"DOMAIN 0-2 halves every channel", "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 2 2 2\n", {0, 2}, {0, 2}, {0, 2}},
        {"Resolve input range 0-2", "LUT_3D_INPUT_RANGE 0 2\n", {0, 2}, {0, 2}, {0, 2}},
        {"a range per channel", "DOMAIN_MIN 0 -1 0\nDOMAIN_MAX 1 1 4\n", {0, 1}, {-1, 1}, {0, 4}},
        {"a narrow range holds at its ends", "DOMAIN_MIN 0.25 0.25 0.25\nDOMAIN_MAX 0.75 0.75 0.75\n",
         {0.25, 0.75}, {0.25, 0.75}, {0.25, 0.75}},
        {"only a maximum", "DOMAIN_MAX 2 1 0.5\n", {0, 2}, {0, 1}, {0, 0.5}},
    };
    const testsupport::TempDir temp;
    const VideoFrame bgra = testPicture(256, 86);
    const VideoFrame nv12 = luttest::nv12Frame(
        96, 40, [](int x, int y) { return static_cast<uint8_t>(16 + x * 2 + y); },
        [](int x, int y) {
            return luttest::Ycc{0, static_cast<uint8_t>(64 + x * 3), static_cast<uint8_t>(200 - y * 4)};
        });
    const auto nv12Rgb = [&](int x, int y) {
        const uint8_t* uv = nv12.row(1, y / 2).data() + 2 * (x / 2);
        return luttest::referenceBt709(nv12.row(0, y)[x], uv[0], uv[1]);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto path = (temp.path() / "ramp.cube").string();
        std::ofstream(path) << rampCube(9, c.header);
        const auto lut = ColorLUT::load(path);
        ASSERT_TRUE(lut.has_value()) << lut.error().userMessage();
        const auto engine = LutEngine::prepare(*lut);
        ASSERT_NE(engine, nullptr);
        const auto expected = [&](Rgb in) {
            const auto map = [](uint8_t v, Range range) {
                const double t = std::clamp((v / 255.0 - range.lo) / (range.hi - range.lo), 0.0, 1.0);
                return static_cast<uint8_t>(std::lround(t * 255));
            };
            return Rgb{map(in.r, c.red), map(in.g, c.green), map(in.b, c.blue)};
        };
        for (Kernel k : kKernels) {
            SCOPED_TRACE(kernelName(k));
            EXPECT_LE(maxDifference(render(*engine, bgra, k),
                                    [&](int x, int y) { return expected(inputAt(bgra, x, y)); }),
                      1);
            // NV12 is converted first; the conversion may be one step off
            // the double-precision one, which a range below 1 widens.
            EXPECT_LE(maxDifference(render(*engine, nv12, k),
                                    [&](int x, int y) { return expected(nv12Rgb(x, y)); }),
                      3);
        }
    }
}

TEST(LutEngineTest, RefusesFramesThatDoNotFit) {
    const auto engine = LutEngine::prepare(luttest::identityTable(2));
    const VideoFrame input = testPicture(8, 4);
    WritableVideoFrame wrongSize = WritableVideoFrame::allocate(PixelFormat::bgra, 8, 5);
    WritableVideoFrame wrongFormat = WritableVideoFrame::allocate(PixelFormat::nv12, 8, 4);
    WritableVideoFrame fine = WritableVideoFrame::allocate(PixelFormat::bgra, 8, 4);
    EXPECT_FALSE(engine->apply(input, wrongSize));
    EXPECT_FALSE(engine->apply(input, wrongFormat));
    EXPECT_FALSE(engine->apply(VideoFrame(), fine));
    EXPECT_TRUE(engine->apply(input, fine));
}

// The same picture and ".cube" file through FFmpeg's lut3d filter. FFmpeg
// truncates where we round, so its bytes sit up to one step lower: the mean
// difference per channel stays within one step and no pixel differs by more
// than two.
TEST(LutEngineTest, AgreesWithFfmpegLut3d) {
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "ffmpeg is not installed; comparison with lut3d skipped";
    }
    const testsupport::TempDir temp;
    const auto& dir = temp.path();

    // A bent, channel-mixing table that trilinear interpolation cannot
    // reproduce by accident.
    constexpr int n = 17;
    std::string cube = "TITLE \"bent\"\nLUT_3D_SIZE 17\n";
    const auto bent = [](float r, float g, float b) {
        return std::array<float, 3>{std::sqrt(r) * 0.8f + b * 0.2f, g * g * 0.9f + r * 0.1f,
                                    std::clamp(b * 1.2f - g * 0.15f, 0.0f, 1.0f)};
    };
    for (int b = 0; b < n; ++b) {
        for (int g = 0; g < n; ++g) {
            for (int r = 0; r < n; ++r) {
                const auto v = bent(r / 16.0f, g / 16.0f, b / 16.0f);
                char line[96];
                std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n", v[0], v[1], v[2]);
                cube += line;
            }
        }
    }
    const auto cubePath = (dir / "bent.cube").string();
    std::ofstream(cubePath) << cube;
    const auto lut = ColorLUT::readCubeFile(cubePath);
    ASSERT_TRUE(lut.has_value());

    constexpr int width = 320, height = 180;
    const VideoFrame input = luttest::bgraFrame(width, height, [](int x, int y) {
        return Rgb{static_cast<uint8_t>(x * 255 / (width - 1)),
                   static_cast<uint8_t>(y * 255 / (height - 1)),
                   static_cast<uint8_t>((x * 7 + y * 13) & 255)};
    });
    const auto inPath = (dir / "in.raw").string();
    const auto outPath = (dir / "out.raw").string();
    {
        std::ofstream raw(inPath, std::ios::binary);
        for (int y = 0; y < height; ++y) {
            raw.write(reinterpret_cast<const char*>(input.row(0, y).data()), width * 4);
        }
    }
    const std::string command = "ffmpeg -v error -y -f rawvideo -pix_fmt bgra -s 320x180 -i '" +
                                inPath + "' -vf lut3d=file='" + cubePath +
                                "':interp=trilinear -f rawvideo -pix_fmt bgra '" + outPath + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream expectedFile(outPath, std::ios::binary);
    const std::vector<char> expected((std::istreambuf_iterator<char>(expectedFile)),
                                     std::istreambuf_iterator<char>());
    ASSERT_EQ(expected.size(), size_t{width} * height * 4);

    const auto engine = LutEngine::prepare(*lut);
    const VideoFrame out = render(*engine, input, Kernel::best);
    double sum[3] = {0, 0, 0};
    int worst = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto ours = luttest::bgraAt(out, x, y);
            for (int c = 0; c < 3; ++c) {
                const int theirs = static_cast<uint8_t>(expected[(y * width + x) * 4 + c]);
                const int d = std::abs(ours[c] - theirs);
                sum[c] += d;
                worst = std::max(worst, d);
            }
        }
    }
    for (int c = 0; c < 3; ++c) EXPECT_LE(sum[c] / (width * height), 1.0) << "channel " << c;
    EXPECT_LE(worst, 2);
}

}  // namespace
}  // namespace hollowkit
