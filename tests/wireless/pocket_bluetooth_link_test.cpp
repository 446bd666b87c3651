#include "hollowkit/wireless/pocket_bluetooth_link.h"

#include <gtest/gtest.h>

#include "ble_harness.h"
#include "hollowkit/camera/duml_constants.h"
#include "hollowkit/camera/duml_text.h"
#include "pocket_link_frames.h"

// The link's frames, its road to the credentials, the central's states and
// scanning, and the GATT set-up's failures.

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using namespace testsupport;

BleAdvertisement advertising(std::optional<std::string> name, std::optional<uint16_t> company) {
    BleAdvertisement advertisement;
    advertisement.localName = std::move(name);
    if (company) advertisement.manufacturerData.push_back(BleManufacturerData{*company, {0x10, 0x20}});
    return advertisement;
}

Bytes ascii(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// MARK: Frames the link sends

TEST(PocketBluetoothLinkFrames, PairingRequestCarriesIdentifierAndTag) {
    auto frame = PocketBluetoothLink::pairingRequestFrame(kIdentifier);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->commandKey(), "07/45");
    EXPECT_EQ(frame->target, 0x0702);
    EXPECT_EQ(frame->id, 0x8092);
    EXPECT_EQ(frame->flags, 0x40);
    Bytes expected{0x20};
    Bytes id = ascii(kIdentifier);
    expected.insert(expected.end(), id.begin(), id.end());
    expected.push_back(0x04);
    for (char c : std::string("plix")) expected.push_back(static_cast<uint8_t>(c));
    EXPECT_EQ(frame->payload.size(), 38u);
    EXPECT_EQ(frame->payload, expected);

    // An identifier a length byte cannot describe is refused, not wrapped.
    EXPECT_FALSE(PocketBluetoothLink::pairingRequestFrame(std::string(256, 'a')));
}

// MARK: The whole road

TEST(PocketBluetoothLink, AlreadyPairedCameraSharesCredentialsInOneEvent) {
    SimPocketBle::Config config;
    config.pairedIdentifiers = {kIdentifier};
    config.notificationChunk = 20;  // a 23-byte ATT MTU splits the replies
    BleHarness bench(config);
    FakeBleDecoy djiDrone({"drone", std::nullopt}, advertising("Mavic Air 2", 0x08AA));
    FakeBleDecoy unnamedDji({"unnamed", std::nullopt}, advertising(std::nullopt, 0x08AA));
    FakeBleDecoy otherMaker({"speaker", std::nullopt}, advertising("Pocket speaker", 0x004C));
    FakeBleDecoy noMakerData({"tag", std::nullopt}, advertising("pocket tag", std::nullopt));
    // The decoys advertise for a while before the camera comes into range.
    bench.radio.remove(bench.camera);
    for (FakeGattPeripheral* decoy : std::initializer_list<FakeGattPeripheral*>{&djiDrone, &unnamedDji, &otherMaker,
                                                                                &noMakerData}) {
        bench.radio.add(*decoy);
    }
    bench.start();
    bench.executor.advance(3500ms);
    EXPECT_EQ(bench.radio.connectAttempts(), 0);
    bench.radio.add(bench.camera);

    ASSERT_TRUE(bench.runUntil([&] { return bench.count(Kind::credentials) > 0; }, 30s));
    bench.executor.advance(3s);

    const std::vector<std::string> statuses{"Looking for the camera over Bluetooth", "Connecting to OsmoPocket3",
                                            "Paired (already paired), waking camera Wi-Fi"};
    EXPECT_EQ(bench.texts(Kind::status), statuses);
    EXPECT_EQ(bench.count(Kind::credentials), 1);
    EXPECT_EQ(bench.count(Kind::failed), 0);
    for (const auto& event : bench.events) {
        if (event.kind == Kind::credentials) {
            EXPECT_EQ(event.ssid, "OsmoPocket3-4A1F");
            EXPECT_EQ(event.password, "x7Qp2mW9");
        }
    }
    EXPECT_EQ(bench.link->connectedName(), "OsmoPocket3");
    EXPECT_EQ(bench.radio.connectAttempts(), 1);
    EXPECT_FALSE(bench.radio.scanning());

    // The camera saw the whole exchange once, in order.
    EXPECT_TRUE(bench.camera.armed());
    EXPECT_EQ(bench.camera.announces(), 1);
    EXPECT_EQ(bench.camera.pairingIdentifiers(), std::vector<std::string>{kIdentifier});
    EXPECT_EQ(bench.camera.count("53/10"), 1);
    EXPECT_EQ(bench.camera.count("07/07"), 1);
    EXPECT_EQ(bench.camera.count("07/0E"), 1);
    std::vector<std::string> order;
    for (const auto& frame : bench.camera.received()) {
        if (frame.commandKey() != "00/2B" || frame.payload == Bytes{0x04, 0x00}) order.push_back(frame.commandKey());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"00/2B", "07/45", "53/10", "07/07", "07/0E"}));
    EXPECT_GE(bench.camera.keepAlives(), 3);
    EXPECT_LE(bench.camera.keepAlives(), 6);

    // Decoys: logged once each however often they advertise, never touched.
    EXPECT_EQ(bench.log.count("Ignoring DJI device Mavic Air 2"), 1);
    EXPECT_EQ(bench.log.count("Ignoring DJI device (unnamed)"), 1);
    EXPECT_EQ(bench.log.countPrefix("Ignoring DJI device Pocket"), 0);
    EXPECT_EQ(bench.log.countPrefix("Ignoring DJI device pocket"), 0);
    EXPECT_EQ(bench.log.count("Found OsmoPocket3 rssi=-52"), 1);
    EXPECT_EQ(bench.log.count("Camera Wi-Fi wake reply 01 02 0a"), 1);
    EXPECT_EQ(bench.log.count("Camera SSID: OsmoPocket3-4A1F"), 1);
    EXPECT_EQ(bench.log.count("Camera Wi-Fi password received (8 chars)"), 1);
    for (const auto& line : bench.log.lines) EXPECT_EQ(line.find("x7Qp2mW9"), std::string::npos) << line;
    EXPECT_EQ(djiDrone.connections() + unnamedDji.connections() + otherMaker.connections() + noMakerData.connections(),
              0);
    for (FakeGattPeripheral* decoy : std::initializer_list<FakeGattPeripheral*>{&djiDrone, &unnamedDji, &otherMaker,
                                                                                &noMakerData}) {
        bench.radio.remove(*decoy);
    }
}

