#include "hollowkit/wireless/hevc_stream_assembler.h"

#include <algorithm>
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

// The camera's datagram numbers are taken to count up by one from the first
// non-zero number on, until steps inside messages show otherwise: at least
// this many, and more of them off than on.
constexpr int kTrustSteps = 8;
constexpr int kEvidenceCap = 256;
// Message boundaries must run on almost always before datagrams are held
// back between messages.
constexpr int kBoundaryRatio = 10;

// A picture order count that moves by another step this many times in a row
// is the stream's own rhythm, not a loss.
constexpr int kNewStepAfter = 3;

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
    const uint16_t sequence = static_cast<uint16_t>(uint16LE(datagram, 4));
    if (!numberingKnown_) {
        // A link whose datagrams carry no number (0) is taken in arrival order.
        numberingKnown_ = true;
        numbered_ = sequence != 0;
        counters_.numberedStream = numbered_;
    }
    route({datagram, sequence, start});
}

void HevcStreamAssembler::beginLink() {
    if (expectedLength_) {
        loseMessage();
    }
    held_.clear();
    session_.reset();
    candidateSession_.reset();
    candidateStarts_ = 0;
    inOrderSteps_ = 0;
    otherSteps_ = 0;
    numbered_ = false;
    numberingKnown_ = false;
    inOrderBoundaries_ = 0;
    otherBoundaries_ = 0;
    boundariesNumbered_ = false;
    counters_.numberedStream = false;
    lastStartSequence_.reset();
    // Pictures lost between the links cannot be told apart from a stream
    // that simply goes on, so the new link starts at a random-access picture.
    awaitingIrap_ = true;
    lastOrderCount_.reset();
}

// Once the numbers are trusted, datagrams are put in number order through a
// small window: a continuation waits for the datagrams before it (its start
// included), a duplicate or late one is dropped, and a gap that outlasts the
// window loses the message. A start datagram between messages waits only
// when the numbers also run on from one message to the next (a camera that
// numbers other datagrams from the same count leaves gaps there, and waiting
// at each would only add delay). Untrusted numbers: arrival order.
void HevcStreamAssembler::route(const Datagram& d) {
    const bool between = !expectedLength_;
    if (!numbered_ || (between && d.isStart && !boundariesNumbered_)) {
        process(d);
        drainHeld();
        return;
    }
    const int ahead = aheadOf(d.sequence, lastSequence_);
    if (ahead == 0) {
        process(d);
        drainHeld();
        return;
    }
    if (ahead < 0) {
        ++counters_.staleDatagrams;
        noteStep(false);
        return;
    }
    if (ahead > static_cast<int>(kReorderWindow)) {
        // Far ahead: whatever was held can never be completed.
        if (!between) {
            noteStep(false);
        }
        loseMessage();
        releaseHeld();
        // The held datagrams may have brought the count up to this one.
        if (aheadOf(d.sequence, lastSequence_) <= static_cast<int>(kReorderWindow)) {
            route(d);
        } else if (d.isStart) {
            process(d);
            drainHeld();
        } else {
            noteLoss();
        }
        return;
    }
    if (releasing_ && between) {
        // After a loss nothing earlier will come: a start begins the next
        // message; a continuation has lost its start.
        if (d.isStart) {
            process(d);
            drainHeld();
        } else {
            noteLoss();
        }
        return;
    }
    const bool known = std::any_of(held_.begin(), held_.end(),
                                   [&](const auto& entry) { return entry.first == d.sequence; });
    if (known) {
        ++counters_.staleDatagrams;
        return;
    }
    held_.emplace_back(d.sequence, Bytes(d.bytes.begin(), d.bytes.end()));
    if (held_.size() > kReorderWindow) {
        loseMessage();
        releaseHeld();
    }
}

