#include "hollowkit/wireless/hevc_stream_assembler.h"

#include <gtest/gtest.h>

#include <functional>

#include "live_view_test_streams.h"
#include "wireless_test_support.h"

namespace hollowkit {
namespace {

using testsupport::NumberedDatagram;
using testsupport::bPictureStream;
using testsupport::smallStream;
using testsupport::unitOfPicture;
using testsupport::videoDatagrams;

constexpr uint16_t kSession = 0x1234;
constexpr uint16_t kOtherSession = 0x4321;

Bytes header(size_t size, uint16_t sequence, uint16_t session) {
    return packetHeader(UdpPacketType::video, size - kUdpHeaderLength, session, sequence);
}

Bytes startDatagram(uint32_t length, size_t bodyBytes, uint16_t sequence = 0, uint16_t session = kSession) {
    Bytes d(36 + bodyBytes, 0x55);
    std::fill(d.begin() + 8, d.begin() + 36, 0);
    d[22] = 0x01;
    d[23] = 0xFF;
    for (int i = 0; i < 4; ++i) {
        d[24 + i] = static_cast<uint8_t>(length >> (8 * i));
    }
    const Bytes h = header(d.size(), sequence, session);
    std::copy(h.begin(), h.end(), d.begin());
    return d;
}

Bytes otherDatagram(size_t size, uint16_t sequence = 0, uint16_t session = kSession) {
    Bytes d(size, 0x55);
    std::fill(d.begin() + 8, d.begin() + std::min<size_t>(size, 20), 0);
    const Bytes h = header(size, sequence, session);
    std::copy(h.begin(), h.end(), d.begin());
    return d;
}

// Records what the assembler hands on, as frame numbers of `units`.
struct Recorder {
    explicit Recorder(HevcStreamAssembler& assembler, const std::vector<HevcAccessUnit>& units) {
        assembler.setOnSample([this, &units](const HevcSample& sample) {
            pictures.push_back(unitOfPicture(units, sample.annexB));
            formats.push_back(sample.format);
            randomAccess.push_back(sample.randomAccess);
            if (sample.afterLoss) {
                afterLoss.push_back(pictures.back());
            }
        });
    }
    std::vector<int> pictures;
    std::vector<std::shared_ptr<const HevcFormat>> formats;
    std::vector<bool> randomAccess;
    std::vector<int> afterLoss;  // pictures handed on with the loss mark
};

std::vector<int> range(int from, int to) {
    std::vector<int> out;
    for (int i = from; i < to; ++i) {
        out.push_back(i);
    }
    return out;
}

void pushAll(HevcStreamAssembler& assembler, const std::vector<NumberedDatagram>& datagrams) {
    for (const NumberedDatagram& d : datagrams) {
        assembler.push(d.bytes);
    }
}

// ---- Datagram layout -----------------------------------------------------------------

TEST(HevcStreamAssembler, SortsDatagramsByTheirLayout) {
    struct Case {
        const char* name;
        std::vector<Bytes> datagrams;
        int completed;
    };
    const Case cases[] = {
        {"20 bytes is ignored", {startDatagram(8, 4), otherDatagram(20), otherDatagram(21)}, 0},
        {"21 bytes is a continuation", {startDatagram(8, 4), otherDatagram(21), otherDatagram(23)}, 1},
        {"35 bytes with the marker is a continuation", {startDatagram(8, 4), [] {
             Bytes d = otherDatagram(35);
             d[22] = 1;
             d[23] = 0xFF;
             return d;
         }()}, 1},
        {"continuation without a start is ignored", {otherDatagram(100)}, 0},
        {"start holding the whole message completes at once", {startDatagram(4, 10)}, 1},
        {"excess after completion is not a new message", {startDatagram(4, 4), otherDatagram(100)}, 1},
        {"length 0 is refused", {startDatagram(0, 4), otherDatagram(100)}, 0},
        {"length above 8 MiB is refused", {startDatagram(8 * 1024 * 1024 + 1, 4), otherDatagram(100)}, 0},
        {"a bad start discards the message in progress", {startDatagram(8, 4), startDatagram(0, 0), otherDatagram(24)}, 0},
        {"a new start replaces the message in progress", {startDatagram(100, 4), startDatagram(8, 4), otherDatagram(24)}, 1},
    };
    for (const Case& c : cases) {
        HevcStreamAssembler assembler;
        for (const Bytes& d : c.datagrams) {
            assembler.push(d);
        }
        EXPECT_EQ(assembler.completedMessages(), c.completed) << c.name;
    }
}

TEST(HevcStreamAssembler, AcceptsExactly8MiB) {
    HevcStreamAssembler assembler;
    constexpr uint32_t kLength = 8 * 1024 * 1024;
    assembler.push(startDatagram(kLength, 16000 - 36));
    size_t have = 16000 - 36;
    for (uint16_t number = 2; have < kLength; ++number) {
        assembler.push(otherDatagram(16000, number));
        have += 16000 - 20;
    }
    EXPECT_EQ(assembler.completedMessages(), 1);
    EXPECT_EQ(assembler.counters().lostMessages, 0);
}

// ---- Parameter sets, format and the first picture -------------------------------------

TEST(HevcStreamAssembler, FormatFromParameterSetsAndNoPictureBeforeIrap) {
    testsupport::LogCapture log;
    const auto& units = smallStream();
    HevcStreamAssembler assembler;
    Recorder recorder(assembler, units);

    // Parameter sets alone: a format, no picture.
    Bytes parameterSets;
    for (ByteView nal : splitNalUnits(units[0].bytes)) {
        if (hevcNalType(nal) >= HevcNalType::vps && hevcNalType(nal) <= HevcNalType::pps) {
            parameterSets.insert(parameterSets.end(), {0, 0, 1});
            parameterSets.insert(parameterSets.end(), nal.begin(), nal.end());
        }
    }
    for (const Bytes& d : splitIntoVideoDatagrams(parameterSets, 1400)) {
        assembler.push(d);
    }
    EXPECT_EQ(log.count("HEVC format ready 320x180"), 1);
    EXPECT_EQ(assembler.dimensions(), (VideoDimensions{320, 180}));
    EXPECT_TRUE(recorder.pictures.empty());
    EXPECT_EQ(assembler.seenNalTypes(), (std::vector<int>{32, 33, 34}));

    // Predicted pictures before the first IRAP are held back...
    auto later = videoDatagrams({units.begin() + 1, units.end()}, kSession, nullptr, 1400);
    for (const auto& d : later) {
        assembler.push(d.bytes);
    }
    EXPECT_FALSE(recorder.pictures.empty());
    EXPECT_EQ(recorder.pictures.front(), 10);  // ...until the IRAP of unit 10
    EXPECT_TRUE(assembler.hasPicture());
    EXPECT_EQ(recorder.pictures.size(), 20u);
    // The same parameter sets repeated with every IRAP keep the format.
    EXPECT_EQ(log.count("HEVC format ready"), 1);
    EXPECT_EQ(recorder.formats.front(), recorder.formats.back());
    EXPECT_EQ(assembler.takeDisplayedCount(), 20);
    EXPECT_EQ(assembler.takeDisplayedCount(), 0);
}

TEST(HevcStreamAssembler, NewSequenceParameterSetRebuildsTheFormat) {
    testsupport::LogCapture log;
    const auto& first = smallStream(320, 180, 0);
    const auto& second = smallStream(256, 144, 30);
    HevcStreamAssembler assembler;
    std::vector<std::pair<int, int>> sizes;
    assembler.setOnSample([&](const HevcSample& s) { sizes.emplace_back(s.format->width(), s.format->height()); });
    pushAll(assembler, videoDatagrams(first, kSession, nullptr, 1400));
    pushAll(assembler, videoDatagrams(second, kSession, nullptr, 1400));
    EXPECT_EQ(log.count("HEVC format ready 320x180"), 1);
    EXPECT_EQ(log.count("HEVC format ready 256x144"), 1);
    ASSERT_EQ(sizes.size(), 60u);
    EXPECT_EQ(sizes[29], std::pair(320, 180));
    EXPECT_EQ(sizes[30], std::pair(256, 144));
    EXPECT_EQ(assembler.dimensions(), (VideoDimensions{256, 144}));
}

TEST(HevcStreamAssembler, IgnoresTruncatedAndForbiddenNalUnits) {
    const auto& units = smallStream();
    HevcStreamAssembler assembler;
    Recorder recorder(assembler, units);
    pushAll(assembler, videoDatagrams({units[0]}, kSession, nullptr, 1400));
    const auto format = assembler.format();
    // A one-byte "SPS" and an SPS with the forbidden bit must not replace
    // the good one.
    for (const char* junk : {"00000142", "000001c20100"}) {
        for (const Bytes& d : splitIntoVideoDatagrams(bytesFromHex(junk), 1400)) {
            assembler.push(d);
        }
    }
    EXPECT_EQ(assembler.format(), format);
    pushAll(assembler, videoDatagrams({units[1]}, kSession, nullptr, 1400));
    EXPECT_EQ(recorder.pictures, (std::vector<int>{0, 1}));
}

// ---- Never splicing messages or links ----------------------------------------------------

// Small datagrams, so every message spans several and the numbers get trusted.
constexpr size_t kSmallDatagram = 120;

std::vector<int> allBut(std::initializer_list<int> missing) {
    std::vector<int> out = range(0, 30);
    for (int m : missing) {
        std::erase(out, m);
    }
    return out;
}

// Writes `number(i)` as the number of the i-th datagram.
std::vector<NumberedDatagram> renumbered(std::vector<NumberedDatagram> datagrams,
                                         const std::function<uint16_t(size_t)>& number) {
    for (size_t i = 0; i < datagrams.size(); ++i) {
        const uint16_t n = number(i);
        datagrams[i].bytes[4] = static_cast<uint8_t>(n);
        datagrams[i].bytes[5] = static_cast<uint8_t>(n >> 8);
    }
    return datagrams;
}

// Indices of the datagrams of `unit` (first, second, ... last).
std::vector<size_t> datagramsOf(const std::vector<NumberedDatagram>& datagrams, int unit) {
    std::vector<size_t> out;
    for (size_t i = 0; i < datagrams.size(); ++i) {
        if (datagrams[i].unit == unit) {
            out.push_back(i);
        }
    }
    return out;
}

TEST(HevcStreamAssembler, LostEndAndLostStartDoNotSpliceTwoMessages) {
    const auto& units = smallStream();
    uint16_t sequence = 100;
    auto datagrams = videoDatagrams(units, kSession, &sequence, kSmallDatagram);
    // Drop the last datagram of unit 4 and the first of unit 5: in arrival
    // order the rest of unit 5 would fill unit 4 up.
    const size_t lastOf4 = datagramsOf(datagrams, 4).back();
    const auto at = datagrams.begin() + static_cast<ptrdiff_t>(lastOf4);
    datagrams.erase(at, at + 2);
    HevcStreamAssembler assembler;
    Recorder recorder(assembler, units);
    pushAll(assembler, datagrams);
    EXPECT_TRUE(assembler.counters().numberedStream);
    // 4 and 5 are lost; every later picture goes on to the decoder.
    EXPECT_EQ(recorder.pictures, allBut({4, 5}));
    EXPECT_EQ(assembler.counters().lostMessages, 1);
}

// The numbers decide only once they have proved to count by one; whatever
// else the camera does with them, complete messages still come through.
TEST(HevcStreamAssembler, DatagramNumbersAreTrustedOnlyWhileTheyCountByOne) {
    const auto& units = smallStream();
    const auto plain = videoDatagrams(units, kSession, nullptr, kSmallDatagram);
    const size_t half = plain.size() / 2;
    // Datagram positions inside unit 20, where the numbers are trusted.
    const auto of20 = datagramsOf(plain, 20);
    ASSERT_GE(of20.size(), 4u);

    std::vector<int> withoutGapped = range(0, 30);
    for (size_t i = 97; i < plain.size(); i += 97) {
        if (plain[i].unit == plain[i - 1].unit) {
            std::erase(withoutGapped, plain[i].unit);
        }
    }
    ASSERT_LT(withoutGapped.size(), 30u);

    struct Case {
        const char* name;
        std::function<uint16_t(size_t)> number;
        // Changes to the arrival order: (position, datagram) inserted or swapped.
        std::function<std::vector<NumberedDatagram>(std::vector<NumberedDatagram>)> deliver;
        std::vector<int> shown;
        bool trustedAtEnd;
    };
    auto asSent = [](std::vector<NumberedDatagram> d) { return d; };
    const Case cases[] = {
        {"counting by one through the wrap", [](size_t i) { return static_cast<uint16_t>(65500 + i + (i >= 36)); },
         asSent, range(0, 30), true},
        {"unnumbered", [](size_t) { return uint16_t{0}; }, asSent, range(0, 30), false},
        {"steps of 2", [](size_t i) { return static_cast<uint16_t>(7 + 2 * i); }, asSent, range(0, 30), false},
        {"steps of 8", [](size_t i) { return static_cast<uint16_t>(8 * i + 8); }, asSent, range(0, 30), false},
        {"a gap every fourth number", [](size_t i) { return static_cast<uint16_t>(1 + i + i / 4); }, asSent,
         range(0, 30), false},
        // Trusted numbers that skip inside a message cost that message (a
        // loss looks the same); between messages they cost nothing.
        {"a rare gap", [](size_t i) { return static_cast<uint16_t>(1 + i + 9 * (i / 97)); }, asSent, withoutGapped,
         true},
        {"by one, then steps of 3",
         [&](size_t i) { return static_cast<uint16_t>(i < half ? i + 1 : half + 3 * (i - half) + 1); }, asSent,
         {}, false},
        {"by one, then counting again from 1",
         [&](size_t i) { return static_cast<uint16_t>(i < half ? 2000 + i : i - half + 1); }, asSent, {}, true},
        {"late repeats once trusted", [](size_t i) { return static_cast<uint16_t>(300 + i); },
         [](std::vector<NumberedDatagram> d) {
             std::vector<NumberedDatagram> out;
             for (size_t i = 0; i < d.size(); ++i) {
                 out.push_back(d[i]);
                 if (i >= 80 && i % 7 == 0) {
                     out.push_back(d[i - 2]);
                 }
             }
             return out;
         },
         range(0, 30), true},
        {"two datagrams swapped once trusted", [](size_t i) { return static_cast<uint16_t>(40 + i); },
         [&](std::vector<NumberedDatagram> d) {
             std::swap(d[of20[1]], d[of20[2]]);
             return d;
         },
         allBut({20}), true},
    };
    for (const Case& c : cases) {
        HevcStreamAssembler assembler;
        Recorder recorder(assembler, units);
        pushAll(assembler, c.deliver(renumbered(plain, c.number)));
        if (c.shown.empty()) {
            // A count begun anew may cost the message it falls in; never a
            // damaged or repeated picture.
            EXPECT_GE(recorder.pictures.size(), 29u) << c.name;
            EXPECT_TRUE(std::adjacent_find(recorder.pictures.begin(), recorder.pictures.end(),
                                           std::greater_equal<>()) == recorder.pictures.end())
                << c.name;
            EXPECT_EQ(std::count(recorder.pictures.begin(), recorder.pictures.end(), -1), 0) << c.name;
            EXPECT_EQ(recorder.pictures.back(), 29) << c.name;
        } else {
            EXPECT_EQ(recorder.pictures, c.shown) << c.name;
        }
        EXPECT_EQ(assembler.counters().numberedStream, c.trustedAtEnd) << c.name;
    }
}

TEST(HevcStreamAssembler, ForeignSessionIsIgnoredAndANewLinkStartsClean) {
    const auto& units = smallStream();
    const auto& foreign = smallStream(320, 180, 500);
    uint16_t ours = 10;
    uint16_t theirs = 3000;
    const auto a = videoDatagrams(units, kSession, &ours, kSmallDatagram);
    const auto b = videoDatagrams(foreign, kOtherSession, &theirs, kSmallDatagram);
    HevcStreamAssembler assembler;
    Recorder recorder(assembler, units);
    // Every third datagram a foreign one, starts included.
    for (size_t i = 0; i < a.size(); ++i) {
        assembler.push(a[i].bytes);
        if (i % 3 == 0 && i / 3 < b.size()) {
            assembler.push(b[i / 3].bytes);
        }
    }
    EXPECT_EQ(recorder.pictures, range(0, 30));
    EXPECT_GT(assembler.counters().foreignDatagrams, 0);

    // A new link: the message the old one left open is dropped, not filled
    // with the new link's bytes, and pictures resume at a random-access one.
    recorder.pictures.clear();
    uint16_t again = 40;
    const auto open = videoDatagrams({units[0]}, kSession, &again, kSmallDatagram);
    for (size_t i = 0; i + 1 < open.size(); ++i) {
        assembler.push(open[i].bytes);
    }
    assembler.beginLink();
    uint16_t fresh = 7;
    const auto next = videoDatagrams(units, kOtherSession, &fresh, kSmallDatagram);
    for (size_t i = 1; i < next.size(); ++i) {  // its first start datagram is lost
        assembler.push(next[i].bytes);
    }
    EXPECT_EQ(recorder.pictures, range(10, 30));
    EXPECT_TRUE(assembler.hasPicture());
}

TEST(HevcStreamAssembler, AdoptsANewSessionWhenTheOldOneFellSilent) {
    const auto& units = smallStream();
    uint16_t ours = 10;
    uint16_t theirs = 3000;
    HevcStreamAssembler assembler;
    Recorder recorder(assembler, units);
    pushAll(assembler, videoDatagrams({units.begin(), units.begin() + 10}, kSession, &ours, 1400));
    pushAll(assembler, videoDatagrams(units, kOtherSession, &theirs, 1400));
    // The first 8 starts of the new session only prove it is the one now.
    EXPECT_EQ(recorder.pictures.front(), 0);
    EXPECT_EQ(recorder.pictures.back(), 29);
    EXPECT_EQ(std::count(recorder.pictures.begin(), recorder.pictures.end(), 10), 1);
}

// After the first random-access picture every complete message goes on,
// whatever went missing before it and however the picture order steps.
TEST(HevcStreamAssembler, OnlyWhatIsMissingIsMissing) {
    struct Case {
        const char* name;
        const std::vector<HevcAccessUnit>* units;
        std::vector<int> sent;
        int lostDatagramOf = -1;  // a continuation of this unit is lost
        std::vector<int> shown;
    };
    std::vector<int> without3 = range(0, 30);
    std::erase(without3, 3);
    std::vector<int> doubled = range(0, 30);
    doubled.insert(doubled.begin() + 5, 4);
    std::vector<int> from4 = range(4, 30);
    const Case cases[] = {
        {"whole message lost", &smallStream(), without3, -1, without3},
        {"message repeated", &smallStream(), doubled, -1, range(0, 30)},
        {"continuation lost", &smallStream(), range(0, 30), 13, allBut({13})},
        {"B pictures: irregular order steps", &bPictureStream(), range(0, 30), -1, range(0, 30)},
        {"waits for the first random-access picture", &smallStream(), from4, -1, range(10, 30)},
    };
    for (const Case& c : cases) {
        const auto& units = *c.units;
        std::vector<NumberedDatagram> datagrams;
        for (int i : c.sent) {
            auto d = videoDatagrams({units[static_cast<size_t>(i)]}, kSession, nullptr, kSmallDatagram);
            for (auto& one : d) {
                one.unit = i;
            }
            if (i == c.lostDatagramOf) {
                ASSERT_GE(d.size(), 3u) << c.name;
                d.erase(d.begin() + 1);
            }
            datagrams.insert(datagrams.end(), d.begin(), d.end());
        }
        HevcStreamAssembler assembler;
        Recorder recorder(assembler, units);
        // Unnumbered datagrams (0), taken in arrival order.
        pushAll(assembler, datagrams);
        EXPECT_EQ(recorder.pictures, c.shown) << c.name;
    }
}

// The decoder learns from the next picture that something went missing
// before it (so it can tell a concealed picture from a clean one); repeats
// and clean runs carry no mark.
TEST(HevcStreamAssembler, MarksThePictureAfterALoss) {
    using Edit = std::function<void(std::vector<NumberedDatagram>&)>;
    auto eraseAt = [](std::vector<NumberedDatagram>& d, size_t at) {
        d.erase(d.begin() + static_cast<ptrdiff_t>(at));
    };
    struct Case {
        const char* name;
        bool numbered;
        Edit edit;
        std::vector<int> marked;
    };
    const Case cases[] = {
        {"clean", true, [](auto&) {}, {}},
        {"continuation lost", true, [&](auto& d) { eraseAt(d, datagramsOf(d, 20)[1]); }, {21}},
        {"continuation lost, unnumbered", false, [&](auto& d) { eraseAt(d, datagramsOf(d, 20)[1]); }, {21}},
        {"whole message lost", true,
         [](auto& d) { std::erase_if(d, [](const NumberedDatagram& one) { return one.unit == 20; }); }, {21}},
        // Unnumbered, a message lost whole leaves no trace; one whose start
        // was lost leaves its continuations without a message.
        {"start lost, unnumbered", false, [&](auto& d) { eraseAt(d, datagramsOf(d, 20).front()); }, {21}},
        {"end of one and start of the next lost", true,
         [&](auto& d) {
             const auto at = d.begin() + static_cast<ptrdiff_t>(datagramsOf(d, 20).back());
             d.erase(at, at + 2);
         },
         {22}},
        {"datagram repeated", true,
         [](auto& d) {
             const size_t at = datagramsOf(d, 20)[1];
             d.insert(d.begin() + static_cast<ptrdiff_t>(at), d[at]);
         },
         {}},
        {"last datagram repeated, unnumbered", false,
         [](auto& d) {
             const size_t at = datagramsOf(d, 20).back();
             d.insert(d.begin() + static_cast<ptrdiff_t>(at), d[at]);
         },
         {}},
        {"announced length out of range", true,
         [](auto& d) {
             const size_t at = datagramsOf(d, 20).front();
             d.insert(d.begin() + static_cast<ptrdiff_t>(at), {startDatagram(0, 8), 20});
         },
         {20}},
    };
    const auto& units = smallStream();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint16_t sequence = 700;
        auto datagrams = videoDatagrams(units, kSession, c.numbered ? &sequence : nullptr, kSmallDatagram);
        ASSERT_GE(datagramsOf(datagrams, 20).size(), 3u);
        c.edit(datagrams);
        HevcStreamAssembler assembler;
        Recorder recorder(assembler, units);
        pushAll(assembler, datagrams);
        EXPECT_EQ(recorder.afterLoss, c.marked);
    }
}

}  // namespace
}  // namespace hollowkit
