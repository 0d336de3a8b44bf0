#include <kinetra/serial/serial.h>
#include <kinetra/usb_interface.h>

#include "support/pty_pair.h"
#include "support/sanitizers.h"
#include "support/wait.h"
#include "usb/usb_test_helpers.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <utility>
#include <future>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace kinetra::test {
namespace {

using std::chrono::milliseconds;

constexpr const char* kZarvoDescription = "Kinetra Zarvo USB-CAN";
constexpr const char* kTimeoutMessage = "API Timeout Error. Make sure your Zarvo is updated to the latest firmware.\n";

can_frame_data makeFrame(uint32_t can_id, uint8_t dlc, std::vector<uint8_t> data = {}) {
    can_frame_data frame;
    frame.can_id = can_id;
    frame.can_dlc = dlc;
    for (std::size_t i = 0; i < data.size() && i < 8; ++i) frame.data[i] = data[i];
    return frame;
}

bool sameFrame(const can_frame_data& a, const can_frame_data& b) {
    return a.can_id == b.can_id && a.can_dlc == b.can_dlc && std::memcmp(a.data, b.data, 8) == 0;
}

// A pseudo-terminal presented to the port list as a Zarvo, and a USBInterface
// whose log the test reads.
class UsbInterfaceOnPty : public ::testing::Test {
protected:
    void SetUp() override {
        serial::register_virtual_port({pty.slavePath(), kZarvoDescription, "USB VID:PID=0483:5740"});
        iface.setOutputLogStream(&log);
    }
    void TearDown() override {
        iface.closeInterface();
        serial::unregister_virtual_port(pty.slavePath());
    }
    void open() { ASSERT_TRUE(iface.initInterface(pty.slavePath())); }

    // Writes `line` to the host, then a marker frame that the proxy of node 0
    // (device mode routes everything to it) must receive next.
    void expectOnlyMarkerAfter(RecordingProxy& proxy, const std::string& lines) {
        proxy.clear();
        ASSERT_TRUE(pty.writeToMaster(lines + "T000000030\r"));
        const auto frames = proxy.waitForFrames(1);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].can_id, 0x80000003u);
    }

    // Puts the interface into device mode, so that every frame reaches `proxy`,
    // the one with the lowest node id, whatever id the frame carries.
    void enterDeviceMode(RecordingProxy& proxy) {
        auto assigned = std::async(std::launch::async, [this] { return iface.setAsDevice(); });
        // Heartbeats from node 3 until device mode has learnt the id: one that
        // arrives before setAsDevice() has switched modes teaches nothing.
        do {
            ASSERT_TRUE(pty.writeToMaster("T000001810\r"));
        } while (assigned.wait_for(milliseconds(50)) != std::future_status::ready);
        EXPECT_EQ(assigned.get(), 3u);
        // The heartbeat may still be on its way to the proxy: let it pass.
        ASSERT_TRUE(pty.writeToMaster("T000000050\r"));
        ASSERT_TRUE(proxy.waitForId(0x80000005u));
    }

    PtyPair pty;
    LockedLog log;
    USBInterface iface;
};

TEST_F(UsbInterfaceOnPty, WritesEachAdapterCommandLineExactly) {
    open();
    struct Case {
        const char* name;
        std::function<ret_interface_t(USBInterface&)> call;
        ret_interface_t result;
        std::string line;
    };
    const Case cases[] = {
        {"setCANBaudRate 125K", [](USBInterface& i) { return i.setCANBaudRate(CAN_BAUD_125K); }, RET_INTERFACE_OK,
         "C\rS4\rO\r"},
        {"setCANBaudRate 10K", [](USBInterface& i) { return i.setCANBaudRate(CAN_BAUD_10K); }, RET_INTERFACE_OK,
         "C\rS0\rO\r"},
        // An unknown rate writes nothing; the next case's exact bytes prove it.
        {"setCANBaudRate out of range", [](USBInterface& i) { return i.setCANBaudRate(static_cast<CANBaudRate>(9)); },
         RET_INTERFACE_FAIL, ""},
        {"setCANBaudRate 1M", [](USBInterface& i) { return i.setCANBaudRate(CAN_BAUD_1M); }, RET_INTERFACE_OK,
         "C\rS8\rO\r"},
        {"enterDFUMode", [](USBInterface& i) { return i.enterDFUMode(); }, RET_INTERFACE_OK, "C\rd\r"},
        {"saveConfiguration", [](USBInterface& i) { return i.saveConfiguration(); }, RET_INTERFACE_OK, "C\rZ0\rO\r"},
        {"eraseConfiguration", [](USBInterface& i) { return i.eraseConfiguration(); }, RET_INTERFACE_OK,
         "C\rZ1\rO\r"},
        {"rebootZarvo", [](USBInterface& i) { return i.rebootZarvo(); }, RET_INTERFACE_OK, "C\rZ2\rO\r"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(iface), c.result) << c.name;
        if (!c.line.empty()) {
            EXPECT_EQ(readFromHost(pty, c.line.size()), c.line) << c.name;
        }
    }
}

