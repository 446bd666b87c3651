#include "hollowkit/testing/still_image_probe.h"

#include <libheif/heif.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace hollowkit {
namespace {

void setError(std::string* error, std::string text) {
    if (error != nullptr) *error = std::move(text);
}

}  // namespace

std::array<int, 3> RgbImage::at(int x, int y) const {
    const size_t offset = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
    return {rgb[offset], rgb[offset + 1], rgb[offset + 2]};
}

std::array<double, 3> RgbImage::meanAround(int x, int y, int radius) const {
    std::array<double, 3> sum{};
    int count = 0;
    for (int yy = std::max(0, y - radius); yy <= std::min(height - 1, y + radius); ++yy) {
        for (int xx = std::max(0, x - radius); xx <= std::min(width - 1, x + radius); ++xx) {
            const auto pixel = at(xx, yy);
            for (int c = 0; c < 3; ++c) sum[c] += pixel[c];
            ++count;
        }
    }
    for (double& value : sum) value /= std::max(count, 1);
    return sum;
}

std::optional<RgbImage> decodeHeif(ByteView bytes, std::string* error) {
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(),
                                                                        heif_context_free);
    heif_error result =
        heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(), nullptr);
    if (result.code != heif_error_Ok) {
        setError(error, result.message);
        return std::nullopt;
    }
    heif_image_handle* rawHandle = nullptr;
    result = heif_context_get_primary_image_handle(context.get(), &rawHandle);
    std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> handle(
        rawHandle, heif_image_handle_release);
    if (result.code != heif_error_Ok) {
        setError(error, result.message);
        return std::nullopt;
    }
    heif_image* rawImage = nullptr;
    result =
        heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr);
    std::unique_ptr<heif_image, decltype(&heif_image_release)> image(rawImage, heif_image_release);
    if (result.code != heif_error_Ok) {
        setError(error, result.message);
        return std::nullopt;
    }
    RgbImage out;
    out.width = heif_image_get_width(image.get(), heif_channel_interleaved);
    out.height = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr || out.width <= 0 || out.height <= 0) {
        setError(error, "no picture");
        return std::nullopt;
    }
    const size_t rowBytes = static_cast<size_t>(out.width) * 3;
    out.rgb.resize(rowBytes * static_cast<size_t>(out.height));
    for (int y = 0; y < out.height; ++y) {
        std::memcpy(out.rgb.data() + rowBytes * static_cast<size_t>(y),
                    plane + static_cast<size_t>(stride) * y, rowBytes);
    }
    return out;
}

std::optional<RgbImage> decodeHeifFile(const std::filesystem::path& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        setError(error, "cannot read " + path.string());
        return std::nullopt;
    }
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return decodeHeif(bytes, error);
}

std::optional<RgbImage> decodeJpeg(ByteView bytes, std::string* error) {
    std::unique_ptr<void, decltype(&tjDestroy)> decompressor(tjInitDecompress(), tjDestroy);
    if (!decompressor) {
        setError(error, "turbojpeg unavailable");
        return std::nullopt;
    }
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
    auto* data = const_cast<unsigned char*>(bytes.data());
    const auto size = static_cast<unsigned long>(bytes.size());
    if (tjDecompressHeader3(decompressor.get(), data, size, &width, &height, &subsampling, &colorspace) !=
        0) {
        setError(error, tjGetErrorStr2(decompressor.get()));
        return std::nullopt;
    }
    RgbImage out;
    out.width = width;
    out.height = height;
    out.rgb.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    if (tjDecompress2(decompressor.get(), data, size, out.rgb.data(), width, width * 3, height, TJPF_RGB,
                      0) != 0) {
        setError(error, tjGetErrorStr2(decompressor.get()));
        return std::nullopt;
    }
    return out;
}

}  // namespace hollowkit
