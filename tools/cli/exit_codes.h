#pragma once
// The tool's exit codes and the error that carries one up to main().

#include <stdexcept>
#include <string>

namespace kinetra::cli {

using ExitCode = int;
constexpr ExitCode kExitOk = 0;
constexpr ExitCode kExitDevice = 1;       ///< a device or the adapter failed or did not answer
constexpr ExitCode kExitUsage = 2;        ///< bad subcommand, option or argument
constexpr ExitCode kExitNoAdapter = 3;    ///< no port to use, or it could not be opened
constexpr ExitCode kExitBadFile = 4;      ///< a file is missing, empty, unreadable or of the wrong format
constexpr ExitCode kExitInterrupted = 130;

/// A failure to report as one line on standard error, ending the tool with `code`.
class CliError : public std::runtime_error {
public:
    CliError(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
    ExitCode code() const { return code_; }

private:
    ExitCode code_;
};

}  // namespace kinetra::cli
