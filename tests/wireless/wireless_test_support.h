#pragma once

// Helpers shared by the wireless data-path tests: a log capture, a simple
// live-view stream that puts messages back together without decoding, and
// descriptor and thread counts for leak checks.

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/testing/sim_pocket_udp.h"
#include "hollowkit/wireless/live_view_stream.h"
#include "hollowkit/wireless/udp_packet.h"

namespace hollowkit::testsupport {

// Installs itself as the log sink for its lifetime.
class LogCapture final : public LogSink {
public:
    LogCapture() { PocketLog::setSinkForTesting(this); }
    ~LogCapture() override { PocketLog::setSinkForTesting(nullptr); }

    void writeConsole(std::string_view) override {}
    void writeSystem(std::string_view message) override {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(message);
    }

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    int count(std::string_view needle) const {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) {
            return line.find(needle) != std::string::npos;
        }));
    }
    bool contains(std::string_view needle) const { return count(needle) > 0; }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Reassembles live-view messages from video datagrams (start datagram with
// marker and length, continuations after it) and counts the synthetic
// pictures of SimPocketUdp; a picture counts once an IRAP has been seen.
class AssemblingStream final : public LiveViewStream {
public:
    void beginLink() override {
        ++links_;
        expected_ = 0;
        pending_.clear();
    }
    void pushDatagram(ByteView d) override {
        ++datagrams_;
        constexpr size_t kPrefix = VideoDatagramLayout::kPrefixLength;
        if (d.size() <= kPrefix) {
            return;
        }
        const bool start = d.size() >= VideoDatagramLayout::kStartHeaderLength && d[20] == 0 && d[21] == 0 &&
                           d[22] == 1 && d[23] == 0xFF;
        if (start) {
            expected_ = d[24] | (d[25] << 8) | (d[26] << 16) | (size_t(d[27]) << 24);
            pending_.assign(d.begin() + VideoDatagramLayout::kStartHeaderLength, d.end());
            if (expected_ == 0 || expected_ > 8 * 1024 * 1024) {
                expected_ = 0;
                pending_.clear();
                return;
            }
        } else if (expected_ == 0) {
            return;
        } else {
            pending_.insert(pending_.end(), d.begin() + kPrefix, d.end());
        }
        if (pending_.size() >= expected_) {
            pending_.resize(expected_);
            complete(pending_);
            expected_ = 0;
            pending_.clear();
        }
    }
    bool hasPicture() const override { return hasPicture_; }
    int completedMessages() const override { return static_cast<int>(messages_.size()); }
    std::vector<int> seenNalTypes() const override { return {nalTypes_.begin(), nalTypes_.end()}; }
    std::optional<VideoDimensions> dimensions() const override {
        return hasPicture_ ? std::optional<VideoDimensions>(VideoDimensions{320, 180}) : std::nullopt;
    }
    int takeDisplayedCount() override {
        std::lock_guard lock(counterLock_);
        return std::exchange(displayed_, 0);
    }

    const std::vector<Bytes>& messages() const { return messages_; }
    // Indices of the synthetic pictures handed on, in order.
    const std::vector<int>& pictures() const { return pictures_; }
    int links() const { return links_; }
    int datagrams() const { return datagrams_; }

private:
    void complete(const Bytes& message) {
        messages_.push_back(message);
        for (size_t i = 0; i + 3 < message.size(); ++i) {
            if (message[i] == 0 && message[i + 1] == 0 && message[i + 2] == 1) {
                nalTypes_.insert((message[i + 3] >> 1) & 0x3F);
            }
        }
        const bool irap = SimPocketUdp::containsIrap(message);
        if (!hasPicture_ && !irap) {
            return;
        }
        hasPicture_ = true;
        if (auto index = SimPocketUdp::syntheticIndex(message)) {
            pictures_.push_back(*index);
        }
        std::lock_guard lock(counterLock_);
        ++displayed_;
    }

    size_t expected_ = 0;
    Bytes pending_;
    std::vector<Bytes> messages_;
    std::vector<int> pictures_;
    std::set<int> nalTypes_;
    bool hasPicture_ = false;
    int links_ = 0;
    int datagrams_ = 0;
    std::mutex counterLock_;
    int displayed_ = 0;
};

inline int countEntries(const char* directory) {
    int count = 0;
    if (DIR* dir = ::opendir(directory)) {
        while (dirent* entry = ::readdir(dir)) {
            count += entry->d_name[0] != '.';
        }
        ::closedir(dir);
    }
    return count;
}

// Less the descriptor of the directory listing itself.
inline int openDescriptors() { return countEntries("/proc/self/fd") - 1; }
// The library's own threads ("HK." names). Sanitizer runtimes and codec
// libraries start helper threads of their own whenever they please, so the
// process-wide count says nothing about what the code under test left behind.
inline int threadCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            std::string path = std::string("/proc/self/task/") + entry->d_name + "/comm";
            if (FILE* comm = std::fopen(path.c_str(), "r")) {
                char name[32] = {};
                if (std::fgets(name, sizeof name, comm)) count += std::string_view(name).starts_with("HK.");
                std::fclose(comm);
            }
        }
        ::closedir(dir);
    }
    return count;
}

}  // namespace hollowkit::testsupport
