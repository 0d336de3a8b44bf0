#include "procedure_runner.h"

#include <thread>
#include <utility>

namespace kinetra::python {

ProcedureRunner::ProcedureRunner(py::object cancel) : cancel_event_(std::move(cancel)) {
    if (!cancel_event_.is_none() && !py::hasattr(cancel_event_, "is_set")) {
        throw py::type_error("cancel must be None or an object with is_set(), such as threading.Event");
    }
}

ProcedureClock* ProcedureRunner::clock(ProcedureClock* chosen) { return chosen != nullptr ? chosen : &pausing_; }

void ProcedureRunner::PausingClock::sleepFor(clock::duration duration) {
    std::unique_lock<std::mutex> lock(runner_.mutex_);
    runner_.wake_.wait_for(lock, duration, [this] { return runner_.cancel_.load(); });
}

void ProcedureRunner::cancel() {
    {
        // Under the mutex, so a pause between its check and its wait still hears it.
        std::lock_guard<std::mutex> lock(mutex_);
        cancel_ = true;
    }
    wake_.notify_all();
}

void ProcedureRunner::post(int series, bool mergeable, std::function<void()> call) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (mergeable && !queue_.empty() && queue_.back().mergeable && queue_.back().series == series) {
            queue_.back().call = std::move(call);
        } else {
            queue_.push_back({series, mergeable, std::move(call)});
        }
    }
    wake_.notify_all();
}

void ProcedureRunner::deliver(std::deque<Pending>& batch) {
    for (Pending& pending : batch) {
        if (raised_) break;  // a callback that raised hears nothing more
        try {
            pending.call();
        } catch (...) {
            raised_ = std::current_exception();
            cancel();
        }
    }
    batch.clear();
}

void ProcedureRunner::watch() {
    if (!raised_ && PyErr_CheckSignals() != 0) {
        raised_ = std::make_exception_ptr(py::error_already_set());
        cancel();
    }
    if (by_event_ || cancel_event_.is_none()) return;
    try {
        if (py::bool_(cancel_event_.attr("is_set")())) {
            by_event_ = true;
            cancel();
        }
    } catch (...) {
        if (!raised_) raised_ = std::current_exception();
        by_event_ = true;  // asked once
        cancel();
    }
}

void ProcedureRunner::run(const std::function<void()>& work) {
    std::exception_ptr thrown;
    std::deque<Pending> batch;
    watch();  // an event set before the start stops the run at its first check
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            thrown = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
    });
    for (bool finished = false; !finished;) {
        {
            py::gil_scoped_release release;
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, kSlice, [this] { return done_ || !queue_.empty(); });
            batch.swap(queue_);
            finished = done_;
        }
        deliver(batch);
        watch();
    }
    {
        py::gil_scoped_release release;
        worker.join();
    }
    // Reports the work queued after the last look, then the outcome.
    batch.swap(queue_);
    deliver(batch);
    if (raised_) std::rethrow_exception(raised_);
    if (thrown) std::rethrow_exception(thrown);
}

}  // namespace kinetra::python
