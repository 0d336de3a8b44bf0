#pragma once
// The files a subcommand reads or writes, checked before the port is opened:
// the master heartbeat starts at open, so a bad file must stop the tool first.
// Every failure is CliError(kExitBadFile) naming the argument and what it expects.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace kinetra::cli {

/// What a firmware image holds.
struct FirmwareFile {
    uint64_t bytes = 0;
    std::size_t blocks = 0;
    uint32_t lowest = 0;   ///< first address
    uint32_t highest = 0;  ///< one past the last byte
};

/// Reads the whole file as text. `argument` names it in errors ("FILE").
std::string readTextFile(const std::string& path, const std::string& argument);

/// An Intel HEX image that reads through to its end-of-file record and lies in
/// the flash the update erases. A refused file's error names the line and what
/// is wrong there (an unknown record type, overlapping data, a malformed base
/// record, a cut-off line).
FirmwareFile checkFirmwareFile(const std::string& path, const std::string& argument);

/// Checks a configuration document's text as the import will use it: JSON, the
/// model object, and every member an import writes of the right type. Returns
/// the parsed document.
nlohmann::json checkConfigurationText(const std::string& text, const std::string& where);

/// readTextFile() and checkConfigurationText().
nlohmann::json checkConfigurationFile(const std::string& path, const std::string& argument);

/// A path the tool can create or overwrite: its directory exists and is writable,
/// and it is not a directory itself.
void checkWritablePath(const std::string& path, const std::string& argument);

/// Writes `text` to `path`; CliError(kExitBadFile) when that fails.
void writeTextFile(const std::string& path, const std::string& text, const std::string& argument);

}  // namespace kinetra::cli