// Takes held datagrams that are now due. Trusted numbers: the next number
// (held ones already passed are dropped); otherwise the earliest held one.
void HevcStreamAssembler::drainHeld() {
    while (!held_.empty()) {
        auto best = held_.end();
        if (numbered_) {
            // Held ones already passed were never used: their message is lost.
            if (std::erase_if(held_, [&](const auto& entry) { return aheadOf(entry.first, lastSequence_) < 0; }) > 0) {
                noteLoss();
            }
            best = std::find_if(held_.begin(), held_.end(),
                                [&](const auto& entry) { return aheadOf(entry.first, lastSequence_) == 0; });
            if (best == held_.end()) {
                return;
            }
        } else {
            best = std::min_element(held_.begin(), held_.end(), [&](const auto& a, const auto& b) {
                return aheadOf(a.first, lastSequence_) < aheadOf(b.first, lastSequence_);
            });
        }
        const uint16_t sequence = best->first;
        const Bytes bytes = std::move(best->second);
        held_.erase(best);
        ++counters_.reorderedDatagrams;
        process({bytes, sequence, isStartDatagram(bytes)});
    }
}

// After a loss: the held datagrams go through again in number order; the
// first start datagram among them begins the next message, continuations
// before it are dropped.
void HevcStreamAssembler::releaseHeld() {
    auto released = std::move(held_);
    held_.clear();
    const uint16_t last = lastSequence_;
    std::sort(released.begin(), released.end(), [&](const auto& a, const auto& b) {
        return aheadOf(a.first, last) < aheadOf(b.first, last);
    });
    const bool outer = !releasing_;
    releasing_ = true;
    for (auto& [sequence, bytes] : released) {
        route({bytes, sequence, isStartDatagram(bytes)});
    }
    releasing_ = !outer;
}

void HevcStreamAssembler::noteStep(bool inOrder) {
    (inOrder ? inOrderSteps_ : otherSteps_) += 1;
    if (inOrderSteps_ + otherSteps_ > kEvidenceCap) {
        inOrderSteps_ /= 2;
        otherSteps_ /= 2;
    }
    // Trusted until the steps say otherwise, and back once they agree again.
    const bool trusted = numbered_ ? !(otherSteps_ >= kTrustSteps && otherSteps_ > inOrderSteps_)
                                   : inOrderSteps_ >= kTrustSteps && inOrderSteps_ >= otherSteps_;
    if (trusted != numbered_) {
        numbered_ = trusted;
        counters_.numberedStream = trusted;
        if (trustChangesLogged_ < kLogFirst) {
            ++trustChangesLogged_;
            PocketLog::log(trusted ? "Live view: datagram numbers trusted" : "Live view: datagram numbers not trusted");
        }
    }
}

void HevcStreamAssembler::noteBoundary(bool inOrder) {
    (inOrder ? inOrderBoundaries_ : otherBoundaries_) += 1;
    if (inOrderBoundaries_ + otherBoundaries_ > kEvidenceCap) {
        inOrderBoundaries_ /= 2;
        otherBoundaries_ /= 2;
    }
    boundariesNumbered_ = inOrderBoundaries_ >= kTrustSteps && inOrderBoundaries_ >= kBoundaryRatio * otherBoundaries_;
}

