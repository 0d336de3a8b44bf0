#include "config/config_import.h"

#include "config/config_import_plan.h"
#include "config/config_members.h"

namespace kinetra::config {

unsigned char importDriverConfiguration(Driver& driver, const std::string& text, std::ostream& out,
                                        ProcedureClock& clock) {
    const nlohmann::json document = parseConfigurationDocument(text);
    out << document.dump(kDocumentIndent) << std::endl;
    // Planned in full before the first frame, so a bad member stops the import
    // with the driver untouched.
    const std::vector<ConfigWrite> writes = planConfigurationImport(document);
    for (const ConfigWrite& write : writes) {
        const ret_status_t status = write.apply(driver);
        clock.sleepFor(kGroupPause);
        if (status != RET_OK) return 0;
    }
    return 1;
}

}  // namespace kinetra::config
