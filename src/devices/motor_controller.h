#pragma once
// The operations Driver and Actuator share: each is written once here, and the
// two classes forward to it. Where the classes differ (error code, thermistor
// configuration, encoder state reads) or only the driver has an operation, the
// class's own implementation says so.

#include "devices/device_core.h"
#include "devices/forward.h"
#include "devices/motor_payload.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "flash/flash_procedure.h"

#include <array>
#include <string>

namespace kinetra {

template <typename Traits>
class MotorController : public DeviceCore<Traits> {
public:
    using DeviceCore<Traits>::DeviceCore;

    // ---- Firmware update: one procedure for both classes.

    ret_status_t flash(const std::string& path, bool already_in_dfu, const FlashOptions& options) {
        FlashProcedure procedure({this->iface(), this->node(), this->log(), this->flashReplies(),
                                  [this](bool on) { this->setFlashMode(on); }},
                                 options);
        return procedure.run(path, already_in_dfu);
    }

    // ---- Motion set points: each switches the device to its control mode.

    ret_status_t setPositionControl(float position, float b) {
        return send(protocol::motor::kPositionControlFrame, MotorPayload().f32(position).scaled16(b, 1.0f));
    }
    /// The same frame as a velocity ramp with no ramp.
    ret_status_t setVelocityControl(float velocity) { return setVelocityRampControl(velocity, 0.0f); }
    ret_status_t setVelocityRampControl(float velocity, float ramp) {
        return send(protocol::motor::kVelocityControlFrame, MotorPayload().f32(velocity).f32(ramp));
    }
    ret_status_t setTorqueControl(float torque, float b) {
        return send(protocol::motor::kTorqueControlFrame, MotorPayload().f32(torque).f32(b));
    }
    ret_status_t setPositionControlWithFeedForward(float position, float b, float c) {
        return send(protocol::motor::kPositionFeedForwardFrame,
                    MotorPayload().f32(position).scaled16(b, 1.0f).scaled16(c, 0.01f));
    }
    ret_status_t setVelocityControlWithFeedForward(float velocity, float b) {
        return send(protocol::motor::kVelocityFeedForwardFrame, MotorPayload().f32(velocity).f32(b));
    }
    ret_status_t setTrapezoidalTrajectoryControl(float position, float b, float c, float d) {
        return send(protocol::motor::kTrapezoidalTrajectoryFrame, trajectoryPayload(position, b, c, d));
    }
    ret_status_t setScurveTrajectoryControl(float position, float b, float c, float d) {
        return send(protocol::motor::kScurveTrajectoryFrame, trajectoryPayload(position, b, c, d));
    }

    // ---- State changes.

    ret_status_t setDeviceToIdle() { return send(protocol::motor::kIdleFrame); }
    ret_status_t setDeviceToActive() { return send(protocol::motor::kActiveFrame); }
    /// Goes out whenever the transport is open, even to a node no longer heard.
    ret_status_t emergencyStop() {
        const protocol::motor::CommandFrame& stop = protocol::motor::kEmergencyStopFrame;
        return this->sendWhileOpen(stop.id, stop.kind, stop.dlc);
    }
    ret_status_t clearErrors() { return send(protocol::motor::kClearErrorsFrame); }
    ret_status_t runCalibrationSequence() { return send(protocol::motor::kCalibrationSequenceFrame); }
    ret_status_t setCurrentPositionToZero() {
        return send(protocol::motor::kPositionToZeroFrame, MotorPayload().u32(0));
    }

    // ---- Configuration writes both classes offer.

    ret_status_t setDCBusTripLevels(float undervoltage, float overvoltage) {
        return send(protocol::motor::kDCBusTripLevelsFrame, MotorPayload().f32(undervoltage).f32(overvoltage));
    }
    ret_status_t setRegenCurrentTripLevel(float level) {
        return send(protocol::motor::kRegenCurrentTripLevelFrame, MotorPayload().f32(level));
    }
    ret_status_t setPositionControllerGain(float gain) {
        return send(protocol::motor::kPositionControllerGainFrame, MotorPayload().f32(gain));
    }
    ret_status_t setVelocityControllerGains(float gain, float integrator_gain) {
        return send(protocol::motor::kVelocityControllerGainsFrame, MotorPayload().f32(gain).f32(integrator_gain));
    }
    ret_status_t setCurrentControllerBandwidth(float bandwidth) {
        return send(protocol::motor::kCurrentControllerBandwidthFrame, MotorPayload().f32(bandwidth));
    }
    ret_status_t setMotorEncoderBandwidth(float bandwidth) {
        return send(protocol::motor::kMotorEncoderBandwidthFrame, MotorPayload().f32(bandwidth));
    }
    ret_status_t enableMotorThermalLimit(unsigned short upper_limit) {
        return send(protocol::motor::kMotorThermalLimitFrame, MotorPayload().u16(upper_limit).flag(true));
    }
    ret_status_t disableMotorThermalLimit() { return send(protocol::motor::kMotorThermalLimitFrame); }
    ret_status_t setCurrentFilter(float filter) {
        return send(protocol::motor::kCurrentFilterFrame, MotorPayload().f32(filter));
    }
    ret_status_t setEncoderDataFilter(float filter) {
        return send(protocol::motor::kEncoderDataFilterFrame, MotorPayload().f32(filter));
    }

