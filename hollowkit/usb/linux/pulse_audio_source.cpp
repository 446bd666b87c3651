#include "hollowkit/usb/linux/pulse_audio_source.h"

#include <pulse/pulseaudio.h>

#include <charconv>
#include <cstring>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "hollowkit/base/thread_name.h"

namespace hollowkit {

namespace {

constexpr const char* kClientName = "Lumenhollow";
constexpr const char* kStreamName = "USB camera sound";
constexpr const char* kThreadLabel = "HollowKit.USBPulse";
// Small fragments keep the sound close to the pictures.
constexpr auto kFragment = std::chrono::milliseconds(20);
// The frame count is taken again when it runs ahead of the clock by more
// than this (no sound comes from the future) or behind the arrivals by
// more than the second bound (a sound card clock a little slow, a stall).
constexpr auto kAheadLimit = std::chrono::milliseconds(30);
constexpr auto kBehindLimit = std::chrono::milliseconds(500);

Duration framesToDuration(uint64_t frames, uint32_t rate) {
    const auto nanoseconds = static_cast<int64_t>(frames * 1'000'000'000ULL / rate);
    return std::chrono::duration_cast<Duration>(std::chrono::nanoseconds(nanoseconds));
}

std::string errorText(int paError, const char* what) {
    return std::string(what) + ": " + pa_strerror(paError);
}

class MainloopLock {
public:
    explicit MainloopLock(pa_threaded_mainloop* mainloop) : mainloop_(mainloop) { pa_threaded_mainloop_lock(mainloop_); }
    ~MainloopLock() { pa_threaded_mainloop_unlock(mainloop_); }
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

private:
    pa_threaded_mainloop* mainloop_;
};

struct SourceRecord {
    AudioSourceInfo info;
    bool monitor = false;
};

void signalMainloop(void* userdata) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

}  // namespace

std::optional<uint16_t> parseUsbVendorId(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    if (text.empty() || text.size() > 4) return std::nullopt;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return static_cast<uint16_t>(value);
}

struct PulseAudioSourceBackend::Impl {
    explicit Impl(Options options) : options_(std::move(options)) {}
    ~Impl();

    pa_threaded_mainloop* mainloop();
    // The rest with the main loop lock held, never on the main loop's thread.
    bool waitUntil(const std::function<bool()>& done);
    pa_context* connectedContext(std::string* error);
    bool finish(pa_operation* operation);
    std::optional<std::vector<SourceRecord>> listSources(pa_context* context);
    std::optional<std::string> defaultSourceName(pa_context* context);

    const Options options_;
    std::mutex setupMutex_;
    pa_threaded_mainloop* mainloop_ = nullptr;  // guarded by setupMutex_ until started
    pa_context* context_ = nullptr;             // guarded by the main loop lock
};

namespace {

// One record stream. Its callbacks run on the main loop's thread under the
// main loop lock; the destructor clears them under the same lock, so none
// runs once it returns.
class PulseSourceCapture final : public AudioSourceCapture {
public:
    PulseSourceCapture(std::shared_ptr<PulseAudioSourceBackend::Impl> backend, AudioSourceHandlers handlers)
        : backend_(std::move(backend)), handlers_(std::move(handlers)) {}
    ~PulseSourceCapture() override;

    Result<void, std::string> start(pa_context* context, const std::string& source, const pa_sample_spec& spec,
                                    const pa_channel_map& map);

private:
    static void onState(pa_stream* stream, void* userdata);
    static void onRead(pa_stream* stream, size_t bytes, void* userdata);
    static void onOverflow(pa_stream* stream, void* userdata);
    void readAvailable();

