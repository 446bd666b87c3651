#pragma once

// SimPocketBle: the Bluetooth LE side of the simulated camera. It advertises
// the maker's manufacturer data (company 0x08AA) and a name containing
// "pocket", offers service FFF0 with FFF4 (notify, write) and FFF5 (write
// without response, notify), takes the arming write 01 00 on FFF4, reads the
// DUML frames written to FFF5 and answers on FFF4: announce and keep-alive,
// pairing (status 1 for a known identifier, 2 otherwise; the approval 07/46
// when the test calls approvePairing()), Wi-Fi wake, name and password
// (optionally split into small notifications), Wi-Fi role 07/39, video mode,
// leaving and returning to its access point, joining a network with the
// verdict the test chose, and battery pushes. It records everything it
// received, and can drop the connection at a chosen step.
//
// Thread: the executor given (the main executor in tests); replies are sent
// after `replyDelay` on it. Hosted by FakeBleRadio (in process) or by a fake
// BlueZ service, through the FakeGattPeripheral interface.

#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hollowkit/base/executor.h"
#include "hollowkit/camera/duml_frame.h"
#include "hollowkit/testing/fake_gatt_peripheral.h"

namespace hollowkit {

class SimPocketBle final : public FakeGattPeripheral {
public:
    // Where the camera can be told to drop the connection: on receiving the
    // write (or request) of that step, before answering it.
    enum class Step : uint8_t {
        none = 0,
        connect,         // right after the connection is made
        notifySetup,     // the first subscription
        arming,          // the arming write
        announce,        // 00/2B 04 00
        pairingRequest,  // 07/45
        approvalAnswer,  // the answer to 07/46
        keepAlive,       // 00/2B 01 01
        wifiWake,        // 53/10
        nameQuery,       // 07/07
        passwordQuery,   // 07/0E
        videoMode,       // 02/E1
        roleQuery,       // 07/39
        accessPoint,     // 07/48
        join,            // 07/47
    };

    enum class PairingReply : uint8_t {
        status = 0,   // 1 when the identifier is known, else 2
        shortStatus,  // a one-byte payload
        silent,
    };

    struct Config {
        BlePeripheralId id = "sim-pocket";
        std::optional<std::string> localName = std::string("OsmoPocket3");
        std::optional<std::string> deviceName;
        Bytes manufacturerData{0x01, 0x02, 0x03};  // after the company id AA 08
        int rssi = -52;

        bool offerService = true;
        bool offerNotifyCharacteristic = true;
        bool offerWriteCharacteristic = true;
        std::optional<std::string> connectError;
        std::optional<std::string> notifyError;
        std::optional<std::string> armError;

        std::set<std::string> pairedIdentifiers;  // answered with status 1
        PairingReply pairingReply = PairingReply::status;
        std::string ssid = "OsmoPocket3-4A1F";
        std::string password = "x7Qp2mW9";
        Bytes wakeReply{0x01, 0x02, 0x0A};
        bool answerNameQuery = true;
        bool answerPasswordQuery = true;
        // Split every notification into values of at most this many bytes
        // (0: whole frames), as a small ATT MTU does.
        size_t notificationChunk = 0;
        Duration replyDelay = std::chrono::milliseconds(30);
        Step disconnectAt = Step::none;
        // The role the camera starts in: 00 00 access point, 00 01 station.
        bool startsAsStation = false;
        // Role queries still answered with the old role after the camera
        // accepted leaving or returning to its access point.
        int roleQueriesBeforeSwitch = 0;
    };

    SimPocketBle(Executor& main, Config config);
    ~SimPocketBle() override;

    Config& config() { return config_; }

    // Test actions.
    // The user approves the pairing on the camera's screen: request 07/46.
    void approvePairing();
    // A 0D/02 battery push (flags 0x00): percent at byte 20, charging at 32.
    void pushBattery(int percent, bool charging);
    // Any frame, or any raw bytes, as notifications on FFF4.
    void sendFrame(const DumlFrame& frame);
    void sendRaw(Bytes bytes);
    // Puts the camera in station (client) or access-point mode at once.
    void setStation(bool station) {
        station_ = station;
        switchCountdown_ = -1;
    }
    // The camera drops the connection.
    void dropConnection(std::string reason = "The connection timed out.");

    // Scripted replies, taken first (in order) for their command; nothing in
    // a script entry means silence. Without a script the camera follows its
    // own state: the role it is in, accepting 07/48 and joining (00 00).
    std::deque<std::optional<Bytes>> roleReplies;
    std::deque<std::optional<Bytes>> accessPointReplies;
    std::deque<std::optional<Bytes>> joinReplies;

    // Records.
    bool isConnected() const { return port_ != nullptr; }
    bool armed() const { return armed_; }
    int connections() const { return connections_; }
    const std::vector<DumlFrame>& received() const { return received_; }
    // Requests received under a command key ("07/45"); 00/2B counts
    // announces and keep-alives together.
    int count(const std::string& key) const;
    int announces() const { return announces_; }
    int keepAlives() const { return keepAlives_; }
    const std::vector<std::string>& pairingIdentifiers() const { return pairingIdentifiers_; }
    // The app's answers to 07/46, and whether each was the expected reply.
    int approvalAnswers() const { return approvalAnswers_; }
    int wrongApprovalAnswers() const { return wrongApprovalAnswers_; }
    // Networks the camera was asked to join (name, password).
    const std::vector<std::pair<std::string, std::string>>& joinRequests() const { return joinRequests_; }
    bool isStation() const { return station_; }
    const std::vector<DumlFrame>& sent() const { return sent_; }

    // FakeGattPeripheral
    BlePeripheral identity() const override;
    BleAdvertisement advertisement() const override;
    int rssi() const override { return config_.rssi; }
    bool advertising() const override { return port_ == nullptr; }
    std::optional<BleError> connectError() const override;
    std::vector<Service> services() const override;
    void connected(Port& port) override;
    void disconnected() override;
    std::optional<BleError> setNotify(const BleUuid& characteristic, bool enabled) override;
    std::optional<BleError> write(const BleUuid& characteristic, ByteView value, BleWriteType type) override;

private:
    // True when the camera dropped the link at this step.
    bool dropsAt(Step step);
    void handleRequest(const DumlFrame& frame);
    void reply(const DumlFrame& request, std::optional<Bytes> payload);
    void notifyLater(Bytes bytes);
    std::optional<Bytes> nextScripted(std::deque<std::optional<Bytes>>& script, bool& scripted);
    void answerRoleQuery(const DumlFrame& frame);

    Executor& main_;
    Config config_;
    Port* port_ = nullptr;
    uint64_t session_ = 0;  // bumps per connection, so late replies die with it
    bool armed_ = false;
    bool subscribed_ = false;
    int connections_ = 0;
    bool station_ = false;
    int switchCountdown_ = -1;  // role queries left before the pending switch
    bool switchToStation_ = false;
    uint16_t nextRequestId_ = 0x1000;
    std::optional<DumlFrame> pendingApproval_;

    std::vector<DumlFrame> received_;
    std::vector<DumlFrame> sent_;
    int announces_ = 0;
    int keepAlives_ = 0;
    int approvalAnswers_ = 0;
    int wrongApprovalAnswers_ = 0;
    std::vector<std::string> pairingIdentifiers_;
    std::vector<std::pair<std::string, std::string>> joinRequests_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hollowkit
