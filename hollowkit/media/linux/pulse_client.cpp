#include "hollowkit/media/linux/pulse_client.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <charconv>
#include <utility>

#include "hollowkit/base/mutex.h"
#include "hollowkit/base/thread_name.h"
#include "hollowkit/media/sound_stamper.h"

namespace hollowkit {

namespace {

constexpr const char* kClientName = "Lumenhollow";
// Small fragments keep the sound close to the pictures it goes with.
constexpr auto kFragment = std::chrono::milliseconds(20);

PulseError errorFor(int paError, const char* what) {
    return {paError, std::string(what) + ": " + pa_strerror(paError)};
}

void signalMainloop(void* userdata) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

// Holds the threaded main loop's lock for a scope.
class MainloopLock {
public:
    explicit MainloopLock(pa_threaded_mainloop* mainloop) : mainloop_(mainloop) {
        pa_threaded_mainloop_lock(mainloop_);
    }
    ~MainloopLock() { pa_threaded_mainloop_unlock(mainloop_); }
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

private:
    pa_threaded_mainloop* mainloop_;
};

}  // namespace

std::optional<uint16_t> parseUsbVendorId(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    if (text.empty() || text.size() > 4) return std::nullopt;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return static_cast<uint16_t>(value);
}

bool PulseError::refused() const {
    return code == PA_ERR_ACCESS || code == PA_ERR_AUTHKEY;
}

struct PulseClient::Impl {
    Impl(Options options, std::string threadLabel)
        : options_(std::move(options)), threadLabel_(std::move(threadLabel)) {}
    ~Impl();

    // Starts the main loop once. Any thread.
    pa_threaded_mainloop* mainloop() HK_EXCLUDES(setupMutex_);
    // The started main loop, for code that reached it through mainloop():
    // set once under setupMutex_ and never changed after, so reading it
    // needs no lock.
    pa_threaded_mainloop* started() const HK_NO_THREAD_SAFETY_ANALYSIS { return mainloop_; }

    // The rest: main loop lock held, never on the main loop's thread.

    // Waits until `done` holds; false when the time-out passed first.
    bool waitUntil(const std::function<bool()>& done);
    // A connected context, connecting (again) when needed.
    Result<pa_context*, PulseError> connectedContext();
    // Runs `operation` to its end; false on time-out or a lost connection.
    bool finish(pa_operation* operation);
    std::optional<std::vector<PulseSource>> listSources(pa_context* context);
    std::optional<std::string> defaultSourceName(pa_context* context);

    const Options options_;
    const std::string threadLabel_;
    Mutex setupMutex_;
    pa_threaded_mainloop* mainloop_ HK_GUARDED_BY(setupMutex_) = nullptr;
    pa_context* context_ = nullptr;             // guarded by the main loop lock
};

namespace {

// One record stream. Its callbacks run on the main loop's thread with the
// lock held; the destructor clears them under the same lock, so none runs
// after it.
class PulseStreamRecording final : public PulseRecording {
public:
    PulseStreamRecording(std::shared_ptr<PulseClient::Impl> client, PulseClient::RecordOptions options,
                         PulseRecordHandlers handlers)
        : client_(std::move(client)), options_(std::move(options)), handlers_(std::move(handlers)) {}
    ~PulseStreamRecording() override;

    Result<void, PulseError> start(pa_context* context, const std::string& source, const pa_sample_spec& spec,
                                   const pa_channel_map& map);

private:
    static void onState(pa_stream* stream, void* userdata);
    static void onRead(pa_stream* stream, size_t bytes, void* userdata);
    static void onOverflow(pa_stream* stream, void* userdata);
    void readAvailable();

