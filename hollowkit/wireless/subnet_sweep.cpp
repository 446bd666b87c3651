#include "hollowkit/wireless/subnet_sweep.h"

#include <algorithm>

namespace hollowkit {

std::vector<uint32_t> sweepCandidates(uint32_t address, uint32_t netmask, uint32_t widestSpan) {
    const uint32_t network = address & netmask;
    const uint32_t broadcast = address | ~netmask;
    // Unsigned arithmetic: broadcast >= network always holds, so the span
    // never wraps; network + 1 < broadcast rules out /31 and /32.
    if (broadcast - network > widestSpan || network + 1 >= broadcast) {
        return {};
    }
    std::vector<uint32_t> candidates;
    candidates.reserve(broadcast - network - 1);
    for (uint32_t host = network + 1; host < broadcast; ++host) {
        if (host != address) {
            candidates.push_back(host);
        }
    }
    return candidates;
}

std::vector<std::string> sweepSubnet(TcpConnector& connector, const InterfaceAddresses& addresses,
                                     const std::string& interface, size_t limit, const SubnetSweepOptions& options,
                                     const StopFlag* stop) {
    auto own = firstIPv4Address(addresses, interface);
    if (!own || limit == 0) {
        return {};
    }
    const std::vector<uint32_t> candidates = sweepCandidates(own->address, own->netmask, options.widestSpan);
    const size_t batchSize = std::max<size_t>(options.batchSize, 1);
    std::vector<std::string> answering;
    for (size_t start = 0; start < candidates.size() && answering.size() < limit; start += batchSize) {
        if (stop != nullptr && stop->isSet()) {
            break;
        }
        std::vector<std::string> batch;
        const size_t end = std::min(candidates.size(), start + batchSize);
        batch.reserve(end - start);
        for (size_t i = start; i < end; ++i) {
            batch.push_back(dottedQuad(candidates[i]));
        }
        for (std::string& host : connector.probe(batch, options.port, options.probeTimeout)) {
            answering.push_back(std::move(host));
        }
    }
    if (answering.size() > limit) {
        answering.resize(limit);
    }
    return answering;
}

}  // namespace hollowkit
