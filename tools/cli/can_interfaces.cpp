#include "cli/can_interfaces.h"

#ifndef _WIN32
#include "socketcan/link_control.h"
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace kinetra::cli {

std::vector<std::string> listCanInterfaces() {
#ifdef _WIN32
    return {};  // CAN network interfaces are Linux's
#else
    namespace fs = std::filesystem;
    const char* root = std::getenv("KINETRA_SYSFS_ROOT");
    const fs::path net = fs::path(root != nullptr && *root != '\0' ? root : "/sys") / "class" / "net";
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(net, error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (kinetra::socketcan::refuseInterfaceName(name, net.string()).empty()) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
#endif
}

}  // namespace kinetra::cli
