// Driver's configuration operations live with the configuration code, which
// builds on the proxy rather than the other way round.
#include <kinetra/driver.h>
#include <kinetra/procedure_clock.h>

#include "config/config_export.h"
#include "config/config_import.h"

#include "interface/log_sink.h"

std::string Driver::exportConfiguration() { return kinetra::config::exportDriverConfiguration(*this); }

unsigned char Driver::importConfiguration(std::string config) {
    kinetra::MessageStream out;
    return kinetra::config::importDriverConfiguration(*this, config, out, kinetra::systemProcedureClock());
}

kinetra::ConfigResult Driver::importConfiguration(const std::string& config, const kinetra::ConfigOptions& options) {
    kinetra::MessageStream out;
    return kinetra::config::importDriverConfigurationResult(*this, config, options, out,
                                                             kinetra::systemProcedureClock());
}

kinetra::ConfigResult Driver::exportConfiguration(const kinetra::ConfigOptions&) {
    return kinetra::config::exportDriverConfigurationResult(*this);
}
