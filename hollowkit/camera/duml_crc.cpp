#include "hollowkit/camera/duml_crc.h"

#include <array>

namespace hollowkit {
namespace {

constexpr uint8_t kCrc8Poly = 0x8C;
constexpr uint16_t kCrc16Poly = 0x8408;

constexpr std::array<uint8_t, 256> makeCrc8Table() {
    std::array<uint8_t, 256> table{};
    for (unsigned b = 0; b < 256; ++b) {
        unsigned v = b;
        for (int bit = 0; bit < 8; ++bit) {
            v = (v & 1) ? (v >> 1) ^ kCrc8Poly : v >> 1;
        }
        table[b] = static_cast<uint8_t>(v);
    }
    return table;
}

// Slicing-by-8: table k holds the checksum contribution of a byte followed by
// k zero bytes, so eight input bytes fold in with eight independent lookups
// instead of a chain of eight dependent ones.
using Crc16Tables = std::array<std::array<uint16_t, 256>, 8>;

constexpr Crc16Tables makeCrc16Tables() {
    Crc16Tables tables{};
    for (unsigned b = 0; b < 256; ++b) {
        unsigned v = b;
        for (int bit = 0; bit < 8; ++bit) {
            v = (v & 1) ? (v >> 1) ^ kCrc16Poly : v >> 1;
        }
        tables[0][b] = static_cast<uint16_t>(v);
    }
    for (size_t k = 1; k < tables.size(); ++k) {
        for (unsigned b = 0; b < 256; ++b) {
            const uint16_t prev = tables[k - 1][b];
            tables[k][b] = static_cast<uint16_t>((prev >> 8) ^ tables[0][prev & 0xFF]);
        }
    }
    return tables;
}

constexpr std::array<uint8_t, 256> kCrc8Table = makeCrc8Table();
constexpr Crc16Tables kCrc16Tables = makeCrc16Tables();

}  // namespace

uint8_t dumlCrc8(ByteView bytes, uint8_t crc) {
    for (uint8_t b : bytes) {
        crc = kCrc8Table[crc ^ b];
    }
    return crc;
}

uint16_t dumlCrc16(ByteView bytes, uint16_t crc) {
    const uint8_t* p = bytes.data();
    size_t n = bytes.size();
    const auto& t = kCrc16Tables;
    while (n >= 8) {
        const unsigned b0 = p[0] ^ (crc & 0xFF);
        const unsigned b1 = p[1] ^ (crc >> 8);
        crc = static_cast<uint16_t>(t[7][b0] ^ t[6][b1] ^ t[5][p[2]] ^ t[4][p[3]] ^
                                    t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]]);
        p += 8;
        n -= 8;
    }
    while (n > 0) {
        crc = static_cast<uint16_t>((crc >> 8) ^ t[0][(crc ^ *p) & 0xFF]);
        ++p;
        --n;
    }
    return crc;
}

}  // namespace hollowkit
