#pragma once
// Importing a configuration document into a driver: the planned writes go out
// one group at a time with a pause after each, so the driver can take them in.

#include <kinetra/config_result.h>
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

/// The same import, reporting instead of throwing: the refused member and why,
/// or the write that failed with its status. The document is printed only when
/// `options.print_document`.
ConfigResult importDriverConfigurationResult(Driver& driver, const std::string& text, const ConfigOptions& options,
                                             std::ostream& out, ProcedureClock& clock);

/// "motor_pole_pairs: expected a number, got a string" from the JSON library's
/// type error text of a member ("motor_pole_pairs: type must be number, but is
/// string"); other texts are returned as they are.
std::string typeErrorLine(const std::string& what);

}  // namespace kinetra::config
