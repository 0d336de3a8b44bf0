#pragma once
/// @file console.h
/// Fault injection by text command, for the kinetra-sim program's console and
/// command line (and for scripts driving a simulator).

#include <string>
#include <string_view>

namespace kinetra::sim {

class Simulator;

/// The commands runConsoleCommand() understands, one per line.
std::string consoleHelp();

/// Runs one command, e.g. "heartbeats 2 off", "drop 1 0.5", "delay 1 250 0x03",
/// "wrongid 1 0x04", "reboot 3 1500", "garbage 20", "unplug", "status", and
/// returns the text to show. Numbers may be decimal or 0x-prefixed hexadecimal.
/// Throws std::invalid_argument with an explanation for anything else.
std::string runConsoleCommand(Simulator& sim, std::string_view line);

}  // namespace kinetra::sim
