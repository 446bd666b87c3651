#include "hollowkit/recording/x11/x11_screen_capture.h"

#include <time.h>
#include <unistd.h>

#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "hollowkit/base/cpu_count.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/thread_name.h"
#include "hollowkit/media/ffmpeg_handles.h"
#include "hollowkit/media/pixel_buffer_pool.h"
#include "hollowkit/recording/bgrx_to_nv12.h"
#include "hollowkit/recording/x11/x11_window_exclusion.h"
#include "hollowkit/x11/xcb_connection.h"
#include "hollowkit/x11/shared_segment.h"

namespace hollowkit {
namespace {

constexpr std::string_view kCaptureThreadLabel = "HollowKit.ScreenCapture";
constexpr const char* kConnectionLost = "The display connection was lost";
constexpr const char* kDisplayGone = "That display is no longer connected";
// Above this many output pixels the conversion is shared between threads.
constexpr int64_t kThreadedConversionPixels = 2560LL * 1440;

using x11::ask;
using x11::Reply;

// Memory owned elsewhere as a reference-counted FFmpeg buffer, so swscale's
// frame interface takes it without copying. The owner keeps it alive for
// the call.
AVBufferRef* borrowBuffer(uint8_t* data, size_t size) {
    return av_buffer_create(data, size, [](void*, uint8_t*) {}, nullptr, 0);
}

bool hasExtension(xcb_connection_t* c, xcb_extension_t* extension) {
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(c, extension);
    return data != nullptr && data->present != 0;
}

// The bits per pixel of the server's images at `depth`; 0 when unknown.
int bitsPerPixel(xcb_connection_t* c, uint8_t depth) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem > 0; xcb_format_next(&it)) {
        if (it.data->depth == depth) return it.data->bits_per_pixel;
    }
    return 0;
}

class X11Capture final : public ScreenCapture {
public:
    X11Capture(ScreenCaptureRequest request, ScreenCaptureHandlers handlers)
        : request_(std::move(request)),
          handlers_(std::move(handlers)),
          // Idle pictures kept for reuse: as many as the consumer may hold.
          pool_(PixelFormat::nv12, request_.outputWidth, request_.outputHeight,
                static_cast<size_t>(std::max(1, request_.queueDepth))) {}

    ~X11Capture() override {
        stopping_.store(true);
        if (thread_.joinable()) thread_.join();
        // No sound chunk arrives once the capture is gone.
        systemSound_.reset();
    }

    X11Capture(const X11Capture&) = delete;
    X11Capture& operator=(const X11Capture&) = delete;