    std::shared_ptr<PulseAudioSourceBackend::Impl> backend_;
    AudioSourceHandlers handlers_;
    pa_stream* stream_ = nullptr;
    uint32_t rate_ = 0;
    uint8_t channels_ = 0;
    size_t frameBytes_ = 0;
    bool running_ = false;
    bool failureReported_ = false;
    bool lostData_ = false;
    std::optional<TimePoint> anchor_;
    uint64_t framesSinceAnchor_ = 0;
};

}  // namespace

PulseAudioSourceBackend::Impl::~Impl() {
    if (mainloop_ == nullptr) return;
    {
        MainloopLock lock(mainloop_);
        if (context_ != nullptr) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
    }
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
}

pa_threaded_mainloop* PulseAudioSourceBackend::Impl::mainloop() {
    std::lock_guard lock(setupMutex_);
    if (mainloop_ != nullptr) return mainloop_;
    pa_threaded_mainloop* mainloop = pa_threaded_mainloop_new();
    if (mainloop == nullptr) return nullptr;
    pa_threaded_mainloop_set_name(mainloop, osThreadName(kThreadLabel).c_str());
    if (pa_threaded_mainloop_start(mainloop) < 0) {
        pa_threaded_mainloop_free(mainloop);
        return nullptr;
    }
    mainloop_ = mainloop;
    return mainloop_;
}

bool PulseAudioSourceBackend::Impl::waitUntil(const std::function<bool()>& done) {
    if (done()) return true;
    struct Alarm {
        pa_threaded_mainloop* mainloop;
        bool rang = false;
    } alarm{mainloop_};
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(
                              std::chrono::duration_cast<std::chrono::microseconds>(options_.timeout).count()));
    pa_time_event* event = api->time_new(
        api, &when,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
            auto* a = static_cast<Alarm*>(userdata);
            a->rang = true;
            pa_threaded_mainloop_signal(a->mainloop, 0);
        },
        &alarm);
    while (!done() && !alarm.rang) pa_threaded_mainloop_wait(mainloop_);
    api->time_free(event);
    return done();
}

pa_context* PulseAudioSourceBackend::Impl::connectedContext(std::string* error) {
    if (context_ != nullptr) {
        if (pa_context_get_state(context_) == PA_CONTEXT_READY) return context_;
        // The server went away (or never answered): start over.
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    pa_context* context = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), kClientName);
    if (context == nullptr) {
        *error = "could not make a sound server context";
        return nullptr;
    }
    pa_context_set_state_callback(
        context, [](pa_context*, void* userdata) { signalMainloop(userdata); }, mainloop_);
    const char* server = options_.server.empty() ? nullptr : options_.server.c_str();
    const pa_context_flags_t flags = server != nullptr ? PA_CONTEXT_NOAUTOSPAWN : PA_CONTEXT_NOFLAGS;
    const auto dropContext = [&] {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
    };
    if (pa_context_connect(context, server, flags, nullptr) < 0) {
        *error = errorText(pa_context_errno(context), "connect");
        dropContext();
        return nullptr;
    }
    const bool settled = waitUntil([&] {
        const pa_context_state_t state = pa_context_get_state(context);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    if (!settled || pa_context_get_state(context) != PA_CONTEXT_READY) {
        *error = settled ? errorText(pa_context_errno(context), "connect") : "connect: no answer from the sound server";
        dropContext();
        return nullptr;
    }
    context_ = context;
    return context_;
}

bool PulseAudioSourceBackend::Impl::finish(pa_operation* operation) {
    if (operation == nullptr) return false;
    pa_operation_set_state_callback(
        operation, [](pa_operation*, void* userdata) { signalMainloop(userdata); }, mainloop_);
    pa_context* context = context_;
    const bool done = waitUntil([&] {
        return pa_operation_get_state(operation) != PA_OPERATION_RUNNING ||
               !PA_CONTEXT_IS_GOOD(pa_context_get_state(context));
    });
    const bool completed = done && pa_operation_get_state(operation) == PA_OPERATION_DONE;
    // Its callbacks point at the caller's stack: none may run later.
    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return completed;
}

std::optional<std::vector<SourceRecord>> PulseAudioSourceBackend::Impl::listSources(pa_context* context) {
    struct Listing {
        std::vector<SourceRecord> sources;
        bool failed = false;
    } listing;
    pa_operation* operation = pa_context_get_source_info_list(
        context,
        [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
            auto* l = static_cast<Listing*>(userdata);
            if (eol < 0) {
                l->failed = true;
                return;
            }
            if (eol > 0 || info == nullptr) return;
            SourceRecord record;
            record.info.id = info->name != nullptr ? info->name : "";
            record.info.name = info->description != nullptr && info->description[0] != '\0' ? info->description
                                                                                             : record.info.id;
            if (const char* vendor = pa_proplist_gets(info->proplist, PA_PROP_DEVICE_VENDOR_ID)) {
                record.info.usbVendorId = parseUsbVendorId(vendor);
            }
            record.monitor = info->monitor_of_sink != PA_INVALID_INDEX;
            l->sources.push_back(std::move(record));
        },
        &listing);
    if (!finish(operation) || listing.failed) return std::nullopt;
    return std::move(listing.sources);
}

std::optional<std::string> PulseAudioSourceBackend::Impl::defaultSourceName(pa_context* context) {
    std::optional<std::string> name;
    pa_operation* operation = pa_context_get_server_info(
        context,
        [](pa_context*, const pa_server_info* info, void* userdata) {
            if (info != nullptr && info->default_source_name != nullptr) {
                *static_cast<std::optional<std::string>*>(userdata) = info->default_source_name;
            }
        },
        &name);
    if (!finish(operation)) return std::nullopt;
    return name;
}

// PulseSourceCapture

PulseSourceCapture::~PulseSourceCapture() {
    if (stream_ == nullptr) return;
    MainloopLock lock(backend_->mainloop_);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_overflow_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
}

Result<void, std::string> PulseSourceCapture::start(pa_context* context, const std::string& source,
                                                     const pa_sample_spec& spec, const pa_channel_map& map) {
    rate_ = spec.rate;
    channels_ = spec.channels;
    frameBytes_ = pa_frame_size(&spec);
    stream_ = pa_stream_new(context, kStreamName, &spec, &map);
    if (stream_ == nullptr) return unexpected(errorText(pa_context_errno(context), "stream"));
    pa_stream_set_state_callback(stream_, onState, this);
    pa_stream_set_read_callback(stream_, onRead, this);
    pa_stream_set_overflow_callback(stream_, onOverflow, this);

    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = static_cast<uint32_t>(-1);
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(
        pa_usec_to_bytes(std::chrono::duration_cast<std::chrono::microseconds>(kFragment).count(), &spec));
    // DONT_MOVE: when the source goes the capture ends and says so, rather
    // than quietly recording another microphone.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_, source.c_str(), &attributes, flags) < 0) {
        return unexpected(errorText(pa_context_errno(context), "record"));
    }
    const bool settled = backend_->waitUntil([&] {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    });
    if (!settled) return unexpected(std::string("record: no answer from the sound server"));
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
        return unexpected(errorText(pa_context_errno(context), "record"));
    }
    running_ = true;
    return {};
}

