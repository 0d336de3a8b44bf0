#pragma once
/// @file vorlex.h
/// Proxy of one Vorlex magnetic rotary encoder node.

#include <kinetra/can_device_type.h>
#include <kinetra/interface.h>
#include <kinetra/offaxis_calibration.h>
#include <kinetra/types.h>
#include <kinetra/export.h>

#include <ostream>
#include <string>

/// Proxy of one Vorlex magnetic rotary encoder node.
///
/// Every operation is one CAN exchange on the caller's thread. Commands return
/// RET_OK once the frame is sent; queries wait up to 200 ms for the reply and
/// write their out-parameters only on RET_OK (getCANBaudRate excepted). Queries
/// on one proxy from several threads take turns; a command is not held back by
/// a waiting query. Never query from an interface callback. The encoder's values
/// travel as single-precision floats; their units are the device's and the
/// library passes them through.
///
/// A reply later than the wait is dropped, but it can still answer the next
/// read of the same command on this proxy, with the older value: the protocol
/// carries no sequence number. A reply never answers a read of another command.
/// Another host on the same bus (a monitor, a second program) is no device, and
/// its queries, remote frames, never answer a read; but a data frame it sends
/// with the command of a read in progress cannot be told from the device's
/// reply, just as a late reply cannot (two programs reading the same IMU's
/// rotation vector, whose query is a data frame).
class KINETRA_API Vorlex : public CANDeviceType {
public:
    /// Creates the proxy for node `node_id` on `iface`, which must outlive it,
    /// and registers it for the node's frames. Sends nothing.
    Vorlex(unsigned int node_id, Interface* iface);
    /// Unregisters the proxy; once this returns no frame reaches it.
    ~Vorlex() override;

    /// Handles one frame routed to this proxy; called by the receive thread.
    void canMsgCallback(can_frame_data* frame) override;

    /// Whether the node is present on the bus (sent a heartbeat within 1.001 s).
    bool isConnected();
    /// Sets this proxy's log sink; nullptr restores the discarding one.
    void setOutputLogStream(std::ostream* stream);

    /// Reads the shaft angle within one turn.
    ret_status_t getAbsoluteAngle(float* angle);
    /// Reads the shaft angle counted over several turns.
    ret_status_t getMultiturnAngle(float* angle);
    /// Reads the encoder count.
    ret_status_t getEncoderCount(int* count);
    /// Reads the sensor's raw reading.
    ret_status_t getEncoderRawData(unsigned int* raw);
    /// Reads the zero position the device applies.
    ret_status_t getZeroPosition(float* position);
    /// Makes the current shaft position the zero position.
    ret_status_t setCurrentPositionToZero();

    /// Reads the unscaled velocity.
    ret_status_t getRawVelocity(float* velocity);
    /// Reads the velocity multiplied by the scaling factor.
    ret_status_t getScaledVelocity(float* velocity);
    /// Reads the velocity averaged over the filter window.
    ret_status_t getFilteredVelocity(float* velocity);
    /// Reads the filtered velocity multiplied by the scaling factor.
    ret_status_t getScaledFilteredVelocity(float* velocity);
    /// Reads the unscaled acceleration.
    ret_status_t getRawAcceleration(float* acceleration);
    /// Reads the acceleration multiplied by the scaling factor.
    ret_status_t getScaledAcceleration(float* acceleration);
    /// Reads the acceleration averaged over the filter window.
    ret_status_t getFilteredAcceleration(float* acceleration);
    /// Reads the filtered acceleration multiplied by the scaling factor.
    ret_status_t getScaledFilteredAcceleration(float* acceleration);

    /// Sets the encoder type and its resolution parameter.
    ret_status_t configureEncoder(unsigned char type, int resolution);
    /// Reads the encoder type and its resolution parameter.
    ret_status_t getEncoderConfiguration(unsigned char* type, int* resolution);
    /// Sets the counting direction.
    ret_status_t setEncoderDirection(unsigned char direction);
    /// Reads the counting direction.
    ret_status_t getEncoderDirection(unsigned char* direction);
    /// Sets the factor the scaled values are multiplied by.
    ret_status_t setScalingFactor(float factor);
    /// Reads the scaling factor.
    ret_status_t getScalingFactor(float* factor);
    /// Sets the length of the filter window, in samples.
    ret_status_t setFilterWindowLength(unsigned int length);
    /// Reads the length of the filter window.
    ret_status_t getFilterWindowLength(unsigned int* length);
    /// Sets the linear count of the encoder (no getter exists).
    ret_status_t setLinearCount(unsigned int count);

    /// Writes one register of the sensor chip behind the encoder.
    ret_status_t setMAxxxSPIRegister(unsigned char address, unsigned char value);
    /// Reads one register of the sensor chip: its value and the device's flag.
    ret_status_t getMAxxxSPIRegister(unsigned char address, unsigned char* value, bool* flag);
    /// Calibrates the off-axis error of the encoder's chip while the caller turns
    /// the shaft at the constant rate `speed` (degrees per second): bias current
    /// trimming, a harmonic compensation table, and the chip's store. Blocks
    /// about 15 s; reports on standard output and returns 1 in every case.
    unsigned char runMAxxxOffAxisCalibration(float speed);
    /// The same run, observed, cancellable and timed through `options`, printing
    /// the same lines; returns what it measured and wrote.
    kinetra::OffAxisCalibrationResult runMAxxxOffAxisCalibration(float speed, const kinetra::OffAxisCalibrationOptions& options);

    /// Sets the device's CAN bit rate; RET_INVALID_ARGUMENT for a value outside
    /// the table, and nothing is sent. The adapter keeps its own rate.
    ret_status_t setCANBaudRate(CANBaudRate rate);
    /// Reads the device's CAN bit rate. Writes -1 when the reported rate is not in
    /// the table, and also when the reply times out.
    ret_status_t getCANBaudRate(CANBaudRate* rate);
    /// Reads the device's error code.
    ret_status_t getErrorCode(unsigned int* code);
    /// Clears the device's errors.
    ret_status_t clearEncoderErrors();

    /// Makes the device store its current configuration permanently.
    ret_status_t saveConfigurations();
    /// Makes the device erase its stored configuration.
    ret_status_t eraseConfigurations();
    /// Reads the node identifier the device reports.
    ret_status_t getNodeId(unsigned int* id);
    /// Tells the device its new node identifier; this proxy keeps addressing the old one.
    ret_status_t setNodeId(unsigned int id);
    /// Reboots the device.
    ret_status_t rebootVorlex();
    /// Makes the device enter its firmware-update mode.
    ret_status_t enterDFUMode();
    /// Reads the four hardware version numbers.
    ret_status_t getHardwareVersion(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d);
    /// Reads the firmware version.
    ret_status_t getFirmwareVersion(unsigned char* major, unsigned char* minor, unsigned short* patch);
    /// Reads the firmware commit text (up to 8 characters).
    ret_status_t getFirmwareCommit(std::string* commit);

    struct KINETRA_LOCAL VorlexImpl;

private:
    // Control cycles reach the proxy through the implementation.
    friend class ControlCycle;
    VorlexImpl* impl_;
    Interface* iface_;
};
