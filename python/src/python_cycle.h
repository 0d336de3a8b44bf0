#pragma once
// A control cycle as Python holds it: the C++ ControlCycle, the NumPy arrays it
// writes values into and takes set points from, and references to every bus,
// proxy and user buffer it points at, so none of them goes while it may run.

#include <kinetra/control_cycle.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace kinetra::python {

namespace py = pybind11;

class PythonCycle {
public:
    /// A cycle over `buses`: one bus object or an iterable of them.
    explicit PythonCycle(const py::object& buses);
    ~PythonCycle();
    PythonCycle(const PythonCycle&) = delete;
    PythonCycle& operator=(const PythonCycle&) = delete;

    /// Adds a read of `proxy` (a MotorReading, ImuReading or EncoderReading as
    /// its class takes); its first value lands in values()[index] or, with `out`,
    /// its first len(out) values in `out`. Returns the entry's index.
    std::size_t addRead(const py::object& proxy, const py::object& reading, const py::object& out);
    /// Adds a command to a driver or actuator, sent each run with setpoints()[index].
    std::size_t addCommand(const py::object& proxy, MotorCommand command, float setpoint);
    /// Sends the set points, runs the cycle with the GIL released; true when every
    /// entry is OK; raises when none is.
    bool run();
    /// One float32 slot per entry, the memory the cycle writes reads' first values into.
    py::array_t<float> values() const;
    /// One float32 slot per entry, the set points commands send.
    py::array_t<float> setpoints() const;
    /// Every entry's status in the last run.
    py::tuple statuses() const;
    /// The number of entries.
    std::size_t size() const;
    /// The buses the cycle was made with.
    py::tuple buses() const { return py::tuple(buses_); }

private:
    struct Entry;
    std::size_t append(Entry entry);
    void checkIdle(const char* operation) const;
    void checkBus(const py::object& proxy, const char* operation) const;
    void rebuild();

    py::list buses_;
    std::vector<Entry> entries_;
    std::vector<std::size_t> commands_;  // entries that send a set point
    py::array_t<float> values_;          // capacity >= entries: grows by doubling
    py::array_t<float> setpoints_;
    std::unique_ptr<ControlCycle> cycle_;  // rebuilt at the run after an add
    std::unique_ptr<ControlCycle> probe_;  // every entry too, never run: the library's checks at add
    bool running_ = false;
};

}  // namespace kinetra::python
