// The first thing to run: a simulated bus with a driver, an actuator, an IMU and
// an encoder behind a simulated Zarvo adapter, used through the library exactly
// as an application uses real hardware. Exits 0 when every step worked.

#include <kinetra/actuator.h>
#include <kinetra/driver.h>
#include <kinetra/imu.h>
#include <kinetra/usb_interface.h>
#include <kinetra/vorlex.h>

#include "demo_config.h"
#include "demo_flash.h"
#include "kinetra_sim/encoder_node.h"
#include "kinetra_sim/simulator.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

std::mutex print_mutex;

template <typename... Args>
void say(const char* format, Args... args) {
    std::lock_guard<std::mutex> lock(print_mutex);
    // A plain message is no format: clang rightly refuses a non-literal one without arguments.
    if constexpr (sizeof...(Args) == 0) {
        std::fputs(format, stdout);
    } else {
        std::printf(format, args...);
    }
    std::fflush(stdout);
}

const char* typeName(unsigned char type) {
    switch (type) {
        case 1: return "Driver";
        case 2: return "Actuator";
        case 3: return "IMU";
        case 4: return "Vorlex encoder";
        default: return "unknown device";
    }
}

const char* bitRateName(CANBaudRate rate) {
    static const char* const names[] = {"10 kbit/s",  "20 kbit/s",  "50 kbit/s",  "100 kbit/s", "125 kbit/s",
                                        "250 kbit/s", "500 kbit/s", "750 kbit/s", "1 Mbit/s"};
    const int index = static_cast<int>(rate);
    return index >= 0 && index <= 8 ? names[index] : "unknown";
}

/// Reads and prints one device's versions through its proxy; false on failure.
template <typename Proxy>
bool printVersions(Proxy& device, unsigned int node, const char* name) {
    unsigned char a = 0, b = 0, c = 0, d = 0;
    unsigned char major = 0, minor = 0;
    unsigned short patch = 0;
    const ret_status_t hardware = device.getHardwareVersion(&a, &b, &c, &d);
    const ret_status_t firmware = device.getFirmwareVersion(&major, &minor, &patch);
    if (hardware != RET_OK || firmware != RET_OK) {
        say("Node %u %s: version query failed (%d, %d)\n", node, name, hardware, firmware);
        return false;
    }
    say("Node %u %-15s hardware %u.%u.%u.%u, firmware %u.%u.%u\n", node, name, a, b, c, d, major, minor, patch);
    return true;
}

// ---- The driver: telemetry, a configuration value, and a position move.

/// Reads the driver's telemetry, sets and reads back its gear ratio, and moves
/// the motor to a position, printing it on the way; false on failure.
bool driveMotor(Driver& driver) {
    float voltage = 0, current = 0, motor_temperature = 0, driver_temperature = 0;
    if (driver.getBusVoltage(&voltage) != RET_OK || driver.getBusCurrent(&current) != RET_OK ||
        driver.getMotorTemperature(&motor_temperature) != RET_OK ||
        driver.getDriverTemperature(&driver_temperature) != RET_OK) {
        say("Driver telemetry failed\n");
        return false;
    }
    say("Driver bus %.1f V %.2f A, motor %.1f degC, driver %.1f degC\n", voltage, current, motor_temperature,
        driver_temperature);

    float ratio = 0;
    if (driver.setGearBoxParameters(4.0f) != RET_OK || driver.getGearBoxParameters(&ratio) != RET_OK) {
        say("Driver configuration failed\n");
        return false;
    }
    say("Driver gear ratio set to 4, reads back %.1f\n", ratio);

    const float target = 5.0f;
    if (driver.setDeviceToActive() != RET_OK || driver.setPositionControl(target, 0.0f) != RET_OK) {
        say("Driver commands failed\n");
        return false;
    }
    say("Driver moving to %.1f turns\n", target);
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    float position = 0, output = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (driver.getMotorPosition(&position) != RET_OK || driver.getOutputPosition(&output) != RET_OK) {
            say("Driver position read failed\n");
            return false;
        }
        say("  motor %7.3f turns, output %6.3f turns\n", position, output);
        if (position > target - 0.001f && position < target + 0.001f) break;
        std::this_thread::sleep_for(100ms);
    }
    driver.setDeviceToIdle();
    const bool arrived = position > target - 0.001f && position < target + 0.001f;
    say(arrived ? "Driver arrived\n" : "Driver did not arrive\n");
    return arrived;
}

// ---- The IMU and the encoder: orientation, and the angle of a turning shaft.

