// Writes the capture frame target's seeds into the folder given: Motion JPEG
// pictures of every chroma subsampling the decoder reads, pictures the
// converter refuses for what they are (CMYK, a size other than the one
// asked), damaged ones that decode with a warning (cut short, stray bytes
// before the end, one whose last row equals the decoder's first mark so
// the second decoding runs), and NV12 and YUYV pictures at the edges of
// their stride and length checks. Each file is the target's five control
// bytes and the picture.
//
//   build/fuzz/fuzz/capture_frame_seeds fuzz/corpus/capture_frame

#include <turbojpeg.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "seed_folder.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kNv12 = 0;
constexpr uint8_t kYuyv = 1;
constexpr uint8_t kMjpeg = 2;
constexpr uint8_t kUnknown = 3;
constexpr uint8_t kSizeFromJpeg = 0x80;

std::filesystem::path folder;

void write(const std::string& name, uint8_t control, int width, int height, int stride, const Bytes& picture) {
    std::ofstream out(folder / name, std::ios::binary);
    const char head[5] = {static_cast<char>(control), static_cast<char>(width), static_cast<char>(height),
                          static_cast<char>(stride & 0xFF), static_cast<char>(stride >> 8)};
    out.write(head, 5);
    out.write(reinterpret_cast<const char*>(picture.data()), static_cast<std::streamsize>(picture.size()));
}

// A JPEG of `width` × `height` whose pixel (x, y) is `shade(x, y)` on every channel
// but the first, which ramps, so chroma is not flat.
Bytes jpeg(int width, int height, int subsampling, int pixelFormat = TJPF_RGB, int flags = 0, int flatValue = -1) {
    const int channels = tjPixelSize[pixelFormat];
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * channels);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &pixels[(static_cast<size_t>(y) * width + x) * channels];
            for (int c = 0; c < channels; ++c) {
                p[c] = flatValue >= 0 ? static_cast<unsigned char>(flatValue)
                                      : static_cast<unsigned char>((x * 37 + y * 11 + c * 71) & 0xFF);
            }
        }
    }
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (tjCompress2(handle, pixels.data(), width, 0, height, pixelFormat, &out, &size, subsampling,
                    flatValue >= 0 ? 100 : 85, flags) != 0) {
        std::fprintf(stderr, "tjCompress2: %s\n", tjGetErrorStr2(handle));
        std::exit(1);
    }
    Bytes encoded(out, out + size);
    tjFree(out);
    tjDestroy(handle);
    return encoded;
}

Bytes ramp(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    const auto chosen = seedFolder(argc, argv);
    if (!chosen) return 2;
    folder = *chosen;

    write("mjpeg_j440", kMjpeg | kSizeFromJpeg, 0, 0, 0, jpeg(16, 16, TJSAMP_440));
    write("mjpeg_j411_odd", kMjpeg | kSizeFromJpeg, 0, 0, 0, jpeg(35, 9, TJSAMP_411));
    write("mjpeg_progressive_j420", kMjpeg | kSizeFromJpeg, 0, 0, 0,
          jpeg(24, 16, TJSAMP_420, TJPF_RGB, TJFLAG_PROGRESSIVE));
    write("mjpeg_cmyk", kMjpeg | kSizeFromJpeg, 0, 0, 0, jpeg(16, 16, TJSAMP_444, TJPF_CMYK));
    // The size asked is not the picture's.
    write("mjpeg_other_size", kMjpeg, 8, 8, 0, jpeg(16, 16, TJSAMP_420));

    // Cut short: the decoder warns and fills the missing rows.
    Bytes cut = jpeg(32, 32, TJSAMP_420);
    cut.resize(cut.size() * 2 / 3);
    write("mjpeg_cut_short", kMjpeg | kSizeFromJpeg, 0, 0, 0, cut);

    // A flat picture of luma 0x5A (the first mark) with stray bytes before
    // its end marker: decoded whole, but with a warning, so the mark cannot
    // tell and the picture is decoded again with the second mark.
    Bytes marked = jpeg(16, 16, TJSAMP_420, TJPF_RGB, 0, 0x5A);
    marked.insert(marked.end() - 2, {0x00, 0x11, 0x22, 0x33});
    write("mjpeg_warning_last_row_marked", kMjpeg | kSizeFromJpeg, 0, 0, 0, marked);
    Bytes stray = jpeg(16, 16, TJSAMP_422);
    stray.insert(stray.end() - 2, {0x44, 0x55});
    write("mjpeg_warning_stray_bytes", kMjpeg | kSizeFromJpeg, 0, 0, 0, stray);

    // NV12 at the edges of its checks: one byte short, a stride below the
    // width, a stride wider than the row.
    write("nv12_one_byte_short", kNv12, 4, 4, 0, ramp(4 * 4 + 4 * 2 - 1));
    write("nv12_stride_below_width", kNv12, 8, 2, 6, ramp(64));
    write("nv12_wide_stride", kNv12, 6, 5, 40, ramp(40 * 5 + 40 * 3));
    // YUYV: an odd width, a stride below the row, a padded stride, one row short.
    write("yuyv_odd_width", kYuyv, 5, 2, 0, ramp(64));
    write("yuyv_stride_below_row", kYuyv, 4, 2, 6, ramp(64));
    write("yuyv_padded_stride", kYuyv, 4, 3, 12, ramp(12 * 3));
    write("yuyv_one_row_short", kYuyv, 8, 4, 0, ramp(16 * 3));
    write("unknown_format", kUnknown, 4, 4, 0, ramp(32));
    return 0;
}