TEST_F(UsbInterfaceOnPty, WritesFrameLines) {
    open();
    const std::pair<can_frame_data, std::string> cases[] = {
        {makeFrame(0x123, 0), "t1230\r"},
        {makeFrame(0x123, 2, {0x0A, 0xFF}), "t12320AFF\r"},
        {makeFrame(0x9ABCDE01u, 8, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}), "T1ABCDE0180123456789ABCDEF\r"},
        {makeFrame(0x40000123u, 2, {0xBE, 0xEF}), "r1232BEEF\r"},
        {makeFrame(0xC00002C6u, 8), "R000002C680000000000000000\r"},
    };
    for (auto [frame, line] : cases) {
        EXPECT_TRUE(iface.sendFrame(&frame)) << line;
        EXPECT_EQ(readFromHost(pty, line.size()), line);
    }
    EXPECT_TRUE(iface.isRunning());
}

TEST_F(UsbInterfaceOnPty, DeliversFrameLinesToTheNodesProxy) {
    RecordingProxy node0(iface, 0);
    RecordingProxy node5(iface, 5);
    RecordingProxy node15(iface, 15);
    open();
    struct Case {
        std::string line;
        RecordingProxy& proxy;
        can_frame_data frame;
    };
    const Case cases[] = {
        {"T000007FF201ab\r", node15, makeFrame(0x800007FFu, 2, {0x01, 0xAB})},
        {"R000000100\r", node0, makeFrame(0xC0000010u, 0)},
        {"T000002c68000080bfcdcc4c40\r", node5,
         makeFrame(0x800002C6u, 8, {0x00, 0x00, 0x80, 0xBF, 0xCD, 0xCC, 0x4C, 0x40})},
        // Eight id digits beyond 29 bits are masked before the flags are added.
        {"TE00002C60\r", node5, makeFrame(0x800002C6u, 0)},
    };
    for (const auto& c : cases) {
        c.proxy.clear();
        ASSERT_TRUE(pty.writeToMaster(c.line));
        const auto frames = c.proxy.waitForFrames(1);
        ASSERT_EQ(frames.size(), 1u) << c.line;
        EXPECT_TRUE(sameFrame(frames[0], c.frame)) << c.line << " gave can_id " << std::hex << frames[0].can_id;
    }
}

