// The proxies' long procedures: each builds its options from keyword arguments,
// runs through a ProcedureRunner and turns what the library reports into a
// return value or an exception.

#include <kinetra/config_result.h>

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <string_view>

#include "calibration/offaxis_math.h"
#include "errors.h"
#include "operation.h"
#include "procedure_errors.h"
#include "procedure_runner.h"
#include "procedures.h"
#include "proxy_common.h"

namespace kinetra::python {
namespace {

/// The series calibration samples are queued under: no stage's.
constexpr int kSamplesSeries = -1;

void requireCallable(const py::object& callback, const char* name) {
    if (!callback.is_none() && !PyCallable_Check(callback.ptr())) {
        throw py::type_error(std::string(name) + " must be callable or None");
    }
}

/// Raises BusNotRunning for a proxy whose bus was closed, before anything starts.
template <typename Proxy>
void requireOpen(const Proxy& self, std::string_view operation) {
    if (proxyBusClosed(&self)) raiseStatus(RET_NOT_RUNNING, self.getId(), operation, DeviceName<Proxy>::value);
}

void warn(const std::string& line) { py::module_::import("logging").attr("getLogger")("kinetra").attr("warning")(line); }

template <typename Proxy>
void flash(Proxy& self, const std::filesystem::path& path, bool already_in_dfu, bool verify, const py::object& progress,
           py::object cancel, ProcedureClock* clock) {
    requireOpen(self, "flash");
    requireCallable(progress, "progress");
    ProcedureRunner runner(std::move(cancel));
    FlashResult result;
    FlashOptions options;
    options.verify = verify;
    options.clock = runner.clock(clock);
    options.cancel = runner.cancelFlag();
    options.result = &result;
    if (!progress.is_none()) {
        options.progress = [&](const FlashProgress& report) {
            const bool between = report.done != 0 && report.done != report.total;
            runner.post(static_cast<int>(report.stage), between, [&progress, report] { progress(report); });
        };
    }
    const std::string file = path.string();
    ret_status_t status = RET_OK;
    try {
        runner.run([&] { status = self.flash(file, already_in_dfu, options); });
    } catch (const py::error_already_set&) {
        // Interrupted or a callback raised: what the device was left in still
        // matters to whoever restarts the update.
        if (status != RET_OK) warn(flashResultText(result));
        throw;
    }
    if (status == RET_OK) return;
    // Refused before anything was sent: the bus or the node, as for any operation.
    if (result.step == FlashStep::Checks) raiseStatus(status, self.getId(), "flash", DeviceName<Proxy>::value);
    raiseFlash(status, self.getId(), result);
}

template <typename Proxy>
void addFlash(py::class_<Proxy>& cls) {
    cls.def("flash", &flash<Proxy>, py::arg("path"), py::kw_only(), py::arg("already_in_dfu") = false,
            py::arg("verify") = false, py::arg("progress") = py::none(), py::arg("cancel") = py::none(),
            py::arg("clock") = py::none(),
            "flash(self, path: str | os.PathLike[str], *, already_in_dfu: bool = False, verify: bool = False, "
            "progress: Callable[[FlashProgress], None] | None = None, cancel: threading.Event | CancelFlag | None "
            "= None, clock: ProcedureClock | None = None) -> None\n\n"
            "Updates the firmware from the Intel HEX file at `path` through the device's CAN bootloader: at "
            "least 7 s of pauses plus the exchanges. `already_in_dfu` restarts an update on a device that waits "
            "in its bootloader; `verify` reads every written block back. `progress(FlashProgress)` is called on "
            "this thread as the update moves on (reports between a stage's first and last may merge when it is "
            "slow); an exception it raises cancels the update and is raised once the update has ended. Setting "
            "`cancel` or Ctrl-C stops the update at its next step, or within a fraction of a second while it "
            "waits for the bootloader: the adapter returns to 500 kbit/s and the new firmware is not started. `clock` times the pauses and reply waits (a ManualClock passes them at "
            "once). Raises FlashError with the stage, sector or address, reason, the bootloader's reply byte and "
            "whether the device waits in its bootloader; BusNotRunning or NodeNotConnected before anything is "
            "sent.");
}

OffAxisCalibrationResult calibrate(unsigned node, const char* device, std::string_view operation, float speed,
                                   const std::function<OffAxisCalibrationResult(const OffAxisCalibrationOptions&)>& run,
                                   const py::object& progress, const py::object& samples, py::object cancel,
                                   ProcedureClock* clock, double read_timeout) {
    // Refused before anything is sent.
    if (!std::isfinite(speed)) {
        raiseStatus(RET_INVALID_ARGUMENT, node, operation, device, "speed must be a finite number of degrees per second");
    }
    if (!std::isfinite(read_timeout) || !(read_timeout > 0.0)) {
        raiseStatus(RET_INVALID_ARGUMENT, node, operation, device, "read_timeout must be a positive number of seconds");
    }
    requireCallable(progress, "progress");
    requireCallable(samples, "samples");
    ProcedureRunner runner(std::move(cancel));
    OffAxisCalibrationOptions options;
    options.clock = runner.clock(clock);
    options.cancel = runner.cancelFlag();
    options.read_timeout =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::duration<double>(read_timeout));
    // The stage a failure happened in, for the exception; written on the
    // procedure's thread, read once it has ended.
    OffAxisStage stage = OffAxisStage::Reset;
    options.progress = [&](OffAxisStage begun, unsigned sample) {
        if (begun != OffAxisStage::Done) stage = begun;
        if (progress.is_none()) return;
        const bool measuring = begun == OffAxisStage::Measurement1 || begun == OffAxisStage::Measurement2 ||
                               begun == OffAxisStage::Measurement3;
        const CalibrationProgress report{begun, sample, measuring ? calibration::kSamplesPerMeasurement : 0U};
        const bool between = sample != 0 && sample != report.total;
        runner.post(static_cast<int>(begun), between, [&progress, report] { progress(report); });
    };
    if (!samples.is_none()) {
        options.samples = [&](const OffAxisSamples& taken) {
            runner.post(kSamplesSeries, false, [&samples, taken] { samples(taken); });
        };
    }
    OffAxisCalibrationResult result;
    runner.run([&] { result = run(options); });
    if (!result.calibrated) raiseCalibration(result, stage, node, operation);
    return result;
}

constexpr const char* kCalibrationArguments =
    "progress: Callable[[CalibrationProgress], None] | None = None, samples: Callable[[OffAxisSamples], None] | "
    "None = None, cancel: threading.Event | CancelFlag | None = None, clock: ProcedureClock | None = None, "
    "read_timeout: float = 2.0) -> OffAxisCalibrationResult\n\n";

constexpr const char* kCalibrationText =
    "`progress(CalibrationProgress)` is called on this thread when a stage begins and as samples are taken, "
    "`samples(OffAxisSamples)` with each measurement's angles; an exception either raises cancels the run and "
    "is raised once it has ended. Setting `cancel` or Ctrl-C stops the run before its next sample or register "
    "write. `clock` times the pauses and samples; a measurement without a successful read for `read_timeout` "
    "seconds ends the run. Returns the result when the chip was calibrated; raises CalibrationError with its "
    "`failure`, the `chip` state and the `result` otherwise.";

}  // namespace

