#include "hollowkit/wireless/hevc_stream_assembler.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/wireless/udp_packet.h"

namespace hollowkit {

namespace {

// Pictures and losses are logged only this often, so a bad link cannot
// flood the log.
constexpr int kLogFirst = 3;

// A link whose session we do not follow is adopted after this many of its
// start datagrams in a row: the owner moved to a new link without saying so.
constexpr int kAdoptAfterStarts = 8;

// The camera's datagram numbers are trusted once this many steps in a row
// inside messages were steps of one, and no longer once more than
// kUntrustMisses of the last kStepWindow were not (a lost or repeated
// datagram now and then leaves them trusted; another numbering does not).
constexpr int kTrustRun = 16;
constexpr int kStepWindow = 32;
constexpr int kUntrustMisses = 8;
// A repeated or late datagram lies at most this far behind the newest one;
// a number further back means the camera began counting anew.
constexpr int kLateWindow = 64;

// The number after `sequence`; the camera never uses 0 for a video datagram
// it numbers, so the count may skip it at the wrap.
uint16_t nextSequence(uint16_t sequence) { return static_cast<uint16_t>(sequence == 0xFFFF ? 1 : sequence + 1); }

// How far `sequence` lies after `expected` (negative: before it).
int distance(uint16_t sequence, uint16_t expected) {
    return static_cast<int16_t>(static_cast<uint16_t>(sequence - expected));
}

// How far `sequence` lies after the number that follows `last`: 0 when it
// is the very next one (a count that wraps through 0 included).
int aheadOf(uint16_t sequence, uint16_t last) {
    if (last == 0xFFFF && sequence == 0) {
        return 0;
    }
    return distance(sequence, nextSequence(last));
}

bool isStartDatagram(ByteView datagram) {
    return datagram.size() >= VideoDatagramLayout::kStartHeaderLength &&
           std::memcmp(datagram.data() + VideoDatagramLayout::kPrefixLength, VideoDatagramLayout::kMarker, 4) == 0;
}

// A quick 64-bit fingerprint of bytes, to recognise a repeat.
uint64_t mixIn(uint64_t h, ByteView bytes) {
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        h = (h ^ word) * 0x100000001B3ull;
        h ^= h >> 29;
    }
    for (; i < bytes.size(); ++i) {
        h = (h ^ bytes[i]) * 0x100000001B3ull;
    }
    return h ^ bytes.size();
}

constexpr uint64_t kFingerprintSeed = 0x9E3779B97F4A7C15ull;

uint64_t datagramFingerprint(ByteView datagram) { return mixIn(kFingerprintSeed, datagram); }

uint64_t pictureFingerprint(const std::vector<ByteView>& units) {
    uint64_t h = kFingerprintSeed;
    for (ByteView unit : units) {
        h = mixIn(h, unit);
    }
    return h;
}

}  // namespace

Bytes HevcFormat::annexB() const {
    Bytes out;
    out.reserve(vps.size() + sps.size() + pps.size() + 12);
    for (const Bytes* unit : {&vps, &sps, &pps}) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), unit->begin(), unit->end());
    }
    return out;
}

// ---- Datagrams ----------------------------------------------------------------

void HevcStreamAssembler::push(ByteView datagram) {
    if (datagram.size() <= VideoDatagramLayout::kPrefixLength) {
        return;
    }
    const uint16_t session = static_cast<uint16_t>(uint16LE(datagram, 2));
    const bool start = isStartDatagram(datagram);
    if (session_ && session != *session_) {
        ++counters_.foreignDatagrams;
        if (!start) {
            return;
        }
        candidateStarts_ = candidateSession_ == session ? candidateStarts_ + 1 : 1;
        candidateSession_ = session;
        if (candidateStarts_ < kAdoptAfterStarts) {
            return;
        }
        beginLink();
    }
    if (!session_) {
        session_ = session;
    }
    candidateSession_.reset();
    candidateStarts_ = 0;
    const uint16_t number = static_cast<uint16_t>(uint16LE(datagram, 4));
    if (start) {
        takeStart(datagram, number);
    } else {
        takeContinuation(datagram, number);
    }
}

