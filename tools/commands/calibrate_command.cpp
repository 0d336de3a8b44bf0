// kinetra calibrate NODE: the off-axis calibration of a magnetic angle sensor
// chip, on a driver's encoder (which the tool turns) or a Vorlex encoder.

#include "commands/command.h"

#include "cli/cancel_on_stop.h"
#include "cli/device_access.h"
#include "cli/input_files.h"
#include "cli/progress_display.h"
#include "cli/progress_text.h"
#include "cli/quiet_messages.h"
#include "cli/stop_clock.h"
#include "cli/svg_plot.h"

#include "calibration/offaxis_math.h"
#include "devices/protocol/motor_controller_protocol.h"
#if KINETRA_TOOL_SIM
#include "kinetra_sim/encoder_node.h"
#include "kinetra_sim/simulator.h"
#endif

#include <unistd.h>

#include <cmath>
#include <iostream>
#include <memory>
#include <optional>

namespace kinetra::cli {

namespace {

namespace motor = kinetra::protocol::motor;

/// Time for the motor to come up to speed, and for a person to start turning.
constexpr std::chrono::milliseconds kSpinUp{500};
constexpr std::chrono::milliseconds kHandStart{3000};
constexpr double kMaxSpeed = 7200.0;

struct CalibrateArguments {
    unsigned node = 0;
    bool output_encoder = false;
    double speed = 0;
    std::string plot;
    bool no_spin = false;
};

/// Keeps a driver's motor turning at a speed for as long as it lives; idle after.
class MotorSpin {
public:
    MotorSpin(Driver& driver, unsigned node, float turns_per_second) : driver_(driver) {
        try {
            require(node, "active", driver_.setDeviceToActive());
            require(node, "velocity control", driver_.setVelocityControl(turns_per_second));
        } catch (...) {
            stop();
            throw;
        }
    }
    ~MotorSpin() { stop(); }
    MotorSpin(const MotorSpin&) = delete;
    MotorSpin& operator=(const MotorSpin&) = delete;

private:
    void stop() {
        driver_.setVelocityControl(0.0f);
        driver_.setDeviceToIdle();
    }

    Driver& driver_;
};

#if KINETRA_TOOL_SIM
/// Turns the in-process simulator's encoder shaft for as long as it lives.
class SimulatedShaft {
public:
    SimulatedShaft(kinetra::sim::EncoderNode& encoder, double degrees_per_second) : encoder_(encoder) {
        encoder_.setShaftRate(degrees_per_second);
    }
    ~SimulatedShaft() { encoder_.setShaftRate(0.0); }
    SimulatedShaft(const SimulatedShaft&) = delete;
    SimulatedShaft& operator=(const SimulatedShaft&) = delete;

private:
    kinetra::sim::EncoderNode& encoder_;
};
#else
/// Without the simulator built in, there is no simulated shaft to turn.
class SimulatedShaft {};
#endif

/// Shows the run's stages and samples, and the error of each measurement.
class CalibrationView {
public:
    CalibrationView(ProgressDisplay& display, int measurements) : display_(display), measurements_(measurements) {}

    void progress(OffAxisStage stage, unsigned sample) {
        const int measurement = measurementOf(stage);
        if (measurement == 0) {
            if (stage != OffAxisStage::Done) display_.message(calibrationStageName(stage));
            return;
        }
        const unsigned total = kinetra::calibration::kSamplesPerMeasurement;
        if (sample == 0) display_.message(calibrationStageName(stage));
        // Plain output: the half and the end; the stage's line has said it began.
        const bool milestone = sample == total / 2 || sample == total;
        if (sample == 0 && !display_.inPlace()) return;
        display_.show("  measurement " + std::to_string(measurement) + " of " + std::to_string(measurements_) + "  " +
                          progressBar(sample, total, 30) + "  " + std::to_string(sample) + "/" +
                          std::to_string(total) + " samples",
                      milestone);
    }

