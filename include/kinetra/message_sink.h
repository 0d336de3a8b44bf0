#pragma once
/// @file message_sink.h
/// Where the lines the library writes for the user go: the adapter's time-out,
/// opening failures, calibration progress, the imported configuration document.
/// Standard output by default, exactly as without a sink; an application (or a
/// tool, or a language binding) may take them instead.

#include <kinetra/export.h>

#include <functional>
#include <string>

namespace kinetra {

/// Receives one line, without its line end. May be called from any thread that
/// runs a library operation, one line at a time.
using MessageSink = std::function<void(const std::string& line)>;

/// Sets the process-wide sink; an empty function restores standard output.
/// Lines reach the sink one at a time; it must not call setMessageSink or
/// writeMessage itself.
KINETRA_API void setMessageSink(MessageSink sink);

/// Writes `line` (without line end) to the current sink.
KINETRA_API void writeMessage(const std::string& line);

}  // namespace kinetra
