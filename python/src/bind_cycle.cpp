// kinetra.ControlCycle and the enumerations of what it reads and sends.

#include <kinetra/control_cycle.h>

#include "bindings.h"
#include "python_cycle.h"

namespace kinetra::python {

namespace {

void bindReadings(py::module_& m) {
    py::enum_<MotorReading>(m, "MotorReading",
                            "What a control cycle reads of a Driver or an Actuator; float32 values unless said.")
        .value("MotorPosition", MotorReading::MotorPosition, "turns")
        .value("MotorVelocity", MotorReading::MotorVelocity, "turns/s")
        .value("MotorAcceleration", MotorReading::MotorAcceleration, "turns/s^2")
        .value("MotorTorque", MotorReading::MotorTorque, "N m")
        .value("OutputPosition", MotorReading::OutputPosition, "turns")
        .value("OutputVelocity", MotorReading::OutputVelocity, "turns/s")
        .value("OutputAcceleration", MotorReading::OutputAcceleration, "turns/s^2")
        .value("OutputTorque", MotorReading::OutputTorque, "N m")
        .value("BusVoltage", MotorReading::BusVoltage, "V")
        .value("MotorTemperature", MotorReading::MotorTemperature, "degrees C")
        .value("BusVoltageCurrent", MotorReading::BusVoltageCurrent, "V, A")
        .value("Temperatures", MotorReading::Temperatures, "motor and driver, degrees C")
        .value("PhaseCurrents", MotorReading::PhaseCurrents, "phases b and c, A")
        .value("IdqCurrents", MotorReading::IdqCurrents, "Id and Iq, A")
        .value("BrakeCurrent", MotorReading::BrakeCurrent, "the brake resistor's two currents, A (drivers only)")
        .value("ControllerState", MotorReading::ControllerState, "uint8")
        .value("ControllerMode", MotorReading::ControllerMode, "uint16")
        .value("ErrorCode", MotorReading::ErrorCode, "uint32")
        .value("DriverFault", MotorReading::DriverFault, "uint32")
        .value("TrajectoryDone", MotorReading::TrajectoryDone, "bool")
        .value("MotorState", MotorReading::MotorState, "two bool")
        .value("MotorEncoderRawData", MotorReading::MotorEncoderRawData, "int32 count")
        .value("OutputEncoderRawData", MotorReading::OutputEncoderRawData, "int32 count");

    py::enum_<ImuReading>(m, "ImuReading",
                          "What a control cycle reads of an IMU: x, y, z as float32, then the status byte (uint8) "
                          "where the reply has one.")
        .value("Accelerometer", ImuReading::Accelerometer, "m/s^2")
        .value("Gyro", ImuReading::Gyro, "rad/s")
        .value("LinearAccelerometer", ImuReading::LinearAccelerometer, "m/s^2")
        .value("Magnetometer", ImuReading::Magnetometer, "uT")
        .value("Gravity", ImuReading::Gravity, "m/s^2")
        .value("UncalibratedGyro", ImuReading::UncalibratedGyro, "rad/s")
        .value("UncalibratedGyroBias", ImuReading::UncalibratedGyroBias, "rad/s")
        .value("EulerAngles", ImuReading::EulerAngles, "roll, pitch, yaw")
        .value("RotationVector", ImuReading::RotationVector, "four float32 (quaternion)")
        .value("RotationVectorAccuracy", ImuReading::RotationVectorAccuracy, "a float32 and the status byte")
        .value("RawAccelerometer", ImuReading::RawAccelerometer, "three int16")
        .value("RawGyro", ImuReading::RawGyro, "three int16")
        .value("RawMagnetometer", ImuReading::RawMagnetometer, "three int16")
        .value("CalibrationStatus", ImuReading::CalibrationStatus, "bool");

    py::enum_<EncoderReading>(m, "EncoderReading", "What a control cycle reads of an encoder; one float32 unless said.")
        .value("AbsoluteAngle", EncoderReading::AbsoluteAngle)
        .value("MultiturnAngle", EncoderReading::MultiturnAngle)
        .value("RawVelocity", EncoderReading::RawVelocity)
        .value("ScaledVelocity", EncoderReading::ScaledVelocity)
        .value("FilteredVelocity", EncoderReading::FilteredVelocity)
        .value("ScaledFilteredVelocity", EncoderReading::ScaledFilteredVelocity)
        .value("RawAcceleration", EncoderReading::RawAcceleration)
        .value("ScaledAcceleration", EncoderReading::ScaledAcceleration)
        .value("FilteredAcceleration", EncoderReading::FilteredAcceleration)
        .value("ScaledFilteredAcceleration", EncoderReading::ScaledFilteredAcceleration)
        .value("EncoderCount", EncoderReading::EncoderCount, "int32")
        .value("EncoderRawData", EncoderReading::EncoderRawData, "uint32")
        .value("ErrorCode", EncoderReading::ErrorCode, "uint32");

    py::enum_<MotorCommand>(m, "MotorCommand",
                            "What a control cycle sends a Driver or an Actuator each run, with its set point.")
        .value("PositionControl", MotorCommand::PositionControl, "set point in turns")
        .value("VelocityControl", MotorCommand::VelocityControl, "set point in turns/s")
        .value("TorqueControl", MotorCommand::TorqueControl, "set point in N m")
        .value("Idle", MotorCommand::Idle, "no set point")
        .value("Active", MotorCommand::Active, "no set point");
}

}  // namespace

void bindCycle(py::module_& m) {
    bindReadings(m);
    // Each docstring starts with its signature in the package's public names.
    py::options options;
    options.disable_function_signatures();
    py::class_<PythonCycle>(
        m, "ControlCycle",
        "Commands and reads of devices on one bus or several, sent together by each run(), so that their round "
        "trips overlap. Set it up once, then run it each period:\n\n"
        "    cycle = kinetra.ControlCycle([bus_a, bus_b])\n"
        "    cmd = cycle.add_command(driver, kinetra.MotorCommand.PositionControl)\n"
        "    pos = cycle.add_read(driver, kinetra.MotorReading.MotorPosition)\n"
        "    cycle.setpoints[cmd] = 0.25\n"
        "    cycle.run()\n"
        "    cycle.values[pos]  # this run's position, if cycle.statuses[pos] is Status.RET_OK\n\n"
        "`values` and `setpoints` are NumPy views of the memory the cycle writes and reads: nothing is copied "
        "per run. Take them again after adding entries (adding may move them). Not for use by several threads "
        "at once: a second thread's run() or add while one runs raises InvalidArgument.")
        .def(py::init<const py::object&>(), py::arg("buses"),
             "__init__(self, buses: Bus | Iterable[Bus]) -> None\n\n"
             "An empty cycle over `buses`: one Bus or several. It keeps them, and every proxy and buffer it is "
             "given, alive.")
        .def("add_read", &PythonCycle::addRead, py::arg("proxy"), py::arg("reading"), py::arg("out") = py::none(),
             "add_read(self, proxy: Driver | Actuator | IMU | Encoder, reading: MotorReading | ImuReading | "
             "EncoderReading, out: numpy.typing.NDArray[Any] | None = None) -> int\n\n"
             "Adds a read of `proxy` and returns its entry index. Without `out`, its first value (a float32) "
             "lands in `values[index]`; with `out` (a writable, contiguous array or buffer of the reading's dtype) "
             "the reply's first `out.size` values land in `out` directly, each run. TypeError for a reading of "
             "another class or a wrong dtype; ValueError for a proxy on another bus or a second read of the same "
             "command on one proxy.")
        .def("add_command", &PythonCycle::addCommand, py::arg("proxy"), py::arg("command"),
             py::arg("setpoint") = 0.0f,
             "add_command(self, proxy: Driver | Actuator, command: MotorCommand, setpoint: float = 0.0) -> int\n\n"
             "Adds a command sent each run, with `setpoints[index]` (initially `setpoint`; turns, turns/s or N m "
             "as the command), and returns its entry index. TypeError for an IMU or an encoder; InvalidArgument "
             "for a NaN or infinite set point.")
        .def("run", &PythonCycle::run,
             "run(self) -> bool\n\n"
             "Sends every command and read request, one write per bus, and waits (GIL released) until every read "
             "is answered or 200 ms have passed. True when every entry is OK (see `statuses`); raises the first "
             "entry's error when no entry is OK, and InvalidArgument for a NaN set point before sending anything.")
        .def_property_readonly("values", py::cpp_function(&PythonCycle::values,
                                                          "(self) -> numpy.ndarray[numpy.float32]\n\n"
                                                          "One slot per entry, where each run writes a read's first "
                                                          "value (when no `out` was given); a view, never a copy."))
        .def_property_readonly("setpoints", py::cpp_function(&PythonCycle::setpoints,
                                                             "(self) -> numpy.ndarray[numpy.float32]\n\n"
                                                             "One slot per entry, the set point each command sends; "
                                                             "write into it between runs."))
        .def_property_readonly("statuses", py::cpp_function(&PythonCycle::statuses,
                                                            "(self) -> tuple[Status, ...]\n\n"
                                                            "Every entry's status in the last run (RET_TIMEOUT "
                                                            "before the first run after an add)."))
        .def_property_readonly("buses", py::cpp_function(&PythonCycle::buses,
                                                         "(self) -> tuple[Bus, ...]\n\n"
                                                         "The buses the cycle was made with."))
        .def("__len__", &PythonCycle::size, "__len__(self) -> int\n\nThe number of entries.");
}

}  // namespace kinetra::python