    Result<void, std::string> open(const X11ScreenCaptureBackend::Options& options) {
        auto connection = x11::openConnection(options.displayName);
        if (!connection) return unexpected(connection.error());
        connection_ = std::move(connection.value());
        xcb_connection_t* c = connection_.get();

        const DisplayInfo& display = request_.display;
        if (display.width <= 0 || display.height <= 0 || display.x < 0 || display.y < 0 ||
            display.x + display.width > connection_.screenWidth ||
            display.y + display.height > connection_.screenHeight) {
            return unexpected(std::string(kDisplayGone));
        }
        if (bitsPerPixel(c, connection_.rootDepth) != 32 || connection_.rootDepth < 24 ||
            xcb_get_setup(c)->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
            return unexpected(std::string("X11: the display's pixel format cannot be recorded"));
        }
        stride_ = static_cast<size_t>(display.width) * 4;
        const size_t size = stride_ * static_cast<size_t>(display.height);

        if (options.useSharedMemory && hasExtension(c, &xcb_shm_id)) {
            auto attached = segment_.attach(c, size);
            if (!attached) {
                PocketLog::logf("Screen capture without shared memory: %s", attached.error().c_str());
            } else {
                useSharedMemory_ = true;
            }
        }
        if (!useSharedMemory_) copyBuffer_.resize(size);

        if (request_.showsCursor && hasExtension(c, &xcb_xfixes_id)) {
            // XFixes answers cursor requests only after the version is agreed.
            auto version = ask(xcb_xfixes_query_version_reply, c, xcb_xfixes_query_version(c, 4, 0));
            drawsCursor_ = version != nullptr;
        }

        if (request_.excludesCurrentProcessWindows) {
            x11::WindowExclusion::Setup setup;
            setup.display = x11::PixelRect{display.x, display.y, display.width, display.height};
            setup.ownerPid = static_cast<uint32_t>(::getpid());
            setup.useComposite = options.useComposite;
            setup.useSharedMemory = useSharedMemory_;
            setup.clock = options.clock;
            exclusion_ = std::make_unique<x11::WindowExclusion>(connection_, setup);
        }

        beforeGrab_ = options.beforeGrab;
        if (auto made = makeScaler(options.conversionThreads); !made) return made;
        // The first picture shows the grab works before start reports success.
        if (auto grabbed = grab(); !grabbed) return unexpected(grabbed.error());

        if (request_.capturesAudio) {
            if (options.systemSound == nullptr) {
                return unexpected(std::string("The computer's sound cannot be recorded here"));
            }
            AudioCaptureHandlers sound;
            sound.onChunk = [onAudio = handlers_.onAudio](AudioChunk chunk) {
                if (onAudio) onAudio(std::move(chunk));
            };
            sound.onFailure = [](const MicrophoneError& error) {
                PocketLog::logf("Screen recording lost the computer's sound: %s", error.detail.c_str());
            };
            auto opened = options.systemSound->open(options.systemSoundSource, std::move(sound));
            if (!opened) {
                return unexpected("Could not record the computer's sound: " + opened.error().detail);
            }
            systemSound_ = std::move(opened.value());
        }
        return {};
    }

    void run() {
        thread_ = std::thread([this] { loop(); });
    }

private:
    Result<void, std::string> makeScaler(int threads) {
        sameSize_ = request_.outputWidth == request_.display.width &&
                    request_.outputHeight == request_.display.height;
        // Without scaling our own converter is about twice as fast as swscale.
        if (sameSize_) return {};
        const int64_t pixels = static_cast<int64_t>(request_.outputWidth) * request_.outputHeight;
        if (threads <= 0) threads = pixels > kThreadedConversionPixels ? std::min(2, usableCpuCount()) : 1;
        SwsContext* context = sws_alloc_context();
        if (context == nullptr) return unexpected(std::string("Out of memory"));
        scaler_.reset(context);
        av_opt_set_int(context, "srcw", request_.display.width, 0);
        av_opt_set_int(context, "srch", request_.display.height, 0);
        av_opt_set_int(context, "src_format", AV_PIX_FMT_BGR0, 0);
        av_opt_set_int(context, "dstw", request_.outputWidth, 0);
        av_opt_set_int(context, "dsth", request_.outputHeight, 0);
        av_opt_set_int(context, "dst_format", AV_PIX_FMT_NV12, 0);
        av_opt_set_int(context, "sws_flags", SWS_BILINEAR, 0);
        av_opt_set_int(context, "threads", threads, 0);
        if (sws_init_context(context, nullptr, nullptr) < 0) {
            return unexpected(std::string("Could not set up the picture conversion"));
        }
        // The screen is full-range sRGB; the movie is limited-range BT.709.
        const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(context, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
        source_ = ffmpeg::allocFrame();
        target_ = ffmpeg::allocFrame();
        if (!source_ || !target_) return unexpected(std::string("Out of memory"));
        return {};
    }

    uint8_t* pixels() { return useSharedMemory_ ? segment_.data() : copyBuffer_.data(); }

    // Grabs the display's rectangle with the pointer drawn in and our own
    // windows left out.
    Result<void, std::string> grab() {
        xcb_connection_t* c = connection_.get();
        if (exclusion_) exclusion_->prepare();
        if (beforeGrab_) beforeGrab_();
        const DisplayInfo& d = request_.display;
        const auto x = static_cast<int16_t>(d.x);
        const auto y = static_cast<int16_t>(d.y);
        const auto w = static_cast<uint16_t>(d.width);
        const auto h = static_cast<uint16_t>(d.height);
        // Both requests go out before either reply is awaited.
        xcb_xfixes_get_cursor_image_cookie_t cursorCookie{};
        if (drawsCursor_) cursorCookie = xcb_xfixes_get_cursor_image(c);
        bool grabbed = false;
        if (useSharedMemory_) {
            auto cookie = xcb_shm_get_image(c, connection_.root, x, y, w, h, ~0U, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                            segment_.segment(), 0);
            grabbed = ask(xcb_shm_get_image_reply, c, cookie) != nullptr;
        } else {
            auto cookie = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, connection_.root, x, y, w, h, ~0U);
            auto image = ask(xcb_get_image_reply, c, cookie);
            if (image && static_cast<size_t>(xcb_get_image_data_length(image.get())) >= copyBuffer_.size()) {
                std::memcpy(copyBuffer_.data(), xcb_get_image_data(image.get()), copyBuffer_.size());
                grabbed = true;
            }
        }
        Reply<xcb_xfixes_get_cursor_image_reply_t> cursor;
        if (drawsCursor_) cursor = ask(xcb_xfixes_get_cursor_image_reply, c, cursorCookie);
        if (!grabbed) {
            return unexpected(std::string(connection_.broken() ? kConnectionLost : kDisplayGone));
        }
        if (exclusion_) exclusion_->apply(pixels(), stride_);
        if (cursor) drawCursor(*cursor);
        return {};
    }