// Also pins two planted faults: a reply wait cut well short of its second (the
// version reply comes 400 ms late), and the top bit-rate code refused ("G8").
TEST_F(UsbInterfaceOnPty, QueriesReturnTheAdaptersReply) {
    open();
    uint8_t major = 0, minor = 0, patch = 0;
    std::string tag;
    CANBaudRate rate = CAN_BAUD_10K;
    struct Case {
        std::function<ret_interface_t()> query;
        std::string request;
        std::string reply;
        std::string log_line;
        std::function<void()> check;
        milliseconds late{0};
    };
    const Case cases[] = {
        {[&] { return iface.getFirmwareVersion(&major, &minor, &patch, &tag); }, "V\r", "V1.2.3-abcdef12\r",
         "Got version info: 1.2.3--abcdef12\n",
         [&] {
             EXPECT_EQ(major, 1);
             EXPECT_EQ(minor, 2);
             EXPECT_EQ(patch, 3);
             EXPECT_EQ(tag, "abcdef12");
         },
         milliseconds(400)},
        {[&] { return iface.getHardwareVersion(&major, &minor, &patch); }, "H\r", "H2.0.7\r",
         "Got hardware version info: 2.0.7\n",
         [&] {
             EXPECT_EQ(major, 2);
             EXPECT_EQ(minor, 0);
             EXPECT_EQ(patch, 7);
         }},
        {[&] { return iface.getCANBaudRate(&rate); }, "G\r", "G6\r", "Got CAN Baud Rate : 6\n",
         [&] { EXPECT_EQ(rate, CAN_BAUD_500K); }},
        {[&] { return iface.getCANBaudRate(&rate); }, "G\r", "G8\r", "Got CAN Baud Rate : 8\n",
         [&] { EXPECT_EQ(rate, CAN_BAUD_1M); }},
    };
    for (const auto& c : cases) {
        auto result = std::async(std::launch::async, c.query);
        ASSERT_EQ(readFromHost(pty, c.request.size()), c.request);
        std::this_thread::sleep_for(c.late);
        ASSERT_TRUE(pty.writeToMaster(c.reply));
        ASSERT_EQ(result.get(), RET_INTERFACE_OK) << c.request;
        EXPECT_EQ(log.count(c.log_line), 1u) << log.text();
        c.check();
    }

    ASSERT_TRUE(pty.writeToMaster("d\r"));
    EXPECT_TRUE(log.waitFor("Got DFU mode info: \n"));
}

TEST_F(UsbInterfaceOnPty, QueryOnASilentAdapterTimesOutWithItsMessage) {
    open();
    uint8_t major = 42, minor = 42, patch = 42;
    std::string tag = "untouched";
    CoutCapture cout;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(iface.getFirmwareVersion(&major, &minor, &patch, &tag), RET_INTERFACE_FAIL);
    EXPECT_LT(std::chrono::steady_clock::now() - started, milliseconds(5000));
    EXPECT_EQ(cout.text(), kTimeoutMessage);
    EXPECT_EQ(major, 42);
    EXPECT_EQ(tag, "untouched");
}

// Fault pinned: any reply line ended a query's wait, so a late or unsolicited
// reply of another kind was returned as the answer, with stale values. Each query
// meets the replies of every other kind, a generic adapter's "V" among them.
TEST_F(UsbInterfaceOnPty, ReplyOfAnotherKindDoesNotAnswerAQuery) {
    open();
    uint8_t major = 42, minor = 42, patch = 42;
    std::string tag = "untouched";
    CANBaudRate rate = CAN_BAUD_10K;
    const std::string firmware = "V1.2.3-abcdef12\r", hardware = "H2.0.7\r", bit_rate = "G6\r";
    const std::string generic = "V1013\rNA123\rd\r";
    const struct {
        std::function<ret_interface_t()> query;
        std::string request;
        std::string others;
    } cases[] = {
        {[&] { return iface.getHardwareVersion(&major, &minor, &patch); }, "H\r", bit_rate + firmware + generic},
        {[&] { return iface.getFirmwareVersion(&major, &minor, &patch, &tag); }, "V\r", bit_rate + hardware + generic},
        {[&] { return iface.getCANBaudRate(&rate); }, "G\r", firmware + hardware + generic},
    };
    for (const auto& c : cases) {
        CoutCapture cout;
        auto result = std::async(std::launch::async, c.query);
        ASSERT_EQ(readFromHost(pty, c.request.size()), c.request);
        ASSERT_TRUE(pty.writeToMaster(c.others));
        EXPECT_EQ(result.get(), RET_INTERFACE_FAIL) << c.request;
        EXPECT_EQ(cout.text(), kTimeoutMessage);
    }
    EXPECT_EQ(std::tie(major, minor, patch, tag), std::make_tuple(42, 42, 42, std::string("untouched")));
    EXPECT_EQ(rate, CAN_BAUD_10K);
}

