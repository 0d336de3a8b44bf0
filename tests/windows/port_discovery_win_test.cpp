// Adapter discovery by port description and the library end to end, under Wine,
// against device entries that scripts/test-windows.sh seeds in the registry:
// KINETRA_TEST_ADAPTER_PORT has a friendly name naming the adapter and kinetra-sim
// (on Linux) behind it; KINETRA_TEST_GENERIC_PORT has a generic one;
// KINETRA_TEST_LOST_PORT names the adapter but hangs up at the first byte;
// KINETRA_TEST_PARALLEL_PORT is a printer port, never listed.

#include <kinetra/serial/serial.h>
#include <kinetra/usb_interface.h>

#include "serial/setupdi_ports_win.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>

namespace {

/// Hang guard for waits on the interface's threads; never a timing assertion.
constexpr auto kDiscoveryHangGuard = std::chrono::seconds(20);

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

class PortDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        adapter_ = environment("KINETRA_TEST_ADAPTER_PORT");
        generic_ = environment("KINETRA_TEST_GENERIC_PORT");
        parallel_ = environment("KINETRA_TEST_PARALLEL_PORT");
        if (adapter_.empty() || generic_.empty() || parallel_.empty()) {
            GTEST_SKIP() << "the seeded ports are not set (run make test-windows)";
        }
    }
    std::string adapter_;
    std::string generic_;
    std::string parallel_;
};

TEST_F(PortDiscoveryTest, ListsSerialPortsWithFriendlyNameAndHardwareId) {
    bool adapter_seen = false;
    bool generic_seen = false;
    for (const serial::PortInfo& info : serial::list_ports()) {
        EXPECT_NE(info.port, parallel_);
        EXPECT_EQ(info.port.find("LPT"), std::string::npos) << info.port;
        if (info.port == adapter_) {
            adapter_seen = true;
            EXPECT_TRUE(isKinetraAdapterDescription(info.description)) << info.description;
            EXPECT_EQ(info.hardware_id.rfind("USB\\VID_", 0), 0u) << info.hardware_id;
        }
        if (info.port == generic_) {
            generic_seen = true;
            EXPECT_FALSE(isKinetraAdapterDescription(info.description)) << info.description;
        }
    }
    EXPECT_TRUE(adapter_seen);
    EXPECT_TRUE(generic_seen);
}

TEST_F(PortDiscoveryTest, AdapterIsRefusedOnAPortThatDoesNotNameIt) {
    for (const std::string& port : {generic_, std::string("COM248")}) {
        USBInterface usb;
        testing::internal::CaptureStdout();
        bool refused = false;
        try {
            usb.initInterface(port);
        } catch (const NoCompatibleDeviceException&) {
            refused = true;
        } catch (const serial::IOException&) {
            refused = port == "COM248";  // absent: the open already fails
        }
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(refused) << port;
        if (port == generic_) {
            EXPECT_NE(out.find("No Compatible Kinetra Device found "), std::string::npos) << out;
        }
        EXPECT_FALSE(usb.isOpen());
    }
}

TEST_F(PortDiscoveryTest, FindsTheAdapterAndItsNodesEndToEnd) {
    USBInterface usb;
    std::mutex mutex;
    std::condition_variable changed;
    std::set<unsigned int> nodes;
    ASSERT_TRUE(usb.initInterface(adapter_, [&](unsigned int node, unsigned char) {
        std::lock_guard<std::mutex> lock(mutex);
        nodes.insert(node);
        changed.notify_all();
    }));
    uint8_t major = 0, minor = 0, patch = 0;
    std::string tag;
    EXPECT_EQ(usb.getFirmwareVersion(&major, &minor, &patch, &tag), RET_INTERFACE_OK);
    {
        std::unique_lock<std::mutex> lock(mutex);
        // kinetra-sim's default bus: a driver 1, an actuator 2, an IMU 3, an encoder 4.
        EXPECT_TRUE(changed.wait_for(lock, kDiscoveryHangGuard, [&] { return nodes.size() >= 4; }));
        EXPECT_EQ(nodes, (std::set<unsigned int>{1, 2, 3, 4}));
    }
    usb.closeInterface();
}

TEST(AdapterRemoval, InterfaceReportsTheAdapterLost) {
    const std::string port = environment("KINETRA_TEST_LOST_PORT");
    if (port.empty()) GTEST_SKIP() << "KINETRA_TEST_LOST_PORT is not set (run make test-windows)";
    USBInterface usb;
    std::mutex mutex;
    std::condition_variable changed;
    bool lost = false;
    usb.setAdapterLostCallback([&] {
        std::lock_guard<std::mutex> lock(mutex);
        lost = true;
        changed.notify_all();
    });
    ASSERT_TRUE(usb.initInterface(port));
    uint8_t major = 0, minor = 0, patch = 0;
    std::string tag;
    // The query's bytes make the peer hang up; the reply never comes.
    EXPECT_NE(usb.getFirmwareVersion(&major, &minor, &patch, &tag), RET_INTERFACE_OK);
    {
        std::unique_lock<std::mutex> lock(mutex);
        EXPECT_TRUE(changed.wait_for(lock, kDiscoveryHangGuard, [&] { return lost; }));
    }
    EXPECT_TRUE(usb.isAdapterLost());
    EXPECT_FALSE(usb.isRunning());
    usb.closeInterface();
}

}  // namespace

namespace {

// The registry may store a string without its NUL: the bytes returned bound it,
// and its last character is kept (overwriting the last byte with a NUL cuts COM9 to COM).
TEST(RegistryString, EndsAtTheFirstNulOrTheBytesReturned) {
    struct Case {
        const char* bytes;
        unsigned long size;
        std::string expected;
    };
    const char unterminated[4] = {'C', 'O', 'M', '9'};
    const Case cases[] = {
        {"COM5\0", 5, "COM5"},
        {unterminated, 4, "COM9"},
        {"USB\\VID_0483\0ACPI\0\0", 20, "USB\\VID_0483"},  // a multi-string: its first string
        {"", 0, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(kinetra::registryString(c.bytes, c.size), c.expected);
}

}  // namespace
