// The live-view stream assembler and the HEVC syntax readers on arbitrary
// bytes. The input is a run of records, each one datagram for the assembler:
// a control byte, a 16-bit little-endian length and that many bytes. Control
// bits can start a new link first, stamp the start marker at offset 20, and
// stamp the same session into the header, so the fuzzer reaches whole
// messages and pictures easily. Every NAL unit of every completed picture
// also goes through the syntax readers.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/wireless/hevc_stream_assembler.h"
#include "hollowkit/wireless/hevc_syntax.h"

namespace hollowkit {
namespace {

class NullSink final : public LogSink {
public:
    void writeConsole(std::string_view) override {}
    void writeSystem(std::string_view) override {}
};

constexpr uint8_t kBeginLink = 0x01;
constexpr uint8_t kStampMarker = 0x02;
constexpr uint8_t kStampSession = 0x04;

}  // namespace
}  // namespace hollowkit

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace hollowkit;
    static NullSink sink;
    PocketLog::setSinkForTesting(&sink);

    const ByteView whole(data, size);
    (void)splitNalUnits(whole);
    const auto sps = parseHevcSps(whole);
    const auto pps = parseHevcPps(whole);
    if (sps && pps) {
        (void)sliceOrderCountLsb(whole, *sps, *pps);
    }

    HevcStreamAssembler assembler;
    int pictures = 0;
    assembler.setOnSample([&pictures](const HevcSample& sample) {
        ++pictures;
        for (ByteView nal : splitNalUnits(sample.annexB)) {
            (void)sliceOrderCountLsb(nal, sample.format->spsInfo, sample.format->ppsInfo);
        }
        (void)sample.format->annexB();
    });

    size_t offset = 0;
    Bytes datagram;
    while (offset + 3 <= size) {
        const uint8_t control = data[offset];
        const size_t length = std::min<size_t>(data[offset + 1] | data[offset + 2] << 8, size - offset - 3);
        datagram.assign(data + offset + 3, data + offset + 3 + length);
        offset += 3 + length;
        if ((control & kBeginLink) != 0) {
            assembler.beginLink();
        }
        if ((control & kStampMarker) != 0 && datagram.size() >= 36) {
            datagram[20] = 0x00;
            datagram[21] = 0x00;
            datagram[22] = 0x01;
            datagram[23] = 0xFF;
        }
        if ((control & kStampSession) != 0 && datagram.size() >= 8) {
            datagram[2] = 0x34;
            datagram[3] = 0x12;
        }
        assembler.push(datagram);
    }
    (void)assembler.takeDisplayedCount();
    (void)assembler.seenNalTypes();
    return pictures >= 0 ? 0 : 1;
}