void HevcStreamAssembler::beginLink() {
    loseMessage();
    session_.reset();
    candidateSession_.reset();
    candidateStarts_ = 0;
    stepHistory_ = 0;
    stepsRecorded_ = 0;
    numbered_ = false;
    counters_.numberedStream = false;
    lastStart_.reset();
    lastNumber_ = 0;
    lastDatagram_ = 0;
    // What the old link left unsent cannot be told from a stream that simply
    // goes on, so the new link starts at a random-access picture.
    awaitingIrap_ = true;
}

void HevcStreamAssembler::takeStart(ByteView datagram, uint16_t number) {
    const uint16_t lastNumberBefore = lastNumber_;
    advanceNumber(number);
    const uint64_t fingerprint = datagramFingerprint(datagram);
    if (numbered_ && lastStart_ && distance(number, *lastStart_) < -kLateWindow) {
        distrustNumbers();  // the camera began counting anew
    }
    // Read before advanceNumber() moved it: a start past the next number
    // means datagrams in between never came.
    const bool skipped = numbered_ && aheadOf(number, lastNumberBefore) > 0;
    const bool repeat = numbered_ ? lastStart_ && distance(number, *lastStart_) <= 0 : fingerprint == lastDatagram_;
    if (repeat) {
        // The start of a message already begun, again or late: taking it
        // would restart that message or hand its picture on twice.
        ++counters_.staleDatagrams;
        if (numbered_) {
            noteStep(false);
        }
        return;
    }
    loseMessage();  // a message still in progress lost its end
    lossSinceDelivery_ = lossSinceDelivery_ || skipped;
    lastStart_ = number;
    lastTaken_ = number;
    lastDatagram_ = fingerprint;
    const uint32_t length = uint32LE(datagram, VideoDatagramLayout::kLengthOffset);
    if (length == 0 || length > kMaxMessageBytes) {
        ++counters_.lostMessages;
        lossSinceDelivery_ = true;
        return;
    }
    expectedLength_ = length;
    pending_.assign(datagram.begin() + VideoDatagramLayout::kStartHeaderLength, datagram.end());
    completeIfWhole();
}

void HevcStreamAssembler::takeContinuation(ByteView datagram, uint16_t number) {
    const bool byOne = aheadOf(number, lastNumber_) == 0;
    advanceNumber(number);
    if (!expectedLength_) {
        noteStep(byOne);
        // Its start was lost, or its message is complete already and this
        // is a repeat. A new datagram here belongs to a message lost whole.
        const bool fresh = numbered_ ? aheadOf(number, lastTaken_) >= 0
                                     : datagramFingerprint(datagram) != lastDatagram_;
        lossSinceDelivery_ = lossSinceDelivery_ || fresh;
        return;
    }
    const int ahead = aheadOf(number, lastTaken_);
    if (numbered_ && ahead < -kLateWindow) {
        distrustNumbers();
    }
    const uint64_t fingerprint = datagramFingerprint(datagram);
    if (numbered_ ? ahead < 0 : fingerprint == lastDatagram_) {
        ++counters_.staleDatagrams;
        noteStep(false);
        return;
    }
    noteStep(byOne);
    if (numbered_ && ahead > 0) {
        // A datagram of this message is missing. Appending would shift the
        // rest, and when the next start was lost too, the next message's
        // bytes would fill this one up.
        loseMessage();
        return;
    }
    const size_t room = *expectedLength_ - std::min<size_t>(pending_.size(), *expectedLength_);
    const auto payload = datagram.subspan(VideoDatagramLayout::kPrefixLength);
    // Never more than the message needs: bytes beyond it are dropped anyway.
    pending_.insert(pending_.end(), payload.begin(),
                    payload.begin() + static_cast<ptrdiff_t>(std::min(room, payload.size())));
    lastTaken_ = number;
    lastDatagram_ = fingerprint;
    completeIfWhole();
}

