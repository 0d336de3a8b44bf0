#pragma once
/// @file driver.h
/// Proxy of one motor driver node.

#include <kinetra/can_device_type.h>
#include <kinetra/config_result.h>
#include <kinetra/driver_error.h>
#include <kinetra/flash_options.h>
#include <kinetra/interface.h>
#include <kinetra/offaxis_calibration.h>
#include <kinetra/types.h>
#include <kinetra/export.h>

#include <ostream>
#include <string>

/// Proxy of one motor driver node.
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
class KINETRA_API Driver : public CANDeviceType {
public:
    /// Creates the proxy for node `node_id` on `iface`, which must outlive it,
    /// and registers it for the node's frames. Sends nothing.
    Driver(unsigned int node_id, Interface* iface);
    /// Unregisters the proxy; once this returns no frame reaches it.
    ~Driver() override;

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
    /// Torque ramp control: `b` in thousandths, `c` as a 16-bit integer.
    ret_status_t setTorqueRampControl(float torque, float b, float c);
    /// Sensorless velocity control: `b` as a 16-bit integer, `c` in tenths.
    ret_status_t setSensorlessVelocityControl(float velocity, float b, float c);
    /// Open-loop position control: `a`, `b`, `c` as given, `d` in tenths.
    ret_status_t setOpenLoopPositionControl(short a, short b, short c, float d);
    /// Open-loop velocity control: `a`, `b` as given, `c` in tenths.
    ret_status_t setOpenLoopVelocityControl(short a, short b, float c);

    // ---- State changes.

    /// Puts the device into idle.
    ret_status_t setDeviceToIdle();
    /// Puts the device into its active (closed-loop) state.
    ret_status_t setDeviceToActive();
    /// Stops the motor at once (sent as a remote frame; no reply).
    ret_status_t emergencyStop();
    /// Clears the driver's errors.
    ret_status_t clearDriverErrors();
    /// Restarts the driver.
    ret_status_t rebootDriver();
    /// Runs the motor calibration sequence.
    ret_status_t runCalibrationSequence();
    /// Runs the encoder index search.
    ret_status_t runEncoderIndexSearch();
    /// Runs the encoder matching.
    ret_status_t runEncoderMatching();
    /// Runs the encoder calibration.
    ret_status_t runEncoderCalibration();
    /// Makes the current position the zero position.
    ret_status_t setCurrentPositionToZero();
    /// Makes the current position read as `position`.
    ret_status_t setCurrentPositionAs(float position);
    /// Restarts the driver into its firmware-update bootloader.
    ret_status_t enterDFUMode();

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
    /// Reads the brake resistor current.
    ret_status_t getBrakeCurrent(float* current);
    /// Reads the motor temperature.
    ret_status_t getMotorTemperature(float* temperature);
    /// Reads the driver temperature.
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
    /// Reads the driver fault word.
    ret_status_t getDriverFault(unsigned int* fault);
    /// Reads the error code; codes outside 0-40 and 255 read as DRIVER_ERROR_UNRECOGNISED.
    ret_status_t getErrorCode(driver_error_t* error);
    /// Reads the six debug error words, one exchange each; stops at the first
    /// that fails, leaving the later words untouched.
    ret_status_t getDebugErrorCode(unsigned long long* e1, unsigned long long* e2, unsigned long long* e3,
                                   unsigned long long* e4, unsigned long long* e5, unsigned long long* e6);

    // ---- Configuration.