// Fault pinned: concurrent queries shared one reply flag, so one thread could
// take the reply meant for the other.
TEST_F(UsbInterfaceOnPty, ConcurrentQueriesEachGetTheirOwnReply) {
    open();
    std::atomic<bool> stop{false};
    std::thread adapter([&] {
        while (!stop) {
            const std::string line = pty.readUntilFromMaster("\r", milliseconds(50));
            if (line == "V\r") pty.writeToMaster("V4.5.6-fedcba98\r");
            if (line == "H\r") pty.writeToMaster("H7.8.9\r");
        }
    });
    auto firmware = std::async(std::launch::async, [&] {
        int good = 0;
        for (int i = 0; i < 5; ++i) {
            uint8_t major = 0, minor = 0, patch = 0;
            std::string tag;
            good += iface.getFirmwareVersion(&major, &minor, &patch, &tag) == RET_INTERFACE_OK && major == 4 &&
                    minor == 5 && patch == 6 && tag == "fedcba98";
        }
        return good;
    });
    auto hardware = std::async(std::launch::async, [&] {
        int good = 0;
        for (int i = 0; i < 5; ++i) {
            uint8_t major = 0, minor = 0, patch = 0;
            good += iface.getHardwareVersion(&major, &minor, &patch) == RET_INTERFACE_OK && major == 7 && minor == 8 &&
                    patch == 9;
        }
        return good;
    });
    EXPECT_EQ(firmware.get(), 5);
    EXPECT_EQ(hardware.get(), 5);
    stop = true;
    adapter.join();
}

TEST_F(UsbInterfaceOnPty, BadLinesNeverBecomeFrames) {
    RecordingProxy node0(iface, 0);
    open();
    enterDeviceMode(node0);

    struct Case {
        std::string lines;
        std::string log_line;
    };
    const Case cases[] = {
        {"t1239\r", "\nDLC is not proper, skipping frame parse.\n"},
        {"TFFFFFFFFF\r", "\nDLC is not proper, skipping frame parse.\n"},
        {"t12\r", "Skipping truncated line.\n"},
        {"t1232AA\r", "Skipping truncated line.\n"},
        {"V1.2\r", "Skipping truncated line.\n"},
        {"t12G0\r", "Skipping frame line with a character that is not a hex digit.\n"},
        {"t1231 A\r", "Skipping frame line with a character that is not a hex digit.\n"},
        {"t1230FF\r", "Skipping frame line longer than its length digit says.\n"},
        {"\a", "Adapter refused a command.\n"},
        {"\a\r", "Adapter refused a command.\n"},
        {"hello\r", "Skipping unrecognised line.\n"},
        {std::string("\x80\xff\0t1230\r", 9), "Skipping unrecognised line.\n"},
        // 40 characters without a terminator: read as 30, then the 10 left over.
        {std::string(40, 'x') + "\r", "Skipping unrecognised line.\n"},
    };
    for (const auto& c : cases) {
        const std::size_t before = log.count(c.log_line);
        expectOnlyMarkerAfter(node0, c.lines);
        EXPECT_GE(log.count(c.log_line), before + 1) << "after " << c.lines.size() << " bytes: " << log.text();
    }
    // A bare terminator is the adapter's acknowledgement: skipped without a word.
    const auto skipMessages = [this] { return log.count("Skipping") + log.count("Adapter refused"); };
    const std::size_t skipped_before = skipMessages();
    expectOnlyMarkerAfter(node0, "\r\r\r");
    EXPECT_EQ(skipMessages(), skipped_before);
    // Reply lines update the adapter state but are no frames.
    expectOnlyMarkerAfter(node0, "V1.2.3-abcdef12\rH1.0.0\rG4\rd\r");

    // Random bytes without the frame letters: never a frame, the interface keeps going.
    std::mt19937 rng(7);
    std::string garbage;
    while (garbage.size() < 3000) {
        const char c = static_cast<char>(rng());
        if (std::string("tTrR").find(c) == std::string::npos) garbage += c;
    }
    expectOnlyMarkerAfter(node0, garbage + "\r");
}

