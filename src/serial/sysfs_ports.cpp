#include "serial/sysfs_ports.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace kinetra {

namespace fs = std::filesystem;

namespace {

/// How far up from a tty's device the USB device may sit (tty -> interface -> device).
constexpr int kMaxUsbDepth = 4;

/// The first line of a small sysfs attribute, trailing white space removed;
/// empty when it cannot be read. Reads are bounded: sysfs attributes are short.
std::string readAttribute(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    std::string text(256, '\0');
    in.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    text = text.substr(0, text.find('\n'));
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text;
}

/// The last component of the target of symbolic link `link`, or empty.
std::string linkTargetName(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return error ? std::string() : target.filename().string();
}

/// A four-digit lower-case hexadecimal id; the text as read when it is not hex.
std::string normaliseHexId(const std::string& text) {
    if (text.empty() || text.size() > 4 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; })) {
        return text;
    }
    std::string id = std::string(4 - text.size(), '0') + text;
    std::transform(id.begin(), id.end(), id.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return id;
}

bool isParallelPort(const std::string& name) {
    return name.find("LPT") != std::string::npos || name.rfind("lp", 0) == 0;
}

/// The 8250 driver registers ttyS0..N on a "serial8250" platform device whether
/// or not a UART exists; real 8250 ports hang off pnp, pci or their own platform
/// device instead.
bool isPlaceholderPort(const fs::path& device) {
    return device.filename() == "serial8250" ||
           (linkTargetName(device / "subsystem") == "platform" && linkTargetName(device / "driver") == "serial8250");
}

/// Fills description and hardware id from the USB device above `device`, if any.
void describeUsbPort(const fs::path& device, const fs::path& sysfs_root, serial::PortInfo& info) {
    fs::path interface_dir;
    fs::path dir = device;
    for (int depth = 0; depth <= kMaxUsbDepth && !dir.empty(); ++depth) {
        std::error_code error;
        if (fs::exists(dir / "idVendor", error) && fs::exists(dir / "idProduct", error)) break;
        interface_dir = dir;
        if (dir == sysfs_root || dir == dir.parent_path()) return;
        dir = dir.parent_path();
    }
    std::error_code error;
    if (!fs::exists(dir / "idVendor", error)) return;

    const std::string manufacturer = readAttribute(dir / "manufacturer");
    const std::string product = readAttribute(dir / "product");
    const std::string interface_name = interface_dir.empty() ? std::string() : readAttribute(interface_dir / "interface");

    std::string description = product;
    if (!manufacturer.empty() && product.find(manufacturer) == std::string::npos) {
        description = product.empty() ? manufacturer : manufacturer + " " + product;
    }
    if (!interface_name.empty() && interface_name != product) {
        description = description.empty() ? interface_name : description + " (" + interface_name + ")";
    }
    info.description = description;

    info.hardware_id = "USB VID:PID=" + normaliseHexId(readAttribute(dir / "idVendor")) + ":" +
                       normaliseHexId(readAttribute(dir / "idProduct"));
    const std::string serial_number = readAttribute(dir / "serial");
    if (!serial_number.empty()) info.hardware_id += " SER=" + serial_number;
}

}  // namespace

bool naturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digit_a = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool digit_b = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (digit_a && digit_b) {
            std::size_t end_a = i;
            std::size_t end_b = j;
            while (end_a < a.size() && std::isdigit(static_cast<unsigned char>(a[end_a]))) ++end_a;
            while (end_b < b.size() && std::isdigit(static_cast<unsigned char>(b[end_b]))) ++end_b;
            // Compare by value without converting (runs may be arbitrarily long).
            std::size_t start_a = i;
            std::size_t start_b = j;
            while (start_a + 1 < end_a && a[start_a] == '0') ++start_a;
            while (start_b + 1 < end_b && b[start_b] == '0') ++start_b;
            const std::size_t len_a = end_a - start_a;
            const std::size_t len_b = end_b - start_b;
            if (len_a != len_b) return len_a < len_b;
            const int order = a.compare(start_a, len_a, b, start_b, len_b);
            if (order != 0) return order < 0;
            i = end_a;
            j = end_b;
        } else {
            if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
    return a < b;  // equal by value ("tty01" vs "tty1"): any fixed order will do
}

std::vector<serial::PortInfo> listSysfsPorts(const std::string& sysfs_root) {
    std::vector<serial::PortInfo> ports;
    const fs::path root(sysfs_root);
    std::error_code error;
    const fs::path canonical_root = fs::canonical(root, error);
    if (error) return ports;
    // The error_code forms throughout: a tty vanishing mid-walk must not throw.
    for (fs::directory_iterator entry(root / "class" / "tty", error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (isParallelPort(name)) continue;
        std::error_code link_error;
        const fs::path device = fs::canonical(entry->path() / "device", link_error);
        if (link_error || isPlaceholderPort(device)) continue;

        serial::PortInfo info;
        info.port = "/dev/" + name;
        describeUsbPort(device, canonical_root, info);
        ports.push_back(std::move(info));
    }
    std::sort(ports.begin(), ports.end(),
              [](const serial::PortInfo& a, const serial::PortInfo& b) { return naturalLess(a.port, b.port); });
    return ports;
}

}  // namespace kinetra
