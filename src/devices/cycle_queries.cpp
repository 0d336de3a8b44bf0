#include "devices/cycle_queries.h"

#include "devices/protocol/imu_protocol.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "devices/protocol/vorlex_operations.h"
#include "devices/protocol/vorlex_protocol.h"

namespace kinetra {
namespace {

namespace motor = protocol::motor;
namespace imu = protocol::imu;
namespace vorlex = protocol::vorlex;

// Not a reading of the enumeration: a command no table routes.
constexpr uint8_t kNoCommand = 0xFF;

uint8_t commandOf(MotorReading reading) {
    switch (reading) {
        case MotorReading::MotorPosition: return motor::kGetMotorPosition;
        case MotorReading::MotorVelocity: return motor::kGetMotorVelocity;
        case MotorReading::MotorAcceleration: return motor::kGetMotorAcceleration;
        case MotorReading::MotorTorque: return motor::kGetMotorTorque;
        case MotorReading::OutputPosition: return motor::kGetOutputPosition;
        case MotorReading::OutputVelocity: return motor::kGetOutputVelocity;
        case MotorReading::OutputAcceleration: return motor::kGetOutputAcceleration;
        case MotorReading::OutputTorque: return motor::kGetOutputTorque;
        case MotorReading::BusVoltage:
        case MotorReading::BusVoltageCurrent: return motor::kGetBusVoltageCurrent;
        case MotorReading::MotorTemperature:
        case MotorReading::Temperatures: return motor::kGetTemperatures;
        case MotorReading::PhaseCurrents: return motor::kGetPhaseCurrents;
        case MotorReading::IdqCurrents: return motor::kGetIdqCurrents;
        case MotorReading::BrakeCurrent: return motor::kGetBrakeCurrent;
        case MotorReading::ControllerState: return motor::kGetControllerState;
        case MotorReading::ControllerMode: return motor::kGetControllerMode;
        case MotorReading::ErrorCode: return motor::kGetErrorCode;
        case MotorReading::DriverFault: return motor::kGetDriverFault;
        case MotorReading::TrajectoryDone: return motor::kGetTrajectoryDoneStatus;
        case MotorReading::MotorState: return motor::kGetMotorState;
        case MotorReading::MotorEncoderRawData: return motor::kGetMotorEncoderRawData;
        case MotorReading::OutputEncoderRawData: return motor::kGetOutputEncoderRawData;
    }
    return kNoCommand;
}

uint8_t commandOf(ImuReading reading) {
    switch (reading) {
        case ImuReading::Accelerometer: return imu::kGetAccelerometerData;
        case ImuReading::Gyro: return imu::kGetGyroData;
        case ImuReading::LinearAccelerometer: return imu::kGetLinearAccelerometerData;
        case ImuReading::Magnetometer: return imu::kGetMagnetometerData;
        case ImuReading::Gravity: return imu::kGetGravityData;
        case ImuReading::UncalibratedGyro: return imu::kGetUncalibratedGyroData;
        case ImuReading::UncalibratedGyroBias: return imu::kGetUncalibratedGyroBiasData;
        case ImuReading::EulerAngles: return imu::kGetEulerAngles;
        case ImuReading::RotationVector: return imu::kGetRotationVectorData;
        case ImuReading::RotationVectorAccuracy: return imu::kGetRotationVectorAccuracy;
        case ImuReading::RawAccelerometer: return imu::kGetRawAccelerometerData;
        case ImuReading::RawGyro: return imu::kGetRawGyroData;
        case ImuReading::RawMagnetometer: return imu::kGetRawMagnetometerData;
        case ImuReading::CalibrationStatus: return imu::kGetCalibrationStatus;
    }
    return kNoCommand;
}

uint8_t commandOf(EncoderReading reading) {
    switch (reading) {
        case EncoderReading::AbsoluteAngle: return vorlex::kGetAbsoluteAngle;
        case EncoderReading::MultiturnAngle: return vorlex::kGetMultiturnAngle;
        case EncoderReading::RawVelocity: return vorlex::kGetRawVelocity;
        case EncoderReading::ScaledVelocity: return vorlex::kGetScaledVelocity;
        case EncoderReading::FilteredVelocity: return vorlex::kGetFilteredVelocity;
        case EncoderReading::ScaledFilteredVelocity: return vorlex::kGetScaledFilteredVelocity;
        case EncoderReading::RawAcceleration: return vorlex::kGetRawAcceleration;
        case EncoderReading::ScaledAcceleration: return vorlex::kGetScaledAcceleration;
        case EncoderReading::FilteredAcceleration: return vorlex::kGetFilteredAcceleration;
        case EncoderReading::ScaledFilteredAcceleration: return vorlex::kGetScaledFilteredAcceleration;
        case EncoderReading::EncoderCount: return vorlex::kGetEncoderCount;
        case EncoderReading::EncoderRawData: return vorlex::kGetEncoderRawData;
        case EncoderReading::ErrorCode: return vorlex::kGetErrorCode;
    }
    return kNoCommand;
}

const protocol::OperationTable& operationsOf(CycleClass cls) {
    switch (cls) {
        case CycleClass::Driver: return motor::kDriverOperations;
        case CycleClass::Actuator: return motor::kActuatorOperations;
        case CycleClass::Imu: return imu::kImuOperations;
        case CycleClass::Encoder: break;
    }
    return vorlex::kVorlexOperations;
}

// The request's frame and the values' scale from the class's operation table,
// the reply layout from its routing table: a read the class does not have
// finds neither and stays without layout.
CycleQuery describe(const CycleProxy& proxy, uint8_t command) {
    CycleQuery query;
    query.command = command;
    if (proxy.routes == nullptr || command == kNoCommand) return query;
    const protocol::Operation* op = operationsOf(proxy.cls).findQuery(command);
    if (op == nullptr) return query;
    query.layout = proxy.routes->find(command);
    query.kind = op->frame;
    query.dlc = op->dlc;
    // A reply's scaled values share one fixed-point scale.
    query.scale = op->value_count > 0 ? op->values[0].scale : 0.0f;
    return query;
}

}  // namespace

CycleQuery cycleQuery(const CycleProxy& proxy, MotorReading reading) { return describe(proxy, commandOf(reading)); }
CycleQuery cycleQuery(const CycleProxy& proxy, ImuReading reading) { return describe(proxy, commandOf(reading)); }
CycleQuery cycleQuery(const CycleProxy& proxy, EncoderReading reading) { return describe(proxy, commandOf(reading)); }

}  // namespace kinetra
