#include "hollowkit/recording/x11/x11_display_service.h"

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cstring>

#include "hollowkit/recording/x11/edid_monitor_name.h"
#include "hollowkit/x11/xcb_connection.h"

namespace hollowkit {
namespace {

struct MonitorRecord {
    DisplayInfo info;
    std::vector<xcb_randr_output_t> outputs;
};

bool hasMonitors(xcb_connection_t* c) {
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_randr_id);
    if (extension == nullptr || extension->present == 0) return false;
    auto version = x11::ask(xcb_randr_query_version_reply, c, xcb_randr_query_version(c, 1, 5));
    return version && (version->major_version > 1 || version->minor_version >= 5);
}

// The monitors, or the whole screen when RandR cannot list them. Nothing
// when the server does not answer.
std::optional<std::vector<MonitorRecord>> monitors(const x11::Connection& connection) {
    xcb_connection_t* c = connection.get();
    std::vector<MonitorRecord> records;
    if (!hasMonitors(c)) {
        if (connection.broken()) return std::nullopt;
        MonitorRecord whole;
        whole.info = DisplayInfo{connection.root, 0, 0, connection.screenWidth, connection.screenHeight, true, false};
        records.push_back(std::move(whole));
        return records;
    }
    auto reply = x11::ask(xcb_randr_get_monitors_reply, c, xcb_randr_get_monitors(c, connection.root, 1));
    if (!reply) return std::nullopt;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
         xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t* monitor = it.data;
        MonitorRecord record;
        record.info.id = monitor->name;
        record.info.x = monitor->x;
        record.info.y = monitor->y;
        record.info.width = monitor->width;
        record.info.height = monitor->height;
        record.info.primary = monitor->primary != 0;
        const xcb_randr_output_t* outputs = xcb_randr_monitor_info_outputs(monitor);
        record.outputs.assign(outputs, outputs + xcb_randr_monitor_info_outputs_length(monitor));
        records.push_back(std::move(record));
    }
    return records;
}

bool isBuiltInConnector(std::string_view name) {
    for (std::string_view prefix : {"eDP", "LVDS", "DSI"}) {
        if (name.substr(0, prefix.size()) == prefix) return true;
    }
    return false;
}

std::string outputName(xcb_connection_t* c, xcb_randr_output_t output) {
    auto info = x11::ask(xcb_randr_get_output_info_reply, c, xcb_randr_get_output_info(c, output, XCB_CURRENT_TIME));
    if (!info) return {};
    const auto* name = reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get()));
    return std::string(name, static_cast<size_t>(xcb_randr_get_output_info_name_length(info.get())));
}

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    auto reply = x11::ask(xcb_intern_atom_reply, c,
                          xcb_intern_atom(c, 1, static_cast<uint16_t>(std::strlen(name)), name));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

std::optional<std::string> edidName(xcb_connection_t* c, xcb_randr_output_t output, xcb_atom_t edidAtom) {
    // The base block is all the name needs: 128 bytes, 32 longs.
    auto reply = x11::ask(xcb_randr_get_output_property_reply, c,
                          xcb_randr_get_output_property(c, output, edidAtom, XCB_ATOM_ANY, 0, 32, 0, 0));
    if (!reply || reply->format != 8) return std::nullopt;
    const auto* data = xcb_randr_get_output_property_data(reply.get());
    const int length = xcb_randr_get_output_property_data_length(reply.get());
    if (length <= 0) return std::nullopt;
    return edidMonitorName(ByteView(data, static_cast<size_t>(length)));
}

}  // namespace

X11DisplayService::X11DisplayService(std::string displayName) : displayName_(std::move(displayName)) {}

X11DisplayService::~X11DisplayService() = default;

Result<x11::Connection*, std::string> X11DisplayService::connectionLocked() {
    if (connection_ && !connection_->broken()) return connection_.get();
    connection_.reset();
    auto opened = x11::openConnection(displayName_);
    if (!opened) return unexpected(opened.error());
    connection_ = std::make_unique<x11::Connection>(std::move(opened.value()));
    return connection_.get();
}

Result<std::vector<DisplayInfo>, std::string> X11DisplayService::displays() {
    MutexLock lock(mutex_);
    auto connection = connectionLocked();
    if (!connection) return unexpected(connection.error());
    xcb_connection_t* c = connection.value()->get();
    auto records = monitors(*connection.value());
    if (!records) return unexpected(std::string("X11: the display server did not answer"));
    std::vector<DisplayInfo> list;
    for (auto& record : *records) {
        for (xcb_randr_output_t output : record.outputs) {
            if (isBuiltInConnector(outputName(c, output))) record.info.builtIn = true;
        }
        list.push_back(record.info);
    }
    return list;
}

std::map<uint32_t, std::string> X11DisplayService::screenNames() {
    MutexLock lock(mutex_);
    std::map<uint32_t, std::string> names;
    auto connection = connectionLocked();
    if (!connection) return names;
    xcb_connection_t* c = connection.value()->get();
    auto records = monitors(*connection.value());
    if (!records) return names;
    const xcb_atom_t edidAtom = internAtom(c, "EDID");
    if (edidAtom == XCB_ATOM_NONE) return names;
    for (const auto& record : *records) {
        for (xcb_randr_output_t output : record.outputs) {
            if (auto name = edidName(c, output, edidAtom)) {
                names[record.info.id] = std::move(*name);
                break;
            }
        }
    }
    return names;
}

bool X11DisplayService::canCapture() {
    MutexLock lock(mutex_);
    auto connection = connectionLocked();
    if (!connection) return false;
    xcb_connection_t* c = connection.value()->get();
    auto image = x11::ask(xcb_get_image_reply, c,
                          xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, connection.value()->root, 0, 0, 1, 1, ~0U));
    return image != nullptr;
}

}  // namespace hollowkit
