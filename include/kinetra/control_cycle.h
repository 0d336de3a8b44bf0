#pragma once
/// @file control_cycle.h
/// Set points and reads of several devices, on one bus or several, sent
/// together once per period so that their round trips overlap.

#include <kinetra/interface.h>
#include <kinetra/types.h>
#include <kinetra/export.h>

#include <cstddef>
#include <initializer_list>

class Driver;
class Actuator;
class IMU;
class Vorlex;

namespace kinetra {
struct CycleProxy;
}

/// The reads of a motor driver or actuator a control cycle can make, each one
/// of the proxy's plain queries. Values come in the order and types of the
/// proxy's getter (a `float` each unless said otherwise).
enum class MotorReading {
    MotorPosition,
    MotorVelocity,
    MotorAcceleration,
    MotorTorque,
    OutputPosition,
    OutputVelocity,
    OutputAcceleration,
    OutputTorque,
    /// The bus voltage, the first value of BusVoltageCurrent.
    BusVoltage,
    /// The motor temperature, the first value of Temperatures.
    MotorTemperature,
    /// Bus voltage and current.
    BusVoltageCurrent,
    /// Motor and driver temperature.
    Temperatures,
    /// Phase currents b and c.
    PhaseCurrents,
    /// Id and Iq.
    IdqCurrents,
    /// The brake resistor's two currents (drivers only).
    BrakeCurrent,
    /// The controller state (`unsigned char`).
    ControllerState,
    /// The controller mode (`unsigned short`).
    ControllerMode,
    /// The error code (`unsigned int`).
    ErrorCode,
    /// The fault word (`unsigned int`).
    DriverFault,
    /// Whether the trajectory is done (`bool`).
    TrajectoryDone,
    /// The motor state flags (`bool`, `bool`).
    MotorState,
    /// The motor encoder's raw count (`int`).
    MotorEncoderRawData,
    /// The output encoder's raw count (`int`).
    OutputEncoderRawData,
};

/// The reads of an IMU a control cycle can make: three floats (x, y, z) plus,
/// where the getter has one, the status byte (`unsigned char`), as IMU's getters.
enum class ImuReading {
    Accelerometer,
    Gyro,
    LinearAccelerometer,
    Magnetometer,
    Gravity,
    UncalibratedGyro,
    UncalibratedGyroBias,
    /// Roll, pitch and yaw.
    EulerAngles,
    /// Four floats.
    RotationVector,
    /// A float and the status byte.
    RotationVectorAccuracy,
    /// Three `short` raw values each.
    RawAccelerometer,
    RawGyro,
    RawMagnetometer,
    /// One `bool`.
    CalibrationStatus,
};

/// The reads of an encoder a control cycle can make: one float each, unless said otherwise.
enum class EncoderReading {
    AbsoluteAngle,
    MultiturnAngle,
    RawVelocity,
    ScaledVelocity,
    FilteredVelocity,
    ScaledFilteredVelocity,
    RawAcceleration,
    ScaledAcceleration,
    FilteredAcceleration,
    ScaledFilteredAcceleration,
    /// The encoder count (`int`).
    EncoderCount,
    /// The raw reading (`unsigned int`).
    EncoderRawData,
    /// The error code (`unsigned int`).
    ErrorCode,
};

/// The commands of a motor driver or actuator a control cycle sends each run.
/// The set points go as setPositionControl(p, 0), setVelocityControl(v) and
/// setTorqueControl(t, 0) send them.
enum class MotorCommand { PositionControl, VelocityControl, TorqueControl, Idle, Active };

/// Where one value of a read goes: a pointer of the type the proxy's getter
/// writes. Converts implicitly from each such pointer.
class CycleValue {
public:
    /// The pointer's type: float, bool, unsigned char, unsigned short, short,
    /// int, unsigned int, unsigned long long.
    enum class Type : unsigned char { Float, Bool, U8, U16, I16, I32, U32, U64 };
    /// Where a `float` value goes.
    CycleValue(float* target) : type_(Type::Float), target_(target) {}
    /// Where a `bool` value goes.
    CycleValue(bool* target) : type_(Type::Bool), target_(target) {}
    /// Where a `unsigned char` value goes.
    CycleValue(unsigned char* target) : type_(Type::U8), target_(target) {}
    /// Where a `unsigned short` value goes.
    CycleValue(unsigned short* target) : type_(Type::U16), target_(target) {}
    /// Where a `short` value goes.
    CycleValue(short* target) : type_(Type::I16), target_(target) {}
    /// Where a `int` value goes.
    CycleValue(int* target) : type_(Type::I32), target_(target) {}
    /// Where a `unsigned int` value goes.
    CycleValue(unsigned int* target) : type_(Type::U32), target_(target) {}
    /// Where a `unsigned long long` value goes.
    CycleValue(unsigned long long* target) : type_(Type::U64), target_(target) {}
    /// The pointer's type.
    Type type() const { return type_; }
    /// The pointer.
    void* target() const { return target_; }

private:
    Type type_;
    void* target_;
};

