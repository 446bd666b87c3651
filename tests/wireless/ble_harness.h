#pragma once

// A Bluetooth test bench: a ManualExecutor, the fake radio with the simulated
// camera in range, a link under test, the events it raised and the log lines
// written meanwhile.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/testing/fake_ble_central.h"
#include "hollowkit/testing/manual_executor.h"
#include "hollowkit/testing/sim_pocket_ble.h"
#include "hollowkit/wireless/pocket_bluetooth_link.h"

namespace hollowkit::testsupport {

inline constexpr const char* kIdentifier = "0123456789abcdef0123456789abcdef";

class CaptureLog final : public LogSink {
public:
    CaptureLog() { PocketLog::setSinkForTesting(this); }
    ~CaptureLog() override { PocketLog::setSinkForTesting(nullptr); }

    void writeConsole(std::string_view) override {}
    void writeSystem(std::string_view message) override { lines.emplace_back(message); }

    int count(const std::string& line) const { return static_cast<int>(std::count(lines.begin(), lines.end(), line)); }
    int countPrefix(const std::string& prefix) const {
        return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                              [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }

    std::vector<std::string> lines;
};

using Event = PocketBluetoothLink::Event;
using Kind = PocketBluetoothLink::Event::Kind;

class BleHarness {
public:
    explicit BleHarness(SimPocketBle::Config config = {}, bool wakesWiFi = true)
        : radio(executor), camera(executor, std::move(config)) {
        radio.add(camera);
        makeLink(wakesWiFi);
    }

    ~BleHarness() {
        link.reset();
        radio.remove(camera);
    }

    void makeLink(bool wakesWiFi) {
        link = std::make_unique<PocketBluetoothLink>(executor, kIdentifier, wakesWiFi);
        link->onEvent = [this](const Event& event) { events.push_back(event); };
    }

    void start() { link->start(radio.makeCentral()); }

    // Starts and runs until the camera's Wi-Fi credentials arrived (or
    // `limit` of virtual time passed).
    bool startUntilCredentials(Duration limit = std::chrono::seconds(30)) {
        start();
        return runUntil([this] { return count(Kind::credentials) > 0; }, limit);
    }

    template <typename Condition>
    bool runUntil(Condition condition, Duration limit) {
        const auto step = std::chrono::milliseconds(10);
        for (Duration spent{}; spent <= limit; spent += step) {
            executor.runUntilIdle();
            if (condition()) return true;
            executor.advance(step);
        }
        return condition();
    }

    int count(Kind kind) const {
        return static_cast<int>(
            std::count_if(events.begin(), events.end(), [kind](const Event& e) { return e.kind == kind; }));
    }
    std::vector<std::string> texts(Kind kind) const {
        std::vector<std::string> out;
        for (const auto& e : events) {
            if (e.kind == kind) out.push_back(e.text);
        }
        return out;
    }
    bool hasStatus(const std::string& text) const {
        auto all = texts(Kind::status);
        return std::find(all.begin(), all.end(), text) != all.end();
    }
    // Writes without response the link issued that reached the camera.
    size_t sentWrites() const {
        return static_cast<size_t>(std::count_if(radio.writes().begin(), radio.writes().end(), [](const auto& w) {
            return w.type == BleWriteType::withoutResponse && !w.dropped;
        }));
    }

    CaptureLog log;
    ManualExecutor executor;
    FakeBleRadio radio;
    SimPocketBle camera;
    std::unique_ptr<PocketBluetoothLink> link;
    std::vector<Event> events;
};

}  // namespace hollowkit::testsupport
