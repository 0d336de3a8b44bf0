#include "cli/quiet_messages.h"

#include <kinetra/message_sink.h>

#include <atomic>
#include <iostream>

namespace kinetra::cli {
namespace {

std::atomic<int> quiet_depth{0};
std::atomic<bool> installed{false};

}  // namespace

void installMessageSink(bool json) {
    installed = true;
    std::ostream* const stream = json ? &std::cerr : &std::cout;
    kinetra::setMessageSink([stream](const std::string& line) {
        if (quiet_depth.load() > 0) return;
        *stream << line << std::endl;
    });
}

void removeMessageSink() {
    installed = false;
    kinetra::setMessageSink({});
}

QuietMessages::QuietMessages() {
    // Where no output installed the tool's sink (a part of the tool that runs
    // without one), the same sink on standard output does.
    if (!installed.load()) installMessageSink(false);
    ++quiet_depth;
}

QuietMessages::~QuietMessages() { --quiet_depth; }

}  // namespace kinetra::cli