    void drawCursor(const xcb_xfixes_get_cursor_image_reply_t& cursor) {
        const auto* image = xcb_xfixes_get_cursor_image_cursor_image(&cursor);
        const int length = xcb_xfixes_get_cursor_image_cursor_image_length(&cursor);
        if (image == nullptr || length < cursor.width * cursor.height) return;
        const DisplayInfo& d = request_.display;
        const int left = cursor.x - cursor.xhot - d.x;
        const int top = cursor.y - cursor.yhot - d.y;
        uint8_t* base = pixels();
        for (int row = 0; row < cursor.height; ++row) {
            const int sy = top + row;
            if (sy < 0 || sy >= d.height) continue;
            uint8_t* line = base + static_cast<size_t>(sy) * stride_;
            for (int col = 0; col < cursor.width; ++col) {
                const int sx = left + col;
                if (sx < 0 || sx >= d.width) continue;
                // Premultiplied ARGB over the screen.
                const uint32_t argb = image[row * cursor.width + col];
                const uint32_t alpha = argb >> 24;
                if (alpha == 0) continue;
                uint8_t* p = line + static_cast<size_t>(sx) * 4;
                const uint32_t keep = 255 - alpha;
                p[0] = static_cast<uint8_t>(std::min<uint32_t>(255, (argb & 0xFF) + (p[0] * keep + 127) / 255));
                p[1] = static_cast<uint8_t>(
                    std::min<uint32_t>(255, ((argb >> 8) & 0xFF) + (p[1] * keep + 127) / 255));
                p[2] = static_cast<uint8_t>(
                    std::min<uint32_t>(255, ((argb >> 16) & 0xFF) + (p[2] * keep + 127) / 255));
            }
        }
    }

