#include "hollowkit/recording/screen_composer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include "hollowkit/base/cpu_count.h"
#include "hollowkit/base/memory_settings.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/media/ffmpeg_handles.h"
#include "hollowkit/recording/bubble_compositor.h"
#include "hollowkit/recording/canvas_feed.h"
#include "hollowkit/recording/encoder_threads.h"
#include "hollowkit/recording/movie_reader.h"
#include "hollowkit/recording/movie_temporaries.h"
#include "hollowkit/recording/picture_feed.h"
#include "hollowkit/recording/x265_params.h"

namespace hollowkit {

namespace {

constexpr std::string_view kQueueLabel = "HollowKit.ScreenComposer";
constexpr AVRational kFrameTimeBase{1, ScreenComposer::kFrameRate};
// Sound is written this far ahead of the pictures, so the muxer interleaves
// without holding much of either.
constexpr double kAudioLeadSeconds = 0.5;
// Progress below this share is the pictures; the rest is the file's final
// rewrite that puts its index in front.
constexpr float kFramesShare = 0.97F;
constexpr float kProgressStep = 0.01F;
// A longer screen recording is refused rather than looped over for days.
constexpr double kMaxDurationSeconds = 24.0 * 3600.0;
// Frames each stage may have ready for the next: decoded pictures waiting to
// be composed, composed frames waiting for the encoder. Enough to ride out a
// slow frame; each 4K frame held costs 12 MB.
constexpr size_t kPictureDepth = 3;
constexpr size_t kCanvasDepth = 2;

struct DictionaryDeleter {
    void operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
};

std::string fileLabel(const std::filesystem::path& file) {
    return file.filename().string();
}

// One movie's first sound track, copied packet by packet into the output.
struct AudioSource {
    ffmpeg::FormatContextPtr format;
    ffmpeg::PacketPtr packet;
    AVStream* input = nullptr;
    AVStream* output = nullptr;
    bool holding = false;  // `packet` holds one read but not yet written
    bool ended = false;
};

// The first sound track of `file`, or none when it has no sound. Fails only
// when the file cannot be read.
Result<std::optional<AudioSource>, std::string> openAudio(const std::filesystem::path& file) {
    AVFormatContext* raw = nullptr;
    const std::string url = "file:" + file.string();
    int rc = avformat_open_input(&raw, url.c_str(), nullptr, nullptr);
    if (rc < 0) return unexpected(ffmpeg::errorString(rc));
    AudioSource source;
    source.format.reset(raw);
    if ((rc = avformat_find_stream_info(raw, nullptr)) < 0) return unexpected(ffmpeg::errorString(rc));
    const int index = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) return std::optional<AudioSource>{};
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        if (static_cast<int>(i) != index) raw->streams[i]->discard = AVDISCARD_ALL;
    }
    source.input = raw->streams[index];
    source.packet = ffmpeg::allocPacket();
    if (!source.packet) return unexpected(std::string("Out of memory"));
    return std::optional<AudioSource>(std::move(source));
}

// One composition, on the calling thread.
class Export {
public:
    Export(const ComposeRequest& request, const ScreenComposerOptions& options,
           const ScreenComposer::Progress& progress, const StopFlag* stop)
        : request_(request), options_(options), progress_(progress), stop_(stop) {}

    ~Export() {
        // Anything but a finished export leaves no temporary file behind.
        if (format_ && format_->pb != nullptr) avio_closep(&format_->pb);
        if (!temporary_.empty()) {
            std::error_code ignored;
            std::filesystem::remove(temporary_, ignored);
        }
    }

    Export(const Export&) = delete;
    Export& operator=(const Export&) = delete;

