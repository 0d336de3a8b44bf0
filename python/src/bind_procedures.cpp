// The long procedures' companions: progress records, what a procedure reports
// when it stops, the calibration's result, clocks and the cancel flag.

#include <kinetra/config_result.h>
#include <kinetra/flash_options.h>
#include <kinetra/offaxis_calibration.h>
#include <kinetra_sim/manual_clock.h>

#include <pybind11/stl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bindings.h"
#include "procedure_clocks.h"
#include "procedures.h"

namespace kinetra::python {
namespace {

using sim::ManualClock;

std::vector<double> inSeconds(const std::vector<ProcedureClock::clock::duration>& durations) {
    std::vector<double> out;
    out.reserve(durations.size());
    for (const auto& d : durations) out.push_back(std::chrono::duration<double>(d).count());
    return out;
}

}  // namespace

std::string flashResultText(const FlashResult& result) {
    if (result.reason == FlashFailure::None) return "firmware update succeeded";
    std::string text = "firmware update failed: " + result.text;
    text += result.in_bootloader ? "; the device waits in its bootloader (flash again with already_in_dfu=True)"
                                 : "; the device is not known to wait in its bootloader";
    return text;
}

void bindProcedures(py::module_& m) {
    py::class_<CancelFlag>(m, "CancelFlag", "Set from any thread to cancel a running update or calibration.")
        .def(py::init<>())
        .def("set", &CancelFlag::set, "Asks the run to stop at its next check.")
        .def("clear", &CancelFlag::clear, "Clears the flag for the next run.")
        .def("is_set", &CancelFlag::isSet, "Whether the flag is set.");

    py::class_<ProcedureClock, PythonProcedureClock>(
        m, "ProcedureClock",
        "The time of a long procedure. Subclass it and define now() (seconds), sleep_for(seconds), and "
        "optionally reply_wait(bound) (how long a reply wait bounded by `bound` seconds really blocks) and "
        "reply_wait_expired(bound); they are called on the procedure's thread with the GIL taken. Call "
        "ProcedureClock.__init__ from your __init__.")
        .def(py::init<>());

    py::class_<ManualClock, ProcedureClock>(
        m, "ManualClock",
        "A clock whose time moves only with the procedure's pauses and expired reply waits: an update's "
        "seconds of pauses pass at once. A reply wait really blocks `reply_wait` seconds at most.")
        .def(py::init([](double reply_wait) {
                 if (!(reply_wait > 0.0)) throw py::value_error("reply_wait must be positive");
                 return new ManualClock(std::chrono::duration_cast<ProcedureClock::clock::duration>(
                     std::chrono::duration<double>(reply_wait)));
             }),
             py::arg("reply_wait") = 2.0)
        .def(
            "time", [](ManualClock& self) { return std::chrono::duration<double>(self.now().time_since_epoch()).count(); },
            "The clock's time in seconds, from 0.")
        .def(
            "advance",
            [](ManualClock& self, double seconds) {
                self.advance(std::chrono::duration_cast<ProcedureClock::clock::duration>(
                    std::chrono::duration<double>(seconds)));
            },
            py::arg("seconds"), "Moves the time on.")
        .def(
            "sleeps", [](const ManualClock& self) { return inSeconds(self.sleeps()); },
            "Every pause taken, in seconds, in order.")
        .def(
            "expired_waits", [](const ManualClock& self) { return inSeconds(self.expiredWaits()); },
            "The bounds of the reply waits that ended without a reply, in seconds.");

    py::class_<FlashProgress>(m, "FlashProgress", "One progress report of a firmware update.")
        .def_readonly("stage", &FlashProgress::stage)
        .def_readonly("done", &FlashProgress::done)
        .def_readonly("total", &FlashProgress::total)
        .def("__repr__", [](const FlashProgress& p) {
            return "FlashProgress(" + std::string(py::str(py::cast(p.stage))) + ", " + std::to_string(p.done) + "/" +
                   std::to_string(p.total) + ")";
        });

    py::enum_<FlashStep>(m, "FlashStep", "The step of a firmware update at which it stopped.")
        .value("None_", FlashStep::None)
        .value("Checks", FlashStep::Checks)
        .value("File", FlashStep::File)
        .value("Entering", FlashStep::Entering)
        .value("Synchronise", FlashStep::Synchronise)
        .value("SpeedChange", FlashStep::SpeedChange)
        .value("Erase", FlashStep::Erase)
        .value("Write", FlashStep::Write)
        .value("Verify", FlashStep::Verify)
        .value("Go", FlashStep::Go);
    py::enum_<FlashFailure>(m, "FlashFailure", "Why a firmware update stopped.")
        .value("None_", FlashFailure::None)
        .value("Refused", FlashFailure::Refused)
        .value("NoReply", FlashFailure::NoReply)
        .value("FileProblem", FlashFailure::FileProblem)
        .value("Cancelled", FlashFailure::Cancelled)
        .value("AdapterLost", FlashFailure::AdapterLost)
        .value("NotRunning", FlashFailure::NotRunning)
        .value("NodeAbsent", FlashFailure::NodeAbsent)
        .value("Differs", FlashFailure::Differs);
    py::class_<FlashResult>(m, "FlashResult", "Where and why a firmware update stopped; a FlashError's `result`.")
        .def_readonly("step", &FlashResult::step)
        .def_readonly("reason", &FlashResult::reason)
        .def_readonly("sector", &FlashResult::sector)
        .def_readonly("address", &FlashResult::address)
        .def_readonly("reply_byte", &FlashResult::reply_byte)
        .def_readonly("file_line", &FlashResult::file_line)
        .def_readonly("in_bootloader", &FlashResult::in_bootloader)
        .def_readonly("text", &FlashResult::text)
        .def("__str__", &flashResultText);

    py::enum_<ConfigFailure>(m, "ConfigFailure", "Why a configuration import or export did not complete.")
        .value("None_", ConfigFailure::None)
        .value("NotJson", ConfigFailure::NotJson)
        .value("WrongType", ConfigFailure::WrongType)
        .value("DoesNotFit", ConfigFailure::DoesNotFit)
        .value("WriteFailed", ConfigFailure::WriteFailed)
        .value("ReadFailed", ConfigFailure::ReadFailed)
        .value("Cancelled", ConfigFailure::Cancelled);
    py::class_<CalibrationProgress>(m, "CalibrationProgress", "One progress report of a calibration run.")
        .def_readonly("stage", &CalibrationProgress::stage, "The stage under way.")
        .def_readonly("done", &CalibrationProgress::done, "Samples of the stage taken so far (0 when it begins).")
        .def_readonly("total", &CalibrationProgress::total, "Samples the stage takes (0 for one that takes none).")
        .def("__repr__", [](const CalibrationProgress& p) {
            return "CalibrationProgress(" + std::string(py::str(py::cast(p.stage))) + ", " + std::to_string(p.done) +
                   "/" + std::to_string(p.total) + ")";
        });

    py::class_<OffAxisSamples>(m, "OffAxisSamples", "One measurement's angles, in degrees.")
        .def_readonly("measurement", &OffAxisSamples::measurement)
        .def_readonly("measured", &OffAxisSamples::measured)
        .def_readonly("expected", &OffAxisSamples::expected);

    py::class_<OffAxisError>(m, "OffAxisError", "The error metric of one measurement, in degrees.")
        .def_readonly("half_peak_to_peak", &OffAxisError::half_peak_to_peak)
        .def_readonly("standard_deviation", &OffAxisError::standard_deviation);

    py::enum_<OffAxisFailure>(m, "OffAxisFailure", "Why an off-axis calibration run did not calibrate.")
        .value("NoFailure", OffAxisFailure::None)
        .value("Incompatible", OffAxisFailure::Incompatible)
        .value("Cancelled", OffAxisFailure::Cancelled)
        .value("ReadTimedOut", OffAxisFailure::ReadTimedOut)
        .value("TooSlow", OffAxisFailure::TooSlow)
        .value("TooFast", OffAxisFailure::TooFast)
        .value("ShaftStill", OffAxisFailure::ShaftStill)
        .value("WrongDirection", OffAxisFailure::WrongDirection)
        .value("WrongRate", OffAxisFailure::WrongRate)
        .value("NoWholeTurn", OffAxisFailure::NoWholeTurn);

    py::enum_<OffAxisChipState>(m, "OffAxisChipState", "What the chip holds when a calibration run ends.")
        .value("Unchanged", OffAxisChipState::Unchanged)
        .value("Cleared", OffAxisChipState::Cleared)
        .value("BiasCurrent", OffAxisChipState::BiasCurrent)
        .value("Compensated", OffAxisChipState::Compensated)
        .value("Stored", OffAxisChipState::Stored);

    py::class_<OffAxisCalibrationResult>(m, "OffAxisCalibrationResult", "What a calibration run did and found.")
        .def_readonly("compatible", &OffAxisCalibrationResult::compatible)
        .def_readonly("completed", &OffAxisCalibrationResult::completed)
        .def_readonly("cancelled", &OffAxisCalibrationResult::cancelled)
        .def_readonly("read_timed_out", &OffAxisCalibrationResult::read_timed_out)
        .def_readonly("measurements", &OffAxisCalibrationResult::measurements)
        .def_property_readonly("errors",
                               [](const OffAxisCalibrationResult& r) {
                                   return std::vector<OffAxisError>(r.errors.begin(),
                                                                    r.errors.begin() + std::clamp(r.measurements, 0, 3));
                               })
        .def_readonly("bias_current", &OffAxisCalibrationResult::bias_current)
        .def_readonly("bias_limit_exceeded", &OffAxisCalibrationResult::bias_limit_exceeded)
        .def_readonly("table_computed", &OffAxisCalibrationResult::table_computed)
        .def_readonly("compensation", &OffAxisCalibrationResult::compensation)
        .def_property_readonly("compensation_bytes",
                               [](const OffAxisCalibrationResult& r) {
                                   return py::bytes(reinterpret_cast<const char*>(r.compensation_bytes.data()),
                                                    r.compensation_bytes.size());
                               })
        .def_readonly("table_written", &OffAxisCalibrationResult::table_written)
        .def_readonly("stored", &OffAxisCalibrationResult::stored)
        .def_readonly("calibrated", &OffAxisCalibrationResult::calibrated)
        .def_readonly("failure", &OffAxisCalibrationResult::failure)
        .def_readonly("chip", &OffAxisCalibrationResult::chip)
        .def_readonly("table_entries_written", &OffAxisCalibrationResult::table_entries_written)
        .def_readonly("reason", &OffAxisCalibrationResult::reason);
}

}  // namespace kinetra::python
