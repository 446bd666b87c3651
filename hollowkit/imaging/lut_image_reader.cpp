// Lookup tables stored as pictures: the layout rules, the header sniffing that
// refuses an oversized picture before any pixel is decoded, and the OpenCV
// decoding: the picture half of ColorLUT (declared in color_lut.h).

#include "hollowkit/imaging/color_lut.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <optional>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "hollowkit/imaging/lut_file.h"

namespace hollowkit {

namespace {

// Even stored without compression, the largest table's picture at 16 bits
// per channel is 128 MB.
constexpr uint64_t kMaxImageFileBytes = uint64_t{160} << 20;
constexpr int64_t kMaxPixels = int64_t{ColorLUT::kMaxDimension} * ColorLUT::kMaxDimension *
                               ColorLUT::kMaxDimension;

struct ImageLayout {
    int dimension = 0;    // 0: not a lookup table
    int tilesPerRow = 0;  // 0: a strip
};

ImageLayout layoutFor(int64_t width, int64_t height) {
    if (width < 1 || height < 1) return {};
    for (int64_t tile : {16, 32, 64}) {
        if (width % tile == 0 && height % tile == 0 && width >= tile &&
            (width / tile) * (height / tile) == tile) {
            return {static_cast<int>(tile), static_cast<int>(width / tile)};
        }
    }
    // Checked before multiplying, so the product cannot overflow; anything
    // above the largest table's pixel count is no table.
    if (width > kMaxPixels || height > kMaxPixels / width) return {};
    const int64_t pixels = width * height;
    const auto n = static_cast<int64_t>(std::llround(std::cbrt(static_cast<double>(pixels))));
    if (n * n * n != pixels || n < ColorLUT::kMinDimension || n > ColorLUT::kMaxDimension) {
        return {};
    }
    return {static_cast<int>(n), 0};
}

struct PictureSize {
    int64_t width = 0;
    int64_t height = 0;
    // What one pixel takes once decoded (channels × bytes per sample), as
    // the header says or, where it does not, the most the format can give.
    int64_t decodedBytesPerPixel = 4;
};

uint32_t be16(ByteView b, size_t at) { return static_cast<uint32_t>(b[at] << 8 | b[at + 1]); }
uint32_t be32(ByteView b, size_t at) { return be16(b, at) << 16 | be16(b, at + 2); }
uint32_t le16(ByteView b, size_t at) { return static_cast<uint32_t>(b[at] | b[at + 1] << 8); }
uint32_t le24(ByteView b, size_t at) { return le16(b, at) | static_cast<uint32_t>(b[at + 2]) << 16; }
uint32_t le32(ByteView b, size_t at) { return le16(b, at) | le16(b, at + 2) << 16; }

std::optional<PictureSize> pngSize(ByteView b) {
    static constexpr uint8_t kSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (b.size() < 24 || !std::equal(std::begin(kSignature), std::end(kSignature), b.begin()) ||
        b[12] != 'I' || b[13] != 'H' || b[14] != 'D' || b[15] != 'R') {
        return std::nullopt;
    }
    // Bit depth and colour type follow the size; a palette decodes to BGR
    // or BGRA, so it counts as four 8-bit channels.
    const int64_t bytesPerSample = b.size() > 24 && b[24] == 16 ? 2 : 1;
    int64_t channels = 4;
    if (b.size() > 25) {
        switch (b[25]) {
            case 0: channels = 1; break;
            case 2: channels = 3; break;
            case 4: channels = 2; break;
            default: break;
        }
    }
    return PictureSize{be32(b, 16), be32(b, 20), channels * bytesPerSample};
}

std::optional<PictureSize> jpegSize(ByteView b) {
    if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8) return std::nullopt;
    size_t i = 2;
    while (i + 4 <= b.size()) {
        if (b[i] != 0xFF) return std::nullopt;
        const uint8_t marker = b[i + 1];
        if (marker == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
            i += 2;
            continue;
        }
        const size_t length = be16(b, i + 2);
        if (length < 2) return std::nullopt;
        const bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 &&
                                  marker != 0xC8 && marker != 0xCC;
        if (startOfFrame) {
            if (i + 9 > b.size() || length < 7) return std::nullopt;
            return PictureSize{be16(b, i + 7), be16(b, i + 5)};
        }
        if (marker == 0xDA || marker == 0xD9) return std::nullopt;  // scan before any frame
        i += 2 + length;
    }
    return std::nullopt;
}

std::optional<PictureSize> bmpSize(ByteView b) {
    if (b.size() < 26 || b[0] != 'B' || b[1] != 'M') return std::nullopt;
    const uint32_t headerSize = le32(b, 14);
    if (headerSize == 12) return PictureSize{le16(b, 18), le16(b, 20)};  // OS/2 core header
    const auto width = static_cast<int32_t>(le32(b, 18));
    const auto height = static_cast<int32_t>(le32(b, 22));  // negative: rows top-down
    return PictureSize{std::abs(int64_t{width}), std::abs(int64_t{height})};
}

std::optional<PictureSize> webpSize(ByteView b) {
    if (b.size() < 30 || std::memcmp(b.data(), "RIFF", 4) != 0 ||
        std::memcmp(b.data() + 8, "WEBP", 4) != 0) {
        return std::nullopt;
    }
    const uint8_t* chunk = b.data() + 12;
    if (std::memcmp(chunk, "VP8X", 4) == 0) {
        return PictureSize{int64_t{le24(b, 24)} + 1, int64_t{le24(b, 27)} + 1};
    }
    if (std::memcmp(chunk, "VP8L", 4) == 0 && b[20] == 0x2F) {
        const uint32_t bits = le32(b, 21);
        return PictureSize{int64_t{bits & 0x3FFF} + 1, int64_t{(bits >> 14) & 0x3FFF} + 1};
    }
    if (std::memcmp(chunk, "VP8 ", 4) == 0 && b[23] == 0x9D && b[24] == 0x01 && b[25] == 0x2A) {
        return PictureSize{le16(b, 26) & 0x3FFF, le16(b, 28) & 0x3FFF};
    }
    return std::nullopt;
}

std::optional<PictureSize> tiffSize(ByteView b) {
    if (b.size() < 8) return std::nullopt;
    const bool little = b[0] == 'I' && b[1] == 'I' && b[2] == 42 && b[3] == 0;
    const bool big = b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42;
    if (!little && !big) return std::nullopt;
    auto u16 = [&](size_t at) { return little ? le16(b, at) : be16(b, at); };
    auto u32 = [&](size_t at) { return little ? le32(b, at) : be32(b, at); };
    const size_t ifd = u32(4);
    if (ifd > b.size() || b.size() - ifd < 2) return std::nullopt;
    const size_t count = u16(ifd);
    PictureSize size;
    for (size_t k = 0; k < count; ++k) {
        const size_t entry = ifd + 2 + 12 * k;
        if (entry + 12 > b.size()) return std::nullopt;
        const uint32_t tag = u16(entry);
        const uint32_t type = u16(entry + 2);
        const int64_t value = type == 3 ? u16(entry + 8) : u32(entry + 8);  // SHORT or LONG
        if (tag == 256) size.width = value;
        if (tag == 257) size.height = value;
    }
    if (size.width == 0 || size.height == 0) return std::nullopt;
    size.decodedBytesPerPixel = 4 * 8;  // up to four channels of doubles
    return size;
}

// The picture's size from its header, for the formats we decode. Other
// content is refused unread: without the size up front a tiny file could
// make the decoder allocate gigabytes.
std::optional<PictureSize> pictureSize(ByteView bytes) {
    for (auto sniff : {pngSize, jpegSize, webpSize, tiffSize, bmpSize}) {
        if (auto size = sniff(bytes)) return size;
    }
    return std::nullopt;
}

// The most memory reading this picture takes at once, beside the encoded
// file: the decoded picture with its 8-bit copy, that copy with the RGBA
// pixels, then those with the table (16 bytes an entry).
int64_t loadCostBytes(const PictureSize& size, int64_t encodedBytes) {
    const int64_t pixels = size.width * size.height;
    const int64_t decoded = pixels * size.decodedBytesPerPixel;
    const int64_t eight = pixels * 4;
    const int64_t n = layoutFor(size.width, size.height).dimension;
    const int64_t table = n * n * n * 16;
    return std::max({encodedBytes + decoded + eight, encodedBytes + eight + eight, eight + table});
}

// Any decoded depth and channel count as 8-bit RGBA with premultiplied alpha,
// the form the layout rules read.
std::optional<std::vector<uint8_t>> toPremultipliedRgba(cv::Mat decoded) {
    cv::Mat eight;
    switch (decoded.depth()) {
        case CV_8U:
            eight = decoded;
            break;
        case CV_16U:
            decoded.convertTo(eight, CV_8U, 1.0 / 257.0);
            break;
        case CV_32F:
        case CV_64F:
            decoded.convertTo(eight, CV_8U, 255.0);
            break;
        default:
            decoded.convertTo(eight, CV_8U);
            break;
    }
    // Held no longer than needed: the RGBA pixels come next.
    decoded.release();
    const int channels = eight.channels();
    if (channels < 1 || channels > 4) return std::nullopt;

    std::vector<uint8_t> rgba(static_cast<size_t>(eight.total()) * 4);
    uint8_t* out = rgba.data();
    for (int y = 0; y < eight.rows; ++y) {
        const uint8_t* in = eight.ptr<uint8_t>(y);
        for (int x = 0; x < eight.cols; ++x, in += channels, out += 4) {
            uint32_t r, g, b, a = 255;
            switch (channels) {
                case 1:
                    r = g = b = in[0];
                    break;
                case 2:
                    r = g = b = in[0];
                    a = in[1];
                    break;
                case 3:
                    b = in[0], g = in[1], r = in[2];
                    break;
                default:
                    b = in[0], g = in[1], r = in[2], a = in[3];
                    break;
            }
            out[0] = static_cast<uint8_t>((r * a + 127) / 255);
            out[1] = static_cast<uint8_t>((g * a + 127) / 255);
            out[2] = static_cast<uint8_t>((b * a + 127) / 255);
            out[3] = static_cast<uint8_t>(a);
        }
    }
    return rgba;
}

}  // namespace