    void samples(const OffAxisSamples& taken) {
        const auto metric = kinetra::calibration::errorMetric(taken.measured, taken.expected);
        display_.message("  error " + fixed(metric.half_peak_to_peak, 3) + " deg (half peak to peak), SD " +
                         fixed(metric.standard_deviation, 3) + " deg");
        PlotSeries series;
        series.x = taken.expected;
        series.y = metric.centred;
        if (taken.measurement == 1) before_ = series;
        after_ = series;
    }

    const std::optional<PlotSeries>& before() const { return before_; }
    const std::optional<PlotSeries>& after() const { return after_; }

private:
    static int measurementOf(OffAxisStage stage) {
        switch (stage) {
            case OffAxisStage::Measurement1: return 1;
            case OffAxisStage::Measurement2: return 2;
            case OffAxisStage::Measurement3: return 3;
            default: return 0;
        }
    }

    ProgressDisplay& display_;
    int measurements_;
    std::optional<PlotSeries> before_;
    std::optional<PlotSeries> after_;
};

std::string svgOf(unsigned node, double speed, const PlotSeries& before, const PlotSeries& after,
                  const OffAxisCalibrationResult& result) {
    PlotSeries first = before, last = after;
    first.label = "before: " + fixed(result.errors[0].half_peak_to_peak, 2) + " deg";
    first.colour = "#d62728";
    last.label = "after: " + fixed(result.errors[result.measurements - 1].half_peak_to_peak, 2) + " deg";
    last.colour = "#1f77b4";
    return linePlotSvg({first, last}, {"Off-axis angle error of node " + std::to_string(node) + " at " +
                                           fixed(speed, 0) + " deg/s",
                                       "shaft angle turned since the measurement began (deg)",
                                       "angle error (deg)"});
}

/// A driver's selected encoder must carry a chip the calibration knows; returns
/// how many measurements its run takes (the MA600 gets the third, with its table).
int requireCalibratableEncoder(Driver& driver, unsigned node, bool output) {
    unsigned char type = 0;
    int resolution = 0;
    bool use_index = false;
    const std::string which = output ? "output encoder" : "motor encoder";
    require(node, which + " configuration",
            output ? driver.getOutputEncoderConfiguration(&type, &resolution, &use_index)
                   : driver.getMotorEncoderConfiguration(&type, &resolution, &use_index));
    if (type != motor::kEncoderTypeMA7xx && type != motor::kEncoderTypeMA600) {
        throw CliError(kExitDevice, "node " + std::to_string(node) + ": the " + which + " is of type " +
                                        std::to_string(type) + ", not an MA702 or MA732 (" +
                                        std::to_string(motor::kEncoderTypeMA7xx) + ") or an MA600 (" +
                                        std::to_string(motor::kEncoderTypeMA600) + ")");
    }
    return type == motor::kEncoderTypeMA600 ? 3 : 2;
}

void report(Context& context, const CalibrateArguments& args, DeviceClass device_class,
            const OffAxisCalibrationResult& result) {
    Output& out = *context.out;
    const OffAxisError& before = result.errors[0];
    const OffAxisError& after = result.errors[result.measurements - 1];
    if (out.json()) {
        nlohmann::json errors = nlohmann::json::array();
        for (int i = 0; i < result.measurements; ++i) {
            errors.push_back({{"measurement", i + 1},
                              {"half_peak_to_peak", result.errors[i].half_peak_to_peak},
                              {"standard_deviation", result.errors[i].standard_deviation}});
        }
        out.document({{"node", args.node},
                      {"class", className(device_class)},
                      {"encoder", device_class == DeviceClass::Encoder ? "vorlex"
                                  : args.output_encoder             ? "output"
                                                                    : "motor"},
                      {"speed", args.speed},
                      {"completed", result.completed},
                      {"measurements", result.measurements},
                      {"errors", errors},
                      {"error_before", before.half_peak_to_peak},
                      {"error_after", after.half_peak_to_peak},
                      {"bias_current", result.bias_current},
                      {"bias_limit_exceeded", result.bias_limit_exceeded},
                      {"table_written", result.table_written},
                      {"stored", result.stored},
                      {"plot", args.plot.empty() ? nlohmann::json() : nlohmann::json(args.plot)}});
        return;
    }
    std::ostream& text = out.out();
    text << "error before: " << fixed(before.half_peak_to_peak, 3) << " deg (half peak to peak), SD "
         << fixed(before.standard_deviation, 3) << " deg\n";
    text << "error after:  " << fixed(after.half_peak_to_peak, 3) << " deg (half peak to peak), SD "
         << fixed(after.standard_deviation, 3) << " deg";
    if (after.half_peak_to_peak > 0) text << ", " << fixed(before.half_peak_to_peak / after.half_peak_to_peak, 1) << " times smaller";
    text << "\nbias current trimming: " << static_cast<int>(result.bias_current)
         << (result.bias_limit_exceeded ? " (the error exceeded the table: at its limit)" : "") << "\n";
    if (result.table_written) {
        text << "compensation table: written" << (result.stored ? " and stored in the chip" : ", not stored") << "\n";
    }
    if (!args.plot.empty()) text << "plot: " << args.plot << "\n";
    text.flush();
}

int runCalibrate(Context& context, const CalibrateArguments& args) {
    if (!args.plot.empty()) checkWritablePath(args.plot, "--plot");
    if (!args.plot.empty() && !endsWithSvg(args.plot)) {
        Output::error("warning: --plot " + args.plot + ": the plot is written as SVG, but the name does not end in .svg");
    }
    BusSession session(context.bus, *context.stop);
    session.open();
    const unsigned node = args.node;
    const DeviceClass device_class = classOfType(session.waitForNode(node));
    if (device_class != DeviceClass::Driver && device_class != DeviceClass::Encoder) {
        throw CliError(kExitDevice, "node " + std::to_string(node) + " is " + className(device_class) +
                                        ": only a driver's encoder or an encoder can be calibrated");
    }
    if (device_class == DeviceClass::Encoder && args.output_encoder) {
        throw CliError(kExitUsage, "--output-encoder: node " + std::to_string(node) +
                                       " is an encoder; the option chooses a driver's output encoder");
    }
    Output& out = *context.out;
    std::ostream& log = out.json() ? std::cerr : out.out();
    StopFlag& stop = *context.stop;
    const auto speed = static_cast<float>(args.speed);

    std::optional<Driver> driver;
    std::optional<Vorlex> encoder;
    // Heap-held: GCC's uninitialised-use analysis misreads an optional of a
    // class holding a reference.
    std::unique_ptr<MotorSpin> spin;
    std::unique_ptr<SimulatedShaft> shaft;
    int measurements = 3;
    if (device_class == DeviceClass::Driver) {
        driver.emplace(node, &session.bus());
        measurements = requireCalibratableEncoder(*driver, node, args.output_encoder);
        if (args.no_spin) {
            log << "turn the shaft at a steady " << fixed(args.speed, 1) << " deg/s during the run\n";
        } else {
            float ratio = 1.0f;
            if (args.output_encoder) require(node, "gear ratio", driver->getGearBoxParameters(&ratio));
            const float turns_per_second = speed / 360.0f * ratio;
            log << "node " << node << " driver: turning the motor at " << fixed(turns_per_second, 3)
                << " turns/s in velocity control during the run\n";
            spin = std::make_unique<MotorSpin>(*driver, node, turns_per_second);
            if (stop.waitFor(kSpinUp)) throw CliError(kExitInterrupted, "interrupted; the motor is idle");
        }
    } else {
        encoder.emplace(node, &session.bus());
#if KINETRA_TOOL_SIM
        if (auto* sim = session.simulator()) {
            log << "node " << node << " encoder: the simulator turns its shaft at " << fixed(args.speed, 1)
                << " deg/s\n";
            shaft = std::make_unique<SimulatedShaft>(sim->nodeAs<kinetra::sim::EncoderNode>(node), args.speed);
        } else
#endif
        {
            log << "node " << node << " encoder: turn its shaft at a steady " << fixed(args.speed, 1)
                << " deg/s now; the run starts in " << kHandStart.count() / 1000 << " s\n"
                << std::flush;
            if (stop.waitFor(kHandStart)) throw CliError(kExitInterrupted, "interrupted");
        }
    }

    ProgressDisplay display(log, out.json() ? ::isatty(STDERR_FILENO) == 1 : out.terminal());
    CalibrationView view(display, measurements);
    CancelOnStop cancel(stop);
    OffAxisCalibrationOptions options;
    options.progress = [&view](OffAxisStage stage, unsigned sample) { view.progress(stage, sample); };
    options.samples = [&view](const OffAxisSamples& samples) { view.samples(samples); };
    options.cancel = cancel.flag();
    StopClock clock(stop);
    options.clock = &clock;
    OffAxisCalibrationResult result;
    {
        QuietMessages quiet;  // the library prints its own lines; the view shows the same
        result = driver ? driver->runMAxxxOffAxisCalibration(args.output_encoder, speed, options)
                        : encoder->runMAxxxOffAxisCalibration(speed, options);
    }
    display.keep();
    spin.reset();
    shaft.reset();
    const std::string who = "node " + std::to_string(node) + ": ";
    // A failed run's samples are plotted too: they show what went wrong.
    if (!args.plot.empty() && view.before() && view.after() && result.measurements > 0) {
        writeTextFile(args.plot, svgOf(node, args.speed, *view.before(), *view.after(), result), "--plot");
    }
    if (cancel.cancelled() || result.cancelled) {
        throw CliError(kExitInterrupted,
                       who + "calibration " + (result.reason.empty() ? "stopped after it had calibrated" : result.reason));
    }
    if (!result.compatible) {
        throw CliError(kExitDevice, who + "the encoder is not an MA702, MA732 or MA600");
    }
    // The run can go through to its end without calibrating; its result says why.
    if (!result.calibrated || result.measurements < 1) {
        throw CliError(kExitDevice, who + "calibration failed: " +
                                        (result.reason.empty() ? "the run did not complete" : result.reason));
    }
    report(context, args, device_class, result);
    return kExitOk;
}

CLI::Validator speedValidator() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            try {
                std::size_t used = 0;
                const double value = std::stod(text, &used);
                if (used == text.size() && std::isfinite(value) && value != 0 && std::abs(value) <= kMaxSpeed) {
                    return {};
                }
            } catch (const std::exception&) {
            }
            return "expected a speed in deg/s, not zero, at most " + fixed(kMaxSpeed, 0) + " either way; got '" +
                   text + "'";
        },
        "DEG_PER_S");
}

}  // namespace

