// The exact frame of every Driver and Actuator command and read request:
// identifier, remote flag, DLC and payload bytes. Operations both classes offer
// are checked on both, so the shared frames cannot drift apart.

#include <kinetra/actuator.h>
#include <kinetra/driver.h>

#include "devices/protocol/motor_controller_protocol.h"
#include "motor_node_fixture.h"

#include <functional>
#include <string>
#include <vector>

namespace {

using kinetra::test::MotorNodeTest;
using kinetra::test::MotorRequest;
using kinetra::test::readOf;
using kinetra::protocol::DeviceType;
namespace motor = kinetra::protocol::motor;

struct FrameCase {
    std::string name;
    std::function<ret_status_t(Driver&)> on_driver;      ///< empty: the driver lacks it
    std::function<ret_status_t(Actuator&)> on_actuator;  ///< empty: the actuator lacks it
    std::vector<MotorRequest> frames;
};

template <typename Op>
FrameCase both(std::string name, Op op, std::vector<MotorRequest> frames) {
    return FrameCase{std::move(name), op, op, std::move(frames)};
}
FrameCase driverOnly(std::string name, std::function<ret_status_t(Driver&)> op, std::vector<MotorRequest> frames) {
    return FrameCase{std::move(name), std::move(op), nullptr, std::move(frames)};
}
FrameCase actuatorOnly(std::string name, std::function<ret_status_t(Actuator&)> op,
                       std::vector<MotorRequest> frames) {
    return FrameCase{std::move(name), nullptr, std::move(op), std::move(frames)};
}

MotorRequest data(uint8_t command, uint8_t dlc, std::array<uint8_t, 8> bytes = {}) {
    return MotorRequest{command, false, dlc, bytes};
}

std::vector<FrameCase> motorCommandCases() {
    return {
        // Motion set points.
        both("position", [](auto& p) { return p.setPositionControl(1.5f, 300.9f); },
             {data(0x61, 8, {0x00, 0x00, 0xC0, 0x3F, 0x2C, 0x01, 0x00, 0x00})}),
        both("position, b truncates toward zero", [](auto& p) { return p.setPositionControl(1.5f, -1.9f); },
             {data(0x61, 8, {0x00, 0x00, 0xC0, 0x3F, 0xFF, 0xFF, 0x00, 0x00})}),
        both("velocity", [](auto& p) { return p.setVelocityControl(2.0f); },
             {data(0x62, 8, {0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00})}),
        both("velocity ramp with no ramp is the velocity frame",
             [](auto& p) { return p.setVelocityRampControl(2.0f, 0.0f); },
             {data(0x62, 8, {0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00})}),
        both("velocity ramp", [](auto& p) { return p.setVelocityRampControl(-1.0f, 0.5f); },
             {data(0x62, 8, {0x00, 0x00, 0x80, 0xBF, 0x00, 0x00, 0x00, 0x3F})}),
        both("torque", [](auto& p) { return p.setTorqueControl(0.25f, 1.0f); },
             {data(0x63, 8, {0x00, 0x00, 0x80, 0x3E, 0x00, 0x00, 0x80, 0x3F})}),
        both("position feed-forward, b wraps",
             [](auto& p) { return p.setPositionControlWithFeedForward(1.5f, 40000.0f, 1.234f); },
             {data(0x64, 8, {0x00, 0x00, 0xC0, 0x3F, 0x40, 0x9C, 0x7B, 0x00})}),
        both("position feed-forward, negative c",
             [](auto& p) { return p.setPositionControlWithFeedForward(1.5f, 2.0f, -0.5f); },
             {data(0x64, 8, {0x00, 0x00, 0xC0, 0x3F, 0x02, 0x00, 0xCE, 0xFF})}),
        both("velocity feed-forward", [](auto& p) { return p.setVelocityControlWithFeedForward(1.0f, 2.0f); },
             {data(0x65, 8, {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40})}),
        both("trapezoidal trajectory",
             [](auto& p) { return p.setTrapezoidalTrajectoryControl(1.5f, 10.0f, 2.55f, 3.0f); },
             {data(0x66, 8, {0x00, 0x00, 0xC0, 0x3F, 0x0A, 0x00, 0x19, 0x1E})}),
        both("s-curve trajectory, negative 8-bit value wraps",
             [](auto& p) { return p.setScurveTrajectoryControl(1.5f, 10.0f, -1.0f, 0.5f); },
             {data(0x67, 8, {0x00, 0x00, 0xC0, 0x3F, 0x0A, 0x00, 0xF6, 0x05})}),
        driverOnly("torque ramp, 1.0 / 0.001 truncates to 999",
                   [](Driver& d) { return d.setTorqueRampControl(0.5f, 1.0f, 300.0f); },
                   {data(0x68, 8, {0x00, 0x00, 0x00, 0x3F, 0xE7, 0x03, 0x2C, 0x01})}),
        driverOnly("sensorless velocity", [](Driver& d) { return d.setSensorlessVelocityControl(100.0f, 7.0f, 2.5f); },
                   {data(0x69, 8, {0x00, 0x00, 0xC8, 0x42, 0x07, 0x00, 0x19, 0x00})}),
        driverOnly("open-loop position", [](Driver& d) { return d.setOpenLoopPositionControl(1, -2, 300, 1.5f); },
                   {data(0x6A, 8, {0x01, 0x00, 0xFE, 0xFF, 0x2C, 0x01, 0x0F, 0x00})}),
        driverOnly("open-loop velocity", [](Driver& d) { return d.setOpenLoopVelocityControl(-1, 2, 0.3f); },
                   {data(0x6B, 8, {0xFF, 0xFF, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00})}),

        // State changes.
        both("idle", [](auto& p) { return p.setDeviceToIdle(); }, {data(0x07, 0)}),
        both("active", [](auto& p) { return p.setDeviceToActive(); }, {data(0x08, 0)}),
        both("emergency stop is a remote frame", [](auto& p) { return p.emergencyStop(); }, {readOf(0x7E)}),
        driverOnly("clear errors", [](Driver& d) { return d.clearDriverErrors(); }, {data(0x6F, 0)}),
        actuatorOnly("clear errors", [](Actuator& a) { return a.clearActuatorErrors(); }, {data(0x6F, 0)}),
        driverOnly("reboot", [](Driver& d) { return d.rebootDriver(); }, {data(0x71, 0)}),
        actuatorOnly("reboot", [](Actuator& a) { return a.rebootActuator(); }, {data(0x71, 0)}),
        both("calibration sequence", [](auto& p) { return p.runCalibrationSequence(); }, {data(0x38, 0)}),
        driverOnly("index search", [](Driver& d) { return d.runEncoderIndexSearch(); }, {data(0x36, 0)}),
        driverOnly("encoder matching", [](Driver& d) { return d.runEncoderMatching(); }, {data(0x37, 0)}),
        driverOnly("encoder calibration", [](Driver& d) { return d.runEncoderCalibration(); }, {data(0x39, 0)}),
        driverOnly("position to zero", [](Driver& d) { return d.setCurrentPositionToZero(); }, {data(0x24, 8)}),
        actuatorOnly("position to zero", [](Actuator& a) { return a.setCurrentPostionToZero(); }, {data(0x24, 8)}),
        driverOnly("position as", [](Driver& d) { return d.setCurrentPositionAs(2.0f); },
                   {data(0x06, 4, {0x00, 0x00, 0x00, 0x40})}),
        driverOnly("firmware update mode", [](Driver& d) { return d.enterDFUMode(); }, {data(0x7F, 0)}),
        both("save configuration", [](auto& p) { return p.saveConfigurations(); }, {data(0x72, 0)}),
        both("erase configuration", [](auto& p) { return p.eraseConfigurations(); }, {data(0x73, 0)}),

        // Configuration writes.
        both("node id", [](auto& p) { return p.setNodeId(0x12345678u); }, {data(0x09, 5, {0x78, 0x56, 0x34, 0x12})}),
        both("DC bus trip levels", [](auto& p) { return p.setDCBusTripLevels(10.0f, 50.0f); },
             {data(0x0B, 8, {0x00, 0x00, 0x20, 0x41, 0x00, 0x00, 0x48, 0x42})}),
        driverOnly("brake resistor on", [](Driver& d) { return d.enableBrakeResistor(2.0f); },
                   {data(0x0D, 8, {0x00, 0x00, 0x00, 0x40, 0x01})}),
        driverOnly("brake resistor off", [](Driver& d) { return d.disableBrakeResistor(); }, {data(0x0D, 5)}),
        both("regen trip level", [](auto& p) { return p.setRegenCurrentTripLevel(-1.0f); },
             {data(0x0F, 4, {0x00, 0x00, 0x80, 0xBF})}),
        driverOnly("motor parameters", [](Driver& d) { return d.setMotorParameters(7, 0x1234, 1.0f); },
                   {data(0x11, 8, {0x07, 0x34, 0x12, 0x00, 0x00, 0x80, 0x3F, 0x00})}),
        driverOnly("calibration parameters", [](Driver& d) { return d.setMotorCalibrationParameters(1.0f, 2.0f); },
                   {data(0x13, 8, {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40})}),
        driverOnly("gear box", [](Driver& d) { return d.setGearBoxParameters(2.0f); },
                   {data(0x17, 8, {0x00, 0x00, 0x00, 0x40})}),
        both("position gain", [](auto& p) { return p.setPositionControllerGain(1.0f); },
             {data(0x1B, 4, {0x00, 0x00, 0x80, 0x3F})}),
        both("velocity gains", [](auto& p) { return p.setVelocityControllerGains(0.5f, 2.0f); },
             {data(0x1D, 8, {0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x00, 0x40})}),
        both("current bandwidth", [](auto& p) { return p.setCurrentControllerBandwidth(1000.0f); },
             {data(0x1F, 8, {0x00, 0x00, 0x7A, 0x44})}),
        both("encoder bandwidth", [](auto& p) { return p.setMotorEncoderBandwidth(1000.0f); },
             {data(0x22, 8, {0x00, 0x00, 0x7A, 0x44})}),
        driverOnly("thermistor", [](Driver& d) { return d.setMotorThermistorParameters(10000.0f, 3950); },
                   {data(0x26, 8, {0x00, 0x40, 0x1C, 0x46, 0x6E, 0x0F})}),
        both("thermal limit on", [](auto& p) { return p.enableMotorThermalLimit(100); },
             {data(0x27, 5, {0x64, 0x00, 0x01})}),
        both("thermal limit off", [](auto& p) { return p.disableMotorThermalLimit(); }, {data(0x27, 5)}),
        both("current filter", [](auto& p) { return p.setCurrentFilter(0.5f); },
             {data(0x29, 4, {0x00, 0x00, 0x00, 0x3F})}),
        both("encoder filter", [](auto& p) { return p.setEncoderDataFilter(0.25f); },
             {data(0x2B, 4, {0x00, 0x00, 0x80, 0x3E})}),
        driverOnly("start-up", [](Driver& d) { return d.setStartupConfigs(true, false, true); },
                   {data(0x2D, 1, {0x05})}),
        driverOnly("phase parameters", [](Driver& d) { return d.setMotorPhaseParameters(0.5f, 0.25f); },
                   {data(0x31, 8, {0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x80, 0x3E})}),
        driverOnly("torque limit", [](Driver& d) { return d.setMotorTorqueLimit(2.0f); },
                   {data(0x32, 4, {0x00, 0x00, 0x00, 0x40})}),
        driverOnly("motor type", [](Driver& d) { return d.setMotorType(3); }, {data(0x34, 1, {0x03})}),
        driverOnly("bit rate 10k", [](Driver& d) { return d.setCANBaudRate(CAN_BAUD_10K); },
                   {data(0x3A, 4, {0x10, 0x27, 0x00, 0x00})}),
        driverOnly("bit rate 500k", [](Driver& d) { return d.setCANBaudRate(CAN_BAUD_500K); },
                   {data(0x3A, 4, {0x20, 0xA1, 0x07, 0x00})}),
        driverOnly("bit rate 1M", [](Driver& d) { return d.setCANBaudRate(CAN_BAUD_1M); },
                   {data(0x3A, 4, {0x40, 0x42, 0x0F, 0x00})}),

        // Encoders and sensor chip registers.
        driverOnly("motor encoder", [](Driver& d) { return d.configureMotorEncoder(4, -1, false); },
                   {data(0x15, 8, {0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0x00})}),
        driverOnly("motor encoder with index", [](Driver& d) { return d.configureMotorEncoder(4, 4096, true); },
                   {data(0x15, 8, {0x04, 0x00, 0x10, 0x00, 0x00, 0x01})}),
        driverOnly("output encoder", [](Driver& d) { return d.configureOutputEncoder(9, 4096, true); },
                   {data(0x19, 8, {0x09, 0x00, 0x10, 0x00, 0x00, 0x03})}),
        driverOnly("output encoder without index", [](Driver& d) { return d.configureOutputEncoder(9, 4096, false); },
                   {data(0x19, 8, {0x09, 0x00, 0x10, 0x00, 0x00, 0x02})}),
        driverOnly("output encoder off", [](Driver& d) { return d.disableOutputEncoder(); }, {data(0x19, 8)}),
        driverOnly("register write", [](Driver& d) { return d.setMAxxxSPIRegister(false, 3, 0xFF); },
                   {data(0x2F, 3, {0x06, 0xFE, 0x01})}),
        driverOnly("bias current trimming write", [](Driver& d) { return d.setMAxxxBCTValue(true, 0x80); },
                   {data(0x2F, 3, {0x05, 0x00, 0x01})}),
        driverOnly("filter window write", [](Driver& d) { return d.setMAxxxFilterWindow(false, 5); },
                   {data(0x2F, 3, {0x1C, 0x0A, 0x00})}),
        driverOnly("trimming write, both flags",
                   [](Driver& d) { return d.setMAxxxTrimmingSettings(false, true, true); },
                   {data(0x2F, 3, {0x06, 0x06, 0x00})}),
        driverOnly("trimming write, second flag",
                   [](Driver& d) { return d.setMAxxxTrimmingSettings(true, false, true); },
                   {data(0x2F, 3, {0x07, 0x04, 0x00})}),
    };
}

std::vector<FrameCase> motorReadCases() {
    std::vector<MotorRequest> debug_frames;
    for (uint8_t k = 1; k <= 6; ++k) debug_frames.push_back(data(0x6E, 8, {k}));
    return {
        both("node id", [](auto& p) { unsigned v; return p.getNodeId(&v); }, {readOf(0x0A)}),
        both("hardware version",
             [](auto& p) { unsigned char a, b, c, d; return p.getHardwareVersion(&a, &b, &c, &d); }, {readOf(0x03)}),
        both("firmware version",
             [](auto& p) { unsigned char a, b; unsigned short c; return p.getFirmwareVersion(&a, &b, &c); },
             {readOf(0x04)}),
        both("firmware commit", [](auto& p) { std::string s; return p.getFirmwareCommit(&s); }, {readOf(0x05)}),
        both("bus voltage", [](auto& p) { float v; return p.getBusVoltage(&v); }, {readOf(0x46)}),
        both("bus current", [](auto& p) { float v; return p.getBusCurrent(&v); }, {readOf(0x46)}),
        both("motor temperature", [](auto& p) { float v; return p.getMotorTemperature(&v); }, {readOf(0x44)}),
        both("driver temperature", [](auto& p) { float v; return p.getDriverTemperature(&v); }, {readOf(0x44)}),
        both("phase currents", [](auto& p) { float a, b, c; return p.getMotorPhaseCurrents(&a, &b, &c); },
             {readOf(0x45)}),
        both("DC calibration currents",
             [](auto& p) { float a, b, c; return p.getDCCalibPhaseCurrents(&a, &b, &c); }, {readOf(0x49)}),
        both("dq currents", [](auto& p) { float a, b; return p.getIdqCurrents(&a, &b); }, {readOf(0x47)}),
        both("motor position", [](auto& p) { float v; return p.getMotorPosition(&v); }, {readOf(0x40)}),
        both("motor velocity", [](auto& p) { float v; return p.getMotorVelocity(&v); }, {readOf(0x41)}),
        both("motor acceleration", [](auto& p) { float v; return p.getMotorAcceleration(&v); }, {readOf(0x42)}),
        both("motor torque", [](auto& p) { float v; return p.getMotorTorque(&v); }, {readOf(0x43)}),
        both("output position", [](auto& p) { float v; return p.getOutputPosition(&v); }, {readOf(0x3C)}),
        both("output velocity", [](auto& p) { float v; return p.getOutputVelocity(&v); }, {readOf(0x3D)}),
        both("output acceleration", [](auto& p) { float v; return p.getOutputAcceleration(&v); }, {readOf(0x3E)}),
        both("output torque", [](auto& p) { float v; return p.getOutputTorque(&v); }, {readOf(0x3F)}),
        both("motor raw", [](auto& p) { int v; return p.getMotorEncoderRawData(&v); }, {readOf(0x56)}),
        both("output raw", [](auto& p) { int v; return p.getOutputEncoderRawData(&v); }, {readOf(0x57)}),
        both("controller state", [](auto& p) { unsigned char v; return p.getControllerState(&v); }, {readOf(0x50)}),
        both("controller mode", [](auto& p) { unsigned short v; return p.getControllerMode(&v); }, {readOf(0x59)}),
        both("motor state", [](auto& p) { bool a, b; return p.getMotorState(&a, &b); }, {readOf(0x51)}),
        both("trajectory done", [](auto& p) { bool v; return p.getTrajectoryDoneStatus(&v); }, {readOf(0x54)}),
        both("CAN status", [](auto& p) { bool a, b; return p.getCANCommunicationStatus(&a, &b); }, {readOf(0x58)}),
        both("fault", [](auto& p) { unsigned v; return p.getDriverFault(&v); }, {readOf(0x5F)}),
        driverOnly("error code", [](Driver& d) { driver_error_t v; return d.getErrorCode(&v); }, {readOf(0x60)}),
        actuatorOnly("error code", [](Actuator& a) { unsigned v; return a.getErrorCode(&v); }, {readOf(0x60)}),
        both("debug error words",
             [](auto& p) {
                 unsigned long long e[6];
                 return p.getDebugErrorCode(&e[0], &e[1], &e[2], &e[3], &e[4], &e[5]);
             },
             debug_frames),
        both("trip levels", [](auto& p) { float a, b; return p.getDCBusTripLevels(&a, &b); }, {readOf(0x0C)}),
        both("regen trip level", [](auto& p) { float v; return p.getRegenCurrentTripLevel(&v); }, {readOf(0x10)}),
        both("position gain", [](auto& p) { float v; return p.getPositionControllerGain(&v); }, {readOf(0x1C)}),
        both("velocity gains", [](auto& p) { float a, b; return p.getVelocityControllerGains(&a, &b); },
             {readOf(0x1E)}),
        both("current bandwidth", [](auto& p) { float v; return p.getCurrentControllerBandwidth(&v); },
             {readOf(0x20)}),
        both("current gains", [](auto& p) { float a, b; return p.getCurrentControllerGains(&a, &b); },
             {readOf(0x21)}),
        both("encoder bandwidth", [](auto& p) { float v; return p.getMotorEncoderBandwidth(&v); }, {readOf(0x23)}),
        both("zero position", [](auto& p) { float v; return p.getZeroPosition(&v); }, {readOf(0x25)}),
        both("current filter", [](auto& p) { float v; return p.getCurrentFilter(&v); }, {readOf(0x2A)}),
        both("encoder filter", [](auto& p) { float v; return p.getEncoderDataFilter(&v); }, {readOf(0x2C)}),
        both("phase parameters", [](auto& p) { float a, b; return p.getMotorPhaseParameters(&a, &b); },
             {readOf(0x55)}),
        driverOnly("thermistor",
                   [](Driver& d) {
                       bool e;
                       float r;
                       unsigned short beta;
                       unsigned char up, low;
                       return d.getMotorThermistorConfiguration(&e, &r, &beta, &up, &low);
                   },
                   {readOf(0x28)}),
        actuatorOnly("thermistor",
                     [](Actuator& a) {
                         bool e;
                         unsigned short b, c;
                         unsigned char d, f;
                         return a.getMotorThermistorConfiguration(&e, &b, &c, &d, &f);
                     },
                     {readOf(0x28)}),
        driverOnly("brake resistor",
                   [](Driver& d) { bool e, c, x; float r; return d.getBrakeResistorState(&e, &r, &c, &x); },
                   {readOf(0x0E)}),
        driverOnly("motor parameters",
                   [](Driver& d) {
                       unsigned char a;
                       unsigned short b;
                       float c;
                       return d.getMotorParameters(&a, &b, &c);
                   },
                   {readOf(0x12)}),
        driverOnly("calibration parameters",
                   [](Driver& d) { float a, b; return d.getMotorCalibrationParameters(&a, &b); },
                   {readOf(0x14)}),
        driverOnly("gear box", [](Driver& d) { float v; return d.getGearBoxParameters(&v); }, {readOf(0x18)}),
        driverOnly("start-up", [](Driver& d) { bool a, b, c; return d.getStartupConfigs(&a, &b, &c); }, {readOf(0x2E)}),
        driverOnly("torque limit", [](Driver& d) { float v; return d.getMotorTorqueLimit(&v); }, {readOf(0x33)}),
        driverOnly("motor type", [](Driver& d) { unsigned char v; return d.getMotorType(&v); }, {readOf(0x35)}),
        driverOnly("bit rate", [](Driver& d) { CANBaudRate v; return d.getCANBaudRate(&v); }, {readOf(0x3B)}),
        driverOnly("brake current", [](Driver& d) { float v; return d.getBrakeCurrent(&v); }, {readOf(0x48)}),
        driverOnly("motor encoder configuration",
                   [](Driver& d) { unsigned char t; int r; bool i; return d.getMotorEncoderConfiguration(&t, &r, &i); },
                   {readOf(0x16)}),
        driverOnly("output encoder configuration",
                   [](Driver& d) {
                       unsigned char t;
                       int r;
                       bool i;
                       return d.getOutputEncoderConfiguration(&t, &r, &i);
                   },
                   {readOf(0x1A)}),
        driverOnly("motor encoder state", [](Driver& d) { bool a, b, c; return d.getMotorEncoderState(&a, &b, &c); },
                   {readOf(0x52)}),
        actuatorOnly("motor encoder state", [](Actuator& a) { bool x, y; return a.getMotorEncoderState(&x, &y); },
                     {readOf(0x52)}),
        driverOnly("output encoder state", [](Driver& d) { bool a, b; return d.getOutputEncoderState(&a, &b); },
                   {readOf(0x53)}),
        actuatorOnly("output encoder state", [](Actuator& a) { bool x; return a.getOutputEncoderState(&x); },
                     {readOf(0x53)}),
        driverOnly("hall state", [](Driver& d) { unsigned char v; return d.getHallEncoderState(&v); }, {readOf(0x4A)}),
        driverOnly("hall counts",
                   [](Driver& d) {
                       unsigned short c[8];
                       return d.getHallEncoderStateCounts(&c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]);
                   },
                   {readOf(0x4B), readOf(0x4C)}),
        driverOnly("register read",
                   [](Driver& d) { unsigned char v; bool fl; return d.getMAxxxSPIRegister(true, 0x81, &v, &fl); },
                   {data(0x30, 2, {0x03, 0x01})}),
        driverOnly("bias current trimming read",
                   [](Driver& d) { unsigned char v; bool fl; return d.getMAxxxBCTValue(false, &v, &fl); },
                   {data(0x30, 2, {0x04, 0x00})}),
        driverOnly("filter window read",
                   [](Driver& d) { unsigned char v; bool fl; return d.getMAxxxFilterWindow(true, &v, &fl); },
                   {data(0x30, 2, {0x1D, 0x00})}),
        driverOnly("trimming read",
                   [](Driver& d) { bool a, b, fl; return d.getMAxxxTrimmingSettings(false, &a, &b, &fl); },
                   {data(0x30, 2, {0x06, 0x00})}),
    };
}

