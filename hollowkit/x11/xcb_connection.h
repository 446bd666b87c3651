#pragma once

// Owning handles for xcb: a display connection and the replies and errors
// xcb hands out (malloc'd, freed with free()). Shared by every X11 client of
// the library and the application (the island's watches, the test server);
// xcb's own headers stay in their .cpp files. A connection is used by one
// thread at a time.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

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

// Whether the checked request with `sequence` (its cookie's) succeeded;
// waits for the server's word and drops the error.
bool requestSucceeded(xcb_connection_t* connection, unsigned int sequence);

// The selection a compositing manager of screen `screenNumber` owns.
std::string compositorSelectionName(int screenNumber);

// The atom named `name` (made if need be); 0 (None) where the server does
// not answer.
uint32_t internAtom(xcb_connection_t* connection, std::string_view name);

// Whether some client owns the selection `atom` now.
bool selectionOwned(xcb_connection_t* connection, uint32_t atom);

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
    int screenNumber = 0;  // the default screen's

    xcb_connection_t* get() const { return connection.get(); }
    // The connection broke (the server went away or refused a request).
    bool broken() const;
};

// Opens `displayName` ("" for $DISPLAY). The error says why it could not.
Result<Connection, std::string> openConnection(const std::string& displayName);

}  // namespace hollowkit::x11
