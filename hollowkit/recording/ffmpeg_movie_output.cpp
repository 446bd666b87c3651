// FfmpegMovieWriter: the packets on their way to the muxer. Each track's
// times are mended and its last packet held until the next one shows how
// long it lasts; sound waits until the picture written so far reaches it.

#include <algorithm>
#include <limits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/recording/ffmpeg_movie_writer_impl.h"

namespace hollowkit::movie_writing {

void FfmpegMovieWriter::writePacket(AVPacket* packet, AVStream* stream, AVRational codecTimeBase,
                                    int64_t earliestDts) {
    if (failed()) return;
    packet->stream_index = stream->index;
    av_packet_rescale_ts(packet, codecTimeBase, stream->time_base);
    if (earliestDts != AV_NOPTS_VALUE) earliestDts = av_rescale_q(earliestDts, codecTimeBase, stream->time_base);
    TrackOutput& track = tracks_.at(static_cast<size_t>(stream->index));
    static_assert(PacketTimes::kNone == AV_NOPTS_VALUE);
    // A missing time stays missing through the rescale above (FFmpeg
    // leaves AV_NOPTS_VALUE as it is); the guard takes it as no time.
    const PacketTimes given{packet->pts, packet->dts, packet->duration};
    PacketTimes times = given;
    if (track.times.mend(times, earliestDts) && !loggedPacketTimes_) {
        loggedPacketTimes_ = true;
        PocketLog::logf("Movie writer mended the times of a packet on track %d: %s, written as %s", stream->index,
                        toString(given).c_str(), toString(times).c_str());
    }
    packet->pts = times.pts;
    packet->dts = times.dts;
    packet->duration = times.duration;
    if (stream == audioStream_) {
        ffmpeg::PacketPtr waiting = ffmpeg::allocPacket();
        if (!waiting) {
            fail("Out of memory");
            return;
        }
        av_packet_move_ref(waiting.get(), packet);
        waitingSound_.push_back(std::move(waiting));
        releaseWaitingSound();
        return;
    }
    handOver(packet, track);
}

// A track lasts until the end of what was handed over: sound dropped past
// the movie's end must not stretch the last sound kept.
void FfmpegMovieWriter::handOver(AVPacket* packet, TrackOutput& track) {
    if (failed()) return;
    if (track.shownUntil == PacketTimes::kNone || packet->pts + packet->duration > track.shownUntil) {
        track.shownUntil = packet->pts + packet->duration;
    }
    if (!track.held) {
        track.held = ffmpeg::allocPacket();
        if (!track.held) {
            fail("Out of memory");
            return;
        }
    }
    if (track.holding) muxPacket(track.held.get(), packet->dts);
    av_packet_move_ref(track.held.get(), packet);
    track.holding = true;
}

// The muxer cuts the file into fragments as it goes, and a fragment holds what it
// was given of each track; a full disk or a killed process keeps the fragments
// written. Sound is encoded at once, the picture seconds later when the
// encoder is behind, so sound handed over as it comes would run that far
// ahead of the picture in every piece (the muxer's own interleaving gives up
// waiting after ten seconds; an encoder that takes one frame in fifteen is
// that far behind). It goes in once the picture written reaches its time; a
// picture that stalls holds up at most kMaxWaitingSoundSeconds of it. After
// the picture's end (the finish), sound past the movie's end is dropped: it
// was encoded before that end was known.
void FfmpegMovieWriter::releaseWaitingSound() {
    if (waitingSound_.empty()) return;
    int64_t endLimit;
    {
        MutexLock lock(mutex_);
        endLimit = audioEndLimit_;
    }
    TrackOutput& track = tracks_.at(static_cast<size_t>(audioStream_->index));
    while (!waitingSound_.empty() && !failed()) {
        AVPacket* packet = waitingSound_.front().get();
        const bool reached = pictureComplete_ ||
                             (pictureWritten_ != PacketTimes::kNone &&
                              av_compare_ts(packet->pts, audioStream_->time_base, pictureWritten_,
                                            videoStream_->time_base) < 0);
        const bool tooMuch = av_compare_ts(waitingSound_.back()->pts - packet->pts, audioStream_->time_base,
                                           kMaxWaitingSoundSeconds, AVRational{1, 1}) > 0;
        if (!reached && !tooMuch) return;
        if (!(pictureComplete_ && packet->pts >= endLimit)) handOver(packet, track);
        waitingSound_.pop_front();
    }
}

void FfmpegMovieWriter::muxPacket(AVPacket* packet, std::optional<int64_t> nextDts) {
    if (failed()) return;
    // The finished movie keeps the packet's own duration: a picture's lasts
    // until the next picture shows, and the last one's until the movie ends.
    file_->noteWritten(*packet);
    // While recording, the muxer ends a fragment's last sample where its
    // duration says; reaching past the track's next decode time would move
    // that packet's times.
    if (nextDts) packet->duration = std::min(packet->duration, *nextDts - packet->dts);
    const bool picture = packet->stream_index == videoStream_->index;
    const int64_t end = packet->dts + packet->duration;
    // The muxer takes the packet's data and leaves it blank.
    const int rc = av_interleaved_write_frame(format_.get(), packet);
    auto noted = file_->noteMuxed(*format_);
    if (rc < 0) {
        fail("Could not write to the movie file: " + ffmpeg::errorString(rc));
        return;
    }
    if (!noted) {
        fail(std::move(noted).error());
        return;
    }
    if (picture) {
        pictureWritten_ = std::max(pictureWritten_, end);
        releaseWaitingSound();
    }
}

// The finish: the sound still waiting goes in first (up to the movie's end),
// then each track's last packet. A track lasts until its last sample in
// decode order ends, and with reordered pictures that is not the last
// picture shown: ending there would leave the last pictures shown outside
// the track, the picture shorter than its sound by as many frames as the
// encoder reorders (seconds, for frames that came slowly). So the last
// packet is decoded at its own presentation time (any time after the
// packet before will do) and lasts until the last picture's end.
void FfmpegMovieWriter::releaseHeldPackets() {
    pictureComplete_ = true;
    releaseWaitingSound();
    int64_t endLimit;
    {
        MutexLock lock(mutex_);
        endLimit = audioEndLimit_;
    }
    for (TrackOutput& track : tracks_) {
        if (!track.holding) continue;
        track.holding = false;
        AVPacket* held = track.held.get();
        if (track.shownUntil != PacketTimes::kNone && held->dts + held->duration < track.shownUntil) {
            held->dts = held->pts;
            held->duration = std::min(track.shownUntil - held->pts, PacketTimeGuard::kMaxDuration);
        }
        // Sound encoded before the movie's end was known ends there too: the
        // last packet kept, which may reach past it, is cut short, and the
        // track's edit ends with it.
        if (audioStream_ != nullptr && held->stream_index == audioStream_->index &&
            endLimit != std::numeric_limits<int64_t>::max() && held->pts < endLimit) {
            held->duration = std::min(held->duration, endLimit - held->pts);
        }
        muxPacket(held, std::nullopt);
        av_packet_unref(held);
    }
}

}  // namespace hollowkit::movie_writing
