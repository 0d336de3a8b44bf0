#pragma once
// How a failure reads: the cause only, without where in the library's sources
// it was raised, and, under --json, also as a document a script can read.

#include "cli/exit_codes.h"

#include <nlohmann/json.hpp>

#include <exception>
#include <string>

namespace kinetra::cli {

/// The message of `error` without the ", file <path>, line <n>." that the serial
/// layer's exceptions append, and without their "IO Exception: " prefix.
std::string causeOf(const std::exception& error);
/// The same for a message text.
std::string withoutSourcePlace(std::string message);

/// The error document a --json run that fails prints on standard output:
/// {"error": message, "exit_code": code}.
nlohmann::json errorDocument(ExitCode code, const std::string& message);

}  // namespace kinetra::cli