class MotorRequestFramesTest : public MotorNodeTest {
protected:
    /// Runs each case on the proxy class it names, and checks the frames it sent.
    template <typename Proxy>
    void check(const std::vector<FrameCase>& cases, DeviceType type, const kinetra::protocol::RouteTable& routes,
               std::function<ret_status_t(Proxy&)> FrameCase::*op) {
        auto& device = startNode(type);
        answerEveryQuery(device, routes);
        Proxy proxy(kNode, &bus);
        for (const FrameCase& c : cases) {
            if (!(c.*op)) continue;
            SCOPED_TRACE(c.name);
            bus.clearSent();
            ASSERT_EQ((c.*op)(proxy), RET_OK);
            const auto sent = requestsTo();
            ASSERT_EQ(sent.size(), c.frames.size());
            for (std::size_t i = 0; i < sent.size(); ++i) {
                kinetra::test::expectRequest(sent[i], kNode, c.frames[i]);
            }
        }
    }
};

TEST_F(MotorRequestFramesTest, DriverCommands) {
    check<Driver>(motorCommandCases(), DeviceType::Driver, motor::kDriverRoutes, &FrameCase::on_driver);
}

TEST_F(MotorRequestFramesTest, ActuatorCommands) {
    check<Actuator>(motorCommandCases(), DeviceType::Actuator, motor::kActuatorRoutes, &FrameCase::on_actuator);
}