TEST(PocketBluetoothLink, WaitingCameraPairsWhenTheUserApproves) {
    BleHarness bench;
    bench.start();
    ASSERT_TRUE(bench.runUntil([&] { return bench.hasStatus("Approve the pairing on the camera screen"); }, 5s));
    bench.executor.advance(10s);
    EXPECT_FALSE(bench.link->paired());
    EXPECT_EQ(bench.link->pairStatus(), 2);
    // A status arrived, so the planned resends at 2.5 s and 5 s stayed home.
    EXPECT_EQ(bench.camera.pairingIdentifiers().size(), 1u);

    bench.camera.approvePairing();
    ASSERT_TRUE(bench.runUntil([&] { return bench.count(Kind::credentials) == 1; }, 5s));
    EXPECT_EQ(bench.camera.approvalAnswers(), 1);
    EXPECT_EQ(bench.camera.wrongApprovalAnswers(), 0);
    EXPECT_TRUE(bench.hasStatus("Paired (approved on camera), waking camera Wi-Fi"));

    // A second approval is answered but pairs nothing twice.
    const int keepAlivesBefore = bench.camera.keepAlives();
    const size_t statusesBefore = bench.texts(Kind::status).size();
    bench.camera.approvePairing();
    bench.executor.advance(10s);
    EXPECT_EQ(bench.camera.approvalAnswers(), 2);
    EXPECT_EQ(bench.camera.wrongApprovalAnswers(), 0);
    EXPECT_EQ(bench.texts(Kind::status).size(), statusesBefore);
    EXPECT_EQ(bench.camera.keepAlives() - keepAlivesBefore, 10);  // one keep-alive a second, not two
    EXPECT_EQ(bench.count(Kind::failed), 0);
}

