#pragma once
// A log sink that writes whole lines under one lock, so the receive thread, the
// heartbeat thread and application threads never interleave characters, and that
// skips all formatting while it points at a discarding stream (the default), so
// logging on the per-frame path costs nothing when nobody listens. Below it, the
// stream through which procedures write their user-facing lines to the message
// sink.

#include <kinetra/can_frame.h>
#include <kinetra/message_sink.h>

#include <atomic>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>

namespace kinetra {

class LogSink {
public:
    /// Starts with `stream`, or discards when it is null or a NullStream.
    explicit LogSink(std::ostream* stream = nullptr) { setStream(stream); }

    /// Replaces the stream; the caller keeps it alive while it is in use.
    void setStream(std::ostream* stream) {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool discarding = stream == nullptr || dynamic_cast<NullStream*>(stream) != nullptr;
        stream_ = discarding ? nullptr : stream;
        enabled_.store(!discarding, std::memory_order_release);
    }

    /// Whether anything written would reach a real stream.
    bool enabled() const { return enabled_.load(std::memory_order_acquire); }

    /// Writes the parts followed by std::endl as one line.
    template <typename... Parts>
    void line(const Parts&... parts) {
        if (!enabled()) return;
        std::lock_guard<std::mutex> lock(mutex_);
        if (stream_ == nullptr) return;
        ((*stream_ << parts), ...);
        *stream_ << std::endl;
    }

private:
    std::mutex mutex_;
    std::ostream* stream_ = nullptr;
    std::atomic<bool> enabled_{false};
};

}  // namespace kinetra

namespace kinetra {

/// A stream for the procedures that write user-facing lines: each completed line
/// goes to the process-wide message sink (standard output by default).
class MessageStream : public std::ostream {
public:
    MessageStream() : std::ostream(&buffer_) {}
    ~MessageStream() override { buffer_.finish(); }
    MessageStream(const MessageStream&) = delete;
    MessageStream& operator=(const MessageStream&) = delete;

private:
    class LineBuffer : public std::streambuf {
    public:
        /// Hands on a last line that was never ended.
        void finish() {
            if (!line_.empty()) emit();
        }

    protected:
        int_type overflow(int_type c) override {
            if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
            if (traits_type::to_char_type(c) == '\n') {
                emit();
            } else {
                line_.push_back(traits_type::to_char_type(c));
            }
            return c;
        }

    private:
        void emit() {
            writeMessage(line_);
            line_.clear();
        }
        std::string line_;
    };
    LineBuffer buffer_;
};

}  // namespace kinetra
