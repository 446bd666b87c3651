#pragma once

// The two checksums of a DUML frame: CRC8 over the three-byte head and CRC16
// over everything before the trailing checksum. Both are reflected, with no
// final exclusive-or. Pure functions, any thread.

#include <cstddef>
#include <cstdint>

#include "hollowkit/base/bytes.h"

namespace hollowkit {

inline constexpr uint8_t kDumlCrc8Init = 0x77;
inline constexpr uint16_t kDumlCrc16Init = 0x3692;

// CRC8, reflected polynomial 0x8C. "abc" gives 0xD7.
uint8_t dumlCrc8(ByteView bytes, uint8_t crc = kDumlCrc8Init);

// CRC16, reflected polynomial 0x8408. "abc" gives 0x865A. Pass the previous
// result as `crc` to continue a checksum over a second span.
uint16_t dumlCrc16(ByteView bytes, uint16_t crc = kDumlCrc16Init);

}  // namespace hollowkit