TEST(PocketBluetoothLink, PairingThatNeverComesFailsAfterSixtySeconds) {
    struct Case {
        const char* name;
        SimPocketBle::PairingReply reply;
        size_t requests;  // 0.12 s, and 2.5 s and 5 s only while no status came
        std::optional<int> pairStatus;
    };
    const Case cases[] = {
        {"waiting", SimPocketBle::PairingReply::status, 1, 2},
        {"silent", SimPocketBle::PairingReply::silent, 3, std::nullopt},
        {"short status", SimPocketBle::PairingReply::shortStatus, 1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimPocketBle::Config config;
        config.pairingReply = c.reply;
        BleHarness bench(config);
        bench.start();
        ASSERT_TRUE(bench.runUntil([&] { return bench.camera.announces() == 1; }, 5s));
        bench.executor.advance(59s);
        EXPECT_EQ(bench.count(Kind::failed), 0);
        bench.executor.advance(1s);
        EXPECT_EQ(bench.texts(Kind::failed), std::vector<std::string>{"Pairing was not approved on the camera"});
        EXPECT_EQ(bench.camera.pairingIdentifiers().size(), c.requests);
        EXPECT_EQ(bench.link->pairStatus(), c.pairStatus);
        if (c.pairStatus == -1) {
            EXPECT_EQ(bench.log.count("Pairing status -1 (short reply)"), 1);
        }
        EXPECT_EQ(bench.camera.count("53/10"), 0);
    }
}

TEST(PocketBluetoothLink, UsbStatusLinkPairsAndKeepsAliveWithoutWakingWiFi) {
    SimPocketBle::Config config;
    config.pairedIdentifiers = {kIdentifier};
    BleHarness bench(config, /*wakesWiFi=*/false);
    bench.start();
    ASSERT_TRUE(bench.runUntil([&] { return bench.link->paired(); }, 5s));
    bench.executor.advance(20s);
    EXPECT_TRUE(bench.hasStatus("Paired (already paired)"));
    EXPECT_EQ(bench.camera.count("53/10") + bench.camera.count("07/07") + bench.camera.count("07/0E"), 0);
    EXPECT_EQ(bench.count(Kind::failed), 0);  // no credentials check at 8 s
    EXPECT_GE(bench.camera.keepAlives(), 19);

    bench.camera.pushBattery(77, true);
    bench.executor.runUntilIdle();
    ASSERT_FALSE(bench.events.empty());
    const Event& last = bench.events.back();
    ASSERT_EQ(last.kind, Kind::telemetry);
    EXPECT_EQ(last.frame.commandKey(), "0D/02");
    EXPECT_EQ(last.frame.payload.at(20), 77);
    EXPECT_EQ(last.frame.payload.at(32), 1);
}

TEST(PocketBluetoothLink, CredentialsWaitForBothTextsAndMayFollowTheirFailure) {
    SimPocketBle::Config config;
    config.pairedIdentifiers = {kIdentifier};
    config.ssid = "";  // the camera first names no network
    BleHarness bench(config);
    bench.start();
    ASSERT_TRUE(bench.runUntil([&] { return bench.link->password().has_value(); }, 5s));
    EXPECT_EQ(bench.count(Kind::credentials), 0);
    bench.executor.advance(8s);
    EXPECT_EQ(bench.texts(Kind::failed), std::vector<std::string>{"Camera did not share its Wi-Fi credentials"});

    bench.camera.sendFrame(replyFrame(0x07, 0x07, asciiStringPayload("LateName").value()));
    bench.executor.runUntilIdle();
    ASSERT_EQ(bench.events.back().kind, Kind::credentials);
    EXPECT_EQ(bench.events.back().ssid, "LateName");

    // Later texts update the fields and raise nothing more.
    bench.camera.sendFrame(replyFrame(0x07, 0x07, asciiStringPayload("Other").value()));
    bench.executor.runUntilIdle();
    EXPECT_EQ(bench.link->ssid(), "Other");
    EXPECT_EQ(bench.count(Kind::credentials), 1);
}

// MARK: Central states and scanning

TEST(PocketBluetoothLink, AdapterStatesEndInClearFailures) {
    struct Case {
        BleAdapterState state;
        std::vector<std::string> failures;
    };
    const Case cases[] = {
        {BleAdapterState::unauthorized, {"Bluetooth permission was denied"}},
        {BleAdapterState::poweredOff, {"Bluetooth is turned off"}},
        {BleAdapterState::unsupported, {"No Bluetooth adapter found"}},
        {BleAdapterState::unknown, {}},
        {BleAdapterState::resetting, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toString(c.state));
        BleHarness bench;
        bench.radio.setAdapterState(c.state);
        bench.start();
        bench.executor.advance(30s);
        EXPECT_EQ(bench.texts(Kind::failed), c.failures);
        EXPECT_EQ(bench.radio.scanStarts(), 0);
        EXPECT_EQ(bench.count(Kind::status), 0);
    }
}

TEST(PocketBluetoothLink, ScanTimeOutBelongsToItsOwnScan) {
    BleHarness bench;
    bench.radio.remove(bench.camera);
    bench.start();
    bench.executor.advance(5s);
    bench.radio.setAdapterState(BleAdapterState::poweredOff);
    bench.executor.advance(5s);
    bench.radio.setAdapterState(BleAdapterState::poweredOn);
    bench.executor.advance(15s);  // 25 s after the first scan began
    EXPECT_EQ(bench.texts(Kind::failed), std::vector<std::string>{"Bluetooth is turned off"});
    EXPECT_EQ(bench.radio.scanStarts(), 2);
    bench.executor.advance(5s);  // 20 s after the second
    EXPECT_EQ(bench.texts(Kind::failed),
              (std::vector<std::string>{"Bluetooth is turned off", "No DJI Pocket found nearby. Is it turned on?"}));
    EXPECT_FALSE(bench.radio.scanning());
    bench.executor.advance(60s);
    EXPECT_EQ(bench.count(Kind::failed), 2);
    bench.radio.add(bench.camera);
}

TEST(PocketBluetoothLink, DiscoveryAcceptsOnlyTheMakersPocketCameras) {
    struct Case {
        const char* name;
        std::optional<std::string> localName;
        std::optional<std::string> deviceName;
        uint16_t company;
        bool connects;
    };
    const Case cases[] = {
        {"capitals", "OSMO POCKET 3", std::nullopt, 0x08AA, true},
        {"device name only", std::nullopt, "Pocket 4 Pro", 0x08AA, true},
        {"local name wins", "Mini 3", "Pocket 3", 0x08AA, false},
        {"other maker", "OsmoPocket3", std::nullopt, 0xAA08, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BleHarness bench;
        bench.radio.remove(bench.camera);
        BleAdvertisement advertisement = advertising(c.localName, c.company);
        FakeBleDecoy device({"device", c.deviceName}, advertisement);
        bench.radio.add(device);
        bench.start();
        bench.executor.advance(3s);
        EXPECT_EQ(bench.radio.connectAttempts(), c.connects ? 1 : 0);
        if (c.connects) {
            EXPECT_EQ(bench.link->connectedName(), c.localName ? *c.localName : *c.deviceName);
        }
        bench.radio.remove(device);
    }
}

TEST(PocketBluetoothLink, SecondCameraAfterTheChoiceIsIgnored) {
    BleHarness bench;
    bench.start();
    bench.executor.advance(100ms);
    SimPocketBle::Config second;
    second.id = "second";
    second.localName = "Pocket 2";
    SimPocketBle other(bench.executor, second);
    bench.radio.add(other);
    bench.radio.setAdapterState(BleAdapterState::poweredOn);  // scans again
    bench.executor.advance(5s);
    EXPECT_EQ(bench.radio.connectAttempts(), 1);
    EXPECT_EQ(other.connections(), 0);
    EXPECT_EQ(bench.link->connectedName(), "OsmoPocket3");
    // The time-out of a scan after the choice does nothing.
    bench.executor.advance(30s);
    EXPECT_EQ(bench.count(Kind::failed), 0);
    bench.radio.remove(other);
}

// MARK: GATT set-up failures

TEST(PocketBluetoothLink, GattSetUpFailuresNameTheirCause) {
    struct Case {
        const char* name;
        void (*configure)(SimPocketBle::Config&);
        std::string failure;
    };
    const Case cases[] = {
        {"refused", [](SimPocketBle::Config& c) { c.connectError = "Page timeout"; },
         "Bluetooth connection failed: Page timeout"},
        {"no service", [](SimPocketBle::Config& c) { c.offerService = false; }, "Camera Bluetooth service not found"},
        {"no FFF4", [](SimPocketBle::Config& c) { c.offerNotifyCharacteristic = false; },
         "Camera Bluetooth characteristics not found"},
        {"no FFF5", [](SimPocketBle::Config& c) { c.offerWriteCharacteristic = false; },
         "Camera Bluetooth characteristics not found"},
        {"notify", [](SimPocketBle::Config& c) { c.notifyError = "Not permitted"; },
         "Bluetooth notify failed: Not permitted"},
        {"arm", [](SimPocketBle::Config& c) { c.armError = "Write rejected"; },
         "Bluetooth arm write failed: Write rejected"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimPocketBle::Config config;
        c.configure(config);
        BleHarness bench(config);
        bench.start();
        bench.executor.advance(2s);
        ASSERT_FALSE(bench.texts(Kind::failed).empty());
        EXPECT_EQ(bench.texts(Kind::failed).front(), c.failure);
        EXPECT_EQ(bench.camera.announces(), 0);  // no pairing without arming
    }
}

TEST(PocketBluetoothLink, OwnerThatDisconnectsOnAFailureHearsItOnce) {
    // Both subscriptions fail; the owner gives up at the first report, as the
    // wireless camera does. The second report arrives after that.
    SimPocketBle::Config config;
    config.notifyError = "Not permitted";
    BleHarness bench(config);
    bench.link->onEvent = [&](const Event& event) {
        bench.events.push_back(event);
        if (event.kind == Kind::failed) bench.link->disconnect();
    };
    bench.start();
    bench.executor.advance(5s);
    EXPECT_EQ(bench.texts(Kind::failed), std::vector<std::string>{"Bluetooth notify failed: Not permitted"});
    EXPECT_EQ(bench.count(Kind::disconnected), 1);
}

}  // namespace
}  // namespace hollowkit
