// The library's user-facing lines (adapter time-out, opening failures,
// calibration progress, the imported document) go to the Python logger
// "kinetra" at level INFO instead of the process's standard output, so that an
// application configures them like any other log. The library may write them on
// its own threads, which must never wait for the GIL (a Python thread holding it
// may be joining them): the sink only queues the line, and a thread of the
// module's own hands it to Python. Before the interpreter finalises, the
// library's default sink is restored and that thread ends.

#include <kinetra/message_sink.h>

#include "bindings.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace kinetra::python {
namespace {

/// The most lines held for Python; a flood beyond it is dropped, not queued.
constexpr std::size_t kMaxQueuedLines = 1000;

class MessageForwarder {
public:
    MessageForwarder() : thread_([this] { run(); }) {}
    /// Normally stopped by the exit handler already; otherwise drops what is
    /// queued (the interpreter is gone) and ends the thread.
    ~MessageForwarder() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.clear();
            stopping_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
    }
    MessageForwarder(const MessageForwarder&) = delete;
    MessageForwarder& operator=(const MessageForwarder&) = delete;

    /// Queues a line; any thread, with or without the GIL.
    void post(const std::string& line) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_ || queue_.size() >= kMaxQueuedLines) return;
            queue_.push_back(line);
        }
        wake_.notify_one();
    }

    /// Hands on what is queued, then ends the thread; called with the GIL held.
    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) {
            py::gil_scoped_release release;
            thread_.join();
        }
    }

    /// Where the lines go: empty for the logger "kinetra". Read and written with
    /// the GIL held; emptied before the interpreter finalises.
    std::optional<py::object> target;

private:
    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            const std::string line = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            deliver(line);
            lock.lock();
        }
    }

    void deliver(const std::string& line) {
        py::gil_scoped_acquire gil;
        try {
            if (!target || target->is_none()) {
                py::module_::import("logging").attr("getLogger")("kinetra").attr("info")(line);
            } else {
                (*target)(line);
            }
        } catch (py::error_already_set& error) {
            // As for an exception in a thread of the threading module: reported, and the thread goes on.
            error.discard_as_unraisable("kinetra message sink");
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace

void bindMessages(py::module_& m) {
    static MessageForwarder forwarder;
    kinetra::setMessageSink([](const std::string& line) { forwarder.post(line); });
    py::module_::import("atexit").attr("register")(py::cpp_function([] {
        kinetra::setMessageSink({});
        forwarder.stop();
        forwarder.target.reset();
    }));
    m.def(
        "set_message_sink",
        [](py::object sink) {
            forwarder.target = sink;
            kinetra::setMessageSink([](const std::string& line) { forwarder.post(line); });
        },
        py::arg("sink"),
        "Sends the library's user-facing lines to `sink(line)` (on a thread of the module's own) instead of "
        "the logger \"kinetra\"; None gives them back to the logger.");
    m.def(
        "restore_standard_output", [] { kinetra::setMessageSink({}); },
        "Gives the library's user-facing lines back to standard output, as printed without the module.");
}

}  // namespace kinetra::python