void PulseSourceCapture::onState(pa_stream* stream, void* userdata) {
    auto* self = static_cast<PulseSourceCapture*>(userdata);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (!PA_STREAM_IS_GOOD(state) && self->running_ && !self->failureReported_) {
        self->failureReported_ = true;
        if (self->handlers_.onFailure) {
            self->handlers_.onFailure(errorText(pa_context_errno(pa_stream_get_context(stream)), "capture"));
        }
    }
    pa_threaded_mainloop_signal(self->backend_->mainloop_, 0);
}

void PulseSourceCapture::onRead(pa_stream*, size_t, void* userdata) {
    static_cast<PulseSourceCapture*>(userdata)->readAvailable();
}

void PulseSourceCapture::onOverflow(pa_stream*, void* userdata) {
    static_cast<PulseSourceCapture*>(userdata)->lostData_ = true;
}

void PulseSourceCapture::readAvailable() {
    const TimePoint now = SteadyClock::now();
    for (;;) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) break;
        const uint64_t frames = bytes / frameBytes_;
        const TimePoint counted = anchor_ ? *anchor_ + framesToDuration(framesSinceAnchor_ + frames, rate_) : now;
        if (!anchor_ || lostData_ || counted > now + kAheadLimit || counted + kBehindLimit < now) {
            // The newest frame of this fragment was recorded just now.
            anchor_ = now - framesToDuration(frames, rate_);
            framesSinceAnchor_ = 0;
            lostData_ = false;
        }
        // A hole (no data) still moves the count on.
        if (data != nullptr && frames > 0 && handlers_.onBlock) {
            PcmBlock block;
            block.format = PcmFormat{true, static_cast<double>(rate_), channels_, 32, true, false};
            block.frameCount = frames;
            const auto* bytesIn = static_cast<const uint8_t*>(data);
            block.buffers.emplace_back(bytesIn, bytesIn + frames * frameBytes_);
            block.pts = *anchor_ + framesToDuration(framesSinceAnchor_, rate_);
            handlers_.onBlock(std::move(block));
        }
        framesSinceAnchor_ += frames;
        pa_stream_drop(stream_);
    }
}

