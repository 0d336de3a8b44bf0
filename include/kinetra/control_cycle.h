#pragma once
/// @file control_cycle.h
/// Reads of several devices issued together, so that their round trips overlap.

#include <kinetra/interface.h>
#include <kinetra/types.h>
#include <kinetra/export.h>

#include <cstddef>

class Driver;
class Actuator;

/// The single-float reads of a motor driver or actuator a control cycle can make.
enum class MotorReading {
    MotorPosition,
    MotorVelocity,
    MotorAcceleration,
    MotorTorque,
    OutputPosition,
    OutputVelocity,
    OutputAcceleration,
    OutputTorque,
    BusVoltage,
    MotorTemperature,
};

/// A set of reads, at most one per proxy, made together once per cycle.
///
/// A blocking read waits for its reply before the next one can start, so a loop
/// over N devices pays N round trips of adapter and bus. run() sends the
/// request of every read in one write, then collects the replies as they come:
/// the cycle takes about one round trip. Set it up once, then run it each period:
///
///     ControlCycle cycle(&bus);
///     float position[6];
///     for (int i = 0; i < 6; ++i) cycle.add(drivers[i], MotorReading::MotorPosition, &position[i]);
///     while (running) {
///         cycle.run();                     // all replies, or 200 ms
///         for (int i = 0; i < 6; ++i) if (cycle.status(i) == RET_OK) use(position[i]);
///     }
///
/// run() allocates nothing. Each read writes its value only when answered in
/// that cycle; a reply that comes after the wait is dropped. A proxy destroyed
/// after add() makes its read RET_NOT_INITIALISED; a node that left the bus,
/// RET_NOT_CONNECTED (nothing is sent for it). While the cycle runs, its proxies
/// must not be queried from another thread; run() must not be called from an
/// interface callback.
class KINETRA_API ControlCycle {
public:
    /// An empty cycle on `iface`, which must outlive it; its reads' proxies must
    /// be proxies on the same interface.
    explicit ControlCycle(Interface* iface);
    ~ControlCycle();
    ControlCycle(const ControlCycle&) = delete;
    ControlCycle& operator=(const ControlCycle&) = delete;

    /// Adds a read of `driver` whose value goes to `*value`; returns its index.
    /// A second read of the same proxy is never sent: RET_INVALID_ARGUMENT.
    std::size_t add(Driver& driver, MotorReading reading, float* value);
    /// Adds a read of `actuator`; as for a driver.
    std::size_t add(Actuator& actuator, MotorReading reading, float* value);

    /// Sends every read's request in one write and waits until all are answered
    /// or 200 ms have passed. RET_OK when all were answered, else the status of
    /// the first read that was not.
    ret_status_t run();
    /// The status of read `index` in the last run() (RET_TIMEOUT before the first,
    /// RET_INVALID_ARGUMENT for an index out of range).
    ret_status_t status(std::size_t index) const;
    /// The number of reads.
    std::size_t size() const;

    struct KINETRA_LOCAL ControlCycleImpl;

private:
    ControlCycleImpl* impl_;
};
