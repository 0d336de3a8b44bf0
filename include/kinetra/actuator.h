#pragma once
/// @file actuator.h
/// Proxy of one actuator node (a motor controller that also reports its output
/// side).

#include <kinetra/can_device_type.h>
#include <kinetra/flash_options.h>
#include <kinetra/interface.h>
#include <kinetra/types.h>
#include <kinetra/export.h>

#include <ostream>
#include <string>

/// Proxy of one actuator node (a motor controller that also reports its output
/// side).
///
/// Every operation is one CAN exchange on the caller's thread (a few reads make
/// several). Commands return RET_OK once the frame is sent; they are not
/// confirmed. Reads wait up to 200 ms for the reply and write their
/// out-parameters, including values computed on the host, only on RET_OK.
/// Reads on one proxy from several threads take turns; a command is not held
/// back by a waiting read. Never read from an interface callback. Set points
/// that travel as 8- or 16-bit integers are divided by their factor and
/// truncated toward zero; out-of-range values wrap.
///
/// A reply later than the wait is dropped, but it can still answer the next
/// read of the same command on this proxy, with the older value: the protocol
/// carries no sequence number. A reply never answers a read of another command.
/// Another host on the same bus (a monitor, a second program) is no device, and
/// its queries, remote frames, never answer a read; but a data frame it sends
/// with the command of a read in progress cannot be told from the device's
/// reply, just as a late reply cannot (two programs reading the same IMU's
/// rotation vector, whose query is a data frame).
class KINETRA_API Actuator : public CANDeviceType {
public:
    /// Creates the proxy for node `node_id` on `iface`, which must outlive it,
    /// and registers it for the node's frames. Sends nothing.
    Actuator(unsigned int node_id, Interface* iface);
    /// Unregisters the proxy; once this returns no frame reaches it.
    ~Actuator() override;

    /// Handles one frame routed to this proxy; called by the receive thread.
    void canMsgCallback(can_frame_data* frame) override;

    /// Whether the node is present on the bus (sent a heartbeat within 1.001 s).
    bool isConnected();
    /// Sets this proxy's log sink; nullptr restores the discarding one.
    void setOutputLogStream(std::ostream* stream);

    // ---- Motion and mode set points (each switches the device to its mode).

    /// Position control to `position`; `b` travels as a 16-bit integer.
    ret_status_t setPositionControl(float position, float b);
    /// Velocity control; the same frame as setVelocityRampControl(velocity, 0).
    ret_status_t setVelocityControl(float velocity);
    /// Velocity control with a ramp.
    ret_status_t setVelocityRampControl(float velocity, float ramp);
    /// Torque control to `torque`; `b` travels as a float.
    ret_status_t setTorqueControl(float torque, float b);
    /// Position control with feed-forward terms: `b` as a 16-bit integer, `c` in hundredths.
    ret_status_t setPositionControlWithFeedForward(float position, float b, float c);
    /// Velocity control with a feed-forward term.
    ret_status_t setVelocityControlWithFeedForward(float velocity, float b);
    /// Trapezoidal trajectory to `position`: `b` as a 16-bit integer, `c` and `d` in tenths (8 bits).
    ret_status_t setTrapezoidalTrajectoryControl(float position, float b, float c, float d);
    /// S-curve trajectory to `position`, arguments as for the trapezoidal one.
    ret_status_t setScurveTrajectoryControl(float position, float b, float c, float d);

    // ---- State changes.

    /// Puts the device into idle.
    ret_status_t setDeviceToIdle();
    /// Puts the device into its active (closed-loop) state.
    ret_status_t setDeviceToActive();
    /// Stops the motor at once (sent as a remote frame; no reply).
    ret_status_t emergencyStop();
    /// Clears the actuator's errors.
    ret_status_t clearActuatorErrors();
    /// Restarts the actuator.
    ret_status_t rebootActuator();
    /// Runs the motor calibration sequence.
    ret_status_t runCalibrationSequence();
    /// Makes the current position the zero position.
    ret_status_t setCurrentPostionToZero();

    // ---- Configuration store.

