#include "hollowkit/wireless/tcp_bootstrap.h"

#include "hollowkit/base/pocket_log.h"

namespace hollowkit {

void sendBootstrapFrame(TcpConnector& connector, ByteView frame, const std::string& host, uint16_t port,
                        const BootstrapTimings& timings) {
    switch (connector.sendOnce(host, port, frame, {timings.connect, timings.send, timings.linger})) {
    case TcpSendOutcome::sent:
        PocketLog::log("TCP/7001 bootstrap: pairing frame sent");
        break;
    case TcpSendOutcome::sendUnconfirmed:
        // Not claimed as sent: the camera may never have had the frame.
        PocketLog::log("TCP/7001 bootstrap: pairing frame send not confirmed");
        break;
    case TcpSendOutcome::none:
    case TcpSendOutcome::notConnected:
        PocketLog::log("TCP/7001 bootstrap: no connection, continuing to UDP");
        break;
    }
}

bool probeHost(TcpConnector& connector, const std::string& host, uint16_t port, const BootstrapTimings& timings) {
    return !connector.probe({host}, port, timings.probe).empty();
}

}  // namespace hollowkit
