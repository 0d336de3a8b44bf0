#pragma once
// The long procedures of the proxies in Python: firmware update, configuration
// export and import, and the off-axis calibrations. Each runs through a
// ProcedureRunner (progress on the calling thread, Ctrl-C and a cancel event
// honoured within a slice), returns its result and raises when it did not
// complete.

#include <kinetra/actuator.h>
#include <kinetra/driver.h>
#include <kinetra/flash_options.h>
#include <kinetra/offaxis_calibration.h>
#include <kinetra/vorlex.h>

#include <pybind11/pybind11.h>

#include <atomic>
#include <string>

namespace kinetra::python {

namespace py = pybind11;

/// A flag any thread sets to cancel a running procedure; what `cancel=`
/// accepts besides threading.Event.
class CancelFlag {
public:
    /// Asks the run to stop at its next check.
    void set() { flag_ = true; }
    /// Clears the flag for the next run.
    void clear() { flag_ = false; }
    /// Whether the flag is set.
    bool isSet() const { return flag_.load(); }

private:
    std::atomic<bool> flag_{false};
};

/// One progress report of a calibration run: the stage that began (`done` 0)
/// or the samples of a measurement taken so far out of `total` (0 for the
/// stages that take no samples).
struct CalibrationProgress {
    OffAxisStage stage = OffAxisStage::Reset;  ///< the stage under way
    unsigned done = 0;                         ///< samples taken so far
    unsigned total = 0;                        ///< samples the stage takes
};

/// One line saying where and why an update stopped and what the device runs.
std::string flashResultText(const FlashResult& result);

/// Adds flash, export_configuration, import_configuration and the off-axis
/// calibration's run and clear to the Driver class.
void addDriverProcedures(py::class_<Driver>& cls);
/// Adds flash to the Actuator class.
void addActuatorProcedures(py::class_<Actuator>& cls);
/// Adds the off-axis calibration's run to the Vorlex class.
void addVorlexProcedures(py::class_<Vorlex>& cls);

}  // namespace kinetra::python