void addDriverProcedures(py::class_<Driver>& cls) {
    py::options signatures;
    signatures.disable_function_signatures();
    addFlash(cls);
    cls.def(
        "export_configuration",
        [](Driver& self) {
            requireOpen(self, "export_configuration");
            ProcedureRunner runner{py::none()};
            ConfigResult result;
            runner.run([&] { result = self.exportConfiguration(ConfigOptions{}); });
            if (!result.ok()) raiseConfiguration(result, self.getId(), "export_configuration");
            return result.document;
        },
        "export_configuration(self) -> str\n\n"
        "Reads the driver's configuration (19 reads) and returns it as the text of a JSON document. Raises "
        "ConfigurationError naming the read that failed (`failed_operation`) and its status; changes no setting.");
    cls.def(
        "import_configuration",
        [](Driver& self, const std::string& document, bool print_document, py::object cancel) {
            requireOpen(self, "import_configuration");
            ProcedureRunner runner(std::move(cancel));
            ConfigOptions options;
            options.print_document = print_document;
            options.cancel = runner.cancelFlag();
            ConfigResult result;
            runner.run([&] { result = self.importConfiguration(document, options); });
            if (!result.ok()) raiseConfiguration(result, self.getId(), "import_configuration");
        },
        py::arg("document"), py::kw_only(), py::arg("print_document") = false, py::arg("cancel") = py::none(),
        "import_configuration(self, document: str, *, print_document: bool = False, cancel: threading.Event | "
        "CancelFlag | None = None) -> None\n\n"
        "Writes the settings of the JSON configuration `document` into the driver, one group at a time with a "
        "50 ms pause after each (the bit rate last); does not save them on the device. A document that does "
        "not parse, or a member of the wrong type or out of its field's range, raises ConfigurationError "
        "naming the `member` before anything is sent; a failed write raises it naming `failed_operation` "
        "and its status. Setting `cancel` or Ctrl-C sends no further group (the ones written stay). "
        "`print_document` sends the parsed document to the library's message sink.");
    cls.def(
        "clear_maxxx_off_axis_calibration",
        [](Driver& self, bool output, py::object cancel, ProcedureClock* clock) {
            requireOpen(self, "clear_maxxx_off_axis_calibration");
            ProcedureRunner runner(std::move(cancel));
            OffAxisCalibrationOptions options;
            options.clock = runner.clock(clock);
            options.cancel = runner.cancelFlag();
            OffAxisCalibrationResult result;
            runner.run([&] { result = self.clearMAxxxOffAxisCalibration(output, options); });
            if (result.cancelled) {
                raiseCalibration(result, OffAxisStage::Reset, self.getId(), "clear_maxxx_off_axis_calibration");
            }
        },
        py::arg("output"), py::kw_only(), py::arg("cancel") = py::none(), py::arg("clock") = py::none(),
        "clear_maxxx_off_axis_calibration(self, output: bool, *, cancel: threading.Event | CancelFlag | None = "
        "None, clock: ProcedureClock | None = None) -> None\n\n"
        "Resets the off-axis calibration stored in the sensor chip of the output (`output`) or motor encoder: "
        "about 0.2 s (MA702, MA732) or 4.5 s (MA600); an encoder of another type is left alone. Setting "
        "`cancel` or Ctrl-C stops it before its next register write, ending the pause under way; a cancel "
        "raises CalibrationError with `failure` Cancelled and the `chip` state. `clock` times the pauses.");
    cls.def(
        "run_maxxx_off_axis_calibration",
        [](Driver& self, bool output, float speed, const py::object& progress, const py::object& samples,
           py::object cancel, ProcedureClock* clock, double read_timeout) {
            requireOpen(self, "run_maxxx_off_axis_calibration");
            return calibrate(
                self.getId(), DeviceName<Driver>::value, "run_maxxx_off_axis_calibration", speed,
                [&](const OffAxisCalibrationOptions& options) {
                    return self.runMAxxxOffAxisCalibration(output, speed, options);
                },
                progress, samples, std::move(cancel), clock, read_timeout);
        },
        py::arg("output"), py::arg("speed"), py::kw_only(), py::arg("progress") = py::none(),
        py::arg("samples") = py::none(), py::arg("cancel") = py::none(), py::arg("clock") = py::none(),
        py::arg("read_timeout") = 2.0,
        (std::string("run_maxxx_off_axis_calibration(self, output: bool, speed: float, *, ") + kCalibrationArguments +
         "Calibrates the off-axis error of the sensor chip of the output (`output`) or motor encoder while the "
         "shaft turns at `speed` degrees per second: bias current trimming and, on an MA600, a compensation "
         "table the chip stores (about 8.5 s or 15 s). " + kCalibrationText)
            .c_str());
}

