#pragma once

// Owning handles for xcb: a display connection and the replies xcb hands
// out (malloc'd, freed with free()). Shared by the X11 backends; xcb's own
// headers stay in their .cpp files. A connection is used by one thread at a
// time.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "hollowkit/base/result.h"

struct xcb_connection_t;

namespace hollowkit::x11 {

struct ConnectionDeleter {
    void operator()(xcb_connection_t* connection) const;
};
using ConnectionPtr = std::unique_ptr<xcb_connection_t, ConnectionDeleter>;

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// Waits for the reply to `cookie` through xcb's `replyFunction`. An error
// is taken with it and dropped (the reply is then null), so errors never
// pile up in the event queue of a connection that reads no events.
template <typename R, typename C, typename K, typename E>
Reply<R> ask(R* (*replyFunction)(C*, K, E**), C* connection, K cookie) {
    E* error = nullptr;
    Reply<R> reply(replyFunction(connection, cookie, &error));
    std::free(error);
    return reply;
}

struct Connection {
    ConnectionPtr connection;
    uint32_t root = 0;        // the default screen's root window
    int32_t screenWidth = 0;  // in pixels
    int32_t screenHeight = 0;
    uint8_t rootDepth = 0;

    xcb_connection_t* get() const { return connection.get(); }
    // The connection broke (the server went away or refused a request).
    bool broken() const;
};

// Opens `displayName` ("" for $DISPLAY). The error says why it could not.
Result<Connection, std::string> openConnection(const std::string& displayName);

}  // namespace hollowkit::x11
