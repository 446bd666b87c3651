#include "hollowkit/usb/capture_frame_converter.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <vector>

namespace hollowkit {
namespace {

const TimePoint kPts{std::chrono::seconds(42)};

uint8_t lumaAt(int x, int y) {
    return static_cast<uint8_t>((x * 7 + y * 13) & 0xFF);
}

// NV12 with `padding` bytes after every line of both planes; chroma bytes
// count up from 0.
Bytes nv12Picture(int width, int height, size_t padding) {
    const size_t stride = size_t(width) + padding;
    Bytes bytes(stride * size_t(height) + stride * size_t((height + 1) / 2), 0xEE);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) bytes[size_t(y) * stride + size_t(x)] = lumaAt(x, y);
    }
    for (int y = 0; y < (height + 1) / 2; ++y) {
        for (int x = 0; x < width; ++x) {
            bytes[stride * size_t(height) + size_t(y) * stride + size_t(x)] = static_cast<uint8_t>(y * width + x);
        }
    }
    return bytes;
}

TEST(CaptureFrameConverterTest, CopiesNv12LinesPastTheDevicePadding) {
    const int width = 64;
    const int height = 6;
    const Bytes bytes = nv12Picture(width, height, 32);
    CaptureFrameConverter converter;
    const VideoFrame frame = converter.convert({kFourccNv12, width, height, size_t(width) + 32, bytes}, kPts);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame.pixelFormat(), PixelFormat::nv12);
    EXPECT_EQ(frame.pts(), kPts);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) ASSERT_EQ(frame.row(0, y)[size_t(x)], lumaAt(x, y)) << x << "," << y;
    }
    for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < width; ++x) ASSERT_EQ(frame.row(1, y)[size_t(x)], static_cast<uint8_t>(y * width + x));
    }
}

TEST(CaptureFrameConverterTest, ConvertsYuyvAveragingChromaOfLinePairs) {
    // 4x2: Y counts up; U is 10 on line 0 and 21 on line 1; V is 200 and 100.
    const Bytes yuyv{0, 10, 1, 200, 2, 10, 3, 200,  //
                     4, 21, 5, 100, 6, 21, 7, 100};
    CaptureFrameConverter converter;
    const VideoFrame frame = converter.convert({kFourccYuyv, 4, 2, 8, yuyv}, kPts);
    ASSERT_TRUE(frame);
    EXPECT_EQ(Bytes(frame.row(0, 0).begin(), frame.row(0, 0).end()), (Bytes{0, 1, 2, 3}));
    EXPECT_EQ(Bytes(frame.row(0, 1).begin(), frame.row(0, 1).end()), (Bytes{4, 5, 6, 7}));
    // (10 + 21 + 1) / 2 = 16, (200 + 100 + 1) / 2 = 150.
    EXPECT_EQ(Bytes(frame.row(1, 0).begin(), frame.row(1, 0).end()), (Bytes{16, 150, 16, 150}));
}

TEST(CaptureFrameConverterTest, RefusesPicturesShorterThanTheirSizeNeeds) {
    const Bytes nv12 = nv12Picture(64, 6, 0);
    const Bytes yuyv(64 * 2 * 6, 0x80);
    struct Case {
        const char* name;
        RawPicture picture;
    };
    const Case cases[] = {
        {"NV12 one byte short", {kFourccNv12, 64, 6, 64, ByteView(nv12).first(nv12.size() - 1)}},
        {"NV12 stride below the width", {kFourccNv12, 64, 6, 32, nv12}},
        {"YUYV one byte short", {kFourccYuyv, 64, 6, 128, ByteView(yuyv).first(yuyv.size() - 1)}},
        {"YUYV odd width", {kFourccYuyv, 63, 6, 128, yuyv}},
        {"MJPEG that is no JPEG", {kFourccMjpeg, 64, 6, 0, yuyv}},
        {"unknown pixel format", {fourcc('H', '2', '6', '4'), 64, 6, 64, nv12}},
        {"no size", {kFourccNv12, 0, 0, 64, nv12}},
        {"no bytes", {kFourccNv12, 64, 6, 64, {}}},
    };
    CaptureFrameConverter converter;
    for (const Case& c : cases) {
        EXPECT_FALSE(converter.convert(c.picture, kPts)) << c.name;
    }
}

Bytes jpegOf(int width, int height, int subsampling, uint8_t u, uint8_t v) {
    std::vector<uint8_t> luma(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) luma[size_t(y * width + x)] = static_cast<uint8_t>(x < width / 2 ? 40 : 200);
    }
    const int cw = tjPlaneWidth(1, width, subsampling);
    const int ch = tjPlaneHeight(1, height, subsampling);
    std::vector<uint8_t> cb(size_t(cw * ch), u);
    std::vector<uint8_t> cr(size_t(cw * ch), v);
    const unsigned char* planes[3] = {luma.data(), cb.data(), cr.data()};
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int status =
        tjCompressFromYUVPlanes(handle, planes, width, nullptr, height, subsampling, &jpeg, &size, 95, 0);
    Bytes bytes;
    if (status == 0) bytes.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(handle);
    return bytes;
}