    /// Sets the DC bus under- and overvoltage trip levels.
    ret_status_t setDCBusTripLevels(float undervoltage, float overvoltage);
    /// Reads the DC bus under- and overvoltage trip levels.
    ret_status_t getDCBusTripLevels(float* undervoltage, float* overvoltage);
    /// Enables the brake resistor with the given resistance.
    ret_status_t enableBrakeResistor(float resistance);
    /// Disables the brake resistor.
    ret_status_t disableBrakeResistor();
    /// Reads the brake resistor: whether enabled, its resistance and two status flags.
    ret_status_t getBrakeResistorState(bool* enabled, float* resistance, bool* c, bool* d);
    /// Sets the regeneration current trip level.
    ret_status_t setRegenCurrentTripLevel(float level);
    /// Reads the regeneration current trip level.
    ret_status_t getRegenCurrentTripLevel(float* level);
    /// Sets pole pairs, kv rating and current limit of the motor.
    ret_status_t setMotorParameters(unsigned char pole_pairs, unsigned short kv_rating, float current_limit);
    /// Reads pole pairs, kv rating and current limit of the motor.
    ret_status_t getMotorParameters(unsigned char* pole_pairs, unsigned short* kv_rating, float* current_limit);
    /// Sets the voltage and current of the motor calibration.
    ret_status_t setMotorCalibrationParameters(float voltage, float current);
    /// Reads the voltage and current of the motor calibration.
    ret_status_t getMotorCalibrationParameters(float* voltage, float* current);
    /// Sets the gear ratio between motor and output.
    ret_status_t setGearBoxParameters(float ratio);
    /// Reads the gear ratio between motor and output.
    ret_status_t getGearBoxParameters(float* ratio);
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
    /// Sets the thermistor's reference resistance and beta value.
    ret_status_t setMotorThermistorParameters(float r_ref, unsigned short beta);
    /// Enables the motor thermal limit with the given upper temperature.
    ret_status_t enableMotorThermalLimit(unsigned short upper_limit);
    /// Disables the motor thermal limit.
    ret_status_t disableMotorThermalLimit();
    /// Reads the thermistor configuration; `lower_limit` is computed as upper_limit - 10 (8-bit).
    ret_status_t getMotorThermistorConfiguration(bool* enabled, float* r_ref, unsigned short* beta,
                                                 unsigned char* upper_limit, unsigned char* lower_limit);
    /// Sets the current filter.
    ret_status_t setCurrentFilter(float filter);
    /// Reads the current filter.
    ret_status_t getCurrentFilter(float* filter);
    /// Sets the encoder data filter.
    ret_status_t setEncoderDataFilter(float filter);
    /// Reads the encoder data filter.
    ret_status_t getEncoderDataFilter(float* filter);
    /// Sets what the driver does at start-up.
    ret_status_t setStartupConfigs(bool index_search, bool encoder_matching, bool closed_loop);
    /// Reads what the driver does at start-up.
    ret_status_t getStartupConfigs(bool* index_search, bool* encoder_matching, bool* closed_loop);
    /// Sets the motor's phase resistance and inductance.
    ret_status_t setMotorPhaseParameters(float resistance, float inductance);
    /// Reads the motor's phase resistance and inductance.
    ret_status_t getMotorPhaseParameters(float* resistance, float* inductance);
    /// Sets the motor torque limit.
    ret_status_t setMotorTorqueLimit(float limit);
    /// Reads the motor torque limit.
    ret_status_t getMotorTorqueLimit(float* limit);
    /// Sets the motor type.
    ret_status_t setMotorType(unsigned char type);
    /// Reads the motor type.
    ret_status_t getMotorType(unsigned char* type);
    /// Sets the device's CAN bit rate; a selector outside 0-8 gives
    /// RET_INVALID_ARGUMENT and sends nothing.
    ret_status_t setCANBaudRate(CANBaudRate rate);
    /// Reads the device's CAN bit rate; a rate outside the selector table reads as -1.
    ret_status_t getCANBaudRate(CANBaudRate* rate);

    // ---- Encoders and hall sensors.

    /// Configures the motor encoder.
    ret_status_t configureMotorEncoder(unsigned char type, int resolution, bool use_index);
    /// Reads the motor encoder configuration.
    ret_status_t getMotorEncoderConfiguration(unsigned char* type, int* resolution, bool* use_index);
    /// Configures and enables the output encoder.
    ret_status_t configureOutputEncoder(unsigned char type, int resolution, bool use_index);
    /// Disables the output encoder.
    ret_status_t disableOutputEncoder();
    /// Reads the output encoder configuration.
    ret_status_t getOutputEncoderConfiguration(unsigned char* type, int* resolution, bool* use_index);
    /// Reads the three motor encoder state flags.
    ret_status_t getMotorEncoderState(bool* a, bool* b, bool* c);
    /// Reads the two output encoder state flags.
    ret_status_t getOutputEncoderState(bool* a, bool* b);
    /// Reads the hall sensor state.
    ret_status_t getHallEncoderState(unsigned char* state);
    /// Reads the eight hall state counts in two exchanges. RET_OK only when both
    /// answered; after a time-out of the first the second is still made.
    ret_status_t getHallEncoderStateCounts(unsigned short* c1, unsigned short* c2, unsigned short* c3,
                                           unsigned short* c4, unsigned short* c5, unsigned short* c6,
                                           unsigned short* c7, unsigned short* c8);

    // ---- Magnetic angle sensor chip registers (`output` true: the output
    // encoder's chip, false: the motor encoder's).

