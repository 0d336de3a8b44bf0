#include <kinetra/socketcan_interface.h>

#include "socketcan/link_control.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace kinetra::test {
namespace {

namespace fs = std::filesystem;

TEST(SocketCANOpen, RefusesNamesThatAreNoCanInterfaceCleanly) {
    struct Case {
        std::string name;
        const char* logged;
    };
    const Case cases[] = {
        {"", "no CAN interface named"},
        {"kin-nosuch0", "no network interface named"},
        {std::string(IFNAMSIZ, 'c'), "longer than the kernel allows"},
        {"../lo", "no network interface name"},
        {"lo", "not a CAN interface"},
    };
    for (const Case& c : cases) {
        SocketCANInterface bus;
        std::ostringstream log;
        bus.setOutputLogStream(&log);
        EXPECT_FALSE(bus.initInterface(c.name)) << c.name;
        EXPECT_FALSE(bus.isOpen()) << c.name;
        EXPECT_NE(log.str().find(c.logged), std::string::npos) << c.name << ": " << log.str();
        // Closed, it neither sends nor changes a bit rate.
        can_frame_data frame;
        EXPECT_FALSE(bus.sendFrame(&frame));
        EXPECT_EQ(bus.setCANBaudRate(CAN_BAUD_500K), RET_INTERFACE_FAIL);
        bus.setOutputLogStream(nullptr);
    }
}

TEST(SocketCANOpen, FindsCanInterfacesByTheirSysfsType) {
    const fs::path root = fs::temp_directory_path() / ("kinetra-sysfs-" + std::to_string(::getpid()));
    const auto make = [&](const char* name, const char* type) {
        fs::create_directories(root / name);
        std::ofstream(root / name / "type") << type << "\n";
    };
    make("can0", "280");
    make("eth0", "1");
    make("odd0", "garbage");
    EXPECT_EQ(socketcan::refuseInterfaceName("can0", root.string()), "");
    EXPECT_NE(socketcan::refuseInterfaceName("eth0", root.string()).find("not a CAN"), std::string::npos);
    EXPECT_NE(socketcan::refuseInterfaceName("odd0", root.string()).find("no network interface"), std::string::npos);
    fs::remove_all(root);
}

TEST(SocketCANOpen, HasNoAdapterVersions) {
    SocketCANInterface bus;
    uint8_t major = 7, minor = 7, patch = 7;
    std::string tag = "kept";
    EXPECT_EQ(bus.getFirmwareVersion(&major, &minor, &patch, &tag), RET_INTERFACE_FAIL);
    EXPECT_EQ(bus.getHardwareVersion(&major, &minor, &patch), RET_INTERFACE_FAIL);
    EXPECT_EQ(major, 7);
    EXPECT_EQ(tag, "kept");
    EXPECT_EQ(bus.busState(), SOCKETCAN_ERROR_ACTIVE);
}

TEST(SocketCANOpen, SuggestsTheCommandWhenNotPermitted) {
    EXPECT_EQ(socketcan::bitRateCommandHint("can0", 500000),
              "ip link set can0 down && ip link set can0 type can bitrate 500000 && ip link set can0 up");
}

// The interface the live tests run on: KINETRA_TEST_VCAN, or vcan0 when it exists.
// They need a kernel with CAN support (the virtual machine test stage has one).
std::string liveInterface() {
    const char* chosen = std::getenv("KINETRA_TEST_VCAN");
    const std::string name = chosen ? chosen : "vcan0";
    return socketcan::refuseInterfaceName(name).empty() ? name : std::string();
}

// A second raw socket on the same interface, as candump and cansend use.
class PeerSocket {
public:
    explicit PeerSocket(const std::string& name, bool fd_frames = false)
        : fd_(::socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW)) {
        const int enable = fd_frames ? 1 : 0;
        ::setsockopt(fd_, SOL_CAN_RAW, CAN_RAW_FD_FRAMES, &enable, sizeof enable);
        sockaddr_can address{};
        address.can_family = AF_CAN;
        address.can_ifindex = static_cast<int>(::if_nametoindex(name.c_str()));
        bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~PeerSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool bound() const { return bound_; }
    template <typename Frame>
    bool write(const Frame& frame) {
        return ::write(fd_, &frame, sizeof frame) == static_cast<ssize_t>(sizeof frame);
    }
    // Reads one frame, waiting at most 2 s.
    bool read(can_frame& frame) {
        timeval limit{2, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        return ::read(fd_, &frame, sizeof frame) == static_cast<ssize_t>(sizeof frame);
    }

private:
    int fd_;
    bool bound_ = false;
};

TEST(SocketCANLive, CarriesFramesBothWaysAndRefusesOddOnes) {
    const std::string name = liveInterface();
    if (name.empty()) GTEST_SKIP() << "no virtual CAN interface here (the VM test stage has one)";
    SocketCANInterface bus;
    std::ostringstream log;
    bus.setOutputLogStream(&log);
    std::mutex seen_mutex;
    std::vector<can_frame_data> seen;
    bus.setFrameObserver([&](const can_frame_data& frame) {
        std::lock_guard<std::mutex> lock(seen_mutex);
        seen.push_back(frame);
    });
    ASSERT_TRUE(bus.initInterface(name));
    EXPECT_EQ(bus.interfaceName(), name);
    PeerSocket peer(name, true);
    ASSERT_TRUE(peer.bound());

    // From the library to the bus (its master heartbeats go out too: skip them).
    can_frame_data out;
    out.can_id = CAN_EFF_FLAG | 0x0ABCDEFu;
    out.can_dlc = 3;
    out.data[0] = 0x11;
    ASSERT_TRUE(bus.sendFrame(&out));
    can_frame got{};
    bool found = false;
    for (int i = 0; i < 20 && !found; ++i) found = peer.read(got) && got.can_id == out.can_id;
    ASSERT_TRUE(found);
    EXPECT_EQ(got.len, 3);
    EXPECT_EQ(got.data[0], 0x11);

    // An error-flagged frame is never put on the bus.
    can_frame_data flagged;
    flagged.can_id = CAN_ERR_FLAG | 1u;
    EXPECT_FALSE(bus.sendFrame(&flagged));

    // From the bus to the library, past a CAN FD frame it refuses.
    canfd_frame fd_frame{};
    fd_frame.can_id = CAN_EFF_FLAG | 0x77u;
    fd_frame.len = 64;
    EXPECT_TRUE(peer.write(fd_frame));
    can_frame in{};
    in.can_id = CAN_EFF_FLAG | CAN_RTR_FLAG | 0x1234u;
    in.len = 0;
    ASSERT_TRUE(peer.write(in));
    EXPECT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(seen_mutex);
        for (const auto& frame : seen)
            if (frame.can_id == in.can_id) return true;
        return false;
    }));
    {
        std::lock_guard<std::mutex> lock(seen_mutex);
        for (const auto& frame : seen) EXPECT_NE(frame.can_id, fd_frame.can_id);
    }
    EXPECT_TRUE(eventually([&] { return bus.isRunning(); }));

    // Down while in use: sends fail and say so once; back up, they work again.
    const int index = static_cast<int>(::if_nametoindex(name.c_str()));
    ASSERT_EQ(socketcan::setLinkUp(index, false), 0);
    EXPECT_FALSE(bus.sendFrame(&out));
    EXPECT_FALSE(bus.isRunning());
    ASSERT_EQ(socketcan::setLinkUp(index, true), 0);
    EXPECT_TRUE(bus.sendFrame(&out));
    EXPECT_TRUE(bus.isRunning());

    // A virtual interface has no bit rate: any rate is accepted and nothing changes.
    EXPECT_EQ(bus.setCANBaudRate(CAN_BAUD_125K), RET_INTERFACE_OK);
    EXPECT_TRUE(bus.sendFrame(&out));

    // Closing wakes the receive thread, blocked in the kernel on a quiet bus.
    EXPECT_TRUE(bus.closeInterface());
    EXPECT_FALSE(bus.isOpen());
    EXPECT_EQ(bus.interfaceName(), "");
    bus.setOutputLogStream(nullptr);
    EXPECT_NE(log.str().find("CAN FD"), std::string::npos) << log.str();
    EXPECT_NE(log.str().find("is down"), std::string::npos) << log.str();
    EXPECT_NE(log.str().find("is up again"), std::string::npos) << log.str();
}

}  // namespace
}  // namespace kinetra::test
