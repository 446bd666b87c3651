// The Bluetooth link's frame receiver on arbitrary notification values: the
// bytes are cut into chunks (each chunk's length taken from the input) and
// delivered as FFF4 notifications to a link that is connected, armed and
// paired with the simulated camera, so reassembly, the frame handler, the
// answers to camera requests, reply waiters and telemetry all run. The same
// chunks also go through a bare receive buffer, whose bound is checked.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/camera/duml_constants.h"
#include "hollowkit/testing/fake_ble_central.h"
#include "hollowkit/testing/manual_executor.h"
#include "hollowkit/testing/sim_pocket_ble.h"
#include "hollowkit/wireless/duml_receive_buffer.h"
#include "hollowkit/wireless/pocket_bluetooth_link.h"

namespace hollowkit {
namespace {

class NullSink final : public LogSink {
public:
    void writeConsole(std::string_view) override {}
    void writeSystem(std::string_view) override {}
};

constexpr const char* kIdentifier = "0123456789abcdef0123456789abcdef";
constexpr auto kRequestTimeout = std::chrono::seconds(1);

}  // namespace
}  // namespace hollowkit

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace hollowkit;
    static NullSink sink;
    PocketLog::setSinkForTesting(&sink);

    ManualExecutor executor;
    FakeBleRadio radio(executor);
    SimPocketBle::Config config;
    config.pairedIdentifiers = {kIdentifier};
    SimPocketBle camera(executor, config);
    radio.add(camera);
    {
        PocketBluetoothLink link(executor, kIdentifier, true);
        int events = 0;
        link.onEvent = [&events](const PocketBluetoothLink::Event&) { ++events; };
        link.start(radio.makeCentral());
        executor.advance(std::chrono::milliseconds(300));
        // A request in flight, so replies in the input can settle it.
        link.request(DumlConstants::wifiRoleQueryFrame(), kRequestTimeout, [](std::optional<DumlFrame>) {});

        DumlReceiveBuffer buffer;
        size_t offset = 0;
        while (offset < size) {
            const size_t length = std::min<size_t>(1 + data[offset] % 64, size - offset - 1);
            ++offset;
            if (length == 0) break;
            ByteView chunk(data + offset, length);
            offset += length;
            buffer.push(chunk);
            if (buffer.size() > DumlReceiveBuffer::kCapacity) std::abort();
            camera.sendRaw(Bytes(chunk.begin(), chunk.end()));
            executor.runUntilIdle();
        }
        // Up to the request's time-out, so an unanswered one settles; the
        // camera's later timers add nothing the input decides.
        executor.advance(kRequestTimeout);
    }
    radio.remove(camera);
    PocketLog::setSinkForTesting(nullptr);
    return 0;
}