int ColorLUT::imageDimension(int64_t width, int64_t height) {
    return layoutFor(width, height).dimension;
}

namespace {

Result<ColorLUT, ColorLUT::LoadError> tableFromPixels(std::span<const uint8_t> rgba, int width, int height,
                                                      std::string id, std::string name) {
    using LoadError = ColorLUT::LoadError;
    const ImageLayout layout = layoutFor(width, height);
    if (layout.dimension == 0) {
        return unexpected(LoadError::unsupportedImageLayout(width, height));
    }
    if (rgba.size() < static_cast<size_t>(width) * static_cast<size_t>(height) * 4) {
        return unexpected(LoadError::unreadable());
    }

    const int n = layout.dimension;
    ColorLUT lut;
    lut.id = std::move(id);
    lut.name = std::move(name);
    lut.dimension = n;
    std::vector<float> entries;
    entries.reserve(static_cast<size_t>(n) * n * n * 4);
    const auto rowBytes = static_cast<size_t>(width) * 4;
    for (int b = 0; b < n; ++b) {
        for (int g = 0; g < n; ++g) {
            for (int r = 0; r < n; ++r) {
                size_t x, y;
                if (layout.tilesPerRow > 0) {
                    x = static_cast<size_t>((b % layout.tilesPerRow) * n + r);
                    y = static_cast<size_t>((b / layout.tilesPerRow) * n + g);
                } else {
                    const size_t index = static_cast<size_t>(r) + static_cast<size_t>(g) * n +
                                         static_cast<size_t>(b) * n * n;
                    x = index % static_cast<size_t>(width);
                    y = index / static_cast<size_t>(width);
                }
                const uint8_t* pixel = rgba.data() + y * rowBytes + x * 4;
                entries.insert(entries.end(), {pixel[0] / 255.0f, pixel[1] / 255.0f, pixel[2] / 255.0f, 1.0f});
            }
        }
    }
    lut.rgba = std::move(entries);
    return lut;
}

Result<ColorLUT, ColorLUT::LoadError> decodePicture(ByteView encoded, std::string id, std::string name,
                                                    const ColorLUT::LoadOptions& options) {
    using LoadError = ColorLUT::LoadError;
    const auto size = pictureSize(encoded);
    if (!size) return unexpected(LoadError::unreadable());
    const int64_t n = layoutFor(size->width, size->height).dimension;
    if (n == 0) return unexpected(LoadError::unsupportedImageLayout(size->width, size->height));
    if (const int64_t table = n * n * n * 16; table > options.maxTableBytes) {
        return unexpected(LoadError::overBudget(table, options.maxTableBytes));
    }
    if (options.stop && options.stop->isSet()) return unexpected(LoadError::stopped());
    if (const int64_t cost = loadCostBytes(*size, static_cast<int64_t>(encoded.size()));
        cost > ColorLUT::kMaxLoadCostBytes) {
        return unexpected(LoadError::tooCostly(cost, ColorLUT::kMaxLoadCostBytes));
    }

    // OpenCV picks its decoder by its own signatures, and its DICOM decoder
    // (a medical format, never a look) asserts and aborts on damaged input:
    // whatever carries the DICOM mark is refused before OpenCV sees it.
    if (encoded.size() >= 132 && std::memcmp(encoded.data() + 128, "DICM", 4) == 0) {
        return unexpected(LoadError::unreadable());
    }

    cv::Mat decoded;
    try {
        // imdecode only reads its input; the Mat header just cannot say so.
        const cv::Mat input(1, static_cast<int>(encoded.size()), CV_8U,
                            const_cast<uint8_t*>(encoded.data()));
        decoded = cv::imdecode(input, cv::IMREAD_UNCHANGED);
    } catch (const std::exception&) {
        return unexpected(LoadError::unreadable());
    }
    if (decoded.empty() || decoded.dims != 2) return unexpected(LoadError::unreadable());

    std::optional<std::vector<uint8_t>> rgba;
    const int width = decoded.cols;
    const int height = decoded.rows;
    try {
        rgba = toPremultipliedRgba(std::move(decoded));
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        rgba.reset();
    }
    if (!rgba) return unexpected(LoadError::unreadable());
    return tableFromPixels(*rgba, width, height, std::move(id), std::move(name));
}

}  // namespace

