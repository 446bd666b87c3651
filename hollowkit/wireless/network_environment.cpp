#include "hollowkit/wireless/network_environment.h"

#include "hollowkit/wireless/bound_udp_socket.h"
#include "hollowkit/wireless/ffmpeg_hevc_decoder.h"
#include "hollowkit/wireless/linux/bluez_central.h"

namespace hollowkit {

NetworkEnvironment NetworkEnvironment::withDefaults() const {
    NetworkEnvironment filled = *this;
    if (!filled.interfaceAddresses) {
        filled.interfaceAddresses = std::make_shared<SystemInterfaceAddresses>();
    }
    if (!filled.repeatLog) {
        filled.repeatLog = std::make_shared<RepeatLog>();
    }
    if (!filled.bleCentrals) {
        filled.bleCentrals = BluezCentral::factory({}, filled.repeatLog);
    }
    if (!filled.tcpConnectors) {
        filled.tcpConnectors = [](const std::string& interface) {
            return std::make_unique<PosixTcpConnector>(interface);
        };
    }
    if (!filled.datagramTransports) {
        filled.datagramTransports = [] { return std::make_unique<BoundUDPSocket>(); };
    }
    if (!filled.hevcDecoders) {
        filled.hevcDecoders = [] { return std::make_unique<FfmpegHevcDecoder>(); };
    }
    filled.timings.sweep.port = filled.tcpPort;
    return filled;
}

}  // namespace hollowkit
