#pragma once

// HevcStreamAssembler: turns the camera's live-view datagrams back into
// pictures. A stream message (one picture, now and then with the parameter
// sets) arrives as a start datagram and continuation datagrams; the
// assembler puts it back together, splits it into NAL units, keeps the
// latest VPS, SPS and PPS and the format made from them, holds pictures back
// until the first random-access picture and hands each picture to `onSample`
// in a sample (Annex-B, with the format).
//
// It never splices bytes of different messages or links into one picture:
// datagrams of another link session are ignored, and once the camera's
// datagram numbers prove to count up by one, a gap, a duplicate or a stale
// datagram inside a message is recognised (a short reordering is repaired, a
// loss discards the message). A lost message, a missing picture (seen in the
// picture order count), a new link or a new format makes it wait for the
// next random-access picture, so the decoder never gets a picture whose
// references it has not seen. Memory stays bounded: a message holds at most
// 8 MiB and the reordering window a few datagrams.
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
    // Datagrams held while waiting for a missing one of the same message.
    static constexpr size_t kReorderWindow = 16;

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
        int lostMessages = 0;          // incomplete, without a start, or with a bad length
        int missingPictures = 0;       // gaps in the picture order count
        int skippedPictures = 0;       // held back while waiting for a random-access picture
        int duplicatePictures = 0;
        int staleDatagrams = 0;        // duplicates and late arrivals
        int foreignDatagrams = 0;      // of another link session
        int reorderedDatagrams = 0;    // held back and put in place
        bool numberedStream = false;   // the datagram numbers are trusted
    };
    const Counters& counters() const { return counters_; }
    // True while pictures are held back until the next random-access one.
    bool waitingForRandomAccess() const { return awaitingIrap_; }

private:
    struct Datagram {
        ByteView bytes;
        uint16_t sequence = 0;
        bool isStart = false;
    };

    void acceptSession(uint16_t session, bool isStart);
    void route(const Datagram& d);
    void process(const Datagram& d);
    void drainHeld();
    void releaseHeld();
    void noteStep(bool inOrder);
    void noteBoundary(bool inOrder);
    void loseMessage();
    void noteLoss();
    void rememberDatagram(ByteView datagram);
    void clearMessage();
    void completeMessage(ByteView message);
    void storeParameterSet(std::optional<Bytes>& slot, ByteView nal);
    void makeFormat();
    bool pictureFollowsPrevious(const std::vector<ByteView>& slices, bool randomAccess);
    void deliver(const std::vector<ByteView>& picture, bool randomAccess);

    SampleHandler onSample_;

    bool hasPicture_ = false;
    int completedMessages_ = 0;
    std::set<int> seenNalTypes_;
    std::optional<VideoDimensions> dimensions_;

    // Message in progress.
    std::optional<uint32_t> expectedLength_;
    Bytes pending_;
    uint16_t lastSequence_ = 0;       // of the newest datagram taken into the message
    std::optional<uint16_t> lastStartSequence_;
    uint64_t lastDatagram_ = 0;  // fingerprint, kept while the numbers are not trusted
    bool lossNoted_ = false;

    // Link session and datagram numbering.
    std::optional<uint16_t> session_;
    std::optional<uint16_t> candidateSession_;
    int candidateStarts_ = 0;
    int inOrderSteps_ = 0;
    int otherSteps_ = 0;
    bool numbered_ = false;
    bool numberingKnown_ = false;
    int inOrderBoundaries_ = 0;
    int otherBoundaries_ = 0;
    bool boundariesNumbered_ = false;
    std::vector<std::pair<uint16_t, Bytes>> held_;  // waiting for an earlier number
    bool releasing_ = false;

    // Parameter sets and format.
    std::optional<Bytes> vps_;
    std::optional<Bytes> sps_;
    std::optional<Bytes> pps_;
    std::shared_ptr<const HevcFormat> format_;
    int formatErrorsLogged_ = 0;

    // Picture continuity.
    bool awaitingIrap_ = true;
    std::optional<uint32_t> lastOrderCount_;
    uint32_t orderStep_ = 1;
    uint32_t otherStep_ = 0;
    int otherStepRepeats_ = 0;
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