    /// Makes the device store its current configuration permanently.
    ret_status_t saveConfigurations();
    /// Makes the device erase its stored configuration.
    ret_status_t eraseConfigurations();

    // ---- Identity.

    /// Reads the node identifier the device reports.
    ret_status_t getNodeId(unsigned int* id);
    /// Tells the device its new node identifier; this proxy keeps addressing the old one.
    ret_status_t setNodeId(unsigned int id);
    /// Reads the four hardware version numbers.
    ret_status_t getHardwareVersion(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d);
    /// Reads the firmware version.
    ret_status_t getFirmwareVersion(unsigned char* major, unsigned char* minor, unsigned short* patch);
    /// Reads the firmware commit: exactly seven characters as the device sends them.
    ret_status_t getFirmwareCommit(std::string* commit);

    // ---- Telemetry.

    /// Reads the DC bus voltage.
    ret_status_t getBusVoltage(float* voltage);
    /// Reads the DC bus current.
    ret_status_t getBusCurrent(float* current);
    /// Reads the motor temperature.
    ret_status_t getMotorTemperature(float* temperature);
    /// Reads the temperature of the actuator's electronics.
    ret_status_t getDriverTemperature(float* temperature);
    /// Reads the phase currents; `a` is computed as -(b + c).
    ret_status_t getMotorPhaseCurrents(float* a, float* b, float* c);
    /// Reads the phase currents measured during DC calibration; `a` is computed as -(b + c).
    ret_status_t getDCCalibPhaseCurrents(float* a, float* b, float* c);
    /// Reads the d- and q-axis currents.
    ret_status_t getIdqCurrents(float* d, float* q);
    /// Reads the motor-side position.
    ret_status_t getMotorPosition(float* position);
    /// Reads the motor-side velocity.
    ret_status_t getMotorVelocity(float* velocity);
    /// Reads the motor-side acceleration.
    ret_status_t getMotorAcceleration(float* acceleration);
    /// Reads the motor-side torque.
    ret_status_t getMotorTorque(float* torque);
    /// Reads the output-side position.
    ret_status_t getOutputPosition(float* position);
    /// Reads the output-side velocity.
    ret_status_t getOutputVelocity(float* velocity);
    /// Reads the output-side acceleration.
    ret_status_t getOutputAcceleration(float* acceleration);
    /// Reads the output-side torque.
    ret_status_t getOutputTorque(float* torque);
    /// Reads the motor encoder's raw count.
    ret_status_t getMotorEncoderRawData(int* raw);
    /// Reads the output encoder's raw count.
    ret_status_t getOutputEncoderRawData(int* raw);

    // ---- State reads.

    /// Reads the controller state.
    ret_status_t getControllerState(unsigned char* state);
    /// Reads the controller mode.
    ret_status_t getControllerMode(unsigned short* mode);
    /// Reads the two motor state flags.
    ret_status_t getMotorState(bool* a, bool* b);
    /// Reads whether the last trajectory has finished.
    ret_status_t getTrajectoryDoneStatus(bool* done);
    /// Reads the two CAN communication status flags.
    ret_status_t getCANCommunicationStatus(bool* a, bool* b);
    /// Reads the fault word.
    ret_status_t getDriverFault(unsigned int* fault);
    /// Reads the error code as the actuator sends it.
    ret_status_t getErrorCode(unsigned int* error);
    /// Reads the six debug error words, one exchange each; stops at the first
    /// that fails, leaving the later words untouched.
    ret_status_t getDebugErrorCode(unsigned long long* e1, unsigned long long* e2, unsigned long long* e3,
                                   unsigned long long* e4, unsigned long long* e5, unsigned long long* e6);

    // ---- Configuration.

