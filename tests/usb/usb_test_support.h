#pragma once

// Shared helpers of the USB tests: a scripted UVC transport that records
// every request and answers from a table.

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/testing/test_support.h"
#include "hollowkit/usb/usb_device.h"

namespace hollowkit::testsupport {

// What a ScriptedTransport saw and how it answers. Shared between the test
// and the transport, which the device handle owns.
struct TransportScript {
    struct Sent {
        UvcSetupPacket setup;
        Bytes data;  // as sent (SET) or as answered (GET)
    };

    std::mutex mutex;
    std::vector<Sent> sent;
    // Answers to GETs by (request, selector); a GET without one fails EPIPE.
    std::map<std::pair<uint8_t, uint8_t>, Bytes> answers;
    // Status for (request, selector); absent means success.
    std::map<std::pair<uint8_t, uint8_t>, int> failures;
    bool open = true;

    std::vector<Sent> sentCopy() {
        std::lock_guard lock(mutex);
        return sent;
    }
};

class ScriptedTransport final : public UvcTransport {
public:
    explicit ScriptedTransport(std::shared_ptr<TransportScript> script) : script_(std::move(script)) {}

    int controlRequest(const UvcSetupPacket& setup, std::span<uint8_t> data) override {
        std::lock_guard lock(script_->mutex);
        const auto key = std::make_pair(setup.request, setup.selector());
        int status = 0;
        if (auto failure = script_->failures.find(key); failure != script_->failures.end()) {
            status = failure->second;
        } else if (setup.isGet()) {
            const auto answer = script_->answers.find(key);
            if (answer == script_->answers.end() || answer->second.size() != data.size()) {
                status = 32;  // EPIPE: the device stalled
            } else {
                std::copy(answer->second.begin(), answer->second.end(), data.begin());
            }
        }
        script_->sent.push_back({setup, Bytes(data.begin(), data.end())});
        return status;
    }
    bool isOpen() const override { return script_->open; }

private:
    std::shared_ptr<TransportScript> script_;
};

inline std::unique_ptr<USBDeviceHandle> scriptedHandle(std::shared_ptr<TransportScript> script,
                                                       uint16_t productId = 0x00AB, uint8_t terminalId = 1,
                                                       uint8_t interfaceNumber = 0) {
    return std::make_unique<USBDeviceHandle>(std::make_unique<ScriptedTransport>(std::move(script)),
                                             interfaceNumber, terminalId, productId);
}

}  // namespace hollowkit::testsupport
