#pragma once

// HelloOnlyBus: a D-Bus bus that lets its clients log in and answers their
// Hello, then never answers anything else, as a dbus-daemon stopped just
// after a client's greeting or a broken proxy does: every later call waits
// out its client's own timeout.
//
// Thread: one of its own, serving every client; made and ended on the
// owner's. Little-endian clients only (those of this machine).

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "hollowkit/base/unique_fd.h"

namespace hollowkit::testsupport {

class HelloOnlyBus {
public:
    // `answered`: how many calls of each client are answered (the Hello
    // first; the later ones with a name too).
    explicit HelloOnlyBus(const std::filesystem::path& path, int answered = 1)
        : path_(path.string()), answered_(answered), stop_(::eventfd(0, EFD_CLOEXEC)) {
        listener_ = UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (!listener_ || !stop_ || path_.size() >= sizeof address.sun_path) return;
        path_.copy(address.sun_path, path_.size());
        listening_ = ::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                     ::listen(listener_.get(), 16) == 0;
        if (listening_) thread_ = std::thread([this] { serve(); });
    }
    ~HelloOnlyBus() {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stop_.get(), &one, sizeof one);
        if (thread_.joinable()) thread_.join();
    }
    HelloOnlyBus(const HelloOnlyBus&) = delete;
    HelloOnlyBus& operator=(const HelloOnlyBus&) = delete;

    bool listening() const { return listening_; }
    const std::string& path() const { return path_; }
    std::string address() const { return "unix:path=" + path_; }
    // How many Hellos it answered.
    int hellosAnswered() const { return hellos_.load(); }
    // How many calls after a Hello it left unanswered.
    int callsIgnored() const { return ignored_.load(); }

private:
    struct Client {
        UniqueFd fd;
        std::string in;
        bool begun = false;
        int answered = 0;
    };

    void serve() {
        std::vector<Client> clients;
        for (;;) {
            std::vector<pollfd> watched{{stop_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
            for (const Client& client : clients) watched.push_back({client.fd.get(), POLLIN, 0});
            if (::poll(watched.data(), watched.size(), -1) < 0) continue;
            if (watched[0].revents) return;
            if (watched[1].revents & POLLIN) {
                UniqueFd accepted(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
                if (accepted) clients.push_back(Client{std::move(accepted), {}, false, 0});
            }
            for (size_t i = 2; i < watched.size(); ++i) {
                if (!watched[i].revents) continue;
                Client& client = clients[i - 2];
                char buffer[4096];
                const ssize_t n = ::read(client.fd.get(), buffer, sizeof buffer);
                if (n <= 0) continue;  // a closed client stays, silent
                client.in.append(buffer, static_cast<size_t>(n));
                answer(client);
            }
        }
    }

    static void send(const Client& client, const std::string& bytes) {
        [[maybe_unused]] const ssize_t written = ::send(client.fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }

    void answer(Client& client) {
        while (!client.begun) {
            if (!client.in.empty() && client.in[0] == '\0') client.in.erase(0, 1);
            const size_t end = client.in.find("\r\n");
            if (end == std::string::npos) return;
            const std::string line = client.in.substr(0, end);
            client.in.erase(0, end + 2);
            if (line.rfind("AUTH EXTERNAL ", 0) == 0 || line.rfind("DATA", 0) == 0) {
                send(client, "OK 0123456789abcdef0123456789abcdef\r\n");
            } else if (line == "AUTH EXTERNAL") {
                send(client, "DATA\r\n");
            } else if (line.rfind("AUTH", 0) == 0) {
                send(client, "REJECTED EXTERNAL\r\n");
            } else if (line == "NEGOTIATE_UNIX_FD") {
                send(client, "AGREE_UNIX_FD\r\n");
            } else if (line == "BEGIN") {
                client.begun = true;
            } else {
                send(client, "ERROR\r\n");
            }
        }
        // Messages: a 16-byte fixed header, the header fields (padded to 8),
        // the body.
        while (client.in.size() >= 16) {
            const auto u32 = [&client](size_t at) {
                uint32_t value = 0;
                std::memcpy(&value, client.in.data() + at, 4);
                return value;
            };
            const size_t fields = u32(12);
            const size_t total = 16 + ((fields + 7) & ~size_t{7}) + u32(4);
            if (client.in.size() < total) return;
            const uint32_t serial = u32(8);
            const bool call = client.in[1] == 1;
            client.in.erase(0, total);
            if (!call) continue;
            if (client.answered >= answered_) {
                ++ignored_;
                continue;
            }
            if (client.answered++ == 0) ++hellos_;
            send(client, helloReply(serial, ":1." + std::to_string(hellos_.load())));
        }
    }

    static std::string helloReply(uint32_t replyTo, const std::string& name) {
        std::string fields;
        const auto pad = [](std::string& bytes, size_t to) {
            while (bytes.size() % to) bytes.push_back('\0');
        };
        const auto u32 = [](std::string& bytes, uint32_t value) {
            bytes.append(reinterpret_cast<const char*>(&value), 4);
        };
        const auto text = [&](std::string& bytes, const std::string& value) {
            pad(bytes, 4);
            u32(bytes, static_cast<uint32_t>(value.size()));
            bytes += value;
            bytes.push_back('\0');
        };
        const auto field = [&](char code, char type, const auto& fill) {
            pad(fields, 8);
            fields.push_back(code);
            fields += std::string("\1") + type + std::string(1, '\0');
            fill();
        };
        field(5, 'u', [&] {
            pad(fields, 4);
            u32(fields, replyTo);
        });
        field(6, 's', [&] { text(fields, name); });
        field(7, 's', [&] { text(fields, "org.freedesktop.DBus"); });
        field(8, 'g', [&] { fields += std::string("\1s") + std::string(1, '\0'); });
        std::string body;
        text(body, name);
        std::string message{'l', 2, 1, 1};
        u32(message, static_cast<uint32_t>(body.size()));
        u32(message, 1);
        u32(message, static_cast<uint32_t>(fields.size()));
        message += fields;
        pad(message, 8);
        return message + body;
    }

    std::string path_;
    int answered_;
    UniqueFd stop_;
    UniqueFd listener_;
    bool listening_ = false;
    std::atomic<int> hellos_{0};
    std::atomic<int> ignored_{0};
    std::thread thread_;
};

}  // namespace hollowkit::testsupport