TEST_F(MotorRequestFramesTest, DriverReadRequests) {
    check<Driver>(motorReadCases(), DeviceType::Driver, motor::kDriverRoutes, &FrameCase::on_driver);
}

TEST_F(MotorRequestFramesTest, ActuatorReadRequests) {
    check<Actuator>(motorReadCases(), DeviceType::Actuator, motor::kActuatorRoutes, &FrameCase::on_actuator);
}

// Every operation refuses before sending when the node is absent or the
// interface is not running; the node of another proxy keeps the bus alive.
TEST_F(MotorRequestFramesTest, GuardsRefuseEveryOperationBeforeSending) {
    startNode(DeviceType::Driver);
    Driver absent_driver(kNode + 1, &bus);
    Actuator absent_actuator(kNode + 1, &bus);
    for (const auto& cases : {motorCommandCases(), motorReadCases()}) {
        for (const FrameCase& c : cases) {
            SCOPED_TRACE(c.name);
            bus.clearSent();
            if (c.on_driver) {
                EXPECT_EQ(c.on_driver(absent_driver), RET_NOT_CONNECTED);
            }
            if (c.on_actuator) {
                EXPECT_EQ(c.on_actuator(absent_actuator), RET_NOT_CONNECTED);
            }
            // The emergency stop goes out even to a node no longer heard.
            const bool emergency_stop = c.name == "emergency stop is a remote frame";
            EXPECT_EQ(requestsTo(kNode + 1).empty(), !emergency_stop);
        }
    }
    Driver driver(kNode, &bus);
    Actuator actuator(kNode, &bus);
    bus.setSendFails(true);
    can_frame_data probe{};
    bus.sendFrame(&probe);  // a failed send stops the interface
    for (const auto& cases : {motorCommandCases(), motorReadCases()}) {
        for (const FrameCase& c : cases) {
            SCOPED_TRACE(c.name);
            if (c.on_driver) {
                EXPECT_EQ(c.on_driver(driver), RET_NOT_RUNNING);
            }
            if (c.on_actuator) {
                EXPECT_EQ(c.on_actuator(actuator), RET_NOT_RUNNING);
            }
        }
    }
}

}  // namespace