    // ---- Reads both classes offer, one reply each.

    ret_status_t getDCBusTripLevels(float* undervoltage, float* overvoltage) {
        return this->template query<protocol::motor::kGetDCBusTripLevels>(undervoltage, overvoltage);
    }
    ret_status_t getRegenCurrentTripLevel(float* level) {
        return this->template query<protocol::motor::kGetRegenCurrentTripLevel>(level);
    }
    ret_status_t getPositionControllerGain(float* gain) {
        return this->template query<protocol::motor::kGetPositionControllerGain>(gain);
    }
    ret_status_t getVelocityControllerGains(float* gain, float* integrator_gain) {
        return this->template query<protocol::motor::kGetVelocityControllerGains>(gain, integrator_gain);
    }
    ret_status_t getCurrentControllerBandwidth(float* bandwidth) {
        return this->template query<protocol::motor::kGetCurrentControllerBandwidth>(bandwidth);
    }
    ret_status_t getCurrentControllerGains(float* gain, float* integrator_gain) {
        return this->template query<protocol::motor::kGetCurrentControllerGains>(gain, integrator_gain);
    }
    ret_status_t getMotorEncoderBandwidth(float* bandwidth) {
        return this->template query<protocol::motor::kGetMotorEncoderBandwidth>(bandwidth);
    }
    ret_status_t getZeroPosition(float* position) {
        return this->template query<protocol::motor::kGetZeroPosition>(position);
    }
    ret_status_t getCurrentFilter(float* filter) {
        return this->template query<protocol::motor::kGetCurrentFilter>(filter);
    }
    ret_status_t getEncoderDataFilter(float* filter) {
        return this->template query<protocol::motor::kGetEncoderDataFilter>(filter);
    }
    ret_status_t getOutputPosition(float* value) {
        return this->template query<protocol::motor::kGetOutputPosition>(value);
    }
    ret_status_t getOutputVelocity(float* value) {
        return this->template query<protocol::motor::kGetOutputVelocity>(value);
    }
    ret_status_t getOutputAcceleration(float* value) {
        return this->template query<protocol::motor::kGetOutputAcceleration>(value);
    }
    ret_status_t getOutputTorque(float* value) {
        return this->template query<protocol::motor::kGetOutputTorque>(value);
    }
    ret_status_t getMotorPosition(float* value) {
        return this->template query<protocol::motor::kGetMotorPosition>(value);
    }
    ret_status_t getMotorVelocity(float* value) {
        return this->template query<protocol::motor::kGetMotorVelocity>(value);
    }
    ret_status_t getMotorAcceleration(float* value) {
        return this->template query<protocol::motor::kGetMotorAcceleration>(value);
    }
    ret_status_t getMotorTorque(float* value) { return this->template query<protocol::motor::kGetMotorTorque>(value); }

    /// The temperature reply carries the motor's, then the driver's.
    ret_status_t getMotorTemperature(float* temperature) {
        return this->template query<protocol::motor::kGetTemperatures>(temperature);
    }
    ret_status_t getDriverTemperature(float* temperature) {
        return secondOfPair<protocol::motor::kGetTemperatures>(temperature);
    }

    /// The device measures two phases; the third follows from their sum being zero.
    ret_status_t getMotorPhaseCurrents(float* a, float* b, float* c) {
        return phaseCurrents<protocol::motor::kGetPhaseCurrents>(a, b, c);
    }
    ret_status_t getDCCalibPhaseCurrents(float* a, float* b, float* c) {
        return phaseCurrents<protocol::motor::kGetDCCalibPhaseCurrents>(a, b, c);
    }

    /// The bus reply carries the voltage, then the current.
    ret_status_t getBusVoltage(float* voltage) {
        return this->template query<protocol::motor::kGetBusVoltageCurrent>(voltage);
    }
    ret_status_t getBusCurrent(float* current) { return secondOfPair<protocol::motor::kGetBusVoltageCurrent>(current); }

