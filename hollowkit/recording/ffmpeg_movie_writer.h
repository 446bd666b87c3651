#pragma once

// The FFmpeg MovieWriter: a QuickTime (.mov) file through libavformat, video
// through libx265 (tagged hvc1) or libx264 (avc1) at the settings' average
// bit rate, sound through FFmpeg's AAC encoder after libswresample. Samples
// are encoded on the writer's own thread; in real-time mode a writer whose
// backlog is full refuses further samples (the caller drops them), so memory
// stays bounded whatever the encoder's speed. An edit list keeps the movie's
// time zero at the session start. The file is written in fragments, so a
// killed process leaves a movie playable up to its last second or two, and
// is rewritten as a regular movie when finished (FragmentedMovieFile).

#include <functional>
#include <limits>
#include <string>

#include "hollowkit/recording/movie_writer.h"

namespace hollowkit {

struct FfmpegMovieWriterOptions {
    // true: refuse samples while the backlog is full (live capture).
    // false: wait for room instead (files, tests), so nothing is dropped.
    bool realTime = true;
    int maxPendingVideoFrames = 6;
    // Sound waits by its length, not by its count of chunks (a source may
    // deliver 1 ms or 100 ms at a time), and far longer than the frames:
    // a second of 48 kHz stereo is 384 kB beside a 1080p frame's 3 MB, and
    // sound refused while the encoder is behind is a hole in the track, or
    // at a stop a track that ends before the picture does.
    Duration maxPendingAudio = std::chrono::seconds(10);
    int maxPendingAudioChunks = std::numeric_limits<int>::max();  // tests that force an order
    // Encoder speed presets, fast enough for live 1080p on two cores.
    std::string hevcPreset = "ultrafast";
    std::string h264Preset = "veryfast";
    // Worker threads the encoder may use; 0: the CPUs this process may run on.
    int encoderThreads = 0;
    // Test seam: runs on the writer's thread before each frame is encoded
    // (a test blocks in it to stall the encoder).
    std::function<void()> beforeVideoEncodeForTesting;
};

std::unique_ptr<MovieWriter> makeFfmpegMovieWriter(const FileInFolder& output,
                                                   FfmpegMovieWriterOptions options = {});
// The same in the folder `outputPath` names now.
std::unique_ptr<MovieWriter> makeFfmpegMovieWriter(const std::filesystem::path& outputPath,
                                                   FfmpegMovieWriterOptions options = {});

MovieWriterFactory ffmpegMovieWriterFactory(FfmpegMovieWriterOptions options = {});

}  // namespace hollowkit