TEST(CaptureFrameConverterTest, DecodesMotionJpegOfEachSubsamplingIntoNv12) {
    for (const int subsampling : {TJSAMP_420, TJSAMP_422, TJSAMP_444, TJSAMP_GRAY}) {
        SCOPED_TRACE(subsampling);
        const bool gray = subsampling == TJSAMP_GRAY;
        const Bytes jpeg = jpegOf(64, 32, subsampling, 90, 170);
        ASSERT_FALSE(jpeg.empty());
        CaptureFrameConverter converter;
        const VideoFrame frame = converter.convert({kFourccMjpeg, 64, 32, 0, jpeg}, kPts);
        ASSERT_TRUE(frame);
        EXPECT_NEAR(frame.row(0, 10)[5], 40, 4);
        EXPECT_NEAR(frame.row(0, 10)[60], 200, 4);
        EXPECT_NEAR(frame.row(1, 7)[10], gray ? 128 : 90, 3);
        EXPECT_NEAR(frame.row(1, 7)[11], gray ? 128 : 170, 3);
        // A JPEG of another size than the format's is refused.
        EXPECT_FALSE(converter.convert({kFourccMjpeg, 64, 30, 0, jpeg}, kPts));
    }
}

constexpr uint8_t kStartOfScan[] = {0xFF, 0xDA};

// The JPEG without its Huffman table segments, as camera MJPEG comes: the
// decoder then uses the standard tables, which are the ones jpegOf wrote.
Bytes withoutHuffmanTables(const Bytes& jpeg) {
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    size_t i = 2;
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF && jpeg[i + 1] != 0xDA) {
        const size_t length = size_t(jpeg[i + 2]) << 8 | jpeg[i + 3];
        if (jpeg[i + 1] != 0xC4) out.insert(out.end(), jpeg.begin() + long(i), jpeg.begin() + long(i + 2 + length));
        i += 2 + length;
    }
    out.insert(out.end(), jpeg.begin() + long(i), jpeg.end());
    return out;
}

// A table segment that redefines DC table 0 with the standard chroma DC
// code lengths: legal, but luma coded with the standard tables no longer
// decodes with it.
Bytes chromaDcTableAsTableZero() {
    Bytes segment = {0xFF, 0xC4, 0x00, 0x1F, 0x00, 0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
    for (uint8_t value = 0; value < 12; ++value) segment.push_back(value);
    return segment;
}

bool samePlanes(const VideoFrame& a, const VideoFrame& b) {
    for (int plane = 0; plane < 2; ++plane) {
        for (int y = 0; !a.row(plane, y).empty(); ++y) {
            const auto rowA = a.row(plane, y);
            const auto rowB = b.row(plane, y);
            if (!std::equal(rowA.begin(), rowA.end(), rowB.begin(), rowB.end())) return false;
        }
    }
    return true;
}

TEST(CaptureFrameConverterTest, PicturesLeaveNoTablesBehindForTheNext) {
    const Bytes coded = jpegOf(64, 32, TJSAMP_420, 90, 170);
    ASSERT_FALSE(coded.empty());
    const Bytes plain = withoutHuffmanTables(coded);
    const Bytes body(coded.begin(), coded.end() - 2);  // without the end marker
    const Bytes table = chromaDcTableAsTableZero();

    Bytes tableAfterScan = body;
    tableAfterScan.insert(tableAfterScan.end(), table.begin(), table.end());
    tableAfterScan.insert(tableAfterScan.end(), {0xFF, 0xD9});
    // Cut inside the scan, as a lost USB packet leaves it, then a table.
    Bytes cutThenTable(coded.begin(), coded.begin() + long(coded.size() * 2 / 3));
    cutThenTable.insert(cutThenTable.end(), table.begin(), table.end());
    cutThenTable.insert(cutThenTable.end(), {0xFF, 0xD9});

    CaptureFrameConverter fresh;
    const VideoFrame expected = fresh.convert({kFourccMjpeg, 64, 32, 0, plain}, kPts);
    ASSERT_TRUE(expected);
    const struct {
        const char* name;
        Bytes before;
    } cases[] = {
        {"a picture defining another table", tableAfterScan},
        {"a damaged picture defining another table", cutThenTable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureFrameConverter converter;
        (void)converter.convert({kFourccMjpeg, 64, 32, 0, c.before}, kPts);
        const VideoFrame next = converter.convert({kFourccMjpeg, 64, 32, 0, plain}, kPts);
        ASSERT_TRUE(next);
        EXPECT_TRUE(samePlanes(expected, next));
    }
}

TEST(CaptureFrameConverterTest, RefusesMotionJpegTheDecoderGaveUpOnAfterAWarning) {
    // The scan header ends the coefficients at 62 (a warning) and sends
    // the second component to a table never defined (fatal, before any row).
    Bytes jpeg = jpegOf(64, 32, TJSAMP_420, 90, 170);
    ASSERT_FALSE(jpeg.empty());
    const auto scan = std::search(jpeg.begin(), jpeg.end(), std::begin(kStartOfScan), std::end(kStartOfScan));
    ASSERT_NE(scan, jpeg.end());
    const size_t components = scan[4];
    scan[4 + 1 + 2 * 1 + 1] = 0x22;
    scan[4 + 1 + 2 * long(components) + 1] = 62;

    CaptureFrameConverter converter;
    // A picture first, so a refused one cannot pass for it either.
    ASSERT_TRUE(converter.convert({kFourccMjpeg, 64, 32, 0, jpegOf(64, 32, TJSAMP_420, 90, 170)}, kPts));
    EXPECT_FALSE(converter.convert({kFourccMjpeg, 64, 32, 0, jpeg}, kPts));
    // A picture cut inside its scan only warns and is kept (its missing
    // rows are filled in by the decoder).
    const Bytes good = jpegOf(64, 32, TJSAMP_420, 90, 170);
    const auto goodScan = std::search(good.begin(), good.end(), std::begin(kStartOfScan), std::end(kStartOfScan));
    const Bytes cut(good.begin(), goodScan + (good.end() - goodScan) / 2);
    EXPECT_TRUE(converter.convert({kFourccMjpeg, 64, 32, 0, cut}, kPts));
}

}  // namespace
}  // namespace hollowkit