/// Switches the IMU's orientation and gyroscope reports on, then reads the IMU's
/// orientation and the encoder's angle and velocity a few times while the shaft
/// turns; false on failure.
bool readImuAndEncoder(IMU& imu, Vorlex& encoder) {
    constexpr unsigned short kReportRate = 100;
    if (imu.enableRotationVector(kReportRate) != RET_OK || imu.enableGyro(kReportRate) != RET_OK) {
        say("IMU report switching failed\n");
        return false;
    }
    // The unit answers a report's query only while that report is on.
    float qw = 0, qx = 0, qy = 0, qz = 0;
    if (imu.disableRotationVector() != RET_OK || imu.getRotationVectorData(&qw, &qx, &qy, &qz) != RET_TIMEOUT ||
        imu.enableRotationVector(kReportRate) != RET_OK) {
        say("IMU answered a report that was off\n");
        return false;
    }
    say("IMU rotation vector off: its query times out, as it should; on again\n");
    for (int sample = 0; sample < 5; ++sample) {
        if (sample > 0) std::this_thread::sleep_for(200ms);
        float roll = 0, pitch = 0, yaw = 0, gx = 0, gy = 0, gz = 0;
        unsigned char gyro_status = 0;
        float absolute = 0, multiturn = 0, velocity = 0;
        if (imu.getRotationVectorData(&qw, &qx, &qy, &qz) != RET_OK ||
            imu.getEulerAngles(&roll, &pitch, &yaw) != RET_OK ||
            imu.getGyroData(&gx, &gy, &gz, &gyro_status) != RET_OK) {
            say("IMU read failed\n");
            return false;
        }
        if (encoder.getAbsoluteAngle(&absolute) != RET_OK || encoder.getMultiturnAngle(&multiturn) != RET_OK ||
            encoder.getScaledFilteredVelocity(&velocity) != RET_OK) {
            say("Encoder read failed\n");
            return false;
        }
        say("  IMU roll %6.2f pitch %6.2f yaw %7.2f deg (q %.3f %.3f %.3f %.3f), yaw rate %.3f rad/s | "
            "encoder %6.2f deg, %8.2f deg over turns, %.1f deg/s\n",
            roll, pitch, yaw, qw, qx, qy, qz, gz, absolute, multiturn, velocity);
    }
    return true;
}

int run() {
    kinetra::sim::Simulator sim({{kinetra::sim::NodeKind::Driver, 1},
                                 {kinetra::sim::NodeKind::Actuator, 2},
                                 {kinetra::sim::NodeKind::Imu, 3},
                                 {kinetra::sim::NodeKind::Encoder, 4}});
    sim.start();
    sim.registerAsAdapter();
    // A simulation knob: the encoder's shaft turns at 90 degrees per second.
    sim.nodeAs<kinetra::sim::EncoderNode>(4).setShaftRate(90.0);
    say("kinetra_transport %s demo\n", getLibraryVersion().c_str());
    say("Simulated Zarvo adapter on %s\n", sim.portName().c_str());

    // From here on: the same code as with a real adapter on, say, /dev/ttyACM0.
    USBInterface bus;
    if (!bus.initInterface(
            sim.portName(),
            [](unsigned int node, unsigned char type) { say("Node %u appeared: %s\n", node, typeName(type)); },
            [](unsigned int node) { say("Node %u lost\n", node); })) {
        say("Could not open %s\n", sim.portName().c_str());
        return 1;
    }

    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (bus.getConnectedDevices().size() < 4 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    const auto present = bus.getConnectedDevices();
    if (present.size() < 4) {
        say("Only %zu of 4 nodes appeared\n", present.size());
        return 1;
    }
    say("All 4 nodes present\n");

    uint8_t major = 0, minor = 0, patch = 0;
    std::string tag;
    uint8_t hw_major = 0, hw_minor = 0, hw_patch = 0;
    CANBaudRate rate = CAN_BAUD_10K;
    if (bus.getFirmwareVersion(&major, &minor, &patch, &tag) != RET_INTERFACE_OK ||
        bus.getHardwareVersion(&hw_major, &hw_minor, &hw_patch) != RET_INTERFACE_OK ||
        bus.getCANBaudRate(&rate) != RET_INTERFACE_OK) {
        say("Adapter query failed\n");
        return 1;
    }
    say("Adapter firmware %u.%u.%u (%s), hardware %u.%u.%u, CAN bit rate %s\n", major, minor, patch, tag.c_str(),
        hw_major, hw_minor, hw_patch, bitRateName(rate));

    Driver driver(1, &bus);
    Actuator actuator(2, &bus);
    IMU imu(3, &bus);
    Vorlex encoder(4, &bus);
    bool ok = printVersions(driver, 1, "Driver");
    ok = printVersions(actuator, 2, "Actuator") && ok;
    ok = printVersions(imu, 3, "IMU") && ok;
    ok = printVersions(encoder, 4, "Vorlex encoder") && ok;
    ok = driveMotor(driver) && ok;
    ok = backUpAndRestoreConfiguration(driver) && ok;
    ok = readImuAndEncoder(imu, encoder) && ok;
    ok = demo::flashDriverFirmware(sim, bus, driver, 1) && ok;

    bus.closeInterface();
    sim.stop();
    say(ok ? "Closed cleanly\n" : "Closed, with failures\n");
    return ok ? 0 : 1;
}

}  // namespace

int main() {
    try {
        return run();
    } catch (const std::exception& error) {
        say("Demo failed: %s\n", error.what());
        return 1;
    }
}