    // The grabbed picture at the output size as NV12; null when conversion
    // failed or the consumer already holds as many pictures as the queue
    // depth allows (a writer that fell behind): that grab is dropped.
    VideoFrame convert(TimePoint pts) {
        if (pool_.leasedCount() >= static_cast<size_t>(std::max(1, request_.queueDepth))) return {};
        WritableVideoFrame out = pool_.acquire();
        if (out.isNull()) return {};
        const DisplayInfo& d = request_.display;
        uint8_t* in = pixels();
        if (sameSize_) {
            convertBgrxToNv12(in, stride_, d.width, d.height, out.planeData(0), out.stride(0), out.planeData(1),
                              out.stride(1));
            return std::move(out).freeze(pts);
        }
        const size_t inSize = stride_ * static_cast<size_t>(d.height);
        AVFrame* src = source_.get();
        AVFrame* dst = target_.get();
        av_frame_unref(src);
        av_frame_unref(dst);
        src->format = AV_PIX_FMT_BGR0;
        src->width = d.width;
        src->height = d.height;
        src->data[0] = in;
        src->linesize[0] = static_cast<int>(stride_);
        src->buf[0] = borrowBuffer(in, inSize);
        dst->format = AV_PIX_FMT_NV12;
        dst->width = request_.outputWidth;
        dst->height = request_.outputHeight;
        const size_t lumaSize = out.stride(0) * static_cast<size_t>(request_.outputHeight);
        const size_t chromaSize = out.stride(1) * static_cast<size_t>((request_.outputHeight + 1) / 2);
        dst->data[0] = out.planeData(0);
        dst->data[1] = out.planeData(1);
        dst->linesize[0] = static_cast<int>(out.stride(0));
        dst->linesize[1] = static_cast<int>(out.stride(1));
        dst->buf[0] = borrowBuffer(out.planeData(0), lumaSize);
        dst->buf[1] = borrowBuffer(out.planeData(1), chromaSize);
        if (src->buf[0] == nullptr || dst->buf[0] == nullptr || dst->buf[1] == nullptr) return {};
        const int rc = sws_scale_frame(scaler_.get(), dst, src);
        av_frame_unref(src);
        av_frame_unref(dst);
        if (rc < 0) return {};
        return std::move(out).freeze(pts);
    }

    void loop() {
        enterLibraryThread(kCaptureThreadLabel);
        const auto interval = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::max<Duration>(request_.minimumFrameInterval, std::chrono::milliseconds(1)));
        TimePoint next = SteadyClock::now();
        while (!stopping_.load()) {
            const TimePoint pts = SteadyClock::now();
            if (auto grabbed = grab(); !grabbed) {
                if (handlers_.onStopped) handlers_.onStopped(grabbed.error());
                return;
            }
            if (VideoFrame frame = convert(pts); !frame.isNull() && handlers_.onFrame) {
                handlers_.onFrame(std::move(frame), ScreenFrameStatus::complete);
            }
            // The next slot on the fixed grid; slots already missed are
            // skipped, so a slow grab lowers the rate instead of bunching.
            next += interval;
            const TimePoint now = SteadyClock::now();
            if (next < now) next += ((now - next) / interval + 1) * interval;
            const auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(next.time_since_epoch());
            timespec wake{};
            wake.tv_sec = static_cast<time_t>(since.count() / 1'000'000'000);
            wake.tv_nsec = static_cast<long>(since.count() % 1'000'000'000);
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
            }
        }
    }

    const ScreenCaptureRequest request_;
    const ScreenCaptureHandlers handlers_;

    // Set up by open(), then used by the capture thread only.
    x11::Connection connection_;
    x11::SharedSegment segment_;
    // Declared after the connection: it is gone before the connection.
    std::unique_ptr<x11::WindowExclusion> exclusion_;
    bool useSharedMemory_ = false;
    std::vector<uint8_t> copyBuffer_;
    size_t stride_ = 0;
    bool drawsCursor_ = false;
    bool sameSize_ = false;
    std::function<void()> beforeGrab_;
    ffmpeg::SwsContextPtr scaler_;
    ffmpeg::FramePtr source_;
    ffmpeg::FramePtr target_;
    PixelBufferPool pool_;

    std::unique_ptr<AudioCapture> systemSound_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace

Result<std::unique_ptr<ScreenCapture>, std::string> X11ScreenCaptureBackend::start(
    const ScreenCaptureRequest& request, ScreenCaptureHandlers handlers) {
    if (request.outputWidth < 2 || request.outputHeight < 2) {
        return unexpected(std::string("Invalid output size"));
    }
    auto capture = std::make_unique<X11Capture>(request, std::move(handlers));
    if (auto opened = capture->open(options_); !opened) return unexpected(opened.error());
    capture->run();
    return std::unique_ptr<ScreenCapture>(std::move(capture));
}

}  // namespace hollowkit
