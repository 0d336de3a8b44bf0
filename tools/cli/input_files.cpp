#include "cli/input_files.h"

#include "cli/exit_codes.h"

#include "config/config_import_plan.h"
#include "config/config_members.h"
#include "devices/protocol/bootloader_protocol.h"

#include <kinetra/intel_hex.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kinetra::cli {

namespace {
namespace fs = std::filesystem;
namespace bootloader = kinetra::protocol::bootloader;

[[noreturn]] void badFile(const std::string& argument, const std::string& path, const std::string& problem) {
    throw CliError(kExitBadFile, argument + " " + path + ": " + problem);
}

std::string hexAddress(uint32_t address) {
    std::ostringstream text;
    text << "0x" << std::hex << std::uppercase << address;
    return text.str();
}
}  // namespace

std::string readTextFile(const std::string& path, const std::string& argument) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status)) badFile(argument, path, "no such file");
    if (fs::is_directory(status)) badFile(argument, path, "is a directory, expected a file");
    std::ifstream in(path, std::ios::binary);
    if (!in) badFile(argument, path, std::string("cannot be read (") + std::strerror(errno) + ")");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) badFile(argument, path, "cannot be read");
    if (text.str().empty()) badFile(argument, path, "is empty");
    return text.str();
}

FirmwareFile checkFirmwareFile(const std::string& path, const std::string& argument) {
    const std::string text = readTextFile(path, argument);
    intelhex::hex_data image;
    std::istringstream in(text);
    image.read(in);
    if (image.stopReason() != intelhex::read_stop_t::EndOfFileRecord) {
        // The reader names the line and what is wrong there, as the update would.
        badFile(argument, path,
                "not an Intel HEX image that can be flashed (" + image.stopDescription() +
                    "); expected records of types 00 to 05 up to an end-of-file record");
    }
    if (image.size() == 0) badFile(argument, path, "holds no data; expected an Intel HEX firmware image");
    FirmwareFile file;
    file.bytes = image.size();
    file.blocks = image.blocks.size();
    file.lowest = image.blocks.begin()->first;
    const auto& last = *image.blocks.rbegin();
    file.highest = last.first + static_cast<uint32_t>(last.second.size());
    if (file.lowest < bootloader::kFlashBase || file.highest > bootloader::kErasedEnd) {
        badFile(argument, path,
                "data from " + hexAddress(file.lowest) + " to " + hexAddress(file.highest) +
                    " lies outside the flash the update erases (" + hexAddress(bootloader::kFlashBase) + " to " +
                    hexAddress(bootloader::kErasedEnd) + ")");
    }
    return file;
}

nlohmann::json checkConfigurationText(const std::string& text, const std::string& where) {
    const std::string expected = "; expected the JSON document that 'kinetra config export' writes";
    nlohmann::json document;
    try {
        document = kinetra::config::parseConfigurationDocument(text);
    } catch (const std::exception&) {
        throw CliError(kExitBadFile, where + ": not valid JSON" + expected);
    }
    const char* model = kinetra::config::kModelName;
    if (!document.is_object() || !document.contains(model) || !document[model].is_object()) {
        throw CliError(kExitBadFile, where + ": no \"" + std::string(model) + "\" object" + expected);
    }
    try {
        kinetra::config::planConfigurationImport(document);
    } catch (const nlohmann::json::out_of_range& error) {
        throw CliError(kExitBadFile, where + ": a value does not fit its field (" + error.what() + ")" + expected);
    } catch (const std::exception& error) {
        throw CliError(kExitBadFile, where + ": a member has the wrong type (" + error.what() + ")" + expected);
    }
    return document;
}

nlohmann::json checkConfigurationFile(const std::string& path, const std::string& argument) {
    return checkConfigurationText(readTextFile(path, argument), argument + " " + path);
}

void checkWritablePath(const std::string& path, const std::string& argument) {
    if (path.empty()) badFile(argument, path, "empty file name");
    std::error_code error;
    if (fs::is_directory(path, error)) badFile(argument, path, "is a directory, expected a file name");
    fs::path directory = fs::path(path).parent_path();
    if (directory.empty()) directory = ".";
    if (!fs::is_directory(directory, error)) badFile(argument, path, "its directory does not exist");
    if (::access(directory.string().c_str(), W_OK) != 0) badFile(argument, path, "its directory is not writable");
}

void writeTextFile(const std::string& path, const std::string& text, const std::string& argument) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) badFile(argument, path, std::string("cannot be written (") + std::strerror(errno) + ")");
}

}  // namespace kinetra::cli
