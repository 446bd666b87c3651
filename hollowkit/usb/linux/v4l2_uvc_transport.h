#pragma once

// V4l2UvcTransport: UVC camera-terminal requests carried as V4L2 controls of
// the camera's video node. uvcvideo owns the video-control interface, so raw
// control transfers are not possible while video runs; instead it maps each
// control onto V4L2 controls and writes the same bytes to the device:
//
//   0x0B zoom absolute      <-> V4L2_CID_ZOOM_ABSOLUTE (unsigned 16 bits)
//   0x0D pan-tilt absolute  <-> V4L2_CID_PAN_ABSOLUTE, V4L2_CID_TILT_ABSOLUTE
//                               (signed 32 bits each, arc-seconds)
//   0x0E pan-tilt relative  <-> V4L2_CID_PAN_SPEED, V4L2_CID_TILT_SPEED
//                               (value = direction x speed; uvcvideo writes
//                               [direction 0/1/FF, min(|value|, 255)] per axis)
//
//   SET_CUR <-> VIDIOC_S_EXT_CTRLS (all of a selector's controls in one call,
//               so one USB transfer), GET_CUR <-> VIDIOC_G_EXT_CTRLS,
//   GET_MIN / GET_MAX / GET_DEF / GET_RES <-> VIDIOC_QUERY_EXT_CTRL's
//               minimum / maximum / default_value / step.
//
// The byte payloads stay the interface; this file translates them. The
// status is the failing ioctl's errno; other selectors or request codes give
// EOPNOTSUPP, a payload of the wrong length EINVAL, a value the payload
// cannot hold ERANGE. wIndex is not looked at: V4L2 addresses the camera
// terminal's controls by id. One thread at a time (the owner serialises).

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/result.h"
#include "hollowkit/usb/linux/v4l2_io.h"
#include "hollowkit/usb/usb_device.h"

namespace hollowkit {

struct V4l2ControlValue {
    uint32_t id = 0;
    int64_t value = 0;

    bool operator==(const V4l2ControlValue&) const = default;
};

// The V4L2 control ids standing for `selector`, in payload order, and the
// payload length; nothing for a selector without a mapping.
struct UvcV4l2Mapping {
    std::vector<uint32_t> controlIds;
    uint16_t payloadLength = 0;
};
std::optional<UvcV4l2Mapping> uvcV4l2Mapping(uint8_t selector);

// A SET payload as control values. Error: a positive errno value.
Result<std::vector<V4l2ControlValue>, int> v4l2ValuesFromUvcPayload(uint8_t selector, ByteView payload);
// Control values (one per mapped id, in order) written as a GET payload into
// `payload`. Error: a positive errno value.
Result<void, int> uvcPayloadFromV4l2Values(uint8_t selector, std::span<const int64_t> values,
                                           std::span<uint8_t> payload);

class V4l2UvcTransport final : public UvcTransport {
public:
    // `node` is the opened video node; when it is not valid, `openError`
    // (a positive errno value) says why and every request fails with it.
    explicit V4l2UvcTransport(V4l2Fd node, int openError = 0);

    int controlRequest(const UvcSetupPacket& setup, std::span<uint8_t> data) override;
    bool isOpen() const override { return node_.valid(); }

private:
    int setCurrent(uint8_t selector, ByteView data);
    int getCurrent(uint8_t selector, const UvcV4l2Mapping& mapping, std::span<uint8_t> data);
    int getLimit(uint8_t request, uint8_t selector, const UvcV4l2Mapping& mapping, std::span<uint8_t> data);

    V4l2Fd node_;
    int openError_;
};

}  // namespace hollowkit