Result<ColorLUT, ColorLUT::LoadError> ColorLUT::readImageFile(const std::string& path) {
    return readImageFile(path, LoadOptions{});
}

Result<ColorLUT, ColorLUT::LoadError> ColorLUT::readImageFile(const std::string& path, const LoadOptions& options) {
    return lutfile::withinMemory([&]() -> Result<ColorLUT, LoadError> {
        const auto bytes = lutfile::readWholeFile(path, kMaxImageFileBytes);
        if (!bytes) return unexpected(bytes.error());
        return decodePicture(*bytes, path, lutfile::nameOf(path), options);
    });
}

Result<ColorLUT, ColorLUT::LoadError> ColorLUT::decodeImage(ByteView encoded, std::string id,
                                                            std::string name) {
    return decodeImage(encoded, std::move(id), std::move(name), LoadOptions{});
}

Result<ColorLUT, ColorLUT::LoadError> ColorLUT::decodeImage(ByteView encoded, std::string id, std::string name,
                                                            const LoadOptions& options) {
    return lutfile::withinMemory([&]() -> Result<ColorLUT, LoadError> {
        return decodePicture(encoded, std::move(id), std::move(name), options);
    });
}

Result<ColorLUT, ColorLUT::LoadError> ColorLUT::parseImage(std::span<const uint8_t> rgba, int width,
                                                           int height, std::string id, std::string name) {
    return lutfile::withinMemory([&]() -> Result<ColorLUT, LoadError> {
        return tableFromPixels(rgba, width, height, std::move(id), std::move(name));
    });
}

}  // namespace hollowkit
