#include "cli/error_text.h"

namespace kinetra::cli {

std::string withoutSourcePlace(std::string message) {
    // The serial layer's IOException reads "IO Exception: <cause>, file <path>, line <n>.".
    const std::string prefix = "IO Exception: ";
    if (message.compare(0, prefix.size(), prefix) == 0) message.erase(0, prefix.size());
    const std::size_t place = message.rfind(", file ");
    if (place != std::string::npos && message.find(", line ", place) != std::string::npos) message.erase(place);
    // "<cause>: <errno>": the number adds nothing to the words.
    const std::size_t colon = message.rfind(": ");
    if (colon != std::string::npos && colon + 2 < message.size() &&
        message.find_first_not_of("0123456789", colon + 2) == std::string::npos) {
        message.erase(colon);
    }
    return message;
}

std::string causeOf(const std::exception& error) { return withoutSourcePlace(error.what()); }

nlohmann::json errorDocument(ExitCode code, const std::string& message) {
    return {{"error", message}, {"exit_code", code}};
}

}  // namespace kinetra::cli