void addCalibrateCommand(CLI::App& app, Registry& registry) {
    CLI::App* sub =
        app.add_subcommand("calibrate", "Calibrate the off-axis error of an MA702, MA732 or MA600 sensor chip");
    auto args = std::make_shared<CalibrateArguments>();
    addNodeArgument(sub, args->node);
    sub->add_flag("--output-encoder", args->output_encoder, "a driver's output encoder (default: its motor encoder)");
    sub->add_option("--speed", args->speed, "the shaft's steady speed during the run, degrees per second")
        ->required()
        ->type_name("DEG_PER_S")
        ->check(speedValidator());
    sub->add_option("--plot", args->plot, "write the angle error before and after against the shaft angle as SVG")
        ->type_name("FILE.svg");
    sub->add_flag("--no-spin", args->no_spin, "a driver's shaft is turned by something else; do not spin the motor");
    sub->footer(
        "The run takes about 15 s (MA600, encoders) or 9 s (MA702, MA732). The shaft must turn at the\n"
        "given speed throughout: a driver's motor is turned in velocity control and stopped after,\n"
        "also on an error or Ctrl-C (--no-spin when something else turns it); an encoder's shaft\n"
        "is turned by hand or machine (with --sim the simulator turns it).\n"
        "Example:\n  kinetra calibrate 4 --sim --speed 360 --plot error.svg\n"
        "  kinetra calibrate 1 --speed 90 --output-encoder");
    registry.push_back({sub, [args](Context& context) { return runCalibrate(context, *args); }});
}

}  // namespace kinetra::cli
