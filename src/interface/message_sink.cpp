#include <kinetra/message_sink.h>

#include <iostream>
#include <memory>
#include <mutex>

namespace kinetra {
namespace {

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

// Held while a sink runs, so that it receives one line at a time whichever
// threads write; apart from sinkMutex so that a slow sink does not hold up
// setMessageSink.
std::mutex& callMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<const MessageSink>& currentSink() {
    static std::shared_ptr<const MessageSink> sink;
    return sink;
}

}  // namespace

void setMessageSink(MessageSink sink) {
    auto next = sink ? std::make_shared<const MessageSink>(std::move(sink)) : nullptr;
    std::lock_guard<std::mutex> lock(sinkMutex());
    currentSink() = std::move(next);
}

void writeMessage(const std::string& line) {
    std::shared_ptr<const MessageSink> sink;
    {
        std::lock_guard<std::mutex> lock(sinkMutex());
        sink = currentSink();
    }
    if (sink) {
        std::lock_guard<std::mutex> lock(callMutex());
        (*sink)(line);
        return;
    }
    // The default: the line and std::endl on standard output, as always.
    std::lock_guard<std::mutex> lock(sinkMutex());
    std::cout << line << std::endl;
}

}  // namespace kinetra