    /// Sets the DC bus under- and overvoltage trip levels.
    ret_status_t setDCBusTripLevels(float undervoltage, float overvoltage);
    /// Reads the DC bus under- and overvoltage trip levels.
    ret_status_t getDCBusTripLevels(float* undervoltage, float* overvoltage);
    /// Sets the regeneration current trip level.
    ret_status_t setRegenCurrentTripLevel(float level);
    /// Reads the regeneration current trip level.
    ret_status_t getRegenCurrentTripLevel(float* level);
    /// Sets the position controller gain.
    ret_status_t setPositionControllerGain(float gain);
    /// Reads the position controller gain.
    ret_status_t getPositionControllerGain(float* gain);
    /// Sets the velocity controller gain and integrator gain.
    ret_status_t setVelocityControllerGains(float gain, float integrator_gain);
    /// Reads the velocity controller gain and integrator gain.
    ret_status_t getVelocityControllerGains(float* gain, float* integrator_gain);
    /// Sets the current controller bandwidth.
    ret_status_t setCurrentControllerBandwidth(float bandwidth);
    /// Reads the current controller bandwidth.
    ret_status_t getCurrentControllerBandwidth(float* bandwidth);
    /// Reads the current controller gain and integrator gain.
    ret_status_t getCurrentControllerGains(float* gain, float* integrator_gain);
    /// Sets the motor encoder bandwidth.
    ret_status_t setMotorEncoderBandwidth(float bandwidth);
    /// Reads the motor encoder bandwidth.
    ret_status_t getMotorEncoderBandwidth(float* bandwidth);
    /// Reads the zero position.
    ret_status_t getZeroPosition(float* position);
    /// Enables the motor thermal limit with the given upper temperature.
    ret_status_t enableMotorThermalLimit(unsigned short upper_limit);
    /// Disables the motor thermal limit.
    ret_status_t disableMotorThermalLimit();
    /// Reads the thermistor configuration: whether the thermal limit is enabled
    /// and four values whose meaning is the actuator firmware's.
    ret_status_t getMotorThermistorConfiguration(bool* enabled, unsigned short* b, unsigned short* c, unsigned char* d,
                                                 unsigned char* e);
    /// Sets the current filter.
    ret_status_t setCurrentFilter(float filter);
    /// Reads the current filter.
    ret_status_t getCurrentFilter(float* filter);
    /// Sets the encoder data filter.
    ret_status_t setEncoderDataFilter(float filter);
    /// Reads the encoder data filter.
    ret_status_t getEncoderDataFilter(float* filter);
    /// Reads the motor's phase resistance and inductance.
    ret_status_t getMotorPhaseParameters(float* resistance, float* inductance);

    // ---- Encoders.

    /// Reads the two motor encoder state flags.
    ret_status_t getMotorEncoderState(bool* a, bool* b);
    /// Reads the output encoder state flag.
    ret_status_t getOutputEncoderState(bool* b);

    /// Updates the firmware from the Intel HEX file at `path` through the device's
    /// CAN bootloader, blocking for the whole update (at least 5 s of pauses, 7 s
    /// with the entry into the bootloader, plus the exchanges; each reply is awaited
    /// up to 20 s). `already_in_dfu` skips the presence checks and the entry frame,
    /// for a device that runs its bootloader already (after a failed update).
    /// Returns RET_OK after the bootloader acknowledged the start of the new
    /// firmware; RET_NOT_INITIALISED for a missing, unreadable or empty file;
    /// RET_INVALID_ARGUMENT, before anything is sent, for a file that does not end
    /// with its end-of-file record or holds data outside the erased flash
    /// (0x08000000 to 0x080BFFFF); RET_NOT_RUNNING or RET_NOT_CONNECTED from the
    /// checks; RET_TIMEOUT when a reply did not come; RET_NOT_CONNECTED when the
    /// bootloader refused a step. Every exit after the update started leaves the
    /// adapter at 500 kbit/s; after a failure the proxy and the interface stay in
    /// flash mode (bootloader routing, 20 s waits, no master heartbeat) until an
    /// update succeeds.
    ret_status_t flash(std::string path, bool already_in_dfu);
    /// The same with progress reports, cancelling (RET_NOT_RUNNING, through the
    /// failure exit), an opt-in read-back verify (a difference fails with
    /// RET_NOT_CONNECTED and no start) and the clock of the pauses and waits.
    ret_status_t flash(std::string path, bool already_in_dfu, const kinetra::FlashOptions& options);

    struct KINETRA_LOCAL ActuatorImpl;

private:
    // Control cycles build their reads on the implementation.
    friend class ControlCycle;
    ActuatorImpl* impl_;
    Interface* iface_;
};
