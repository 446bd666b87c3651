// FfmpegMovieWriter: the picture. Frames are converted to the encoder's
// size and pixel format, encoded, and their packets held until each one's
// duration is known.

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/recording/bgrx_to_nv12.h"
#include "hollowkit/recording/ffmpeg_movie_writer_impl.h"

namespace hollowkit::movie_writing {

void FfmpegMovieWriter::encodeVideo(const VideoFrame& frame) {
    const int64_t tick = av_rescale_q((frame.pts() - sessionStart_).count(), kNanoseconds,
                                      kVideoTimeBase);
    // Frames before the movie's zero or out of order would break the track's
    // time line; the owner already drops them, this keeps the file valid.
    if (tick < 0 || tick <= lastVideoTick_) {
        if (!loggedVideoOrder_) {
            loggedVideoOrder_ = true;
            PocketLog::log("Movie writer skipped a frame that was not later than the one before");
        }
        return;
    }
    if (!convertInto(frame, staging_.get())) return;
    if (lastVideoTick_ != std::numeric_limits<int64_t>::min()) {
        lastInterval_ = tick - lastVideoTick_;
        videoDurations_[lastVideoTick_] = lastInterval_;
        releaseVideoPackets();
    }
    if (firstVideoTick_ == std::numeric_limits<int64_t>::min()) firstVideoTick_ = tick;
    lastVideoTick_ = tick;
    staging_->pts = tick;
    sendVideo(staging_.get());
}

bool FfmpegMovieWriter::convertInto(const VideoFrame& frame, AVFrame* target) {
    int rc = av_frame_make_writable(target);
    if (rc < 0) {
        fail("Out of memory: " + ffmpeg::errorString(rc));
        return false;
    }
    if (frame.pixelFormat() == PixelFormat::bgra && frame.width() == target->width &&
        frame.height() == target->height && target->linesize[1] == target->linesize[2]) {
        // The colour look's frames. libswscale's RGB input path costs about
        // twice as much, and this thread feeds the encoder, so every
        // millisecond here is one the encoder waits.
        convertBgrxToI420(frame.planeData(0), frame.stride(0), frame.width(), frame.height(), target->data[0],
                          static_cast<size_t>(target->linesize[0]), target->data[1], target->data[2],
                          static_cast<size_t>(target->linesize[1]));
        return true;
    }
    const AVPixelFormat source =
        frame.pixelFormat() == PixelFormat::nv12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_BGRA;
    const int canvasWidth = target->width;
    const int canvasHeight = target->height;
    int width = canvasWidth;
    int height = canvasHeight;
    int x = 0;
    int y = 0;
    if (frame.width() != canvasWidth || frame.height() != canvasHeight) {
        // Fit the picture inside the track's size, keeping its aspect, on
        // black (a camera turned to portrait mid-recording).
        const double scale = std::min(static_cast<double>(canvasWidth) / frame.width(),
                                      static_cast<double>(canvasHeight) / frame.height());
        width = std::clamp(static_cast<int>(std::lround(frame.width() * scale)) & ~1, 2, canvasWidth);
        height = std::clamp(static_cast<int>(std::lround(frame.height() * scale)) & ~1, 2, canvasHeight);
        x = ((canvasWidth - width) / 2) & ~1;
        y = ((canvasHeight - height) / 2) & ~1;
        for (int row = 0; row < canvasHeight; ++row) {
            std::memset(target->data[0] + static_cast<ptrdiff_t>(row) * target->linesize[0], 16, canvasWidth);
        }
        for (int plane = 1; plane <= 2; ++plane) {
            for (int row = 0; row < (canvasHeight + 1) / 2; ++row) {
                std::memset(target->data[plane] + static_cast<ptrdiff_t>(row) * target->linesize[plane], 128,
                            (canvasWidth + 1) / 2);
            }
        }
    }
    SwsContext* scaler = sws_getCachedContext(scaler_.release(), frame.width(), frame.height(), source,
                                              width, height, AV_PIX_FMT_YUV420P, SWS_BILINEAR,
                                              nullptr, nullptr, nullptr);
    scaler_.reset(scaler);
    if (scaler == nullptr) {
        fail("Could not convert a frame of " + std::to_string(frame.width()) + "x" +
             std::to_string(frame.height()));
        return false;
    }
    if (source == AV_PIX_FMT_BGRA) {
        // BGRA is full-range RGB; the track is limited-range BT.709.
        const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(scaler, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    }
    const uint8_t* sourcePlanes[4] = {frame.planeData(0), frame.planeData(1), nullptr, nullptr};
    const int sourceStrides[4] = {static_cast<int>(frame.stride(0)), static_cast<int>(frame.stride(1)), 0, 0};
    uint8_t* targetPlanes[4] = {
        target->data[0] + static_cast<ptrdiff_t>(y) * target->linesize[0] + x,
        target->data[1] + static_cast<ptrdiff_t>(y / 2) * target->linesize[1] + x / 2,
        target->data[2] + static_cast<ptrdiff_t>(y / 2) * target->linesize[2] + x / 2,
        nullptr,
    };
    const int targetStrides[4] = {target->linesize[0], target->linesize[1], target->linesize[2], 0};
    sws_scale(scaler, sourcePlanes, sourceStrides, 0, frame.height(), targetPlanes, targetStrides);
    return true;
}

void FfmpegMovieWriter::sendVideo(const AVFrame* frame) {
    int rc = avcodec_send_frame(videoCodec_.get(), frame);
    if (rc < 0 && rc != AVERROR_EOF) {
        fail("Video encoding failed: " + ffmpeg::errorString(rc));
        return;
    }
    for (;;) {
        ffmpeg::PacketPtr packet = ffmpeg::allocPacket();
        rc = avcodec_receive_packet(videoCodec_.get(), packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) break;
        if (rc < 0) {
            fail("Video encoding failed: " + ffmpeg::errorString(rc));
            return;
        }
        heldVideo_.push_back(std::move(packet));
    }
    releaseVideoPackets();
}

// A packet is written once its frame's duration is known (when the next frame
// arrived, or at the finish), in the encoder's order, so the track's last
// frame lasts as long as it should and the end time can extend it.
void FfmpegMovieWriter::releaseVideoPackets() {
    while (!heldVideo_.empty()) {
        AVPacket* packet = heldVideo_.front().get();
        const auto known = videoDurations_.find(packet->pts);
        if (known == videoDurations_.end()) return;
        packet->duration = known->second;
        videoDurations_.erase(known);
        writePacket(packet, videoStream_, videoCodec_->time_base, earliestVideoDts());
        heldVideo_.pop_front();
    }
}

}  // namespace hollowkit::movie_writing
