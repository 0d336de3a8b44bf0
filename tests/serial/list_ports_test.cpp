#include "serial/sysfs_ports.h"

#include <kinetra/serial/serial.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace kinetra {
namespace {

namespace fs = std::filesystem;

/// A throw-away sysfs tree shaped like the kernel's, built per test.
class FakeSysfs {
public:
    FakeSysfs() {
        std::string pattern = (fs::temp_directory_path() / "kinetra-sysfs-XXXXXX").string();
        root_ = ::mkdtemp(&pattern[0]);
        fs::create_directories(root_ / "class" / "tty");
        for (const char* bus : {"usb", "usb-serial", "platform", "pnp"}) fs::create_directories(root_ / "bus" / bus);
    }
    ~FakeSysfs() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    const fs::path& root() const { return root_; }

    void file(const fs::path& relative, const std::string& content) {
        fs::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative) << content;
    }

    /// A tty whose device link points at `device` (relative to the root), or none.
    void tty(const std::string& name, const std::string& device = "", const std::string& bus = "") {
        const fs::path entry = root_ / "class" / "tty" / name;
        fs::create_directories(entry);
        if (device.empty()) return;
        fs::create_directories(root_ / device);
        fs::create_directory_symlink(root_ / device, entry / "device");
        if (!bus.empty() && !fs::exists(root_ / device / "subsystem")) {
            fs::create_directory_symlink(root_ / "bus" / bus, root_ / device / "subsystem");
        }
    }

    struct UsbStrings {
        std::string vid, pid, serial, manufacturer, product, interface_name;
    };

    /// A USB device at devices/usb1/<id> with interface <id>:1.0; returns the interface path.
    std::string usbDevice(const std::string& id, const UsbStrings& s) {
        const std::string device = "devices/pci0000:00/usb1/" + id;
        file(device + "/idVendor", s.vid + "\n");
        file(device + "/idProduct", s.pid + "\n");
        if (!s.serial.empty()) file(device + "/serial", s.serial + "\n");
        if (!s.manufacturer.empty()) file(device + "/manufacturer", s.manufacturer + "\n");
        if (!s.product.empty()) file(device + "/product", s.product + "\n");
        const std::string interface_dir = device + "/" + id + ":1.0";
        fs::create_directories(root_ / interface_dir);
        if (!s.interface_name.empty()) file(interface_dir + "/interface", s.interface_name + "\n");
        return interface_dir;
    }

private:
    fs::path root_;
};

std::vector<std::string> portNames(const std::vector<serial::PortInfo>& ports) {
    std::vector<std::string> names;
    for (const serial::PortInfo& info : ports) names.push_back(info.port);
    return names;
}

