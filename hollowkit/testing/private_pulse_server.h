#pragma once

// PrivatePulseServer: a PulseAudio server of a test's own, listening on a
// socket in a fresh temporary folder, with
// - a null sink playing a sine tone; its ".monitor" source mirrors it;
// - "hollowkit_tone", the default source: that monitor remapped into an
//   ordinary source, which delivers the tone in real time in small
//   fragments, as a microphone does (the first about two seconds after the
//   server starts: the null sink first renders that far ahead);
// - "hollowkit_sine", PulseAudio's sine source, which renders two seconds at
//   a time ahead of real time: right in pitch, no model of a microphone's
//   timing. Tests point the code
// under test at address() and never touch the user's sound server. The
// server is a child process with its own home and runtime folders, so it
// also starts as root; started by start(), ended (SIGTERM, then reaped) by
// the destructor, its folder removed. The server also ends when the thread
// that started it ends (a crashed test leaves none behind).
//
// Thread: one owner thread; nothing here is shared.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/command_runner.h"
#include "hollowkit/base/result.h"

namespace hollowkit {

class PrivatePulseServer {
public:
    struct Options {
        int sineFrequencyHz = 440;
        int sampleRate = 48000;
    };

    // The names the sources get.
    static constexpr const char* kToneSource = "hollowkit_tone";
    static constexpr const char* kSineSource = "hollowkit_sine";
    static constexpr const char* kNullSink = "hollowkit_null";
    static constexpr const char* kNullSinkMonitor = "hollowkit_null.monitor";

    PrivatePulseServer() = default;
    ~PrivatePulseServer();
    PrivatePulseServer(const PrivatePulseServer&) = delete;
    PrivatePulseServer& operator=(const PrivatePulseServer&) = delete;

    // The pulseaudio program on PATH; nothing when the machine has none.
    static std::optional<std::string> program();

    // Starts the server, the tone source as its default source, and waits
    // (at most a few seconds) until it accepts clients. The error says what
    // went wrong, with the server's last words.
    Result<void, std::string> start(Options options);
    Result<void, std::string> start() { return start(Options{}); }

    // "unix:<socket>"; empty before start().
    const std::string& address() const { return address_; }

    // Runs pactl against this server ("unload-module", "module-sine-source" …).
    CommandResult pactl(const std::vector<std::string>& arguments) const;

private:
    void stop();

    pid_t pid_ = -1;
    std::string folder_;
    std::string address_;
};

}  // namespace hollowkit
