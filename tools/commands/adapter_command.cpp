// kinetra adapter [bitrate RATE]: the adapter's versions and CAN bit rate.

#include "commands/command.h"

#include "cli/device_text.h"
#include "cli/exit_codes.h"
#include "cli/report.h"

namespace kinetra::cli {

namespace {

void requireAdapter(const std::string& what, ret_interface_t result) {
    if (result != RET_INTERFACE_OK) {
        throw CliError(kExitDevice, "adapter: " + what + ": no reply within about 1 s (RET_INTERFACE_FAIL)");
    }
}

int showAdapter(Context& context, BusSession& session) {
    uint8_t major = 0, minor = 0, patch = 0, hw_major = 0, hw_minor = 0, hw_patch = 0;
    std::string tag;
    CANBaudRate rate = CAN_BAUD_1M;
    USBInterface* adapter = session.adapter();
    if (adapter == nullptr) {
        throw CliError(kExitDevice, "adapter: " + session.portName() + " is a SocketCAN interface, with no adapter to ask");
    }
    requireAdapter("firmware version", adapter->getFirmwareVersion(&major, &minor, &patch, &tag));
    requireAdapter("hardware version", adapter->getHardwareVersion(&hw_major, &hw_minor, &hw_patch));
    requireAdapter("bit rate", adapter->getCANBaudRate(&rate));
    const std::string firmware = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
    const std::string hardware =
        std::to_string(hw_major) + "." + std::to_string(hw_minor) + "." + std::to_string(hw_patch);
    Report report;
    report.add("port", "port", session.portName(), session.portName())
        .add("firmware", "firmware", firmware, firmware)
        .add("tag", "tag", tag, tag)
        .add("hardware", "hardware", hardware, hardware)
        .add("bit_rate", "CAN bit rate", bitRateName(rate), bitRateName(rate));
    report.print(*context.out);
    return kExitOk;
}

}  // namespace

void addAdapterCommand(CLI::App& app, Registry& registry) {
    CLI::App* sub = app.add_subcommand("adapter", "Show the adapter's versions and CAN bit rate");
    sub->footer("Example:\n  kinetra adapter --sim\n  kinetra adapter bitrate 500k");
    registry.push_back({sub, [](Context& context) {
                            BusSession session(context.bus, *context.stop);
                            session.open();
                            return showAdapter(context, session);
                        }});

    CLI::App* bitrate = sub->add_subcommand("bitrate", "Set the adapter's CAN bit rate");
    auto rate = std::make_shared<std::string>();
    bitrate->add_option("RATE", *rate, "one of " + bitRateNames() + " (or the rate in bit/s)")
        ->required()
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return parseBitRate(text) ? std::string() : "expected one of " + bitRateNames() + ", got '" + text + "'";
            },
            "RATE"));
    bitrate->footer("Example:\n  kinetra adapter bitrate 1M\nThe nodes must run at the same rate to be heard.");
    registry.push_back({bitrate, [rate](Context& context) {
                            BusSession session(context.bus, *context.stop);
                            session.open();
                            requireAdapter("set bit rate", session.bus().setCANBaudRate(*parseBitRate(*rate)));
                            return showAdapter(context, session);
                        }});
}

}  // namespace kinetra::cli
