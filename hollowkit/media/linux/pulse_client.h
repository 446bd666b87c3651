#pragma once

// PulseClient: one connection to the desktop sound server through libpulse
// (PulseAudio, or PipeWire's Pulse service), shared by the computer's
// microphone backend and the USB camera's sound. One threaded main loop and
// one server connection per client, made on first use and made again after
// the server went away. Thread-safe; recordings may outlive the client.
//
// A recording takes the source in its own rate and channel count as
// interleaved native 32-bit floats and hands on each fragment as it
// arrives, from the main loop's thread, stamped on CLOCK_MONOTONIC by a
// SoundStamper (sound_stamper.h): by counting frames from the first
// arrival, so fragments join exactly, taken again after lost data (an
// overflow), never going back. The server's latency figures are not used:
// for sources fed by an output they swing by whole seconds while the
// output adjusts its buffering.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/result.h"

namespace hollowkit {

// "2ca3", "0x2CA3" -> 0x2CA3; nothing for anything else.
std::optional<uint16_t> parseUsbVendorId(std::string_view text);

struct PulseError {
    int code = 0;        // libpulse's PA_ERR_* when the server gave one, else 0
    std::string detail;  // "what: reason", for the log

    // Whether the server refused this client (access, authentication).
    bool refused() const;
};

// One source as the server lists it.
struct PulseSource {
    std::string id;    // the server's name for it
    std::string name;  // its description, else its id
    // From the "device.vendor.id" property, when the device behind it has one.
    std::optional<uint16_t> usbVendorId;
    bool monitor = false;  // mirrors an output rather than capturing sound
};

// One fragment of a recording; `data` is valid during the call only and
// need not be aligned for floats.
struct PulseFragment {
    const void* data = nullptr;
    size_t frames = 0;
    uint32_t rate = 0;
    uint8_t channels = 0;
    TimePoint pts{};  // the first frame
};

struct PulseRecordHandlers {
    std::function<void(const PulseFragment&)> onFragment;
    // At most once, when the running recording stopped for good (the
    // source went away, the server quit).
    std::function<void(const PulseError&)> onFailure;
};

// A running recording. Destroying it ends the stream; once the destructor
// returns no handler of it runs any more. Not to be destroyed from inside
// one of its own handlers.
class PulseRecording {
public:
    virtual ~PulseRecording() = default;
};

// A recording behind another capture interface of the same contract.
template <typename Capture>
class PulseRecordingAs final : public Capture {
public:
    explicit PulseRecordingAs(std::unique_ptr<PulseRecording> recording) : recording_(std::move(recording)) {}

private:
    std::unique_ptr<PulseRecording> recording_;
};

class PulseClient {
public:
    struct Options {
        // "unix:/path/to/native"; empty for the user's default server
        // (PULSE_SERVER, client.conf, the session socket).
        std::string server;
        // Longest wait for one answer of the server.
        Duration timeout = std::chrono::seconds(5);
    };

    struct RecordOptions {
        std::string streamName;
        // Sources with more channels are refused.
        int maxChannels = 32;
        // How late every delivery during `latenessWindow` must have come
        // before the count is moved on; a zero window checks each delivery.
        Duration lateLimit = std::chrono::milliseconds(60);
        Duration latenessWindow = std::chrono::seconds(2);
    };

    // `threadLabel` names the main loop's thread.
    PulseClient(Options options, std::string threadLabel);
    ~PulseClient();
    PulseClient(const PulseClient&) = delete;
    PulseClient& operator=(const PulseClient&) = delete;

    // Every source in the server's order, monitors included; nothing
    // without a server.
    std::optional<std::vector<PulseSource>> sources();
    // The source the system records from by default, unless it mirrors an
    // output (usual on a machine without any microphone).
    std::optional<PulseSource> defaultSource();

    // Starts recording `id` and returns once sound flows.
    Result<std::unique_ptr<PulseRecording>, PulseError> record(const std::string& id, RecordOptions options,
                                                               PulseRecordHandlers handlers);

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace hollowkit
