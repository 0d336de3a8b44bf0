#pragma once
// Whether anything that speaks SLCAN is behind a port, asked before the library
// opens it: a silent pseudo-terminal or a serial port with nothing attached
// opens fine and then reads as a bus without nodes.

#include <chrono>
#include <string>

namespace kinetra::cli {

enum class ProbeResult {
    Answered,  ///< some bytes came back (a version line, or a refusal)
    Silent,    ///< the port opened, but nothing came back within the bound
    NotOpened  ///< the port cannot be opened: the library's open says why
};

/// How long an adapter may take to answer the version query.
constexpr std::chrono::milliseconds kProbeWait{500};

/// Opens `port` raw, writes the SLCAN version query ("V"), which every SLCAN
/// adapter answers (with its version, or a bell when it does not know the
/// command), and waits at most kProbeWait for any byte. Closes the port again.
ProbeResult probeAdapter(const std::string& port);

}  // namespace kinetra::cli
