#pragma once

// HevcStreamAssembler: turns the camera's live-view datagrams back into
// pictures. A stream message (one picture, now and then with the parameter
// sets) arrives as a start datagram and continuation datagrams; the
// assembler puts it back together, splits it into NAL units, keeps the
// latest VPS, SPS and PPS and the format made from them, holds pictures back
// until the first random-access picture and hands each picture to `onSample`
// in a sample (Annex-B, with the format).
//
// A lost datagram costs only the message it belongs to: an incomplete
// message is dropped alone and every later complete one goes on to the
// decoder, whose concealment stands in for a missing reference. The next
// picture handed on carries a loss mark, so the decoder knows which
// pictures may stand on a stand-in (a message lost whole is seen only in a
// numbered stream, or by its continuations when only its start was lost). Only the
// start of the stream and a new link wait for a random-access picture
// (pictures of another link are never spliced onto this one). Datagrams of
// another link session are ignored. The camera's datagram numbers are used
// only once they have been seen to count up by one inside messages; then a
// repeated or late datagram is dropped and a gap drops the message it falls
// in (so bytes of two messages are never spliced). Until then, and whenever
// they stop counting so, datagrams are taken in arrival order, an immediate
// repeat recognised by its bytes. Memory stays bounded: a message holds at
// most 8 MiB.
//
// Thread contract: everything runs on the video thread, except
// takeDisplayedCount(), which any thread may call.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/camera/camera_types.h"
#include "hollowkit/wireless/hevc_sample.h"
#include "hollowkit/wireless/live_view_stream.h"

namespace hollowkit {

class HevcStreamAssembler final : public LiveViewStream {
public:
    using SampleHandler = std::function<void(const HevcSample&)>;

    // The largest message accepted; larger announced lengths discard it.
    static constexpr uint32_t kMaxMessageBytes = 8 * 1024 * 1024;

    HevcStreamAssembler() = default;
    HevcStreamAssembler(const HevcStreamAssembler&) = delete;
    HevcStreamAssembler& operator=(const HevcStreamAssembler&) = delete;

    // Called synchronously from push() for each picture; set before the
    // first push. The sample's bytes are valid during the call only.
    void setOnSample(SampleHandler handler) { onSample_ = std::move(handler); }

    // One video datagram, whole (link header included).
    void push(ByteView datagram);

    // LiveViewStream.
    void beginLink() override;
    void pushDatagram(ByteView datagram) override { push(datagram); }
    bool hasPicture() const override { return hasPicture_; }
    int completedMessages() const override { return completedMessages_; }
    std::vector<int> seenNalTypes() const override;
    std::optional<VideoDimensions> dimensions() const override { return dimensions_; }
    int takeDisplayedCount() override;

    // The current format, when the three parameter sets are known and read.
    std::shared_ptr<const HevcFormat> format() const { return format_; }

    // Counters for tests and the session's log lines.
    struct Counters {
        int lostMessages = 0;         // incomplete, or with a bad length
        int skippedPictures = 0;      // held back until a random-access picture
        int duplicatePictures = 0;    // exact repeats of the picture before
        int staleDatagrams = 0;       // repeated or late datagrams dropped
        int foreignDatagrams = 0;     // of another link session
        bool numberedStream = false;  // the datagram numbers are trusted
    };
    const Counters& counters() const { return counters_; }
    // True while pictures are held back until the next random-access one.
    bool waitingForRandomAccess() const { return awaitingIrap_; }

private:
    void takeStart(ByteView datagram, uint16_t number);
    void takeContinuation(ByteView datagram, uint16_t number);
    void noteStep(bool byOne);
    void setNumbered(bool trusted);
    void advanceNumber(uint16_t number);
    void distrustNumbers();
    void loseMessage();
    void clearMessage();
    void completeIfWhole();
    void completeMessage(ByteView message);
    void storeParameterSet(std::optional<Bytes>& slot, ByteView nal);
    void makeFormat();
    bool repeatsPrevious(const std::vector<ByteView>& picture);
    void deliver(const std::vector<ByteView>& picture, bool randomAccess);

    SampleHandler onSample_;

    bool hasPicture_ = false;
    int completedMessages_ = 0;
    std::set<int> seenNalTypes_;
    std::optional<VideoDimensions> dimensions_;

    // Message in progress.
    std::optional<uint32_t> expectedLength_;
    Bytes pending_;
    uint16_t lastTaken_ = 0;  // number of the newest datagram taken into it
    std::optional<uint16_t> lastStart_;
    uint64_t lastDatagram_ = 0;  // fingerprint of the newest datagram taken
    bool lossSinceDelivery_ = false;  // reported with the next sample

    // Link session and datagram numbering.
    std::optional<uint16_t> session_;
    std::optional<uint16_t> candidateSession_;
    int candidateStarts_ = 0;
    uint16_t lastNumber_ = 0;   // the newest number met, of any kind of datagram
    uint32_t stepHistory_ = 0;  // newest step onto a continuation in bit 0: 1 = by one
    int stepsRecorded_ = 0;
    bool numbered_ = false;

    // Parameter sets and format.
    std::optional<Bytes> vps_;
    std::optional<Bytes> sps_;
    std::optional<Bytes> pps_;
    std::shared_ptr<const HevcFormat> format_;
    int formatErrorsLogged_ = 0;

    // Pictures.
    bool awaitingIrap_ = true;
    uint64_t lastPictureHash_ = 0;
    size_t lastPictureBytes_ = 0;
    int lossesLogged_ = 0;
    int trustChangesLogged_ = 0;

    Bytes sampleBytes_;
    Counters counters_;

    Mutex counterLock_;
    int displayedSinceLastRead_ HK_GUARDED_BY(counterLock_) = 0;
};

}  // namespace hollowkit
