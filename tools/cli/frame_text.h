#pragma once
// Frames as text: decoded lines for the bus monitor and can-utils log lines.
// Pure functions, no I/O.

#include <kinetra/can_frame.h>

#include <nlohmann/json.hpp>

#include <string>

namespace kinetra::cli {

/// What the monitor knows about one frame.
struct DecodedFrame {
    bool extended = false;
    bool remote = false;
    unsigned node = 0;
    unsigned type_code = 0;    ///< device type field: 0 from a host, the class code from a node
    std::string device_class;  ///< "driver", ..., "host" or "unknown"
    unsigned command = 0;
    std::string command_name;  ///< empty when the library does not know the command
    std::string values;        ///< decoded reply values, empty when not decoded
    std::string raw;           ///< the data bytes in hexadecimal
};

/// Decodes a frame by its identifier fields and, for a node's reply, by the
/// reply layout of its class. Never fails: what is not known stays raw.
DecodedFrame decodeFrame(const can_frame_data& frame);
/// One monitor line: "node 1  driver  getBusVoltageCurrent  24.000 0.000" or raw.
std::string monitorLine(const DecodedFrame& decoded);
/// The same as a JSON object.
nlohmann::json monitorJson(const DecodedFrame& decoded);

/// One line of the can-utils log format, "(seconds.micros) iface id#data":
/// eight identifier digits for extended frames, three for standard ones, "R"
/// and the length for remote frames.
std::string candumpLine(const can_frame_data& frame, double unix_seconds, const std::string& iface);

}  // namespace kinetra::cli
