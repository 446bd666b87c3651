// The Wi-Fi microphone menu of the demonstration application against a
// sound server of the run's own holding two microphones, each playing a tone
// of its own pitch: the menu lists both, and a movie recorded after choosing
// one carries that one's tone, not the other's.

#include <QAction>
#include <QElapsedTimer>
#include <QMenu>
#include <QProcess>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <numbers>
#include <vector>

#include "demo_run.h"
#include "hollowkit/base/command_runner.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/panels/microphone_control.h"
#include "lumenhollow/ui/panels/microphone_menu_button.h"
#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/main_window.h"

namespace lumenhollow::test {
namespace {

constexpr int kProbeRate = 16000;

struct ToneMicrophone {
    const char* name;  // the source's name on the sound server and its description
    int frequency;
};
constexpr ToneMicrophone kLowMicrophone{"DeskMicLow", 350};
constexpr ToneMicrophone kHighMicrophone{"DeskMicHigh", 1700};

// A sink playing the tone and a source reading its monitor: sound in small
// fragments, in real time, as a microphone gives.
std::string addToneMicrophone(const hollowkit::PrivatePulseServer& pulse, const ToneMicrophone& microphone) {
    const std::string sink = std::string("sink_") + microphone.name;
    const std::vector<std::vector<std::string>> steps = {
        {"load-module", "module-null-sink", "sink_name=" + sink},
        {"load-module", "module-sine", "sink=" + sink, "frequency=" + std::to_string(microphone.frequency)},
        {"load-module", "module-remap-source", std::string("source_name=") + microphone.name,
         "master=" + sink + ".monitor", std::string("source_properties=device.description=") + microphone.name},
    };
    for (const auto& step : steps) {
        const hollowkit::CommandResult result = pulse.pactl(step);
        if (result.status != 0) return step[1] + ": " + result.output;
    }
    return {};
}

// A null sink renders seconds ahead until someone listens closely: a reader
// asking for short fragments keeps each tone's sink at a microphone's pace,
// so the movie gets sound from its first moment.
struct EndReader {
    void operator()(QProcess* reader) const {
        reader->kill();
        reader->waitForFinished(5000);
        delete reader;
    }
};
using Reader = std::unique_ptr<QProcess, EndReader>;

Reader listenClosely(const ToneMicrophone& microphone) {
    Reader reader(new QProcess);
    reader->setStandardOutputFile(QProcess::nullDevice());
    reader->start(QStringLiteral("/usr/bin/parec"),
                  {QStringLiteral("-d"), QString::fromUtf8(microphone.name), QStringLiteral("--latency-msec=20")});
    return reader;
}

// The title the computer's input `id` has in the menu: the server's name for it.
QString inputTitle(const CameraModel& model, const char* id) {
    for (const hollowkit::AudioInputOption& input : model.state().macMicrophones) {
        if (input.id == id) return QString::fromStdString(input.name);
    }
    return {};
}

// The movie's sound as mono samples at kProbeRate; empty when it has none.
std::vector<int16_t> soundOf(const std::filesystem::path& movie) {
    const auto raw = movie.parent_path() / "probe.pcm";
    const hollowkit::CommandResult result = hollowkit::CommandRunner::run(
        "/usr/bin/ffmpeg",
        {"-v", "error", "-y", "-i", movie.string(), "-vn", "-ac", "1", "-ar", std::to_string(kProbeRate), "-f",
         "s16le", raw.string()},
        {}, /*logged=*/false, std::chrono::seconds(120));
    if (result.status != 0) return {};
    std::ifstream in(raw, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// The strength of `frequency` in `samples` (Goertzel), per sample.
double strengthAt(const std::vector<int16_t>& samples, int frequency) {
    const double w = 2 * std::numbers::pi * frequency / kProbeRate;
    const double coefficient = 2 * std::cos(w);
    double s1 = 0;
    double s2 = 0;
    for (int16_t sample : samples) {
        const double s0 = sample + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return samples.empty() ? 0 : std::sqrt(std::max(power, 0.0)) / static_cast<double>(samples.size());
}

// The menu's row titled `title`, filled as it is when it opens.
QAction* rowTitled(QMenu& menu, const QString& title) {
    Q_EMIT menu.aboutToShow();
    for (QAction* action : menu.actions()) {
        if (action->text() == title && action->isEnabled()) return action;
    }
    return nullptr;
}

class WiFiMicrophoneEndToEndTest : public testing::Test {
protected:
    void SetUp() override {
        DemoRun::Options options;
        options.privateSound = true;
        const std::string why = run_.prepare(options);
        if (!why.empty()) GTEST_SKIP() << why;
        if (!std::filesystem::exists("/usr/bin/parec")) GTEST_SKIP() << "parec is not installed";
        for (const ToneMicrophone& microphone : {kLowMicrophone, kHighMicrophone}) {
            const std::string failed = addToneMicrophone(run_.pulse(), microphone);
            ASSERT_TRUE(failed.empty()) << failed;
        }
    }

    DemoRun run_;
};

TEST_F(WiFiMicrophoneEndToEndTest, TheMenuListsBothAndTheChosenOneIsWhatTheMovieHears) {
    const struct {
        ToneMicrophone chosen;
        ToneMicrophone other;
    } cases[] = {{kLowMicrophone, kHighMicrophone}, {kHighMicrophone, kLowMicrophone}};
    const int status = run_.run([&](RunningDemo& demo) {
        const Reader readers[] = {listenClosely(kLowMicrophone), listenClosely(kHighMicrophone)};
        for (const auto& reader : readers) ASSERT_TRUE(reader->waitForStarted(5000));
        ASSERT_TRUE(demo.waitForLive()) << demo.model().state().statusText;
        ASSERT_TRUE(demo.switchToWireless()) << demo.model().state().statusText;
        // Movies on this computer, where the chosen microphone is heard.
        demo.model().setRecordTarget(RecordTarget::mac);
        auto* control = demo.window().findChild<MicrophoneControl*>();
        ASSERT_TRUE(control);
        ASSERT_TRUE(demo.waitFor([&] { return control->isVisible() && control->isWirelessFace(); }, 10s));
        QMenu& menu = *control->menuButton().menu();

        size_t taken = 0;
        for (const auto& c : cases) {
            SCOPED_TRACE(c.chosen.name);
            QAction* row = nullptr;
            const QString title = inputTitle(demo.model(), c.chosen.name);
            const QString otherTitle = inputTitle(demo.model(), c.other.name);
            ASSERT_FALSE(title.isEmpty() || otherTitle.isEmpty() || title == otherTitle)
                << "the computer's inputs should hold both, each under its own name";
            ASSERT_TRUE(demo.waitFor([&] {
                row = rowTitled(menu, title);
                return row && rowTitled(menu, otherTitle);
            }, 20s)) << "the menu should list both microphones";
            row->trigger();
            ASSERT_TRUE(demo.waitFor([&] {
                QAction* chosen = rowTitled(menu, title);
                return chosen && chosen->isChecked() && demo.model().state().wirelessMicID == c.chosen.name;
            }, 10s));

            demo.model().toggleRecording();
            ASSERT_TRUE(demo.waitFor([&] { return demo.model().isRecording(); }, 30s))
                << demo.model().state().notice.value_or("no notice");
            QElapsedTimer elapsed;
            elapsed.start();
            demo.waitFor([&] { return elapsed.hasExpired(3000); }, 5s);
            demo.model().toggleRecording();
            ++taken;
            std::vector<std::filesystem::path> movies;
            ASSERT_TRUE(demo.waitFor([&] {
                movies = moviesIn(demo.videos);
                // Also the microphone let go with the movie's last sound.
                return !demo.model().isRecording() && !demo.model().isMacMicrophoneRunning() &&
                       movies.size() == taken &&
                       probeMovie(movies.back()).value_or(ProbedMovie{}).hasAudio;
            }, 60s)) << movies.size() << " movies " << demo.model().state().notice.value_or("no notice");
            // The newest movie: names sort by the time they were taken.
            const std::vector<int16_t> sound = soundOf(movies.back());
            ASSERT_GT(sound.size(), static_cast<size_t>(kProbeRate)) << "a second of sound at least";
            const double heard = strengthAt(sound, c.chosen.frequency);
            const double other = strengthAt(sound, c.other.frequency);
            EXPECT_GT(heard, 20 * other) << "chosen " << heard << ", other " << other;
            EXPECT_GT(heard, 100) << "the chosen tone should be clearly there";
        }
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace lumenhollow::test
