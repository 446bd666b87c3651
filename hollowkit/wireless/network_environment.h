#pragma once

// NetworkEnvironment: everything the wireless camera reaches outside itself
// for its Wi-Fi road, gathered so one value can aim it at the real machine
// (the defaults: the camera at 192.168.2.1 on its own access point, the Wi-Fi
// device nmcli reports, BlueZ, real sockets, libavcodec) or at a simulated
// camera on 127.0.0.x with fake tools and shortened timings in tests.
// Services left empty are filled with their Linux backends by
// withDefaults(). A plain value; the factories must be callable from any
// thread (the camera's worker threads make connectors and transports).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "hollowkit/base/clock.h"
#include "hollowkit/wireless/ble_central.h"
#include "hollowkit/wireless/camera_wifi.h"
#include "hollowkit/wireless/datagram_transport.h"
#include "hollowkit/wireless/duml_udp_link.h"
#include "hollowkit/wireless/hevc_decoder.h"
#include "hollowkit/wireless/interface_addresses.h"
#include "hollowkit/wireless/repeat_log.h"
#include "hollowkit/wireless/subnet_sweep.h"
#include "hollowkit/wireless/tcp_bootstrap.h"
#include "hollowkit/wireless/tcp_connector.h"
#include "hollowkit/wireless/wireless_video_session.h"

namespace hollowkit {

// Makes the TCP connector for the camera's port 7001 bound to `interface`.
using TcpConnectorFactory = std::function<std::unique_ptr<TcpConnector>(const std::string& interface)>;
// Makes one UDP transport for one link.
using DatagramTransportFactory = std::function<std::unique_ptr<DatagramTransport>()>;
// Makes the live view's decoder (one per video thread).
using HevcDecoderFactory = std::function<std::unique_ptr<HevcDecoder>()>;

// The wireless road's times and counts; the defaults are the camera's own.
struct WirelessTimings {
    Duration roleQueryTimeout = std::chrono::seconds(12);
    // Search for a camera already on the home network, and after moving it.
    Duration stationSearch = std::chrono::seconds(6);
    Duration movedSearch = std::chrono::seconds(60);
    Duration sweepPause = std::chrono::seconds(2);
    size_t sweepHostLimit = 8;
    Duration verifyTimeout = std::chrono::seconds(3);
    int linkAttempts = 4;
    Duration restartPause = std::chrono::seconds(5);
    // A stop completes at the link's disconnection or at the latest after this.
    Duration stopDeadline = std::chrono::seconds(6);
    // A failure of this computer (no Bluetooth adapter, the Wi-Fi tool that
    // cannot run or does not answer) is tried again after this, doubling up
    // to the longest wait.
    Duration computerRetryFirst = std::chrono::seconds(3);
    Duration computerRetryLongest = std::chrono::seconds(30);
    UdpLinkTimings link;
    SessionTimings session;
    BootstrapTimings bootstrap;
    CameraWiFiTimings wifi;
    SubnetSweepOptions sweep;  // its port is replaced by the environment's tcpPort
};

struct NetworkEnvironment {
    // The camera on its own access point, and the start of every address on
    // that network.
    std::string cameraHost = "192.168.2.1";
    std::string cameraAddressPrefix = "192.168.2.";
    uint16_t udpPort = 9004;
    uint16_t tcpPort = kCameraTcpPort;
    // The Wi-Fi interface; none: found with nmcli (CameraWiFi).
    std::optional<std::string> wifiDevice;
    std::string nmcliPath = "/usr/bin/nmcli";

    std::shared_ptr<const InterfaceAddresses> interfaceAddresses;  // getifaddrs
    BleCentralFactory bleCentrals;                                 // BlueZ on the system bus
    TcpConnectorFactory tcpConnectors;                             // PosixTcpConnector
    DatagramTransportFactory datagramTransports;                   // BoundUDPSocket
    HevcDecoderFactory hevcDecoders;                               // FfmpegHevcDecoder
    // Shared by the cameras and centrals made with this environment, so a
    // failure that every one of them meets is logged once.
    std::shared_ptr<RepeatLog> repeatLog;

    WirelessTimings timings;

    // This environment with every empty service set to its Linux backend.
    NetworkEnvironment withDefaults() const;
};

}  // namespace hollowkit