void HevcStreamAssembler::process(const Datagram& d) {
    if (d.isStart) {
        if (numbered_ && lastStartSequence_ && distance(d.sequence, *lastStartSequence_) <= 0) {
            ++counters_.staleDatagrams;  // a repeated or late start of a message already begun
            noteStep(false);
            return;
        }
        if (!expectedLength_ && lastStartSequence_) {
            noteBoundary(aheadOf(d.sequence, lastSequence_) == 0);
        }
        lastStartSequence_ = d.sequence;
        lossNoted_ = false;
        const uint32_t length = uint32LE(d.bytes, VideoDatagramLayout::kLengthOffset);
        if (expectedLength_) {
            loseMessage();  // replaced before it was complete
        }
        lastSequence_ = d.sequence;
        rememberDatagram(d.bytes);
        if (length == 0 || length > kMaxMessageBytes) {
            noteLoss();
            clearMessage();
            return;
        }
        expectedLength_ = length;
        pending_.assign(d.bytes.begin() + VideoDatagramLayout::kStartHeaderLength, d.bytes.end());
    } else {
        if (!expectedLength_) {
            // No message to add to: its start was lost, unless this repeats
            // the datagram just taken (only the bytes can tell without numbers).
            const bool repeat = numbered_ ? aheadOf(d.sequence, lastSequence_) < 0
                                          : datagramFingerprint(d.bytes) == lastDatagram_;
            if (!repeat) {
                noteLoss();
                if (numbered_) {
                    lastSequence_ = d.sequence;
                }
            }
            return;
        }
        noteStep(aheadOf(d.sequence, lastSequence_) == 0);
        rememberDatagram(d.bytes);
        // Never more than the message needs: bytes beyond it are dropped anyway.
        const size_t room = *expectedLength_ - std::min<size_t>(pending_.size(), *expectedLength_);
        const auto payload = d.bytes.subspan(VideoDatagramLayout::kPrefixLength);
        pending_.insert(pending_.end(), payload.begin(),
                        payload.begin() + static_cast<ptrdiff_t>(std::min(room, payload.size())));
        lastSequence_ = d.sequence;
    }
    if (expectedLength_ && pending_.size() >= *expectedLength_) {
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
}

void HevcStreamAssembler::loseMessage() {
    if (!expectedLength_) {
        return;
    }
    if (lossesLogged_ < kLogFirst) {
        ++lossesLogged_;
        PocketLog::logf("Live view: incomplete message dropped (%zu of %u bytes), waiting for a keyframe",
                        pending_.size(), *expectedLength_);
    }
    noteLoss();
    clearMessage();
}

// Bytes of the stream were lost: the pictures after them may refer to what
// was lost, so wait for a random-access picture. Counted once per message.
void HevcStreamAssembler::noteLoss() {
    awaitingIrap_ = true;
    if (!lossNoted_) {
        lossNoted_ = true;
        ++counters_.lostMessages;
    }
}

// Without trusted numbers a repeated datagram is told by its bytes.
void HevcStreamAssembler::rememberDatagram(ByteView datagram) {
    if (!numbered_) {
        lastDatagram_ = datagramFingerprint(datagram);
    }
}

void HevcStreamAssembler::clearMessage() {
    expectedLength_.reset();
    pending_.clear();
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
    if (!hasPicture_ && !randomAccess) {
        return;
    }
    if (!pictureFollowsPrevious(picture, randomAccess)) {
        return;
    }
    if (awaitingIrap_) {
        if (!randomAccess) {
            ++counters_.skippedPictures;
            return;
        }
        awaitingIrap_ = false;
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

// Checks the picture against the one before: an exact repeat is dropped (a
// duplicated message), and a jump in the picture order count means pictures
// went missing, so later ones would be decoded from references the decoder
// never saw: wait for the next random-access picture.
bool HevcStreamAssembler::pictureFollowsPrevious(const std::vector<ByteView>& slices, bool randomAccess) {
    const uint64_t hash = pictureFingerprint(slices);
    size_t bytes = 0;
    for (ByteView slice : slices) {
        bytes += slice.size();
    }
    if (hash == lastPictureHash_ && bytes == lastPictureBytes_) {
        ++counters_.duplicatePictures;
        return false;
    }
    lastPictureHash_ = hash;
    lastPictureBytes_ = bytes;

    const auto count = sliceOrderCountLsb(slices.front(), format_->spsInfo, format_->ppsInfo);
    if (randomAccess || !count || !lastOrderCount_) {
        lastOrderCount_ = count;
        return true;
    }
    const uint32_t mask = (1u << format_->spsInfo.log2MaxPocLsb) - 1;
    const uint32_t step = (*count - *lastOrderCount_) & mask;
    if (step == 0) {
        ++counters_.duplicatePictures;
        return false;
    }
    lastOrderCount_ = count;
    if (step == orderStep_) {
        otherStepRepeats_ = 0;
        return true;
    }
    otherStepRepeats_ = step == otherStep_ ? otherStepRepeats_ + 1 : 1;
    otherStep_ = step;
    if (otherStepRepeats_ >= kNewStepAfter) {
        orderStep_ = step;
        otherStepRepeats_ = 0;
    }
    ++counters_.missingPictures;
    awaitingIrap_ = true;
    if (lossesLogged_ < kLogFirst) {
        ++lossesLogged_;
        PocketLog::logf("Live view: picture order jumped by %u, waiting for a keyframe", step);
    }
    return true;
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
    if (onSample_) {
        onSample_(HevcSample{format_, sampleBytes_, randomAccess});
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