    std::shared_ptr<PulseClient::Impl> client_;
    const PulseClient::RecordOptions options_;
    PulseRecordHandlers handlers_;
    pa_stream* stream_ = nullptr;
    uint32_t rate_ = 0;
    uint8_t channels_ = 0;
    size_t frameBytes_ = 0;
    bool running_ = false;
    bool failureReported_ = false;
    // The times of the fragments; made once the stream's rate is known.
    std::optional<SoundStamper> stamper_;
};

}  // namespace

// Impl

PulseClient::Impl::~Impl() {
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

pa_threaded_mainloop* PulseClient::Impl::mainloop() {
    MutexLock lock(setupMutex_);
    if (mainloop_ != nullptr) return mainloop_;
    pa_threaded_mainloop* mainloop = pa_threaded_mainloop_new();
    if (mainloop == nullptr) return nullptr;
    pa_threaded_mainloop_set_name(mainloop, osThreadName(threadLabel_).c_str());
    if (pa_threaded_mainloop_start(mainloop) < 0) {
        pa_threaded_mainloop_free(mainloop);
        return nullptr;
    }
    mainloop_ = mainloop;
    return mainloop_;
}

bool PulseClient::Impl::waitUntil(const std::function<bool()>& done) {
    if (done()) return true;
    struct Alarm {
        pa_threaded_mainloop* mainloop;
        bool rang = false;
    } alarm{started()};
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(started());
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
    while (!done() && !alarm.rang) pa_threaded_mainloop_wait(started());
    api->time_free(event);
    return done();
}

Result<pa_context*, PulseError> PulseClient::Impl::connectedContext() {
    if (context_ != nullptr) {
        if (pa_context_get_state(context_) == PA_CONTEXT_READY) return context_;
        // The server went away (or never answered): start over.
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    pa_context* context = pa_context_new(pa_threaded_mainloop_get_api(started()), kClientName);
    if (context == nullptr) return unexpected(PulseError{0, "could not make a sound server context"});
    pa_context_set_state_callback(
        context, [](pa_context*, void* userdata) { signalMainloop(userdata); }, started());
    const auto dropContext = [&] {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
    };
    // A server named explicitly is used as it is; only the user's default
    // may be started on demand.
    const char* server = options_.server.empty() ? nullptr : options_.server.c_str();
    const pa_context_flags_t flags = server != nullptr ? PA_CONTEXT_NOAUTOSPAWN : PA_CONTEXT_NOFLAGS;
    if (pa_context_connect(context, server, flags, nullptr) < 0) {
        PulseError error = errorFor(pa_context_errno(context), "connect");
        dropContext();
        return unexpected(std::move(error));
    }
    const bool settled = waitUntil([&] {
        const pa_context_state_t state = pa_context_get_state(context);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    if (!settled || pa_context_get_state(context) != PA_CONTEXT_READY) {
        PulseError error = settled ? errorFor(pa_context_errno(context), "connect")
                                   : PulseError{0, "connect: no answer from the sound server"};
        dropContext();
        return unexpected(std::move(error));
    }
    context_ = context;
    return context_;
}

bool PulseClient::Impl::finish(pa_operation* operation) {
    if (operation == nullptr) return false;
    pa_operation_set_state_callback(
        operation, [](pa_operation*, void* userdata) { signalMainloop(userdata); }, started());
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

std::optional<std::vector<PulseSource>> PulseClient::Impl::listSources(pa_context* context) {
    struct Listing {
        std::vector<PulseSource> sources;
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
            PulseSource source;
            source.id = info->name != nullptr ? info->name : "";
            source.name = info->description != nullptr && info->description[0] != '\0' ? info->description : source.id;
            if (const char* vendor = pa_proplist_gets(info->proplist, PA_PROP_DEVICE_VENDOR_ID)) {
                source.usbVendorId = parseUsbVendorId(vendor);
            }
            source.monitor = info->monitor_of_sink != PA_INVALID_INDEX;
            l->sources.push_back(std::move(source));
        },
        &listing);
    if (!finish(operation) || listing.failed) return std::nullopt;
    return std::move(listing.sources);
}

std::optional<std::string> PulseClient::Impl::defaultSourceName(pa_context* context) {
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

// PulseStreamRecording

PulseStreamRecording::~PulseStreamRecording() {
    if (stream_ == nullptr) return;
    MainloopLock lock(client_->started());
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_overflow_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
}

Result<void, PulseError> PulseStreamRecording::start(pa_context* context, const std::string& source,
                                                     const pa_sample_spec& spec, const pa_channel_map& map) {
    rate_ = spec.rate;
    channels_ = spec.channels;
    frameBytes_ = pa_frame_size(&spec);
    stamper_.emplace(rate_, SoundStamper::Options{.lateLimit = options_.lateLimit,
                                                 .latenessWindow = options_.latenessWindow});
    stream_ = pa_stream_new(context, options_.streamName.c_str(), &spec, &map);
    if (stream_ == nullptr) return unexpected(errorFor(pa_context_errno(context), "stream"));
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
    // DONT_MOVE: when the chosen source goes, the recording fails and says
    // so, rather than quietly recording from another input.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_, source.c_str(), &attributes, flags) < 0) {
        return unexpected(errorFor(pa_context_errno(context), "record"));
    }
    const bool settled = client_->waitUntil([&] {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    });
    if (!settled) return unexpected(PulseError{0, "record: no answer from the sound server"});
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
        return unexpected(errorFor(pa_context_errno(context), "record"));
    }
    running_ = true;
    return {};
}

void PulseStreamRecording::onState(pa_stream* stream, void* userdata) {
    auto* self = static_cast<PulseStreamRecording*>(userdata);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (!PA_STREAM_IS_GOOD(state) && self->running_ && !self->failureReported_) {
        self->failureReported_ = true;
        if (self->handlers_.onFailure) {
            self->handlers_.onFailure(errorFor(pa_context_errno(pa_stream_get_context(stream)), "capture"));
        }
    }
    pa_threaded_mainloop_signal(self->client_->started(), 0);
}

void PulseStreamRecording::onRead(pa_stream*, size_t, void* userdata) {
    static_cast<PulseStreamRecording*>(userdata)->readAvailable();
}

void PulseStreamRecording::onOverflow(pa_stream*, void* userdata) {
    static_cast<PulseStreamRecording*>(userdata)->stamper_->lostData();
}

void PulseStreamRecording::readAvailable() {
    const TimePoint now = SteadyClock::now();
    // A backlog read at once came by now as a whole: each fragment's
    // newest frame was recorded before the frames that follow it.
    const size_t readable = pa_stream_readable_size(stream_);
    size_t after = readable == static_cast<size_t>(-1) ? 0 : readable;
    for (;;) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) break;
        const uint64_t frames = bytes / frameBytes_;
        after -= std::min(after, bytes);
        // A hole (no data) still moves the timeline on.
        const SoundStamper::Stamp stamp = stamper_->stamp(frames, now, after / frameBytes_);
        if (data != nullptr && frames > stamp.skipped && handlers_.onFragment) {
            handlers_.onFragment(PulseFragment{static_cast<const uint8_t*>(data) + stamp.skipped * frameBytes_,
                                               frames - stamp.skipped, rate_, channels_, stamp.pts});
        }
        pa_stream_drop(stream_);
    }
}

// PulseClient

PulseClient::PulseClient(Options options, std::string threadLabel)
    : impl_(std::make_shared<Impl>(std::move(options), std::move(threadLabel))) {}

PulseClient::~PulseClient() = default;

std::optional<std::vector<PulseSource>> PulseClient::sources() {
    pa_threaded_mainloop* mainloop = impl_->mainloop();
    if (mainloop == nullptr) return std::nullopt;
    MainloopLock lock(mainloop);
    auto context = impl_->connectedContext();
    if (!context) return std::nullopt;
    return impl_->listSources(context.value());
}

std::optional<PulseSource> PulseClient::defaultSource() {
    pa_threaded_mainloop* mainloop = impl_->mainloop();
    if (mainloop == nullptr) return std::nullopt;
    MainloopLock lock(mainloop);
    auto context = impl_->connectedContext();
    if (!context) return std::nullopt;
    const std::optional<std::string> name = impl_->defaultSourceName(context.value());
    if (!name) return std::nullopt;
    auto sources = impl_->listSources(context.value());
    if (!sources) return std::nullopt;
    for (PulseSource& source : *sources) {
        if (source.id == *name && !source.monitor) return std::move(source);
    }
    return std::nullopt;
}

Result<std::unique_ptr<PulseRecording>, PulseError> PulseClient::record(const std::string& id, RecordOptions options,
                                                                        PulseRecordHandlers handlers) {
    pa_threaded_mainloop* mainloop = impl_->mainloop();
    if (mainloop == nullptr) return unexpected(PulseError{0, "could not start the sound thread"});
    const int maxChannels = options.maxChannels;
    auto recording = std::make_unique<PulseStreamRecording>(impl_, std::move(options), std::move(handlers));
    {
        MainloopLock lock(mainloop);
        auto context = impl_->connectedContext();
        if (!context) return unexpected(context.error());

        // The source's own format: its rate and channels, as floats.
        struct Lookup {
            bool found = false;
            pa_sample_spec spec{};
            pa_channel_map map{};
        } lookup;
        pa_operation* operation = pa_context_get_source_info_by_name(
            context.value(), id.c_str(),
            [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
                if (eol != 0 || info == nullptr) return;
                auto* l = static_cast<Lookup*>(userdata);
                l->found = true;
                l->spec = info->sample_spec;
                l->map = info->channel_map;
            },
            &lookup);
        impl_->finish(operation);
        if (!lookup.found) return unexpected(PulseError{0, "no source named " + id});
        lookup.spec.format = PA_SAMPLE_FLOAT32NE;
        if (!pa_sample_spec_valid(&lookup.spec) || lookup.spec.channels > maxChannels) {
            return unexpected(PulseError{0, "unusable format of " + id});
        }
        if (!pa_channel_map_valid(&lookup.map) || lookup.map.channels != lookup.spec.channels) {
            pa_channel_map_init_extend(&lookup.map, lookup.spec.channels, PA_CHANNEL_MAP_DEFAULT);
        }
        if (auto started = recording->start(context.value(), id, lookup.spec, lookup.map); !started) {
            return unexpected(started.error());
        }
    }
    // The recording closes its stream itself, taking the lock again.
    return std::unique_ptr<PulseRecording>(std::move(recording));
}

}  // namespace hollowkit