// The newest number only moves forward, so a late or repeated datagram
// counts as one step off, not two; a number far behind is a new count.
void HevcStreamAssembler::advanceNumber(uint16_t number) {
    const int step = distance(number, lastNumber_);
    if (step > 0 || step < -kLateWindow) {
        lastNumber_ = number;
    }
}

void HevcStreamAssembler::distrustNumbers() {
    stepHistory_ = 0;
    stepsRecorded_ = 0;
    setNumbered(false);
}

void HevcStreamAssembler::noteStep(bool byOne) {
    stepHistory_ = (stepHistory_ << 1) | (byOne ? 1u : 0u);
    stepsRecorded_ = std::min(stepsRecorded_ + 1, kStepWindow);
    bool trusted = numbered_;
    if (!numbered_) {
        constexpr uint32_t kRunMask = (1u << kTrustRun) - 1;
        if (stepsRecorded_ >= kTrustRun && (stepHistory_ & kRunMask) == kRunMask) {
            trusted = true;
            stepsRecorded_ = kTrustRun;  // earlier misses belong to the untrusted time
        }
    } else {
        const uint32_t window = stepsRecorded_ >= kStepWindow ? ~0u : (1u << stepsRecorded_) - 1;
        const int misses = stepsRecorded_ - std::popcount(stepHistory_ & window);
        trusted = misses <= kUntrustMisses;
    }
    setNumbered(trusted);
}

void HevcStreamAssembler::setNumbered(bool trusted) {
    if (trusted == numbered_) {
        return;
    }
    numbered_ = trusted;
    counters_.numberedStream = trusted;
    if (trustChangesLogged_ < kLogFirst) {
        ++trustChangesLogged_;
        PocketLog::log(trusted ? "Live view: datagram numbers trusted" : "Live view: datagram numbers not trusted");
    }
}

void HevcStreamAssembler::loseMessage() {
    if (!expectedLength_) {
        return;
    }
    if (lossesLogged_ < kLogFirst) {
        ++lossesLogged_;
        PocketLog::logf("Live view: incomplete message dropped (%zu of %u bytes)", pending_.size(), *expectedLength_);
    }
    ++counters_.lostMessages;
    lossSinceDelivery_ = true;
    clearMessage();
}

void HevcStreamAssembler::clearMessage() {
    expectedLength_.reset();
    pending_.clear();
}

void HevcStreamAssembler::completeIfWhole() {
    if (!expectedLength_ || pending_.size() < *expectedLength_) {
        return;
    }
    const size_t length = *expectedLength_;
    Bytes message;
    message.swap(pending_);
    clearMessage();
    completeMessage(ByteView(message.data(), length));
    if (pending_.empty()) {
        message.clear();
        pending_.swap(message);  // keeps the buffer for the next message
    }
}

// ---- Messages ---------------------------------------------------------------------

void HevcStreamAssembler::completeMessage(ByteView message) {
    ++completedMessages_;
    std::vector<ByteView> picture;
    bool randomAccess = false;
    for (ByteView nal : splitNalUnits(message)) {
        // The header alone takes two bytes, and a set forbidden bit marks a
        // unit no encoder wrote.
        if (nal.size() < 2 || (nal[0] & 0x80) != 0) {
            continue;
        }
        const int type = hevcNalType(nal);
        seenNalTypes_.insert(type);
        if (type == HevcNalType::vps) {
            storeParameterSet(vps_, nal);
        } else if (type == HevcNalType::sps) {
            storeParameterSet(sps_, nal);
        } else if (type == HevcNalType::pps) {
            storeParameterSet(pps_, nal);
        } else if (type < HevcNalType::vps) {
            picture.push_back(nal);
            randomAccess = randomAccess || isIrapNalType(type);
        }
    }
    if (!format_ && vps_ && sps_ && pps_) {
        makeFormat();
    }
    if (!format_ || picture.empty()) {
        return;
    }
    if (awaitingIrap_) {
        if (!randomAccess) {
            ++counters_.skippedPictures;
            return;
        }
        awaitingIrap_ = false;
    }
    if (repeatsPrevious(picture)) {
        ++counters_.duplicatePictures;
        return;
    }
    hasPicture_ = true;
    deliver(picture, randomAccess);
}