void addActuatorProcedures(py::class_<Actuator>& cls) {
    py::options signatures;
    signatures.disable_function_signatures();
    addFlash(cls);
}

void addVorlexProcedures(py::class_<Vorlex>& cls) {
    py::options signatures;
    signatures.disable_function_signatures();
    cls.def(
        "run_maxxx_off_axis_calibration",
        [](Vorlex& self, float speed, const py::object& progress, const py::object& samples, py::object cancel,
           ProcedureClock* clock, double read_timeout) {
            requireOpen(self, "run_maxxx_off_axis_calibration");
            return calibrate(
                self.getId(), DeviceName<Vorlex>::value, "run_maxxx_off_axis_calibration", speed,
                [&](const OffAxisCalibrationOptions& options) { return self.runMAxxxOffAxisCalibration(speed, options); },
                progress, samples, std::move(cancel), clock, read_timeout);
        },
        py::arg("speed"), py::kw_only(), py::arg("progress") = py::none(), py::arg("samples") = py::none(),
        py::arg("cancel") = py::none(), py::arg("clock") = py::none(), py::arg("read_timeout") = 2.0,
        (std::string("run_maxxx_off_axis_calibration(self, speed: float, *, ") + kCalibrationArguments +
         "Calibrates the off-axis error of the encoder's chip while the shaft turns at `speed` degrees per "
         "second: bias current trimming, a compensation table and the chip's store (about 15 s). " +
         kCalibrationText)
            .c_str());
}

}  // namespace kinetra::python
