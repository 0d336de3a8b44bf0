// kinetra telemetry NODE: a live view of a node's measurements, redrawn in place
// on a terminal, plain lines otherwise; --once for a single snapshot.

#include "commands/command.h"

#include "cli/device_access.h"
#include "cli/report.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace kinetra::cli {

namespace {

/// Adds measurements to a report; a failed read is fatal in a snapshot and
/// shown as "no reply" in the live view, which keeps going.
class Sampler {
public:
    Sampler(unsigned node, bool strict, Report& report) : node_(node), strict_(strict), report_(report) {}

    bool ok(const std::string& key, const std::string& label, ret_status_t status) {
        if (status == RET_OK) return true;
        if (strict_) require(node_, label, status);
        report_.add(key, label, statusMeaning(status) + " (" + statusName(status) + ")", nullptr);
        return false;
    }
    // `value` is a reference: the read that fills it is an argument of the same call.
    void number(const std::string& key, const std::string& label, ret_status_t status, const float& value, int decimals,
                const std::string& unit) {
        if (ok(key, label, status)) report_.number(key, label, value, decimals, unit);
    }
    Report& report() { return report_; }

private:
    unsigned node_;
    bool strict_;
    Report& report_;
};

template <typename Motor>
void sampleMotor(Motor& motor, Sampler& s) {
    float value = 0, second = 0;
    s.number("position", "position", motor.getMotorPosition(&value), value, 3, "turns");
    s.number("velocity", "velocity", motor.getMotorVelocity(&value), value, 3, "turns/s");
    s.number("torque", "torque", motor.getMotorTorque(&value), value, 3, "Nm");
    s.number("output_position", "output position", motor.getOutputPosition(&value), value, 3, "turns");
    s.number("bus_voltage", "bus voltage", motor.getBusVoltage(&value), value, 2, "V");
    s.number("bus_current", "bus current", motor.getBusCurrent(&value), value, 2, "A");
    s.number("motor_temperature", "motor temp", motor.getMotorTemperature(&value), value, 1, "degC");
    s.number("driver_temperature", "driver temp", motor.getDriverTemperature(&second), second, 1, "degC");
}

void sample(Driver& driver, Sampler& s, unsigned short) { sampleMotor(driver, s); }
void sample(Actuator& actuator, Sampler& s, unsigned short) { sampleMotor(actuator, s); }

void sample(IMU& imu, Sampler& s, unsigned short) {
    float roll = 0, pitch = 0, yaw = 0, a = 0, b = 0, c = 0, d = 0;
    unsigned char status = 0;
    if (s.ok("euler", "roll pitch yaw", imu.getEulerAngles(&roll, &pitch, &yaw))) {
        s.report().add("euler", "roll pitch yaw",
                       fixed(roll, 2) + " " + fixed(pitch, 2) + " " + fixed(yaw, 2) + " deg",
                       {{"roll", roll}, {"pitch", pitch}, {"yaw", yaw}});
    }
    if (s.ok("quaternion", "quaternion", imu.getRotationVectorData(&a, &b, &c, &d))) {
        s.report().add("quaternion", "quaternion",
                       fixed(a, 3) + " " + fixed(b, 3) + " " + fixed(c, 3) + " " + fixed(d, 3), {a, b, c, d});
    }
    if (s.ok("rates", "rates", imu.getGyroData(&a, &b, &c, &status))) {
        s.report().add("rates", "rates", fixed(a, 3) + " " + fixed(b, 3) + " " + fixed(c, 3) + " rad/s",
                       {{"x", a}, {"y", b}, {"z", c}});
    }
}

void sample(Vorlex& encoder, Sampler& s, unsigned short) {
    float value = 0;
    int count = 0;
    s.number("angle", "angle", encoder.getAbsoluteAngle(&value), value, 2, "deg");
    s.number("multiturn_angle", "over turns", encoder.getMultiturnAngle(&value), value, 2, "deg");
    if (s.ok("count", "count", encoder.getEncoderCount(&count))) {
        s.report().add("count", "count", std::to_string(count), count);
    }
    s.number("velocity", "velocity", encoder.getScaledFilteredVelocity(&value), value, 1, "deg/s");
}

/// The IMU answers only the reports that are on: the view turns on the ones it shows.
void prepare(IMU& imu, unsigned node, unsigned short period_ms) {
    require(node, "enable rotation vector", imu.enableRotationVector(period_ms));
    require(node, "enable gyro", imu.enableGyro(period_ms));
}
template <typename Proxy>
void prepare(Proxy&, unsigned, unsigned short) {}

struct TelemetryOptions {
    unsigned node = 0;
    double rate = 5.0;
    bool once = false;
    unsigned count = 0;
};

}  // namespace