    Result<std::filesystem::path, ComposeError> run();

private:
    Result<void, ComposeError> openInputs();
    Result<void, ComposeError> openOutput();
    Result<void, ComposeError> openEncoder();
    Result<void, ComposeError> composeFrames();
    Result<void, ComposeError> writeVideoPackets();
    Result<void, ComposeError> pumpAudio(AudioSource& source, double untilSeconds);
    Result<void, ComposeError> finishFile();
    ComposeError writeFailure(int averror) const {
        return ComposeError::exportFailed("could not write the movie (" + ffmpeg::errorString(averror) + ")");
    }
    void report(float value) {
        if (!progress_ || value < reported_ + kProgressStep) return;
        reported_ = value;
        progress_(value);
    }

    const ComposeRequest& request_;
    const ScreenComposerOptions& options_;
    const ScreenComposer::Progress& progress_;
    const StopFlag* stop_;
    float reported_ = -1.0F;

    std::unique_ptr<MovieReader> screen_;
    std::unique_ptr<MovieReader> camera_;
    std::vector<AudioSource> audio_;  // the camera's sound first, then the screen's
    double duration_ = 0;
    int width_ = 0;
    int height_ = 0;
    int cpus_ = 1;

    std::filesystem::path temporary_;
    UniqueFd temporaryLock_;  // held until the temporary is renamed or removed
    ffmpeg::FormatContextPtr format_;
    ffmpeg::CodecContextPtr encoder_;
    AVStream* videoStream_ = nullptr;
    ffmpeg::PacketPtr packet_;
    bool headerWritten_ = false;
};

Result<void, ComposeError> Export::openInputs() {
    auto screen = MovieReader::open(request_.screen);
    if (!screen) {
        return unexpected(ComposeError::exportFailed("could not read " + fileLabel(request_.screen) + " (" +
                                                     screen.error() + ")"));
    }
    screen_ = std::move(screen.value());
    // Without a picture of some size there is nothing to draw, and the
    // output size would divide by zero.
    if (!screen_->hasVideo() || screen_->width() <= 0 || screen_->height() <= 0) {
        return unexpected(ComposeError::missingScreenVideo());
    }
    duration_ = screen_->duration();
    if (!(duration_ > 0)) return unexpected(ComposeError::missingScreenVideo());
    if (duration_ > kMaxDurationSeconds) {
        return unexpected(ComposeError::exportFailed("the screen recording is too long"));
    }
    std::tie(width_, height_) = ScreenComposer::renderSize(screen_->width(), screen_->height());

    auto camera = MovieReader::open(request_.camera);
    if (!camera) {
        return unexpected(ComposeError::exportFailed("could not read " + fileLabel(request_.camera) + " (" +
                                                     camera.error() + ")"));
    }
    // A camera movie without a picture still gives its sound.
    if (camera.value()->hasVideo()) camera_ = std::move(camera.value());

    for (const auto* file : {&request_.camera, &request_.screen}) {
        auto source = openAudio(*file);
        if (!source) {
            return unexpected(
                ComposeError::exportFailed("could not read " + fileLabel(*file) + " (" + source.error() + ")"));
        }
        if (source.value()) audio_.push_back(std::move(*source.value()));
    }
    return {};
}