TEST(SysfsPorts, ListsRealPortsSortedAndSkipsPlaceholdersVirtualTtysAndParallelPorts) {
    FakeSysfs sysfs;
    // ttyACM: the tty's device is the USB interface.
    const std::string zarvo = sysfs.usbDevice("1-2", {"0483", "5740", "ZV00042", "Kinetra", "Zarvo USB-CAN", ""});
    sysfs.tty("ttyACM0", zarvo, "usb");
    // ttyUSB: the tty's device sits one level below the interface.
    const std::string ftdi2 = sysfs.usbDevice("1-3", {"403", "6001", "", "FTDI", "FT232R USB UART", ""});
    sysfs.tty("ttyUSB2", ftdi2 + "/ttyUSB2", "usb-serial");
    const std::string ftdi10 = sysfs.usbDevice("1-4", {"0403", "6015", "A1", "", "", "Dual RS232"});
    sysfs.tty("ttyUSB10", ftdi10 + "/ttyUSB10", "usb-serial");
    sysfs.tty("ttyS0", "devices/pnp0/00:05", "pnp");                      // a real UART
    sysfs.tty("ttyS1", "devices/platform/serial8250", "platform");        // 8250 placeholder
    sysfs.tty("ttyS2", "devices/platform/serial8250", "platform");
    sysfs.tty("tty0");                                                     // virtual console
    sysfs.tty("ttyLPT1", "devices/pnp0/00:07", "pnp");                    // parallel ports
    sysfs.tty("lp0", "devices/pnp0/00:08", "pnp");
    fs::create_directories(sysfs.root() / "class/tty/ttyGone");           // dangling device link
    fs::create_directory_symlink(sysfs.root() / "devices/nowhere", sysfs.root() / "class/tty/ttyGone/device");

    const std::vector<serial::PortInfo> ports = listSysfsPorts(sysfs.root().string());
    ASSERT_EQ(portNames(ports),
              (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyUSB2", "/dev/ttyUSB10"}));

    EXPECT_EQ(ports[0].description, "Kinetra Zarvo USB-CAN");
    EXPECT_EQ(ports[0].hardware_id, "USB VID:PID=0483:5740 SER=ZV00042");
    EXPECT_EQ(ports[1].description, "");
    EXPECT_EQ(ports[1].hardware_id, "");
    EXPECT_EQ(ports[2].description, "FTDI FT232R USB UART");
    EXPECT_EQ(ports[2].hardware_id, "USB VID:PID=0403:6001");
    EXPECT_EQ(ports[3].description, "Dual RS232");
    EXPECT_EQ(ports[3].hardware_id, "USB VID:PID=0403:6015 SER=A1");
}

TEST(SysfsPorts, DescriptionCombinesTheUsbStrings) {
    struct Case {
        std::string manufacturer, product, interface_name, expected;
    };
    const Case cases[] = {
        {"Kinetra", "Zarvo", "", "Kinetra Zarvo"},
        {"Kinetra", "Kinetra Zarvo", "", "Kinetra Zarvo"},  // no repeated maker
        {"", "USB-CAN", "Zarvo CAN port", "USB-CAN (Zarvo CAN port)"},
        {"", "", "Zarvo CAN port", "Zarvo CAN port"},
        {"ACME", "", "", "ACME"},
        {"", "Same", "Same", "Same"},
        {"", "", "", ""},
    };
    for (const Case& c : cases) {
        FakeSysfs sysfs;
        sysfs.tty("ttyACM0", sysfs.usbDevice("3-1", {"1d50", "606f", "", c.manufacturer, c.product, c.interface_name}),
                  "usb");
        const std::vector<serial::PortInfo> ports = listSysfsPorts(sysfs.root().string());
        ASSERT_EQ(ports.size(), 1u);
        EXPECT_EQ(ports[0].description, c.expected) << c.manufacturer << "|" << c.product << "|" << c.interface_name;
    }
}

TEST(SysfsPorts, HostileAttributesAreBoundedAndNeverThrow) {
    FakeSysfs sysfs;
    const std::string device = sysfs.usbDevice("1-9", {"zz", "12345", "", "", std::string(100000, 'P'), ""});
    sysfs.tty("ttyACM3", device, "usb");
    const std::vector<serial::PortInfo> ports = listSysfsPorts(sysfs.root().string());
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_LE(ports[0].description.size(), 256u);
    EXPECT_EQ(ports[0].hardware_id, "USB VID:PID=zz:12345");
    EXPECT_TRUE(listSysfsPorts((sysfs.root() / "missing").string()).empty());
}

TEST(SysfsPorts, NaturalOrderComparesDigitRunsByValue) {
    const std::vector<std::string> sorted = {"/dev/ttyACM0", "/dev/ttyACM2", "/dev/ttyACM10", "/dev/ttyS0",
                                             "/dev/ttyS9",   "/dev/ttyS10",  "/dev/ttyUSB1", "/dev/ttyUSB01x"};
    std::vector<std::string> shuffled(sorted.rbegin(), sorted.rend());
    std::sort(shuffled.begin(), shuffled.end(), naturalLess);
    EXPECT_EQ(shuffled, sorted);
    EXPECT_FALSE(naturalLess("tty1", "tty1"));
}

TEST(ListPorts, VirtualPortsFollowTheSystemPortsAndReplaceOnReRegistration) {
    serial::register_virtual_port({"/dev/pts/kinetra-a", "Kinetra Zarvo (simulated)", "SIM"});
    serial::register_virtual_port({"/dev/pts/kinetra-b", "other", ""});
    serial::register_virtual_port({"/dev/pts/kinetra-a", "Zarvo replaced", "SIM2"});

    std::vector<serial::PortInfo> ports = serial::list_ports();
    ASSERT_GE(ports.size(), 2u);
    const serial::PortInfo& a = ports[ports.size() - 2];
    const serial::PortInfo& b = ports[ports.size() - 1];
    EXPECT_EQ(a.port, "/dev/pts/kinetra-a");
    EXPECT_EQ(a.description, "Zarvo replaced");
    EXPECT_EQ(a.hardware_id, "SIM2");
    EXPECT_EQ(b.port, "/dev/pts/kinetra-b");

    serial::unregister_virtual_port("/dev/pts/kinetra-a");
    serial::unregister_virtual_port("/dev/pts/kinetra-b");
    serial::unregister_virtual_port("/dev/pts/never-registered");
    for (const serial::PortInfo& info : serial::list_ports()) {
        EXPECT_EQ(info.port.find("/dev/pts/kinetra-"), std::string::npos);
        EXPECT_EQ(info.port.find("LPT"), std::string::npos);
    }
}

TEST(ListPorts, RegistryIsSafeToUseFromSeveralThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            const std::string name = "/dev/pts/kinetra-thread-" + std::to_string(t);
            for (int i = 0; i < 50; ++i) {
                serial::register_virtual_port({name, "Zarvo " + std::to_string(i), ""});
                (void)serial::list_ports();
                if (i % 2 == 0) serial::unregister_virtual_port(name);
            }
            serial::unregister_virtual_port(name);
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (const serial::PortInfo& info : serial::list_ports()) {
        EXPECT_EQ(info.port.find("kinetra-thread-"), std::string::npos);
    }
}

}  // namespace
}  // namespace kinetra
