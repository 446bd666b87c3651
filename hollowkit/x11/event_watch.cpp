#include "hollowkit/x11/event_watch.h"

#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>

#include "hollowkit/base/pocket_log.h"

namespace hollowkit::x11 {
namespace {

const xcb_query_extension_reply_t* extensionOf(xcb_connection_t* c, xcb_extension_t* extension) {
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(c, extension);
    return data != nullptr && data->present != 0 ? data : nullptr;
}

uint32_t rawMask(EventWatch::Kind kind) {
    if (kind == EventWatch::Kind::keyPresses) return XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS;
    if (kind == EventWatch::Kind::primaryButton) {
        return XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE;
    }
    return XCB_INPUT_XI_EVENT_MASK_RAW_MOTION | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS |
           XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE;
}

bool isWatchedRawEvent(EventWatch::Kind kind, uint16_t type) {
    if (kind == EventWatch::Kind::keyPresses) return type == XCB_INPUT_RAW_KEY_PRESS;
    if (kind == EventWatch::Kind::primaryButton) {
        return type == XCB_INPUT_RAW_BUTTON_PRESS || type == XCB_INPUT_RAW_BUTTON_RELEASE;
    }
    return type == XCB_INPUT_RAW_MOTION || type == XCB_INPUT_RAW_BUTTON_PRESS || type == XCB_INPUT_RAW_BUTTON_RELEASE;
}

}  // namespace

Result<CompositorSelection, std::string> followCompositorSelection(const Connection& connection) {
    xcb_connection_t* c = connection.get();
    const xcb_query_extension_reply_t* xfixes = extensionOf(c, &xcb_xfixes_id);
    if (!xfixes) return unexpected(std::string("X11: the display has no XFixes extension"));
    // XFixes answers only a client that said which version it speaks.
    if (!ask(xcb_xfixes_query_version_reply, c, xcb_xfixes_query_version(c, 5, 0))) {
        return unexpected(std::string("X11: the display's XFixes extension does not answer"));
    }
    CompositorSelection selection;
    selection.atom = internAtom(c, compositorSelectionName(connection.screenNumber));
    if (selection.atom == XCB_ATOM_NONE) return unexpected(std::string("X11: no compositor selection"));
    selection.notifyEvent = static_cast<uint8_t>(xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY);
    const uint32_t events = XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                            XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                            XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE;
    if (!requestSucceeded(
            c, xcb_xfixes_select_selection_input_checked(c, connection.root, selection.atom, events).sequence)) {
        return unexpected(std::string("X11: the display refused the compositor selection's events"));
    }
    return selection;
}

std::string_view EventWatch::describe(Kind kind) {
    switch (kind) {
    case Kind::pointerActivity:
        return "pointer";
    case Kind::keyPresses:
        return "key press";
    case Kind::compositorOwner:
        return "compositor";
    case Kind::primaryButton:
        return "button";
    case Kind::none:
        break;
    }
    return "event";
}

Result<std::unique_ptr<EventWatch>, std::string> EventWatch::open(Kind kind, const std::string& displayName) {
    auto opened = openConnection(displayName);
    if (!opened) return unexpected(std::move(opened.error()));
    std::unique_ptr<EventWatch> watch(new EventWatch(kind, std::move(opened.value())));
    xcb_connection_t* c = watch->connection_.get();
    const uint32_t root = watch->connection_.root;
    if (kind == Kind::compositorOwner) {
        auto selection = followCompositorSelection(watch->connection_);
        if (!selection) return unexpected(std::move(selection.error()));
        watch->selection_ = selection->atom;
        return watch;
    }
    // Raw events reach a root-window client whatever grab is active from
    // XInput 2.1 on.
    const xcb_query_extension_reply_t* input = extensionOf(c, &xcb_input_id);
    const auto version =
        input ? ask(xcb_input_xi_query_version_reply, c, xcb_input_xi_query_version(c, 2, 2)) : nullptr;
    if (!version || version->major_version < 2 || (version->major_version == 2 && version->minor_version < 1)) {
        return unexpected(std::string("X11: the display has no XInput 2.1"));
    }
    watch->inputOpcode_ = input->major_opcode;
    if (kind == Kind::primaryButton) {
        // Raw events carry the device's button, before the mapping that
        // makes another button the primary one (a left-handed mouse).
        if (const auto mapping = ask(xcb_get_pointer_mapping_reply, c, xcb_get_pointer_mapping(c))) {
            const uint8_t* map = xcb_get_pointer_mapping_map(mapping.get());
            for (int i = 0; i < xcb_get_pointer_mapping_map_length(mapping.get()); ++i) {
                if (map[i] == 1) {
                    watch->primaryButton_ = static_cast<uint32_t>(i + 1);
                    break;
                }
            }
        }
    }
    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection{};
    selection.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    selection.head.mask_len = 1;
    selection.mask = rawMask(kind);
    if (!requestSucceeded(c, xcb_input_xi_select_events_checked(c, root, 1, &selection.head).sequence)) {
        return unexpected(std::string("X11: the display refused the raw input events"));
    }
    return watch;
}

EventWatch::~EventWatch() = default;

int EventWatch::fd() const {
    return xcb_get_file_descriptor(connection_.get());
}

EventWatch::Drained EventWatch::drain() {
    Drained drained;
    xcb_connection_t* c = connection_.get();
    for (bool asked = false;;) {
        while (const Reply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
            if (kind_ == Kind::compositorOwner) {
                // Whatever the event said, the owner now is what counts.
                ++drained.events;
            } else if ((event->response_type & 0x7F) == XCB_GE_GENERIC) {
                const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event.get());
                if (generic->extension != inputOpcode_ || !isWatchedRawEvent(kind_, generic->event_type)) continue;
                if (kind_ == Kind::primaryButton) {
                    const auto* button = reinterpret_cast<const xcb_input_raw_button_press_event_t*>(event.get());
                    if (button->detail != primaryButton_) continue;
                    drained.primaryButton.push_back(generic->event_type == XCB_INPUT_RAW_BUTTON_PRESS);
                }
                ++drained.events;
            }
        }
        // Raw events carry no position: the pointer's is asked for at once,
        // so a press keeps where it went down though its reader comes late.
        // Events the reply brought along are taken in the next round: the
        // socket will not announce them again.
        if (asked || drained.primaryButton.empty() || broken()) break;
        asked = true;
        if (const auto pointer = ask(xcb_query_pointer_reply, c, xcb_query_pointer(c, connection_.root))) {
            drained.pointer = std::pair<int32_t, int32_t>{pointer->root_x, pointer->root_y};
            drained.pointerChild = pointer->child;
        }
    }
    if (!brokeReported_ && broken()) {
        brokeReported_ = true;
        drained.broke = true;
        const std::string_view what = describe(kind_);
        PocketLog::logf("X11: the %.*s watch lost its display connection (error %d)", static_cast<int>(what.size()),
                        what.data(), xcb_connection_has_error(c));
    }
    return drained;
}

bool EventWatch::compositorRuns() const {
    if (selection_ == XCB_ATOM_NONE || broken()) return false;
    return selectionOwned(connection_.get(), selection_);
}

}  // namespace hollowkit::x11