    ret_status_t getIdqCurrents(float* d, float* q) {
        return this->template query<protocol::motor::kGetIdqCurrents>(d, q);
    }
    ret_status_t getControllerState(unsigned char* state) {
        return this->template query<protocol::motor::kGetControllerState>(state);
    }
    ret_status_t getMotorState(bool* a, bool* b) { return this->template query<protocol::motor::kGetMotorState>(a, b); }
    ret_status_t getTrajectoryDoneStatus(bool* done) {
        return this->template query<protocol::motor::kGetTrajectoryDoneStatus>(done);
    }
    ret_status_t getMotorPhaseParameters(float* resistance, float* inductance) {
        return this->template query<protocol::motor::kGetMotorPhaseParameters>(resistance, inductance);
    }
    ret_status_t getMotorEncoderRawData(int* raw) {
        return this->template query<protocol::motor::kGetMotorEncoderRawData>(raw);
    }
    ret_status_t getOutputEncoderRawData(int* raw) {
        return this->template query<protocol::motor::kGetOutputEncoderRawData>(raw);
    }
    ret_status_t getCANCommunicationStatus(bool* a, bool* b) {
        return this->template query<protocol::motor::kGetCANCommunicationStatus>(a, b);
    }
    ret_status_t getControllerMode(unsigned short* mode) {
        return this->template query<protocol::motor::kGetControllerMode>(mode);
    }
    ret_status_t getDriverFault(unsigned int* fault) {
        return this->template query<protocol::motor::kGetDriverFault>(fault);
    }
    /// The error code as the device sends it; the driver maps it to driver_error_t.
    ret_status_t getRawErrorCode(unsigned int* code) {
        return this->template query<protocol::motor::kGetErrorCode>(code);
    }

    /// The commit text is the first seven reply bytes taken as characters (a zero
    /// byte stays a character); the eighth is not part of it. A query that was sent
    /// and timed out writes seven zero characters, so a caller never prints a
    /// stale commit; a refused guard sends nothing and writes nothing.
    ret_status_t getFirmwareCommit(std::string* commit) {
        std::array<unsigned char, 8> bytes{};
        const ret_status_t status = this->template query<protocol::common::kGetFirmwareCommit>(
            &bytes[0], &bytes[1], &bytes[2], &bytes[3], &bytes[4], &bytes[5], &bytes[6], &bytes[7]);
        if (status == RET_OK || status == RET_TIMEOUT) commit->assign(bytes.begin(), bytes.begin() + 7);
        return status;
    }

    /// Six exchanges, one per debug word (request byte 0 = index 1..6). Stops at
    /// the first that fails and returns its status; later words stay untouched.
    ret_status_t getDebugErrorCode(unsigned long long* e1, unsigned long long* e2, unsigned long long* e3,
                                   unsigned long long* e4, unsigned long long* e5, unsigned long long* e6) {
        const ret_status_t status = this->guard();
        if (status != RET_OK) return status;
        unsigned long long* const words[protocol::motor::kDebugErrorWords] = {e1, e2, e3, e4, e5, e6};
        for (uint8_t index = 1; index <= protocol::motor::kDebugErrorWords; ++index) {
            const ret_status_t result = request<protocol::motor::kGetDebugErrorCode>(
                protocol::motor::kDebugErrorCodeFrame, MotorPayload().u8(index), words[index - 1]);
            if (result != RET_OK) return result;
        }
        return RET_OK;
    }

protected:
    /// Sends a command without reply as its table fixes it.
    ret_status_t send(const protocol::motor::CommandFrame& command, const MotorPayload& payload = MotorPayload()) {
        return this->sendCommand(command.id, command.kind, command.dlc, payload.frame());
    }

    /// A read whose request is a data frame carrying an argument.
    template <uint8_t Command, typename... T>
    ret_status_t request(const protocol::motor::CommandFrame& frame, const MotorPayload& payload, T*... out) {
        static_assert(sizeof...(T) > 0, "a request has a reply");
        return this->template queryWith<Command>(frame.kind, frame.dlc, payload.frame(), out...);
    }

private:
    static MotorPayload trajectoryPayload(float position, float b, float c, float d) {
        return MotorPayload().f32(position).scaled16(b, 1.0f).scaled8(c, 0.1f).scaled8(d, 0.1f);
    }

    template <uint8_t Command>
    ret_status_t secondOfPair(float* second) {
        float first = 0.0f;
        float value = 0.0f;
        const ret_status_t status = this->template query<Command>(&first, &value);
        if (status == RET_OK) *second = value;
        return status;
    }

    template <uint8_t Command>
    ret_status_t phaseCurrents(float* a, float* b, float* c) {
        const ret_status_t status = this->template query<Command>(b, c);
        if (status == RET_OK) *a = -(*b + *c);
        return status;
    }
};

}  // namespace kinetra