// PulseAudioSourceBackend

PulseAudioSourceBackend::PulseAudioSourceBackend() : PulseAudioSourceBackend(Options{}) {}

PulseAudioSourceBackend::PulseAudioSourceBackend(Options options) : impl_(std::make_shared<Impl>(std::move(options))) {}

PulseAudioSourceBackend::~PulseAudioSourceBackend() = default;

std::vector<AudioSourceInfo> PulseAudioSourceBackend::sources() {
    pa_threaded_mainloop* mainloop = impl_->mainloop();
    if (mainloop == nullptr) return {};
    MainloopLock lock(mainloop);
    std::string error;
    pa_context* context = impl_->connectedContext(&error);
    if (context == nullptr) return {};
    std::vector<AudioSourceInfo> sources;
    if (auto records = impl_->listSources(context)) {
        for (SourceRecord& record : *records) {
            if (!record.monitor) sources.push_back(std::move(record.info));
        }
    }
    return sources;
}

std::optional<AudioSourceInfo> PulseAudioSourceBackend::defaultSource() {
    pa_threaded_mainloop* mainloop = impl_->mainloop();
    if (mainloop == nullptr) return std::nullopt;
    MainloopLock lock(mainloop);
    std::string error;
    pa_context* context = impl_->connectedContext(&error);
    if (context == nullptr) return std::nullopt;
    const auto name = impl_->defaultSourceName(context);
    if (!name) return std::nullopt;
    auto records = impl_->listSources(context);
    if (!records) return std::nullopt;
    // A default that mirrors an output (usual without any microphone) is
    // not a microphone.
    for (SourceRecord& record : *records) {
        if (record.info.id == *name && !record.monitor) return std::move(record.info);
    }
    return std::nullopt;
}

Result<std::unique_ptr<AudioSourceCapture>, std::string> PulseAudioSourceBackend::open(const std::string& id,
                                                                                      AudioSourceHandlers handlers) {
    pa_threaded_mainloop* mainloop = impl_->mainloop();
    if (mainloop == nullptr) return unexpected(std::string("could not start the sound thread"));
    auto capture = std::make_unique<PulseSourceCapture>(impl_, std::move(handlers));
    {
        MainloopLock lock(mainloop);
        std::string error;
        pa_context* context = impl_->connectedContext(&error);
        if (context == nullptr) return unexpected(std::move(error));

        struct Lookup {
            bool found = false;
            pa_sample_spec spec{};
            pa_channel_map map{};
        } lookup;
        pa_operation* operation = pa_context_get_source_info_by_name(
            context, id.c_str(),
            [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
                if (eol != 0 || info == nullptr) return;
                auto* l = static_cast<Lookup*>(userdata);
                l->found = true;
                l->spec = info->sample_spec;
                l->map = info->channel_map;
            },
            &lookup);
        impl_->finish(operation);
        if (!lookup.found) return unexpected("no source named " + id);
        // The source's own rate and channels, as floats.
        lookup.spec.format = PA_SAMPLE_FLOAT32NE;
        if (!pa_sample_spec_valid(&lookup.spec)) return unexpected("unusable format of " + id);
        if (!pa_channel_map_valid(&lookup.map) || lookup.map.channels != lookup.spec.channels) {
            pa_channel_map_init_extend(&lookup.map, lookup.spec.channels, PA_CHANNEL_MAP_DEFAULT);
        }
        if (auto started = capture->start(context, id, lookup.spec, lookup.map); !started) {
            return unexpected(started.error());
        }
    }
    // The capture closes its stream itself, taking the lock again.
    return std::unique_ptr<AudioSourceCapture>(std::move(capture));
}

}  // namespace hollowkit