TEST_F(UsbInterfaceOnPty, FrameAfterARefusalBellIsKept) {
    RecordingProxy node0(iface, 0);
    open();
    enterDeviceMode(node0);
    node0.clear();
    // The bell comes without a terminator, so it leads the next line.
    ASSERT_TRUE(pty.writeToMaster("\aT000000041AB\r"));
    const auto frames = node0.waitForFrames(1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(sameFrame(frames[0], makeFrame(0x80000004u, 1, {0xAB})));
    EXPECT_EQ(log.count("Adapter refused a command.\n"), 1u);
}

// Fault: an unplugged adapter went unreported until the node expiries, and the
// interface could not be opened again on the same object.
TEST_F(UsbInterfaceOnPty, UnpluggedAdapterIsReportedAtOnceAndCanBeReopened) {
    std::mutex mutex;
    std::vector<unsigned int> lost;
    std::promise<void> adapter_gone;
    iface.setAdapterLostCallback([&] { adapter_gone.set_value(); });
    ASSERT_TRUE(iface.initInterface(pty.slavePath(), {}, [&](unsigned int node) {
        std::lock_guard<std::mutex> lock(mutex);
        lost.push_back(node);
    }));
    ASSERT_TRUE(pty.writeToMaster("T000001810\rT000002010\r"));
    ASSERT_TRUE(eventually([&] { return iface.getConnectedDevices().size() == 2; }));

    pty.closeMaster();
    // Reported by the receive thread as soon as the read fails, long before the
    // 1 s node expiry could have dropped the nodes.
    ASSERT_EQ(adapter_gone.get_future().wait_for(milliseconds(900)), std::future_status::ready);
    EXPECT_TRUE(iface.isAdapterLost());
    EXPECT_FALSE(iface.isRunning());
    EXPECT_TRUE(iface.getConnectedDevices().empty());
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(lost, (std::vector<unsigned int>{3, 4}));
    }
    can_frame_data frame = makeFrame(0x123, 0);
    EXPECT_FALSE(iface.sendFrame(&frame));

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    std::this_thread::sleep_for(milliseconds(500));
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const auto cpu_us = [](const rusage& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000LL + r.ru_utime.tv_usec + r.ru_stime.tv_usec;
    };
    // A receive loop that retried at once would burn a whole core here.
    EXPECT_LT(cpu_us(after) - cpu_us(before), 250000);
    EXPECT_EQ(log.count("Adapter lost: "), 1u) << log.text();
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(lost.size(), 2u) << "each node is reported lost once";
    }

    // Back again (a new port standing in for the replugged adapter).
    EXPECT_TRUE(iface.closeInterface());
    PtyPair replugged;
    serial::register_virtual_port({replugged.slavePath(), kZarvoDescription, "USB VID:PID=0483:5740"});
    ASSERT_TRUE(iface.initInterface(replugged.slavePath()));
    EXPECT_FALSE(iface.isAdapterLost());
    ASSERT_TRUE(replugged.writeToMaster("T000001810\r"));
    EXPECT_TRUE(eventually([&] { return iface.isDeviceConnected(3); }));
    EXPECT_TRUE(eventually([&] { return iface.isRunning(); }));
    iface.closeInterface();
    serial::unregister_virtual_port(replugged.slavePath());
}

// Fault: initInterface on an open interface threw "already open" and left the
// working connection dead.
TEST_F(UsbInterfaceOnPty, OpeningAnOpenInterfaceIsRefusedAndKeepsItWorking) {
    open();
    EXPECT_FALSE(iface.initInterface(pty.slavePath()));
    EXPECT_TRUE(iface.isOpen());
    can_frame_data frame = makeFrame(0x80000123u, 0);
    EXPECT_TRUE(iface.sendFrame(&frame));
    EXPECT_EQ(readFromHost(pty, 15), "T000001230\r");
    EXPECT_TRUE(iface.closeInterface());
    EXPECT_FALSE(iface.isOpen());
}

// Fault: closing waited out the read time-out (up to 1 s) on a silent port.
TEST_F(UsbInterfaceOnPty, CloseOnASilentPortIsPrompt_Slow) {
    const auto bound = milliseconds(kinetra::test::kSanitized ? 250 : 50);
    for (const auto silent_for : {milliseconds(0), milliseconds(20), milliseconds(150)}) {
        SCOPED_TRACE(silent_for.count());
        open();
        std::this_thread::sleep_for(silent_for);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_TRUE(iface.closeInterface());
        EXPECT_LT(std::chrono::steady_clock::now() - started, bound);
    }
}

