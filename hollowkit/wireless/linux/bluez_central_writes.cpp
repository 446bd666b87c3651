#include "hollowkit/wireless/linux/bluez_central_engine.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

#include "hollowkit/wireless/linux/bluez_names.h"

namespace hollowkit {

namespace {

using bluez::kGattCharacteristic1;

// Writes without response held on this thread while BlueZ's socket is full.
// The link stops at kWriteCredits, so this bound only stops a caller that
// ignores canSendWriteWithoutResponse().
constexpr size_t kMaximumQueuedWrites = 256;

}  // namespace

// ---- writes ----

void BluezCentral::Engine::write(const BlePeripheralId& id, const BleCharacteristic& described, Bytes value,
                                 BleWriteType type) {
    auto* device = connectedDevice(id);
    auto it = characteristics_.find(described.handle);
    bool usable = device && it != characteristics_.end() && it->second.devicePath == id;

    if (type == BleWriteType::withResponse) {
        if (!usable) return;
        uint64_t generation = device->generation;
        std::map<std::string, sdbus::Variant> options{{"type", sdbus::Variant(std::string("request"))}};
        proxy(described.handle)
            .callMethodAsync("WriteValue")
            .onInterface(kGattCharacteristic1)
            .withArguments(value, options)
            .uponReplyInvoke([this, id, described, generation](const sdbus::Error* error) {
                guarded("writing", [&] {
                    auto current = devices_.find(id);
                    if (current == devices_.end() || current->second.generation != generation ||
                        current->second.link != Link::connected) {
                        return;
                    }
                    std::optional<BleError> failure;
                    if (error) failure = BleError{describe(*error)};
                    toMain([id, described, failure](BluezCentral& central) {
                        central.delegate_->peripheralDidWriteValue(id, described, failure);
                    });
                });
            });
        return;
    }

    // Without response: every write is answered by exactly one writesGone,
    // however it ends, so the main executor's window stays exact.
    if (!usable) {
        writesGone(id, 1);
        return;
    }
    auto& characteristic = it->second;
    if (characteristic.outgoing.size() >= kMaximumQueuedWrites) {
        PocketLog::log("BlueZ: too many writes waiting; one was dropped");
        writesGone(id, 1);
        return;
    }
    characteristic.outgoing.push_back(std::move(value));
    pumpWrites(described.handle);
}

// Sends what waits on one characteristic by the path decided for it: the
// AcquireWrite socket when BlueZ offers one, else WriteValue "command".
void BluezCentral::Engine::pumpWrites(const std::string& path) {
    auto it = characteristics_.find(path);
    if (it == characteristics_.end()) return;
    auto& characteristic = it->second;
    if (characteristic.writePath == WritePath::undecided) {
        auto device = devices_.find(characteristic.devicePath);
        if (device == devices_.end()) return;
        if (characteristic.writeAcquirable) {
            characteristic.writePath = WritePath::acquiring;
            acquireWrite(path, device->second.generation);
            return;
        }
        characteristic.writePath = WritePath::command;
    }
    switch (characteristic.writePath) {
        case WritePath::undecided:
        case WritePath::acquiring:
            return;
        case WritePath::command:
            while (!characteristic.outgoing.empty()) {
                Bytes value = std::move(characteristic.outgoing.front());
                characteristic.outgoing.pop_front();
                sendCommandWrite(path, std::move(value));
            }
            return;
        case WritePath::socket:
            break;
    }
    int sent = 0;
    while (!characteristic.outgoing.empty() && !characteristic.awaitingWritable) {
        const Bytes& value = characteristic.outgoing.front();
        // A SOCK_SEQPACKET socket: each send is one ATT write, whole or not at all.
        ssize_t n = ::send(characteristic.socket.get(), value.data(), value.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0) {
            characteristic.outgoing.pop_front();
            ++sent;
            continue;
        }
        int error = errno;
        if (error == EINTR) continue;
        if (error == EAGAIN || error == EWOULDBLOCK) {
            // Full: the peripheral cannot take more now. POLLOUT resumes.
            characteristic.awaitingWritable = true;
            break;
        }
        if (error == EMSGSIZE) {
            PocketLog::logf("BlueZ: a %zu-byte write does not fit the link; dropped", value.size());
            characteristic.outgoing.pop_front();
            ++sent;
            continue;
        }
        PocketLog::logf("BlueZ: write socket failed (%s); writing with WriteValue", std::strerror(error));
        characteristic.socket.reset();
        characteristic.writePath = WritePath::command;
        writesGone(characteristic.devicePath, sent);
        pumpWrites(path);
        return;
    }
    writesGone(characteristic.devicePath, sent);
}

void BluezCentral::Engine::acquireWrite(const std::string& path, uint64_t generation) {
    auto fallBack = [this, path](const std::string& why) {
        PocketLog::logf("BlueZ: AcquireWrite failed (%s); writing with WriteValue", why.c_str());
        if (auto it = characteristics_.find(path); it != characteristics_.end()) {
            it->second.writePath = WritePath::command;
            pumpWrites(path);
        }
    };
    try {
        proxy(path)
            .callMethodAsync("AcquireWrite")
            .onInterface(kGattCharacteristic1)
            .withArguments(std::map<std::string, sdbus::Variant>{})
            .uponReplyInvoke([this, path, generation, fallBack](const sdbus::Error* error, sdbus::UnixFd fd,
                                                                 uint16_t attMtu) {
                guarded("acquiring the write socket", [&] {
                    auto it = characteristics_.find(path);
                    if (it == characteristics_.end()) return;
                    auto& characteristic = it->second;
                    auto device = devices_.find(characteristic.devicePath);
                    if (device == devices_.end() || device->second.generation != generation ||
                        characteristic.writePath != WritePath::acquiring) {
                        return;  // the link ended; the fd closes with `fd`
                    }
                    if (error) {
                        fallBack(describe(*error));
                        return;
                    }
                    characteristic.socket.reset(fd.release());
                    characteristic.writePath = WritePath::socket;
                    if (attMtu != 0) {
                        characteristic.attMtu = attMtu;
                        toMain([id = characteristic.devicePath, attMtu](BluezCentral& central) {
                            central.deliverMtu(id, attMtu);
                        });
                    }
                    pumpWrites(path);
                });
            });
    } catch (const std::exception& error) {
        fallBack(error.what());
    }
}

void BluezCentral::Engine::sendCommandWrite(const std::string& path, Bytes value) {
    auto it = characteristics_.find(path);
    std::string devicePath = it == characteristics_.end() ? std::string() : it->second.devicePath;
    std::map<std::string, sdbus::Variant> options{{"type", sdbus::Variant(std::string("command"))}};
    try {
        proxy(path)
            .callMethodAsync("WriteValue")
            .onInterface(kGattCharacteristic1)
            .withArguments(value, options)
            .uponReplyInvoke([this, devicePath](const sdbus::Error* error) {
                if (error) PocketLog::logf("BlueZ: write without response failed: %s", describe(*error).c_str());
                writesGone(devicePath, 1);
            });
    } catch (const std::exception& error) {
        PocketLog::logf("BlueZ: write without response failed: %s", error.what());
        writesGone(devicePath, 1);
    }
}

void BluezCentral::Engine::writesGone(const std::string& devicePath, int count) {
    if (count <= 0) return;
    toMain([devicePath, count](BluezCentral& central) { central.deliverWritesGone(devicePath, count); });
}

}  // namespace hollowkit
