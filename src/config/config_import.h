#pragma once
// Importing a configuration document into a driver: the planned writes go out
// one group at a time with a pause after each, so the driver can take them in.

#include <kinetra/driver.h>
#include <kinetra/procedure_clock.h>

#include <chrono>
#include <ostream>
#include <string>

namespace kinetra::config {

/// The pause after each group's write.
inline constexpr std::chrono::milliseconds kGroupPause{50};

/// Parses `text` (std::runtime_error with the parse error text when it cannot:
/// nothing printed, nothing sent), prints the parsed document to `out`, checks
/// every value the applicable groups use (the JSON library's type_error or
/// out_of_range naming the member when one has the wrong type or does not fit
/// its field: nothing sent), then performs the groups' writes in
/// order, pausing `kGroupPause` on `clock` after each. Returns 0 after the
/// pause of the first write that fails, 1 otherwise. Never saves on the device.
unsigned char importDriverConfiguration(Driver& driver, const std::string& text, std::ostream& out,
                                        ProcedureClock& clock);

}  // namespace kinetra::config
