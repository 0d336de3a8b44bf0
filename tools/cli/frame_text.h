#pragma once
// Frames as text: decoded lines for the bus monitor and can-utils log lines.
// Pure functions, no I/O.

#include <kinetra/can_frame.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace kinetra::cli {

/// What the monitor knows about one frame.
/// One reply value as the class's operation table names it.
struct DecodedField {
    std::string name;
    std::string value;
    std::string unit;  ///< empty when the value has none
};

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
    std::string operation;     ///< the public operation that reads this reply, when the table names one
    std::vector<DecodedField> fields;  ///< the values named, with their units, when it does
};

/// Decodes a frame by its identifier fields and, for a node's reply, by the
/// reply layout of its class. Never fails: what is not known stays raw.
DecodedFrame decodeFrame(const can_frame_data& frame);
/// One monitor line: "node 1  driver  getBusVoltageCurrent  voltage 24.000 V, current 0.000 A",
/// the values without names where the table names none, or raw.
std::string monitorLine(const DecodedFrame& decoded);
/// The same as a JSON object.
nlohmann::json monitorJson(const DecodedFrame& decoded);

/// One line of the can-utils log format, "(seconds.micros) iface id#data":
/// eight identifier digits for extended frames, three for standard ones, "R"
/// and the length for remote frames.
std::string candumpLine(const can_frame_data& frame, double unix_seconds, const std::string& iface);

}  // namespace kinetra::cli
