#pragma once
// Firmware updates and off-axis calibrations from Python: their options built
// from keyword arguments, progress reported with the GIL taken, and a Python
// exception raised in a callback cancelling the run and raised again after it.

#include <kinetra/flash_options.h>
#include <kinetra/offaxis_calibration.h>
#include <kinetra/procedure_clock.h>
#include <kinetra/types.h>

#include <pybind11/pybind11.h>

#include <atomic>
#include <functional>
#include <string>

namespace kinetra::python {

namespace py = pybind11;

/// A flag another Python thread sets to cancel a running update or calibration.
class CancelFlag {
public:
    void set() { flag_ = true; }
    void clear() { flag_ = false; }
    bool isSet() const { return flag_.load(); }
    const std::atomic<bool>* atomic() const { return &flag_; }
    std::atomic<bool>* atomic() { return &flag_; }

private:
    std::atomic<bool> flag_{false};
};

/// One line saying where and why an update stopped and what the device runs.
std::string flashResultText(const FlashResult& result);

/// Runs `procedure` with `options` built from the Python arguments, the GIL
/// released; raises what a progress callback raised. A failure is logged to the
/// logger "kinetra" and, when `result` is given, described there.
ret_status_t runFlash(const std::function<ret_status_t(const FlashOptions&)>& procedure, py::object progress,
                      bool verify, ProcedureClock* clock, CancelFlag* cancel, FlashResult* result);

/// The same for an off-axis calibration.
OffAxisCalibrationResult runCalibration(
    const std::function<OffAxisCalibrationResult(const OffAxisCalibrationOptions&)>& procedure, py::object progress,
    py::object samples, ProcedureClock* clock, CancelFlag* cancel, double read_timeout);

/// Adds `flash(path, already_in_dfu=False, progress=None, verify=False,
/// clock=None, cancel=None, result=None)` to a Driver or Actuator class.
template <typename Proxy>
void addFlash(py::class_<Proxy>& cls) {
    cls.def(
        "flash",
        [](Proxy& self, const std::string& path, bool already_in_dfu, py::object progress, bool verify,
           ProcedureClock* clock, CancelFlag* cancel, FlashResult* result) {
            return runFlash([&](const FlashOptions& options) { return self.flash(path, already_in_dfu, options); },
                            std::move(progress), verify, clock, cancel, result);
        },
        py::arg("path"), py::arg("already_in_dfu") = false, py::arg("progress") = py::none(),
        py::arg("verify") = false, py::arg("clock") = py::none(), py::arg("cancel") = py::none(),
        py::arg("result") = py::none(),
        "Updates the firmware from the Intel HEX file at `path` through the device's CAN bootloader and "
        "returns the status. `progress(FlashProgress)` is called as the update moves on; an exception it "
        "raises cancels the update and is raised again once the update has ended. `verify` reads every "
        "block back; `clock` times the pauses and waits (a ManualClock runs them at once); `cancel` is a "
        "CancelFlag another thread may set; `result`, a FlashResult, receives where and why a failed update "
        "stopped and whether the device waits in its bootloader (a failure is also logged to the logger "
        "\"kinetra\"). The GIL is released while the update runs.");
}

}  // namespace kinetra::python