void addTelemetryCommand(CLI::App& app, Registry& registry) {
    CLI::App* sub = app.add_subcommand("telemetry", "Live view of a node's measurements (Ctrl-C ends)");
    auto options = std::make_shared<TelemetryOptions>();
    addNodeArgument(sub, options->node);
    sub->add_option("--rate", options->rate, "refreshes per second, 0.1 to 50 (default 5)")
        ->check(finiteRange(0.1, 50.0));
    sub->add_flag("--once", options->once, "print one snapshot and exit");
    sub->add_option("--count", options->count, "stop after this many refreshes (default: at Ctrl-C)")
        ->check(CLI::Range(1u, 100000000u));
    sub->footer(
        "Drivers and actuators: position, velocity, torque, bus voltage and current, temperatures.\n"
        "IMUs: orientation and rates. Encoders: angle, count and velocity.\n"
        "With --json each refresh is one JSON object on its own line (--once: one document).\n"
        "Example:\n  kinetra telemetry 1 --sim --rate 10\n  kinetra telemetry 4 --once --json");
    registry.push_back({sub, [options](Context& context) {
                            BusSession session(context.bus, *context.stop);
                            session.open();
                            const unsigned node = options->node;
                            const unsigned type = session.waitForNode(node);
                            Output& out = *context.out;
                            const auto period = std::chrono::duration<double>(1.0 / options->rate);
                            const auto period_ms = static_cast<unsigned short>(
                                std::lround(std::min(60000.0, 1000.0 / options->rate)));
                            return withProxy(session.bus(), node, type, [&](auto& proxy) {
                                prepare(proxy, node, period_ms);
                                std::size_t drawn = 0;
                                const auto start = std::chrono::steady_clock::now();
                                for (unsigned refresh = 0;; ++refresh) {
                                    Report report;
                                    Sampler sampler(node, options->once, report);
                                    sample(proxy, sampler, period_ms);
                                    if (context.stop->requested()) break;
                                    // Reads refused for a lost adapter are no measurement to show.
                                    if (session.checkAdapter()) {
                                        session.waitForNode(node);
                                        --refresh;  // that one showed nothing
                                        continue;
                                    }
                                    const double t =
                                        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                                            .count();
                                    if (out.json()) {
                                        nlohmann::json json = report.json();
                                        json["node"] = node;
                                        json["class"] = className(classOfType(type));
                                        if (options->once) {
                                            out.document(json);
                                        } else {
                                            json["time"] = t;
                                            out.jsonLine(json);
                                        }
                                    } else {
                                        std::vector<std::string> lines = report.lines();
                                        const std::string title = "node " + std::to_string(node) + " " +
                                                                  className(classOfType(type)) + "  t=" +
                                                                  fixed(t, 1) + " s";
                                        lines.insert(lines.begin(), title);
                                        if (out.terminal() && drawn > 0) {
                                            // Back to the top of the last drawing, cleared to the end.
                                            out.out() << "\x1b[" << drawn << "F\x1b[J";
                                        }
                                        for (const std::string& line : lines) out.out() << line << "\n";
                                        out.out().flush();
                                        drawn = lines.size();
                                    }
                                    if (options->once || (options->count > 0 && refresh + 1 >= options->count)) break;
                                    if (context.stop->waitFor(
                                            std::chrono::duration_cast<std::chrono::steady_clock::duration>(period))) {
                                        break;
                                    }
                                }
                                return static_cast<int>(kExitOk);
                            });
                        }});
}

}  // namespace kinetra::cli