/// Commands and reads of several devices, sent together once per run.
///
/// A blocking read waits for its reply before the next one can start, so a loop
/// over N devices pays N round trips of adapter and bus. run() writes, per bus,
/// every command and then every read's request in one write, then collects the
/// replies of all buses as they come: the run takes about one round trip of the
/// slowest bus. Set it up once, then run it each period:
///
///     ControlCycle cycle;
///     float target[12], position[12], velocity[12];
///     std::size_t command[12];
///     for (int i = 0; i < 12; ++i) {              // drivers on several interfaces
///         command[i] = cycle.add(drivers[i], MotorCommand::PositionControl, 0.0f);
///         cycle.add(drivers[i], MotorReading::MotorPosition, &position[i]);
///         cycle.add(drivers[i], MotorReading::MotorVelocity, &velocity[i]);
///     }
///     while (running) {
///         for (int i = 0; i < 12; ++i) cycle.setSetpoint(command[i], target[i]);
///         cycle.run();                            // all replies, or 200 ms
///         // cycle.status(index) == RET_OK: that entry's values are this run's
///     }
///
/// Entries: each add() returns the entry's index. A proxy may have several reads,
/// of different commands (a reply names its command); a second read of one
/// command on one proxy, a read the proxy's class does not have, values of the
/// wrong number or types, a null value pointer, or a NaN or infinite set point
/// make an entry that is never sent, with status RET_INVALID_ARGUMENT.
///
/// Statuses (one per entry, after each run): RET_OK (a command sent, a read
/// answered: its values written), RET_TIMEOUT (no reply within the wait),
/// RET_NOT_CONNECTED (the node left the bus: nothing sent for it),
/// RET_NOT_RUNNING (its interface is closed, its send failed, or its adapter
/// was lost during the run), RET_NOT_INITIALISED (its proxy was destroyed
/// since), RET_INVALID_ARGUMENT (refused as above). A read's values are written
/// only when it is answered in that run; a reply after the run is dropped
/// (replies carry no sequence number, so one that arrives as late as the next
/// run's wait, a repeated frame say, answers that run's read of its command).
///
/// Threads: run() allocates nothing and starts no thread. The thread that calls
/// run() sends and waits; each interface's own receive thread hands the replies
/// of its bus to the waiting run. While a run is in progress its proxies must
/// not be queried from another thread. run() refuses (RET_INVALID_ARGUMENT,
/// nothing sent, the statuses kept) when called from an interface's callback or
/// while another thread runs the same cycle. add() and setSetpoint() must not
/// be called during a run. Proxies and their interfaces may be destroyed
/// between runs (their entries then fail), not during one.
class KINETRA_API ControlCycle {
public:
    /// An empty cycle; its entries may be of proxies on any interfaces.
    ControlCycle();
    /// An empty cycle, as above: `iface` is the bus of the single-bus loops
    /// written before cycles took several; it is not needed.
    explicit ControlCycle(Interface* iface);
    ~ControlCycle();
    ControlCycle(const ControlCycle&) = delete;
    ControlCycle& operator=(const ControlCycle&) = delete;

    /// Adds a read of `driver` whose (first) value goes to `*value`; returns its index.
    std::size_t add(Driver& driver, MotorReading reading, float* value);
    /// Adds a read of `actuator`; as for a driver.
    std::size_t add(Actuator& actuator, MotorReading reading, float* value);
    /// Adds a read of `driver` whose values go to `values`, in the reply's order
    /// (the first ones, or all); returns its index.
    std::size_t add(Driver& driver, MotorReading reading, std::initializer_list<CycleValue> values);
    /// Adds a read of `actuator`; as for a driver.
    std::size_t add(Actuator& actuator, MotorReading reading, std::initializer_list<CycleValue> values);
    /// Adds a read of `imu`; as for a driver.
    std::size_t add(IMU& imu, ImuReading reading, std::initializer_list<CycleValue> values);
    /// Adds a read of `encoder`; as for a driver.
    std::size_t add(Vorlex& encoder, EncoderReading reading, std::initializer_list<CycleValue> values);
    /// Adds a command to `driver`, sent each run with `setpoint` (ignored by
    /// Idle and Active); returns its index.
    std::size_t add(Driver& driver, MotorCommand command, float setpoint = 0.0f);
    /// Adds a command to `actuator`; as for a driver.
    std::size_t add(Actuator& actuator, MotorCommand command, float setpoint = 0.0f);

    /// Changes the set point of command entry `index`, sent from the next run on.
    /// A NaN or infinite value is refused (RET_INVALID_ARGUMENT) and the entry
    /// sends nothing until a finite one is set; an index that is no set-point
    /// command is RET_INVALID_ARGUMENT.
    ret_status_t setSetpoint(std::size_t index, float setpoint);

    /// Sends every command and read request, one write per bus, and waits until
    /// all reads are answered or 200 ms have passed. RET_OK when every entry is
    /// RET_OK, else the status of the first entry that is not; RET_INVALID_ARGUMENT
    /// for a cycle without entries and for a refused run (see above).
    ret_status_t run();
    /// The status of entry `index` in the last run() (RET_TIMEOUT before the first,
    /// RET_INVALID_ARGUMENT for an index out of range).
    ret_status_t status(std::size_t index) const;
    /// The number of entries.
    std::size_t size() const;

    struct KINETRA_LOCAL ControlCycleImpl;

private:
    KINETRA_LOCAL static kinetra::CycleProxy proxyOf(Driver& driver);
    KINETRA_LOCAL static kinetra::CycleProxy proxyOf(Actuator& actuator);
    KINETRA_LOCAL static kinetra::CycleProxy proxyOf(IMU& imu);
    KINETRA_LOCAL static kinetra::CycleProxy proxyOf(Vorlex& encoder);

    ControlCycleImpl* impl_;
};
