#include "config/config_import.h"

#include "config/config_import_plan.h"
#include "config/config_members.h"

#include <stdexcept>

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

namespace {

/// "number" -> "a number", "object" -> "an object", "null" stays.
std::string withArticle(const std::string& kind) {
    if (kind == "null") return kind;
    const bool vowel = !kind.empty() && std::string("aeiou").find(kind[0]) != std::string::npos;
    return (vowel ? "an " : "a ") + kind;
}

/// The text of a JSON library error without its "[json.exception...] " tag.
std::string untagged(const char* what) {
    const std::string text(what);
    const auto end = text.find("] ");
    return end == std::string::npos ? text : text.substr(end + 2);
}

/// The member a refusal's text starts with ("name: ...").
std::string memberOf(const std::string& text) {
    const auto colon = text.find(": ");
    return colon == std::string::npos ? std::string() : text.substr(0, colon);
}

}  // namespace

std::string typeErrorLine(const std::string& what) {
    const std::string member = memberOf(what);
    const std::string must = "type must be ";
    const std::string but = ", but is ";
    const auto at = what.find(must);
    const auto then = what.find(but);
    if (member.empty() || at == std::string::npos || then == std::string::npos || then < at) return what;
    const std::string wanted = what.substr(at + must.size(), then - at - must.size());
    const std::string got = what.substr(then + but.size());
    return member + ": expected " + withArticle(wanted) + ", got " + withArticle(got);
}

ConfigResult importDriverConfigurationResult(Driver& driver, const std::string& text, const ConfigOptions& options,
                                             std::ostream& out, ProcedureClock& clock) {
    ConfigResult result;
    std::vector<ConfigWrite> writes;
    try {
        const nlohmann::json document = parseConfigurationDocument(text);
        if (options.print_document) out << document.dump(kDocumentIndent) << std::endl;
        writes = planConfigurationImport(document);
    } catch (const nlohmann::json::type_error& error) {
        result.reason = ConfigFailure::WrongType;
        result.text = typeErrorLine(untagged(error.what()));
        result.member = memberOf(result.text);
        return result;
    } catch (const nlohmann::json::out_of_range& error) {
        result.reason = ConfigFailure::DoesNotFit;
        result.text = untagged(error.what());
        result.member = memberOf(result.text);
        return result;
    } catch (const std::runtime_error& error) {
        result.reason = ConfigFailure::NotJson;
        result.text = error.what();
        return result;
    }
    for (const ConfigWrite& write : writes) {
        if (options.cancel != nullptr && options.cancel->load()) {
            result.reason = ConfigFailure::Cancelled;
            result.status = RET_NOT_RUNNING;
            result.text = "import stopped on request after " + std::to_string(result.groups_written) + " of " +
                          std::to_string(writes.size()) + " setting groups";
            return result;
        }
        const ret_status_t status = write.apply(driver);
        clock.sleepFor(kGroupPause);
        if (status != RET_OK) {
            result.reason = ConfigFailure::WriteFailed;
            result.operation = write.operation;
            result.status = status;
            result.text = std::string(write.operation) + " failed with status " + std::to_string(status);
            return result;
        }
        ++result.groups_written;
    }
    return result;
}

}  // namespace kinetra::config
