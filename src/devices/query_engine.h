#pragma once
// The request/response engine shared by every device proxy: one pending-query
// slot, a bounded wait for the reply, and the typed values decoded from it.
//
// The querying thread arms the slot, sends, and waits in parseData(); the receive
// thread decodes a matching reply in getDataCallback() and wakes it. A reply that
// arrives for no pending query, or for another command, is dropped, so a late
// reply never leaks into the next query.

#include <kinetra/can_frame.h>
#include <kinetra/types.h>

#include "devices/protocol/payload.h"
#include "devices/protocol/reply_layout.h"
#include "interface/log_sink.h"

#include <boost/variant.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace kinetra {

/// Which decoded values a proxy class writes to its log.
enum class ValueLogging { All, FlagsOnly };

template <typename Value>
class QueryEngine {
public:
    /// The reply wait of a normal query and of a query during a firmware update.
    static constexpr std::chrono::milliseconds kReplyTimeout{200};
    static constexpr std::chrono::milliseconds kFlashReplyTimeout{20000};

    QueryEngine(LogSink& log, ValueLogging logging) : log_(log), logging_(logging) { values.reserve(8); }

    /// Opens the slot for `command`, dropping anything left from an earlier query.
    void arm(int command) {
        std::lock_guard<std::mutex> lock(data_mutex);
        values.clear();
        read_index = 0;
        bit_offset = 0;
        data_received = false;
        pending_command_id = command;
        request_pending = true;
    }

    /// Closes the slot; a reply arriving later is dropped.
    void disarm() {
        std::lock_guard<std::mutex> lock(data_mutex);
        pending_command_id = -1;
        request_pending = false;
    }

    /// Waits for the armed query's reply and hands out its first values, one per
    /// out-parameter. RET_TIMEOUT leaves the out-parameters untouched.
    template <typename... T>
    ret_status_t parseData(int /*command*/, T*... out) {
        const auto timeout = flash_mode.load() ? kFlashReplyTimeout : kReplyTimeout;
        return collect(std::chrono::steady_clock::now() + timeout, out...);
    }

    /// Waits until `deadline` for the armed query's reply and hands out its first
    /// values, as parseData() does; the slot stays armed.
    template <typename... T>
    ret_status_t collect(std::chrono::steady_clock::time_point deadline, T*... out) {
        std::unique_lock<std::mutex> lock(data_mutex);
        if (!data_cv.wait_until(lock, deadline, [this] { return data_received; })) return RET_TIMEOUT;
        // The layouts are checked against the out-parameter types at compile time,
        // but a reply can still carry fewer values than asked for if the handler
        // and the getter ever disagree: never read past what was decoded.
        if (values.size() < sizeof...(T)) return RET_TIMEOUT;
        read_index = 0;
        (handOut(out), ...);
        read_index = 0;
        values.clear();
        data_received = false;
        return RET_OK;
    }

    /// Decodes `frame` by `layout` if it answers the pending query for `command`.
    void getDataCallback(const can_frame_data& frame, int command, const protocol::ReplyLayout& layout) {
        {
            std::lock_guard<std::mutex> lock(data_mutex);
            if (!request_pending || pending_command_id != command) return;
            values.clear();
            const uint64_t word = protocol::payloadWord(frame);
            for (std::size_t i = 0; i < layout.count; ++i) {
                bit_offset += decodeValue(frame, word, layout.kinds[i]);
            }
            bit_offset = 0;
            log_.line("setting new data received as true");
            data_received = true;
        }
        data_cv.notify_all();
    }

    /// Set while a firmware update runs: the reply wait becomes 20 s.
    std::atomic<bool> flash_mode{false};

private:
    template <typename T>
    void handOut(T* out) {
        *out = boost::get<T>(values[read_index]);
        ++read_index;
    }

    template <typename T>
    void push(T value) {
        if (logging_ == ValueLogging::All || std::is_same_v<T, bool>) {
            if constexpr (std::is_same_v<T, unsigned char>) {
                log_.line("Pushed back data ", static_cast<unsigned>(value));
            } else {
                log_.line("Pushed back data ", value);
            }
        }
        values.emplace_back(value);
    }

    // Returns the payload bits the value occupies.
    int decodeValue(const can_frame_data& frame, uint64_t word, protocol::ValueKind kind) {
        using protocol::ValueKind;
        const unsigned offset = static_cast<unsigned>(bit_offset);
        const uint64_t bits = offset < 64 ? word >> offset : 0;
        switch (kind) {
            case ValueKind::U8: push(protocol::fromBits<unsigned char>(bits)); break;
            case ValueKind::U16: push(protocol::fromBits<unsigned short>(bits)); break;
            case ValueKind::I16: push(protocol::fromBits<short>(bits)); break;
            case ValueKind::I32: push(protocol::fromBits<int>(bits)); break;
            case ValueKind::U32: push(protocol::fromBits<unsigned int>(bits)); break;
            case ValueKind::U64: push(protocol::fromBits<unsigned long long>(bits)); break;
            case ValueKind::F32: push(protocol::fromBits<float>(bits)); break;
            case ValueKind::Bool: push(protocol::fromBits<bool>(bits)); break;
            case ValueKind::Text: pushText(frame); break;
        }
        return static_cast<int>(protocol::bitWidth(kind));
    }

    void pushText(const can_frame_data& frame) {
        if constexpr (std::is_constructible_v<Value, std::string>) {
            std::string text = protocol::textFromFrame(frame);
            log_.line("Pushed back string data: ", text);
            values.emplace_back(std::move(text));
        }
    }

    LogSink& log_;
    const ValueLogging logging_;

    std::mutex data_mutex;
    std::condition_variable data_cv;
    std::atomic<bool> request_pending{false};
    std::atomic<int> pending_command_id{-1};
    bool data_received = false;
    std::vector<Value> values;
    int bit_offset = 0;
    std::size_t read_index = 0;
};

/// The reply values of the motor controllers.
using reply_value = boost::variant<short, int, long long, float, bool, unsigned char, unsigned short,
                                   unsigned int, unsigned long long>;
/// The reply values of the IMU and the encoder, whose replies can carry text.
using reply_value_with_text = boost::variant<short, int, long long, float, bool, unsigned char, unsigned short,
                                             unsigned int, unsigned long long, std::string>;

}  // namespace kinetra
