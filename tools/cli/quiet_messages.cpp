#include "cli/quiet_messages.h"

#include <kinetra/message_sink.h>

#include <atomic>
#include <iostream>

namespace kinetra::cli {
namespace {

std::atomic<int> quiet_depth{0};

}  // namespace

void installMessageSink(bool json) {
    std::ostream* const stream = json ? &std::cerr : &std::cout;
    kinetra::setMessageSink([stream](const std::string& line) {
        if (quiet_depth.load() > 0) return;
        *stream << line << std::endl;
    });
}

void removeMessageSink() { kinetra::setMessageSink({}); }

QuietMessages::QuietMessages() { ++quiet_depth; }

QuietMessages::~QuietMessages() { --quiet_depth; }

}  // namespace kinetra::cli