// Fault: bells before a line counted against the 30-character limit, so a frame
// line behind five bells was cut and lost.
TEST_F(UsbInterfaceOnPty, BellsBeforeALineDoNotCountAgainstItsLength) {
    RecordingProxy node0(iface, 0);
    open();
    enterDeviceMode(node0);
    const std::string line = "T1ABCDE0180123456789ABCDEF\r";
    for (const std::size_t bells : {1u, 5u, 29u, 30u, 70u}) {
        SCOPED_TRACE(bells);
        node0.clear();
        ASSERT_TRUE(pty.writeToMaster(std::string(bells, '\a') + line));
        const auto frames = node0.waitForFrames(1);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_TRUE(sameFrame(frames[0], makeFrame(0x9ABCDE01u, 8, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF})));
    }
}

// --- Opening and the adapter check ---------------------------------------------

TEST(UsbInterfaceOpen, AcceptsOnlyPortsDescribedAsTheAdapter) {
    PtyPair pty;
    struct Case {
        const char* description;  // nullptr: the port is missing from the list
        bool accepted;
    };
    const Case cases[] = {
        {"Kinetra Zarvo USB-CAN", true}, {"Zarvo", true},   {"USB Kinetra adapter", true},
        {"xZarvox", true},               {"ZARVO", false},  {"KINETRA", false},
        {"kinetra zarvo", false},        {"USB Serial Device", false}, {"", false},
        {nullptr, false},
    };
    for (const auto& c : cases) {
        const std::string name = c.description ? c.description : "(not listed)";
        if (c.description) {
            serial::register_virtual_port({pty.slavePath(), c.description, ""});
        } else {
            serial::unregister_virtual_port(pty.slavePath());
        }
        USBInterface iface;
        CoutCapture cout;
        if (c.accepted) {
            EXPECT_TRUE(iface.initInterface(pty.slavePath())) << name;
            EXPECT_EQ(cout.text(), "") << name;
        } else {
            EXPECT_THROW(iface.initInterface(pty.slavePath()), NoCompatibleDeviceException) << name;
            EXPECT_EQ(cout.text(), "No Compatible Kinetra Device found \n") << name;
        }
        iface.closeInterface();
    }

    // Any SLCAN adapter, listed or not, is good enough for SlcanInterface.
    for (const char* description : {"USB Serial Device", static_cast<const char*>(nullptr)}) {
        if (description) {
            serial::register_virtual_port({pty.slavePath(), description, ""});
        } else {
            serial::unregister_virtual_port(pty.slavePath());
        }
        SlcanInterface iface;
        EXPECT_TRUE(iface.initInterface(pty.slavePath()));
    }
    serial::unregister_virtual_port(pty.slavePath());
}

// Fault pinned (planted): setCANBaudRate() was forgotten by the next open, which set
// the channel up at the constructor's rate again. Also: 500 kbit/s by default.
TEST(UsbInterfaceOpen, SlcanInterfaceOpensAtTheLastRateItWasGiven) {
    PtyPair pty;
    SlcanInterface iface;
    const std::string at_500k = "C\rS6\rO\r", at_250k = "C\rS5\rO\r";
    ASSERT_TRUE(iface.initInterface(pty.slavePath()));
    EXPECT_EQ(readFromHost(pty, at_500k.size()), at_500k);
    ASSERT_EQ(iface.setCANBaudRate(CAN_BAUD_250K), RET_INTERFACE_OK);
    EXPECT_EQ(readFromHost(pty, at_250k.size()), at_250k);
    iface.closeInterface();
    ASSERT_TRUE(iface.initInterface(pty.slavePath()));
    EXPECT_EQ(readFromHost(pty, at_250k.size()), at_250k);
    iface.closeInterface();
}

// Fault pinned: a port refused as incompatible stayed open, so the same object
// could not open it again once the right adapter was presented.
TEST(UsbInterfaceOpen, RefusedPortCanBeOpenedAgainLater) {
    PtyPair pty;
    USBInterface iface;
    CoutCapture cout;
    serial::register_virtual_port({pty.slavePath(), "USB Serial Device", ""});
    EXPECT_THROW(iface.initInterface(pty.slavePath()), NoCompatibleDeviceException);
    serial::register_virtual_port({pty.slavePath(), "Zarvo", ""});
    EXPECT_TRUE(iface.initInterface(pty.slavePath()));
    iface.closeInterface();
    serial::unregister_virtual_port(pty.slavePath());
}