Result<void, ComposeError> Export::openEncoder() {
    const bool hevc = request_.codec == VideoCodec::hevc;
    const char* name = hevc ? "libx265" : "libx264";
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (codec == nullptr) {
        PocketLog::logf("Screen composer: the %s encoder is missing", name);
        return unexpected(ComposeError::exportFailed("export is not available"));
    }
    encoder_.reset(avcodec_alloc_context3(codec));
    if (!encoder_) return unexpected(ComposeError::exportFailed("out of memory"));
    AVCodecContext* c = encoder_.get();
    c->width = width_;
    c->height = height_;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = kFrameTimeBase;
    c->framerate = AVRational{ScreenComposer::kFrameRate, 1};
    c->gop_size = ScreenComposer::kFrameRate * 2;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    c->colorspace = AVCOL_SPC_BT709;
    c->color_range = AVCOL_RANGE_MPEG;
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    AVDictionary* raw = nullptr;
    av_dict_set(&raw, "preset", hevc ? options_.hevcPreset.c_str() : options_.h264Preset.c_str(), 0);
    av_dict_set_int(&raw, "crf", hevc ? options_.hevcCrf : options_.h264Crf, 0);
    if (hevc) {
        // x265 would size its pool by every CPU of the machine.
        const std::string params =
            "log-level=error:" + std::string(kX265SaoParams) + ":pools=" + std::to_string(cpus_);
        av_dict_set(&raw, "x265-params", params.c_str(), 0);
        // Libavcodec hands its thread count to x265 as the number of frames
        // coded at once (encoder_threads.h).
        c->thread_count = kHevcFrameThreads;
    } else {
        // x264 sizes its frame threads by the CPUs this process may use
        // (one and a half per CPU).
        c->thread_count = options_.threads > 0 ? options_.threads : 0;
    }
    std::unique_ptr<AVDictionary, DictionaryDeleter> owned(raw);
    int rc = avcodec_open2(c, codec, &raw);
    owned.release();
    owned.reset(raw);
    if (rc < 0) {
        PocketLog::logf("Screen composer: %s did not open: %s", name, ffmpeg::errorString(rc).c_str());
        return unexpected(ComposeError::exportFailed("export is not available"));
    }

    packet_ = ffmpeg::allocPacket();
    if (!packet_) return unexpected(ComposeError::exportFailed("out of memory"));
    return {};
}

Result<void, ComposeError> Export::openOutput() {
    temporary_ = ScreenComposer::temporaryPath(request_.output);

    const std::string url = "file:" + temporary_.string();
    AVFormatContext* raw = nullptr;
    int rc = avformat_alloc_output_context2(&raw, nullptr, "mov", url.c_str());
    if (rc < 0 || raw == nullptr) return unexpected(ComposeError::exportFailed("export is not available"));
    format_.reset(raw);

    videoStream_ = avformat_new_stream(raw, nullptr);
    if (videoStream_ == nullptr) return unexpected(ComposeError::exportFailed("out of memory"));
    if ((rc = avcodec_parameters_from_context(videoStream_->codecpar, encoder_.get())) < 0) {
        return unexpected(writeFailure(rc));
    }
    videoStream_->time_base = kFrameTimeBase;
    videoStream_->avg_frame_rate = AVRational{ScreenComposer::kFrameRate, 1};
    videoStream_->codecpar->codec_tag =
        request_.codec == VideoCodec::hevc ? MKTAG('h', 'v', 'c', '1') : MKTAG('a', 'v', 'c', '1');

    for (AudioSource& source : audio_) {
        source.output = avformat_new_stream(raw, nullptr);
        if (source.output == nullptr) return unexpected(ComposeError::exportFailed("out of memory"));
        if ((rc = avcodec_parameters_copy(source.output->codecpar, source.input->codecpar)) < 0) {
            return unexpected(writeFailure(rc));
        }
        source.output->codecpar->codec_tag = 0;  // the QuickTime muxer picks its own
        source.output->time_base = source.input->time_base;
    }

    // Created exclusively and held locked while it is written: one left by
    // a composition that was cut off is replaced, one that another running
    // composition holds is not.
    AVDictionary* rawOptions = nullptr;
    av_dict_set(&rawOptions, "truncate", "0", 0);
    std::unique_ptr<AVDictionary, DictionaryDeleter> ioOptions(rawOptions);
    auto created = MovieTemporaries::createExclusive(temporary_);
    if (!created) {
        temporary_.clear();  // not ours
        return unexpected(ComposeError::exportFailed("could not create the movie (" +
                                                     std::string(std::strerror(created.error())) + ")"));
    }
    temporaryLock_ = std::move(created.value());
    rc = avio_open2(&raw->pb, url.c_str(), AVIO_FLAG_WRITE, nullptr, &rawOptions);
    ioOptions.release();
    ioOptions.reset(rawOptions);
    if (rc < 0) return unexpected(writeFailure(rc));

    // The index goes to the front once the movie is complete; edit lists keep
    // each sound track where it began.
    AVDictionary* rawMux = nullptr;
    av_dict_set(&rawMux, "movflags", "+faststart", 0);
    av_dict_set(&rawMux, "use_editlist", "1", 0);
    std::unique_ptr<AVDictionary, DictionaryDeleter> muxOptions(rawMux);
    rc = avformat_write_header(raw, &rawMux);
    muxOptions.release();
    muxOptions.reset(rawMux);
    if (rc < 0) return unexpected(writeFailure(rc));
    headerWritten_ = true;
    return {};
}