void HevcStreamAssembler::storeParameterSet(std::optional<Bytes>& slot, ByteView nal) {
    if (slot && slot->size() == nal.size() && std::equal(nal.begin(), nal.end(), slot->begin())) {
        return;
    }
    // A new video or sequence parameter set starts a new sequence, which a
    // decoder can only enter at a random-access picture.
    if (slot && &slot != &pps_) {
        awaitingIrap_ = true;
    }
    slot = Bytes(nal.begin(), nal.end());
    format_.reset();
}

void HevcStreamAssembler::makeFormat() {
    const auto spsInfo = parseHevcSps(*sps_);
    const auto ppsInfo = parseHevcPps(*pps_);
    int error = 0;
    if (!spsInfo) {
        error = 1;
    } else if (!ppsInfo) {
        error = 2;
    } else if (ppsInfo->spsId != spsInfo->spsId) {
        error = 3;
    }
    if (error != 0) {
        if (formatErrorsLogged_ < kLogFirst) {
            ++formatErrorsLogged_;
            PocketLog::logf("HEVC format error %d", error);
        }
        return;
    }
    auto format = std::make_shared<HevcFormat>();
    format->vps = *vps_;
    format->sps = *sps_;
    format->pps = *pps_;
    format->spsInfo = *spsInfo;
    format->ppsInfo = *ppsInfo;
    format_ = std::move(format);
    formatErrorsLogged_ = 0;
    dimensions_ = VideoDimensions{spsInfo->width, spsInfo->height};
    PocketLog::logf("HEVC format ready %dx%d", spsInfo->width, spsInfo->height);
}

// A message that arrived twice would give the decoder the same picture
// twice; the decoder would refuse the second as a picture it already has.
bool HevcStreamAssembler::repeatsPrevious(const std::vector<ByteView>& picture) {
    const uint64_t hash = pictureFingerprint(picture);
    size_t bytes = 0;
    for (ByteView unit : picture) {
        bytes += unit.size();
    }
    const bool repeat = hash == lastPictureHash_ && bytes == lastPictureBytes_;
    lastPictureHash_ = hash;
    lastPictureBytes_ = bytes;
    return repeat;
}

void HevcStreamAssembler::deliver(const std::vector<ByteView>& picture, bool randomAccess) {
    sampleBytes_.clear();
    for (ByteView nal : picture) {
        sampleBytes_.insert(sampleBytes_.end(), {0, 0, 0, 1});
        sampleBytes_.insert(sampleBytes_.end(), nal.begin(), nal.end());
    }
    {
        MutexLock lock(counterLock_);
        ++displayedSinceLastRead_;
    }
    const bool afterLoss = std::exchange(lossSinceDelivery_, false);
    if (onSample_) {
        onSample_(HevcSample{format_, sampleBytes_, randomAccess, afterLoss});
    }
}

// ---- State read by the session ------------------------------------------------------

std::vector<int> HevcStreamAssembler::seenNalTypes() const {
    return {seenNalTypes_.begin(), seenNalTypes_.end()};
}

int HevcStreamAssembler::takeDisplayedCount() {
    MutexLock lock(counterLock_);
    return std::exchange(displayedSinceLastRead_, 0);
}

}  // namespace hollowkit
