#pragma once
// The configuration document's text from a driver's gathered settings. Pure:
// no I/O, the same settings always give the same bytes.

#include "config/driver_configuration.h"

#include <string>

namespace kinetra::config {

/// The document: one model object with its members in ascending name order,
/// indented by 4, no line end after the closing brace. Floats are widened to
/// double and written in their shortest round-trip form, non-finite ones as
/// null. Bytes of the firmware commit that are not UTF-8 are written as U+FFFD
/// and the rest of the text stays exact, so a device with a garbled commit can
/// still be backed up (the commit is informational; importing ignores it).
std::string configurationDocument(const DriverConfiguration& settings);

/// "a-b.c-d" from the four hardware version numbers.
std::string hardwareVersionText(const std::array<unsigned char, 4>& version);

/// "major.minor.patch".
std::string firmwareVersionText(unsigned char major, unsigned char minor, unsigned short patch);

}  // namespace kinetra::config