    /// Reads register `reg` and the device's flag for the read.
    ret_status_t getMAxxxSPIRegister(bool output, unsigned char reg, unsigned char* value, bool* flag);
    /// Writes register `reg`; not confirmed.
    ret_status_t setMAxxxSPIRegister(bool output, unsigned char reg, unsigned char value);
    /// Reads the bias current trimming value (register 2).
    ret_status_t getMAxxxBCTValue(bool output, unsigned char* value, bool* flag);
    /// Writes the bias current trimming value (register 2).
    ret_status_t setMAxxxBCTValue(bool output, unsigned char value);
    /// Reads the filter window (register 14).
    ret_status_t getMAxxxFilterWindow(bool output, unsigned char* value, bool* flag);
    /// Writes the filter window (register 14).
    ret_status_t setMAxxxFilterWindow(bool output, unsigned char value);
    /// Reads the two trimming flags (register 3, bits 0 and 1).
    ret_status_t getMAxxxTrimmingSettings(bool output, bool* first, bool* second, bool* flag);
    /// Writes the two trimming flags (register 3).
    ret_status_t setMAxxxTrimmingSettings(bool output, bool first, bool second);
    /// Resets the off-axis calibration stored in an MA702, MA732 or MA600 chip.
    /// Blocks about 0.2 s (MA7xx) or 4.5 s (MA600); reports on standard output
    /// and returns 1 in every case.
    unsigned char clearMAxxxOffAxisCalibration(bool output);
    /// The same reset, cancellable and timed through `options` (its `cancel` and
    /// `clock`; the others are not used), printing the same lines. A set cancel
    /// stops it before its next register write and ends the pause under way (on
    /// the real clock within a few tens of milliseconds). Returns `compatible`,
    /// `completed` (every register written), `cancelled`, `failure`
    /// (Incompatible, Cancelled or None), `chip` and `reason`; `calibrated`
    /// stays false, as a reset calibrates nothing.
    kinetra::OffAxisCalibrationResult clearMAxxxOffAxisCalibration(bool output,
                                                                  const kinetra::OffAxisCalibrationOptions& options);
    /// Calibrates the off-axis error of the chip while the caller turns the shaft
    /// at the constant rate `speed` (degrees per second): bias current trimming,
    /// and on an MA600 a harmonic compensation table that the chip then stores.
    /// Blocks about 15 s (MA600) or 8.5 s (MA702, MA732); reports on standard
    /// output and returns 1 in every case.
    unsigned char runMAxxxOffAxisCalibration(bool output, float speed);
    /// The same run, observed, cancellable and timed through `options`, printing
    /// the same lines; returns what it measured and wrote.
    kinetra::OffAxisCalibrationResult runMAxxxOffAxisCalibration(bool output, float speed,
                                                        const kinetra::OffAxisCalibrationOptions& options);

    // ---- Configuration files.

    /// Reads the driver's configuration (19 reads, one exchange each) and returns
    /// it as the text of a JSON configuration document; empty when a read fails,
    /// and no read is sent after it. Changes no setting.
    std::string exportConfiguration();
    /// Writes the settings of configuration document `config` into the driver,
    /// group by group with a 50 ms pause after each; a group with a member missing
    /// or null is skipped, the bit rate goes last. Prints the parsed document on
    /// standard output. Returns 1 when every group was applied or skipped, 0 when
    /// a write failed (the later ones are not sent). Throws std::runtime_error
    /// when the text is not valid JSON, the JSON library's type error when a
    /// member has the wrong type, and its out_of_range error when a value does not
    /// fit its field (infinite as a float, an integer wider than its field); both
    /// are std::exceptions whose message names the member. In every case nothing is
    /// sent. Does not save the settings on the device (see saveConfigurations).
    unsigned char importConfiguration(std::string config);
    /// The same import, saying what failed instead of throwing or returning 0:
    /// the member refused and why ("motor_pole_pairs: expected a number, got a
    /// string"; nothing sent), or the write that failed and its status. Prints
    /// the document only when `options.print_document`.
    kinetra::ConfigResult importConfiguration(const std::string& config, const kinetra::ConfigOptions& options);
    /// The same export, saying which read failed and its status; the document is
    /// the result's `document`.
    kinetra::ConfigResult exportConfiguration(const kinetra::ConfigOptions& options);
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

    struct KINETRA_LOCAL DriverImpl;

private:
    // Control cycles build their reads on the implementation.
    friend class ControlCycle;
    DriverImpl* impl_;
    Interface* iface_;
};
