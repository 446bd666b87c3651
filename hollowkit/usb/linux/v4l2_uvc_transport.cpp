#include "hollowkit/usb/linux/v4l2_uvc_transport.h"

#include <linux/videodev2.h>

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace hollowkit {

namespace {

int64_t relativeValue(uint8_t direction, uint8_t speed) {
    const auto signedDirection = static_cast<int8_t>(direction);
    if (signedDirection == 0) return 0;
    return signedDirection > 0 ? speed : -int64_t{speed};
}

void relativeBytes(int64_t value, uint8_t* out) {
    out[0] = value == 0 ? 0x00 : (value > 0 ? 0x01 : 0xFF);
    const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    out[1] = static_cast<uint8_t>(magnitude > 0xFF ? 0xFF : magnitude);
}

}  // namespace

std::optional<UvcV4l2Mapping> uvcV4l2Mapping(uint8_t selector) {
    switch (selector) {
        case kUvcCtZoomAbsolute:
            return UvcV4l2Mapping{{V4L2_CID_ZOOM_ABSOLUTE}, 2};
        case kUvcCtPanTiltAbsolute:
            return UvcV4l2Mapping{{V4L2_CID_PAN_ABSOLUTE, V4L2_CID_TILT_ABSOLUTE}, 8};
        case kUvcCtPanTiltRelative:
            return UvcV4l2Mapping{{V4L2_CID_PAN_SPEED, V4L2_CID_TILT_SPEED}, 4};
        default:
            return std::nullopt;
    }
}

Result<std::vector<V4l2ControlValue>, int> v4l2ValuesFromUvcPayload(uint8_t selector, ByteView payload) {
    const auto mapping = uvcV4l2Mapping(selector);
    if (!mapping) return unexpected(EOPNOTSUPP);
    if (payload.size() != mapping->payloadLength) return unexpected(EINVAL);
    ByteReader reader(payload);
    switch (selector) {
        case kUvcCtZoomAbsolute:
            return std::vector<V4l2ControlValue>{{V4L2_CID_ZOOM_ABSOLUTE, *reader.u16()}};
        case kUvcCtPanTiltAbsolute: {
            const int32_t pan = *reader.i32();
            const int32_t tilt = *reader.i32();
            return std::vector<V4l2ControlValue>{{V4L2_CID_PAN_ABSOLUTE, pan}, {V4L2_CID_TILT_ABSOLUTE, tilt}};
        }
        default:  // relative pan-tilt
            return std::vector<V4l2ControlValue>{{V4L2_CID_PAN_SPEED, relativeValue(payload[0], payload[1])},
                                                 {V4L2_CID_TILT_SPEED, relativeValue(payload[2], payload[3])}};
    }
}

Result<void, int> uvcPayloadFromV4l2Values(uint8_t selector, std::span<const int64_t> values,
                                           std::span<uint8_t> payload) {
    const auto mapping = uvcV4l2Mapping(selector);
    if (!mapping) return unexpected(EOPNOTSUPP);
    if (payload.size() != mapping->payloadLength || values.size() != mapping->controlIds.size()) {
        return unexpected(EINVAL);
    }
    switch (selector) {
        case kUvcCtZoomAbsolute: {
            if (values[0] < 0 || values[0] > std::numeric_limits<uint16_t>::max()) return unexpected(ERANGE);
            const auto zoom = static_cast<uint16_t>(values[0]);
            payload[0] = static_cast<uint8_t>(zoom);
            payload[1] = static_cast<uint8_t>(zoom >> 8);
            return {};
        }
        case kUvcCtPanTiltAbsolute: {
            for (size_t axis = 0; axis < 2; ++axis) {
                if (values[axis] < std::numeric_limits<int32_t>::min() ||
                    values[axis] > std::numeric_limits<int32_t>::max()) {
                    return unexpected(ERANGE);
                }
                const auto u = static_cast<uint32_t>(static_cast<int32_t>(values[axis]));
                for (size_t i = 0; i < 4; ++i) payload[axis * 4 + i] = static_cast<uint8_t>(u >> (8 * i));
            }
            return {};
        }
        default:  // relative pan-tilt
            relativeBytes(values[0], payload.data());
            relativeBytes(values[1], payload.data() + 2);
            return {};
    }
}

V4l2UvcTransport::V4l2UvcTransport(V4l2Fd node, int openError)
    : node_(std::move(node)), openError_(openError != 0 ? openError : EBADF) {}

int V4l2UvcTransport::controlRequest(const UvcSetupPacket& setup, std::span<uint8_t> data) {
    if (!node_.valid()) return openError_;
    const uint8_t selector = setup.selector();
    const auto mapping = uvcV4l2Mapping(selector);
    if (!mapping) return EOPNOTSUPP;
    if (data.size() != setup.length || data.size() != mapping->payloadLength) return EINVAL;
    switch (setup.request) {
        case kUvcSetCur:
            return setCurrent(selector, data);
        case kUvcGetCur:
            return getCurrent(selector, *mapping, data);
        case kUvcGetMin:
        case kUvcGetMax:
        case kUvcGetDef:
        case kUvcGetRes:
            return getLimit(setup.request, selector, *mapping, data);
        default:
            return EOPNOTSUPP;
    }
}

int V4l2UvcTransport::setCurrent(uint8_t selector, ByteView data) {
    const auto values = v4l2ValuesFromUvcPayload(selector, data);
    if (!values) return values.error();
    std::vector<v4l2_ext_control> controls(values->size());
    for (size_t i = 0; i < values->size(); ++i) {
        controls[i].id = (*values)[i].id;
        controls[i].value = static_cast<int32_t>((*values)[i].value);
    }
    v4l2_ext_controls request{};
    request.which = V4L2_CTRL_WHICH_CUR_VAL;
    request.count = static_cast<uint32_t>(controls.size());
    request.controls = controls.data();
    const int result = node_.ioctl(VIDIOC_S_EXT_CTRLS, &request);
    return result < 0 ? -result : 0;
}

int V4l2UvcTransport::getCurrent(uint8_t selector, const UvcV4l2Mapping& mapping, std::span<uint8_t> data) {
    std::vector<v4l2_ext_control> controls(mapping.controlIds.size());
    for (size_t i = 0; i < controls.size(); ++i) controls[i].id = mapping.controlIds[i];
    v4l2_ext_controls request{};
    request.which = V4L2_CTRL_WHICH_CUR_VAL;
    request.count = static_cast<uint32_t>(controls.size());
    request.controls = controls.data();
    const int result = node_.ioctl(VIDIOC_G_EXT_CTRLS, &request);
    if (result < 0) return -result;
    std::vector<int64_t> values;
    for (const auto& control : controls) values.push_back(control.value);
    const auto written = uvcPayloadFromV4l2Values(selector, values, data);
    return written ? 0 : written.error();
}

int V4l2UvcTransport::getLimit(uint8_t request, uint8_t selector, const UvcV4l2Mapping& mapping,
                               std::span<uint8_t> data) {
    std::vector<int64_t> values;
    for (const uint32_t id : mapping.controlIds) {
        v4l2_query_ext_ctrl query{};
        query.id = id;
        const int result = node_.ioctl(VIDIOC_QUERY_EXT_CTRL, &query);
        if (result < 0) return -result;
        // The id asked for must be the one answered: the NEXT_CTRL flags
        // are not used, so anything else is a confused driver.
        if (query.id != id || (query.flags & V4L2_CTRL_FLAG_DISABLED) != 0) return EINVAL;
        switch (request) {
            case kUvcGetMin: values.push_back(query.minimum); break;
            case kUvcGetMax: values.push_back(query.maximum); break;
            case kUvcGetDef: values.push_back(query.default_value); break;
            default:
                values.push_back(query.step > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                                     ? std::numeric_limits<int64_t>::max()
                                     : static_cast<int64_t>(query.step));
                break;
        }
    }
    const auto written = uvcPayloadFromV4l2Values(selector, values, data);
    return written ? 0 : written.error();
}

}  // namespace hollowkit
