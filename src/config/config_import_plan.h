#pragma once
// Reading a configuration document into the writes that restore it. Pure: the
// writes are only described here; config_import.h performs them.

#include <kinetra/driver.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <vector>

namespace kinetra::config {

/// What a text that is not a usable document throws, as std::runtime_error.
inline constexpr const char* kParseErrorMessage = "Failed to parse configuration file: invalid JSON format";

/// Containers nested deeper than this are refused like invalid JSON: a real
/// document is two levels deep, and printing a deeper one with indentation
/// grows with the square of its depth (and its recursion with the depth).
inline constexpr int kMaxNesting = 64;

/// Parses `text` strictly (no comments, no trailing commas). Throws
/// std::runtime_error(kParseErrorMessage) for anything it cannot parse.
nlohmann::json parseConfigurationDocument(const std::string& text);

/// One driver operation that an applied group performs.
struct ConfigWrite {
    const char* operation;  ///< the Driver operation's name, for tests and logs
    std::function<ret_status_t(Driver&)> apply;
};

/// The writes of every group whose members are all present (non-null members of
/// the model object), in the order they must go out; the bit rate comes last.
/// Every value those writes use is read and checked here, so that nothing the
/// driver's set operations would refuse is found only after earlier groups went
/// out: a member of the wrong type throws the JSON library's type_error, a
/// value its field cannot carry (a number that is infinite as a single-precision
/// float, an integer outside its field's width) its out_of_range; both messages
/// start with the member's name. A fraction in an integer field is truncated
/// toward zero. A bit rate selector outside the table but within 32 bits is not
/// refused here: its write fails after every other group went out, as restoring
/// the backup of a driver at an unlisted rate needs. Members that no write uses
/// are not looked at.
std::vector<ConfigWrite> planConfigurationImport(const nlohmann::json& document);

}  // namespace kinetra::config
