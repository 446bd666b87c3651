#pragma once

// MovieWriter: one QuickTime movie being written from frames and sound, the
// recorders' seam over the encoder and the file. The owner (a recorder, on
// its own queue) starts it with the tracks' settings and the movie's time
// zero, offers samples, and finishes it once; samples are encoded behind the
// owner's back, so appending is cheap and a writer that falls behind says so
// through readyForVideo/readyForAudio instead of queueing without bound.
// start, append and finish are called from one thread at a time (the
// owner's queue); the ready and status reads are safe from any thread.
//
// A failure while writing (a full disk, a file grown past its limit, an
// encoder error) stops the writer at once: every later sample is refused.
// The owner hears of it through the failure handler as it happens, not only
// when it finishes, so a recording that writes nothing cannot run on
// unnoticed; it then finishes the writer, which keeps what was written
// playable, and finish returns the same error text.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/held_folder.h"
#include "hollowkit/base/result.h"
#include "hollowkit/media/audio_chunk.h"
#include "hollowkit/media/video_codec.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

struct MovieAudioSettings {
    int sampleRate = 0;
    int channels = 0;          // channels of the sound track (the source's, at most 2)
    int64_t bitRate = 192000;  // bits per second

    bool operator==(const MovieAudioSettings&) const = default;
};

struct MovieWriterSettings {
    VideoCodec codec = VideoCodec::hevc;
    int width = 0;  // picture size of the video track; frames of another
    int height = 0;  // size are scaled to fit inside it, keeping their aspect
    int64_t videoBitRate = 0;  // average, bits per second
    int expectedFrameRate = 30;
    // false: frames are coded in display order (no B-frames), as live
    // screen capture wants; costs some bit rate.
    bool allowFrameReordering = true;
    std::optional<MovieAudioSettings> audio;  // no sound track when absent

    bool operator==(const MovieWriterSettings&) const = default;
};

class MovieWriter {
public:
    // The error text, as errorText() gives it.
    using FailureHandler = std::function<void(const std::string& error)>;

    virtual ~MovieWriter() = default;

    // Set before start. Runs at most once, on the writer's own thread and
    // under none of its locks, when writing fails after start and before
    // finish was called; a failure inside finish is finish's result instead.
    // It must return promptly and must not call back into the writer (post
    // the work elsewhere); the writer's destruction waits for it.
    virtual void setOnFailure(FailureHandler handler) = 0;

    // Creates the file and the tracks; `sessionStart` becomes the movie's
    // time zero (a first sample after it leaves an empty stretch at the
    // start). Refuses an existing file that is not empty. The error text says
    // what failed.
    virtual Result<void, std::string> start(const MovieWriterSettings& settings,
                                            TimePoint sessionStart) = 0;

    // Started and neither failed nor finished.
    virtual bool isWriting() const = 0;
    // Whether a sample offered now would be taken.
    virtual bool readyForVideo() const = 0;
    virtual bool readyForAudio() const = 0;

    // Hands a sample over for encoding. False when it was not taken (not
    // writing, no sound track, or behind). Frames must come with strictly
    // increasing times; sound before the movie's time zero is cut off, and
    // sound is placed at its time: a gap before a chunk longer than a
    // capture clock's jitter (tens of milliseconds) stays a gap of silence.
    virtual bool appendVideo(const VideoFrame& frame) = 0;
    virtual bool appendAudio(const AudioChunk& chunk) = 0;

    // The failure that stopped the writer; empty while none happened.
    virtual std::string errorText() const = 0;

    // Encodes what is still pending and completes the file. With `endTime`
    // the movie lasts until then (the last frame stays on screen), otherwise
    // until the end of its last frame. Blocks until the file is complete.
    // A movie that holds no picture is not kept: its file is left empty (as
    // it was reserved), whether finish succeeds or fails, for the owner to
    // remove. One no longer at its path (removed while written) fails.
    virtual Result<void, std::string> finish(std::optional<TimePoint> endTime) = 0;
};

// Makes the writer for one output file: its name in the folder the
// recording was started in, held open so the movie is made there whatever
// becomes of the folder's path.
using MovieWriterFactory = std::function<std::unique_ptr<MovieWriter>(const FileInFolder& output)>;

}  // namespace hollowkit