Result<void, ComposeError> Export::writeVideoPackets() {
    for (;;) {
        int rc = avcodec_receive_packet(encoder_.get(), packet_.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return {};
        if (rc < 0) {
            return unexpected(ComposeError::exportFailed("the video could not be encoded (" +
                                                         ffmpeg::errorString(rc) + ")"));
        }
        if (packet_->duration <= 0) packet_->duration = 1;
        packet_->stream_index = videoStream_->index;
        av_packet_rescale_ts(packet_.get(), kFrameTimeBase, videoStream_->time_base);
        rc = av_interleaved_write_frame(format_.get(), packet_.get());
        if (rc < 0) return unexpected(writeFailure(rc));
    }
}

Result<void, ComposeError> Export::pumpAudio(AudioSource& source, double untilSeconds) {
    while (!source.ended) {
        if (!source.holding) {
            const int rc = av_read_frame(source.format.get(), source.packet.get());
            if (rc == AVERROR_EOF) {
                source.ended = true;
                return {};
            }
            if (rc < 0) {
                return unexpected(ComposeError::exportFailed("the sound could not be read (" +
                                                             ffmpeg::errorString(rc) + ")"));
            }
            if (source.packet->stream_index != source.input->index) {
                av_packet_unref(source.packet.get());
                continue;
            }
            source.holding = true;
        }
        AVPacket* packet = source.packet.get();
        const int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        const double at = stamp == AV_NOPTS_VALUE ? 0 : static_cast<double>(stamp) * av_q2d(source.input->time_base);
        if (at >= duration_) {
            // The sound is cut at the end of the screen recording.
            av_packet_unref(packet);
            source.holding = false;
            source.ended = true;
            return {};
        }
        if (at > untilSeconds) return {};
        packet->stream_index = source.output->index;
        av_packet_rescale_ts(packet, source.input->time_base, source.output->time_base);
        packet->pos = -1;
        source.holding = false;
        const int rc = av_interleaved_write_frame(format_.get(), packet);
        if (rc < 0) return unexpected(writeFailure(rc));
    }
    return {};
}

Result<void, ComposeError> Export::composeFrames() {
    // One picture every 1/30 s while the screen recording lasts.
    const auto frames = std::max<int64_t>(1, static_cast<int64_t>(std::ceil(duration_ * kFrameTimeBase.den - 1e-6)));

    // Decoding, composing and encoding overlap: each movie is decoded on its
    // own thread, the frames are composed on another, and this thread
    // encodes and writes them, each stage a few frames ahead of the next.
    BubbleInstruction instruction{request_.style, request_.zoom, request_.cameraFrames};
    std::unique_ptr<SegmentationBackend> backend =
        options_.segmentationBackend ? options_.segmentationBackend() : nullptr;
    std::unique_ptr<FaceDetectorBackend> faces =
        options_.faceDetectorBackend ? options_.faceDetectorBackend() : nullptr;
    auto compositor = std::make_unique<BubbleCompositor>(std::move(instruction), std::move(backend),
                                                         std::min(cpus_, 4), std::move(faces));
    constexpr int kRate = ScreenComposer::kFrameRate;
    auto screen = std::make_unique<PictureFeed>(std::move(screen_), frames, kRate, kPictureDepth);
    std::unique_ptr<PictureFeed> camera;
    if (camera_) camera = std::make_unique<PictureFeed>(std::move(camera_), frames, kRate, kPictureDepth);
    CanvasFeedSettings settings;
    settings.width = width_;
    settings.height = height_;
    settings.frames = frames;
    settings.frameRate = kRate;
    settings.depth = kCanvasDepth;
    settings.screenLabel = fileLabel(request_.screen);
    settings.cameraLabel = fileLabel(request_.camera);
    CanvasFeed canvases(std::move(compositor), std::move(screen), std::move(camera), std::move(settings));

    for (int64_t i = 0; i < frames; ++i) {
        if (stop_ != nullptr && stop_->isSet()) {
            return unexpected(ComposeError::exportFailed("the composition was stopped"));
        }
        // A take whose folder was removed has nothing left to combine into:
        // composing on would only write into nothing.
        if (request_.folder.removed()) return unexpected(ComposeError::folderRemoved());
        auto canvas = canvases.next();
        if (!canvas) return unexpected(ComposeError::exportFailed(canvas.error()));
        if (const int rc = avcodec_send_frame(encoder_.get(), canvas.value().get()); rc < 0) {
            return unexpected(ComposeError::exportFailed("the video could not be encoded (" +
                                                         ffmpeg::errorString(rc) + ")"));
        }
        // Let go of the canvas before waiting for the next one, so the
        // composer can draw into it again.
        canvas.value().reset();
        if (auto written = writeVideoPackets(); !written) return written;
        const double t = static_cast<double>(i) / kFrameTimeBase.den;
        for (AudioSource& source : audio_) {
            if (auto pumped = pumpAudio(source, t + kAudioLeadSeconds); !pumped) return pumped;
        }
        report(kFramesShare * static_cast<float>(i + 1) / static_cast<float>(frames));
    }

    if (int rc = avcodec_send_frame(encoder_.get(), nullptr); rc < 0 && rc != AVERROR_EOF) {
        return unexpected(ComposeError::exportFailed("the video could not be encoded (" + ffmpeg::errorString(rc) +
                                                     ")"));
    }
    if (auto written = writeVideoPackets(); !written) return written;
    for (AudioSource& source : audio_) {
        if (auto pumped = pumpAudio(source, duration_); !pumped) return pumped;
    }
    return {};
}

Result<void, ComposeError> Export::finishFile() {
    // Writing the trailer also moves the index to the front, rewriting the
    // file once.
    int rc = av_write_trailer(format_.get());
    if (rc < 0) return unexpected(writeFailure(rc));
    rc = avio_closep(&format_->pb);
    if (rc < 0) return unexpected(writeFailure(rc));

    // A composition stopped now is not made: the owner that stopped it
    // says so, and no movie may take the output's name behind its back.
    if (stop_ != nullptr && stop_->isSet()) return unexpected(ComposeError::exportFailed("the composition was stopped"));
    // On disk before it takes the old movie's place.
    if (::fsync(temporaryLock_.get()) != 0) {
        const int error = errno;
        return unexpected(ComposeError::exportFailed("could not write the movie (" +
                                                     std::string(std::strerror(error)) + ")"));
    }
    if (::rename(temporary_.c_str(), request_.output.c_str()) != 0) {
        const int error = errno;
        return unexpected(ComposeError::exportFailed("could not replace " + fileLabel(request_.output) + " (" +
                                                     std::string(std::strerror(error)) + ")"));
    }
    temporary_.clear();
    temporaryLock_.reset();
    const std::filesystem::path folder =
        request_.output.has_parent_path() ? request_.output.parent_path() : std::filesystem::path(".");
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

Result<std::filesystem::path, ComposeError> Export::run() {
    cpus_ = options_.threads > 0 ? options_.threads : usableCpuCount();
    report(0.0F);
    if (auto opened = openInputs(); !opened) return unexpected(opened.error());
    if (auto encoder = openEncoder(); !encoder) return unexpected(encoder.error());
    if (auto output = openOutput(); !output) return unexpected(output.error());
    PocketLog::logf("Composing %dx%d %s from %s to %s", width_, height_, std::string(toString(request_.codec)).c_str(),
                    fileLabel(request_.screen).c_str(), fileLabel(request_.output).c_str());
    if (auto composed = composeFrames(); !composed) return unexpected(composed.error());
    if (auto finished = finishFile(); !finished) return unexpected(finished.error());
    if (progress_) progress_(1.0F);
    return request_.output;
}

}  // namespace

std::string ComposeError::userMessage() const {
    switch (kind) {
    case Kind::missingScreenVideo:
        return "The screen recording has no video";
    case Kind::folderRemoved:
        return "Could not build the combined video: its folder was removed";
    case Kind::exportFailed:
    case Kind::none:
        break;
    }
    return "Could not build the combined video: " + message;
}

std::pair<int, int> ScreenComposer::renderSize(int width, int height) {
    if (width <= 0 || height <= 0) return {0, 0};
    const double w = width;
    const double h = height;
    const double s = std::min({1.0, kMaxWidth / w, kMaxHeight / h});
    // Halves away from zero, then even; at least 2 for the 4:2:0 encoders.
    const auto even = [](double side) { return std::max(2, 2 * static_cast<int>(std::round(side / 2))); };
    return {even(w * s), even(h * s)};
}

std::filesystem::path ScreenComposer::temporaryPath(const std::filesystem::path& output) {
    // Hidden, beside the output, so the rename stays within one file system.
    std::string name = ".";
    name += output.filename().string();
    name += ".partial";
    return output.parent_path() / name;
}

Result<std::filesystem::path, ComposeError> ScreenComposer::composeNow(const ComposeRequest& request,
                                                                      const Progress& progress,
                                                                      const ScreenComposerOptions& options,
                                                                      const StopFlag* stop) {
    // In a take's held folder, by the files' names: the composer's readers
    // and its writer take paths, which lead through the held descriptor.
    ComposeRequest held = request;
    if (request.folder.valid()) {
        held.screen = request.folder.pathOf(request.screen.filename().string());
        held.camera = request.folder.pathOf(request.camera.filename().string());
        held.output = request.folder.pathOf(request.output.filename().string());
    }
    auto work = std::make_unique<Export>(held, options, progress, stop);
    auto result = work->run();
    // Whatever failed in a folder removed meanwhile (a file read or made in
    // it, the rename), the reason is that it went.
    if (!result && request.folder.removed()) result = unexpected(ComposeError::folderRemoved());
    // Told where it is now: the take's folder may have been moved meanwhile.
    if (result && request.folder.valid()) result = request.folder.currentPath() / request.output.filename();
    // The decoders, canvases and encoder go together; what their threads
    // freed goes back to the system (memory_settings.h).
    work.reset();
    returnFreedMemory();
    if (!result && stop != nullptr && stop->isSet()) {
        PocketLog::logf("Composing %s was stopped; what it wrote was removed and %s left as it was",
                        request.output.c_str(), fileLabel(request.output).c_str());
    } else if (!result) {
        PocketLog::logf("Composing %s failed: %s", fileLabel(request.output).c_str(),
                        result.error().userMessage().c_str());
    }
    return result;
}

ScreenComposer::ScreenComposer(Executor& main, ScreenComposerOptions options)
    : main_(main), options_(std::move(options)), queue_(std::string(kQueueLabel)) {}

ScreenComposer::~ScreenComposer() {
    stop_.set();
}

void ScreenComposer::compose(ComposeRequest request, Progress progress, Completion completion) {
    queue_.post([this, request = std::move(request), progress = std::move(progress),
                 completion = std::move(completion)]() mutable {
        if (stop_.isSet()) return;
        const Progress post = [this, &progress](float value) {
            if (progress) main_.post([progress, value] { progress(value); });
        };
        auto result = composeNow(request, post, options_, &stop_);
        request.folder = HeldFolder();  // let go before the result is told
        // A movie made before the stop is told: its owner must not take it
        // for one that was not.
        if (stop_.isSet() && !result) return;
        main_.post([completion = std::move(completion), result = std::move(result)]() mutable {
            if (completion) completion(std::move(result));
        });
    });
}

}  // namespace hollowkit