TEST(UsbInterfaceOpen, OpeningFailureIsPrintedAndPropagated) {
    struct Case {
        std::string port;
        std::string what_contains;
    };
    const Case cases[] = {
        {"/dev/kinetra-no-such-port", "does not exist."},
        {"", "Empty port is invalid."},
    };
    for (const auto& c : cases) {
        USBInterface iface;
        CoutCapture cout;
        std::string what;
        try {
            iface.initInterface(c.port);
            ADD_FAILURE() << "opened " << c.port;
        } catch (const std::exception& error) {
            what = error.what();
        }
        EXPECT_NE(what.find(c.what_contains), std::string::npos) << what;
        EXPECT_EQ(cout.text(), "USB Communication Error. Please check if the selected interface " + c.port +
                                   " is okay.\n" + what + "\n");
        EXPECT_FALSE(iface.isRunning());
    }
}

// A closed port failed every write silently: a caller that logs never learned
// why nothing reached the bus.
TEST(UsbInterfaceOpen, ClosedInterfaceRefusesEverythingAtOnceAndLogsTheWrite) {
    USBInterface iface;
    can_frame_data frame = makeFrame(0x123, 0);
    uint8_t major = 0, minor = 0, patch = 0;
    std::string tag;
    CANBaudRate rate = CAN_BAUD_1M;
    const std::vector<std::pair<const char*, std::function<bool()>>> operations = {
        {"sendData", [&] { return iface.sendData(&frame); }},
        {"setCANBaudRate", [&] { return iface.setCANBaudRate(CAN_BAUD_500K) == RET_INTERFACE_OK; }},
        {"getCANBaudRate", [&] { return iface.getCANBaudRate(&rate) == RET_INTERFACE_OK; }},
        {"getFirmwareVersion", [&] { return iface.getFirmwareVersion(&major, &minor, &patch, &tag) == RET_INTERFACE_OK; }},
        {"getHardwareVersion", [&] { return iface.getHardwareVersion(&major, &minor, &patch) == RET_INTERFACE_OK; }},
        {"enterDFUMode", [&] { return iface.enterDFUMode() == RET_INTERFACE_OK; }},
        {"saveConfiguration", [&] { return iface.saveConfiguration() == RET_INTERFACE_OK; }},
        {"eraseConfiguration", [&] { return iface.eraseConfiguration() == RET_INTERFACE_OK; }},
        {"rebootZarvo", [&] { return iface.rebootZarvo() == RET_INTERFACE_OK; }},
    };
    CoutCapture cout;
    for (const auto& [name, operation] : operations) {
        std::ostringstream log;
        iface.setOutputLogStream(&log);
        EXPECT_FALSE(operation()) << name;
        EXPECT_EQ(log.str(), "Exception on USB write\n") << name;
    }
    EXPECT_EQ(rate, CAN_BAUD_1M);
    EXPECT_FALSE(iface.sendData(nullptr));
    EXPECT_EQ(iface.getHardwareVersion(nullptr, &minor, &patch), RET_INTERFACE_FAIL);
    EXPECT_EQ(cout.text(), "");  // no time-out: nothing was sent, so nothing is awaited
}

TEST_F(UsbInterfaceOnPty, BatchWritesEveryLineInOrderAcrossItsChunks) {
    open();
    // More frames than one chunk of the batch buffer holds.
    std::vector<can_frame_data> frames;
    std::string lines;
    for (uint32_t i = 0; i < 17; ++i) {
        frames.push_back(makeFrame(0xC0000000u | (i << 7) | 0x40, 8));
        char line[32];
        std::snprintf(line, sizeof line, "R%08X80000000000000000\r", unsigned((i << 7) | 0x40));
        lines += line;
    }
    EXPECT_TRUE(iface.sendFrames(frames.data(), frames.size()));
    EXPECT_EQ(readFromHost(pty, lines.size()), lines);
    EXPECT_FALSE(iface.sendFrames(nullptr, 3));
    EXPECT_TRUE(iface.isRunning());
}

}  // namespace
}  // namespace kinetra::test
