#pragma once
/// @file config_result.h
/// What a configuration import or export ended with, naming the member or the
/// operation that failed and why, next to the plain results of
/// `Driver::importConfiguration(std::string)` and `Driver::exportConfiguration()`.

#include <kinetra/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kinetra {

/// Why a configuration import or export did not complete.
enum class ConfigFailure : uint8_t {
    None,         ///< it completed
    NotJson,      ///< the text is not a usable JSON document (nothing sent)
    WrongType,    ///< `member` has a value of the wrong type (nothing sent)
    DoesNotFit,   ///< `member`'s value does not fit its field (nothing sent)
    WriteFailed,  ///< the driver operation `operation` failed with `status`
    ReadFailed,   ///< the driver read `operation` failed with `status`
    Cancelled,    ///< the import stopped through its cancel flag (`groups_written` were sent)
};

/// Options of the import and export overloads.
struct ConfigOptions {
    /// Whether the import writes the parsed document to the message sink, as
    /// the plain import does.
    bool print_document = true;
    /// When set and true, the import sends no further group: the groups already
    /// written stay, none is saved on the device.
    const std::atomic<bool>* cancel = nullptr;
};

/// The outcome of a configuration import or export.
struct ConfigResult {
    ConfigFailure reason = ConfigFailure::None;  ///< what failed; None on success
    std::string member;     ///< the document member concerned, when one is
    std::string operation;  ///< the driver operation that failed, when one did
    ret_status_t status = RET_OK;  ///< that operation's status
    std::size_t groups_written = 0;  ///< import: the setting groups sent and accepted
    std::string document;   ///< export: the document text (empty when a read failed)
    /// One English line saying what failed, for example
    /// "motor_encoder_bandwidth: expected a number, got a string"; empty on success.
    std::string text;

    /// Whether the import or export completed.
    bool ok() const { return reason == ConfigFailure::None; }
};

}  // namespace kinetra
