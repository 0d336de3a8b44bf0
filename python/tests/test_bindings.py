import builtins
import logging
import math
import os
import re
import signal
import subprocess
import sys
import threading

import pytest

import kinetra

# "name(self, arg: type, ...) -> Result", the first docstring line of every table operation.
SIGNATURE = re.compile(r"^(\w+)\(self((?:, [^)]*)?)\) -> (\w+)$")
# Run after every other operation: they take the node off the bus for a while.
DISRUPTIVE = ("enter_dfu_mode", "reboot_driver", "reboot_actuator", "reboot_vorlex")
ARGUMENT = {"float": 0.5, "int": 1, "bool": False, "CANBaudRate": kinetra.CAN_BAUD_500K}


def operations(cls):
    """The table operations of a proxy class as (name, parameter types, result type name), in the order
    the walk calls them: reports enabled first (the IMU's reads need them), reads, commands, disruptive."""
    found = []
    for name in cls._operations:
        match = SIGNATURE.match(getattr(cls, name).__doc__.split("\n")[0])
        assert match and match.group(1) == name, name
        params = [param.split(": ")[1] for param in match.group(2).split(", ")[1:]]
        found.append((name, params, match.group(3)))
    return sorted(found, key=lambda op: (op[0] in DISRUPTIVE, not op[0].startswith("enable"), op[2] == "None", op[0]))


def result_type(name):
    return type(None) if name == "None" else getattr(kinetra, name, None) or getattr(builtins, name)


@pytest.mark.parametrize("getter, node", [("driver", 1), ("actuator", 2), ("imu", 3), ("encoder", 4)])
def test_every_operation_returns_its_declared_type(getter, node):
    with kinetra.Simulator() as simulator, kinetra.Bus(simulator.port) as bus:
        assert bus.wait_for(node, timeout=5.0)
        proxy = getattr(bus, getter)(node)
        for name, params, result in operations(type(proxy)):
            args = [node if name == "set_node_id" else ARGUMENT[param] for param in params]
            value = getattr(proxy, name)(*args)
            expected = result_type(result)
            assert isinstance(value, expected), (name, value)
            if hasattr(expected, "_fields"):  # a named tuple: each field as annotated
                for field, field_type in expected.__annotations__.items():
                    assert isinstance(getattr(value, field), field_type), (name, field)


@pytest.mark.parametrize("getter, read, expected", [
    ("driver", "get_bus_voltage", pytest.approx(24.0)),
    ("driver", "get_firmware_version", kinetra.FirmwareVersion(2, 4, 17)),
    ("actuator", "get_hardware_version", (1, 1, 0, 0)),
    ("imu", "get_firmware_version", (1, 2, 5)),
    ("encoder", "get_firmware_version", (1, 1, 8)),
    ("encoder", "get_can_baud_rate", kinetra.CAN_BAUD_500K),
])
def test_reads_return_the_devices_values(request, getter, read, expected):
    assert getattr(request.getfixturevalue(getter), read)() == expected


def test_a_setting_reads_back_and_one_operation_has_one_result_class(driver, actuator):
    assert driver.set_gear_box_parameters(4.0) is None
    assert driver.get_gear_box_parameters() == pytest.approx(4.0)
    assert driver.get_firmware_version().major == 2
    assert type(actuator.get_firmware_version()) is kinetra.FirmwareVersion
    # The same name with other values is a class of its own, named after the proxy.
    assert kinetra.ActuatorMotorThermistorConfiguration._fields != kinetra.MotorThermistorConfiguration._fields
    assert type(actuator.get_motor_thermistor_configuration()) is kinetra.ActuatorMotorThermistorConfiguration


@pytest.mark.parametrize("cls, name", [
    (kinetra.Driver, "get_dc_calib_phase_currents"), (kinetra.Driver, "get_can_communication_status"),
    (kinetra.Driver, "get_maxxx_spi_register"), (kinetra.Driver, "set_can_baud_rate"),
    (kinetra.Driver, "enter_dfu_mode"), (kinetra.Driver, "set_scurve_trajectory_control"),
    (kinetra.Driver, "get_idq_currents"), (kinetra.Actuator, "set_current_postion_to_zero"),
    (kinetra.IMU, "enable_raw_gyro"), (kinetra.Vorlex, "get_maxxx_spi_register"),
    (kinetra.Adapter, "reboot_zarvo"),
])
def test_operations_take_the_snake_case_of_their_cxx_names(cls, name):
    assert callable(getattr(cls, name))


def test_no_public_function_keeps_a_capital():
    for cls in (kinetra.Driver, kinetra.Actuator, kinetra.IMU, kinetra.Vorlex, kinetra.Bus, kinetra.Adapter,
                kinetra.Simulator, kinetra.FrameStream, kinetra.sim.DriverNode, kinetra.sim.EncoderNode):
        names = [name for name in dir(cls) if not name.startswith("_") and callable(getattr(cls, name))]
        assert [name for name in names if name != name.lower()] == [], cls
    assert [name for name, value in vars(kinetra).items()
            if callable(value) and not isinstance(value, type) and name != name.lower()] == []


def test_a_failure_raises_its_class_with_status_node_and_operation():
    cases = []  # (exception raised, exception class, status, node, operation)
    with kinetra.Simulator() as simulator, kinetra.Bus(simulator.port) as bus:
        assert bus.wait_for(1, timeout=5.0)
        driver, absent = bus.driver(1), bus.driver(9)
        simulator.node(1).set_reply_faults(drop_fraction=1.0)
        for call in (driver.get_bus_voltage, lambda: absent.get_bus_voltage()):
            try:
                call()
            except kinetra.KinetraError as error:
                cases.append(error)
        simulator.node(1).clear_reply_faults()
    try:
        driver.set_device_to_idle()
    except kinetra.KinetraError as error:
        cases.append(error)
    expected = [(kinetra.ReplyTimeout, kinetra.RET_TIMEOUT, 1, "get_bus_voltage"),
                (kinetra.NodeNotConnected, kinetra.RET_NOT_CONNECTED, 9, "get_bus_voltage"),
                (kinetra.BusNotRunning, kinetra.RET_NOT_RUNNING, 1, "set_device_to_idle")]
    assert [(type(e), e.status, e.node, e.operation) for e in cases] == expected
    assert str(cases[0]) == "driver 1: get_bus_voltage: no reply within 200 ms (RET_TIMEOUT)"


@pytest.mark.parametrize("setter, getter, args", [
    ("set_position_controller_gain", "get_position_controller_gain", (math.nan,)),
    ("set_position_controller_gain", "get_position_controller_gain", (math.inf,)),
    ("set_velocity_controller_gains", "get_velocity_controller_gains", (1.0, -math.inf)),
    ("set_motor_parameters", "get_motor_parameters", (256, 100, 10.0)),          # pole_pairs: 8 bits
    ("set_motor_parameters", "get_motor_parameters", (7, -1, 10.0)),             # kv_rating: unsigned
    ("set_motor_thermistor_parameters", "get_motor_thermistor_configuration", (10000.0, 1 << 16)),
    ("set_motor_thermistor_parameters", "get_motor_thermistor_configuration", (10000.0, 1 << 80)),
])
def test_bad_arguments_raise_invalid_argument_and_change_nothing(driver, setter, getter, args):
    before = getattr(driver, getter)()
    with pytest.raises(kinetra.InvalidArgument) as raised:
        getattr(driver, setter)(*args)
    assert isinstance(raised.value, ValueError)
    assert (raised.value.status, raised.value.node, raised.value.operation) == (kinetra.RET_INVALID_ARGUMENT, 1, setter)
    assert getattr(driver, getter)() == before


@pytest.mark.parametrize("call", [
    lambda d: d.get_bus_voltage(1), lambda d: d.set_gear_box_parameters(), lambda d: d.set_gear_box_parameters("4"),
    lambda d: d.set_motor_parameters(7.5, 100, 1.0), lambda d: d.set_motor_parameters(True, 100, 1.0),
    lambda d: d.set_node_id(None),
])
def test_wrong_argument_types_and_counts_raise_type_error_with_the_signature(driver, call):
    with pytest.raises(TypeError, match=r"\(self: kinetra\._core\.Driver"):
        call(driver)


def test_a_bus_opened_on_nothing_or_with_a_bad_option_raises(simulator):
    cases = [(lambda: kinetra.Bus("/dev/null/none"), kinetra.AdapterError),
             (lambda: kinetra.Bus(simulator.port, adapter="can"), kinetra.InvalidArgument),
             (lambda: kinetra.Bus(simulator.port, bitrate=123), kinetra.InvalidArgument),
             (lambda: kinetra.Simulator(buses=0), kinetra.InvalidArgument)]
    for make, error in cases:
        with pytest.raises(error):
            make()
    assert issubclass(kinetra.AdapterError, OSError)


def native_threads():
    return len(os.listdir("/proc/self/task"))


def test_context_managers_close_and_join_everything_on_an_exception():
    before = native_threads()
    with pytest.raises(RuntimeError, match="inside"):
        with kinetra.Simulator(buses=2) as simulator, kinetra.Bus(simulator.ports[1]) as bus:
            driver = bus.driver(1)
            stream = bus.frames()
            bus.on_frame(lambda frame: None)
            assert bus.wait_for(1, timeout=5.0) and len(simulator.ports) == 2
            raise RuntimeError("inside")
    assert bus.closed and not simulator.running and native_threads() == before
    with pytest.raises(kinetra.BusNotRunning):
        driver.get_bus_voltage()
    with pytest.raises(kinetra.BusNotRunning):
        bus.adapter.get_firmware_version()
    with pytest.raises(kinetra.BusNotRunning):
        bus.wait_for(1)
    assert all(isinstance(frame, kinetra.Frame) for frame in stream)  # ends once drained
    bus.close()  # idempotent


def test_proxies_are_one_object_per_node_and_class(bus):
    assert bus.driver(1) is bus.driver(1)
    with pytest.raises(kinetra.InvalidArgument):
        bus.actuator(1)
    assert bus.nodes() == {1: kinetra.DeviceType.Driver, 2: kinetra.DeviceType.Actuator,
                           3: kinetra.DeviceType.IMU, 4: kinetra.DeviceType.Encoder}


def test_callbacks_run_off_the_receive_thread_and_one_that_raises_is_logged_once(caplog):
    # A callback on the receive thread would wait for its own reply: its query would time out.
    lost, frames_seen = [], []
    done = threading.Event()

    def appeared(node, device_type):
        raise RuntimeError("appeared callback")

    def on_lost(node):
        lost.append((node, bus.driver(1).get_bus_voltage()))
        done.set()

    def on_frame(frame):
        if not frames_seen:
            frames_seen.append(bus.driver(1).get_bus_voltage())

    with caplog.at_level(logging.ERROR, logger="kinetra"):
        with kinetra.Simulator() as simulator, kinetra.Bus(simulator.port, on_appeared=appeared,
                                                           on_lost=on_lost) as bus:
            assert all(bus.wait_for(node, timeout=5.0) for node in range(1, 5))
            bus.on_frame(on_frame)
            simulator.node(4).set_heartbeats_enabled(False)
            assert done.wait(5.0)
    assert lost == [(4, pytest.approx(24.0))] and frames_seen == [pytest.approx(24.0)]
    records = [r for r in caplog.records if r.name == "kinetra" and r.exc_info]
    assert len(records) == 1 and "appeared callback" in str(records[0].exc_info[1])


def test_frames_carry_the_replies_and_a_full_queue_counts_what_it_dropped(bus, driver):
    with bus.frames(maxsize=1, timeout=1.0) as small, bus.frames(timeout=1.0) as frames:
        voltage = driver.get_bus_voltage()
        reply = next(frame for frame in frames if (frame.id >> 7) & 0x3FFFF == 1 and not frame.remote)
        assert isinstance(reply, kinetra.Frame) and reply.extended and len(reply.data) == reply.dlc
        next(frames), next(frames)  # `small`, holding one frame, has had to drop some by now
        assert voltage == pytest.approx(24.0) and small.dropped > 0 and small.get(timeout=0) is not None
    assert small.get(timeout=0) is None


def test_ctrl_c_ends_a_wait_without_time_limit(bus):
    timer = threading.Timer(0.1, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            bus.wait_for(99, timeout=None)
    finally:
        timer.join()
    assert not bus.wait_for(99, timeout=0.05)
    with pytest.raises(kinetra.InvalidArgument):
        bus.wait_for(1, timeout=math.nan)


def test_a_callback_may_stop_its_own_delivery_and_close_its_bus():
    # Stopping the frame thread from inside it once freed it under the running callback.
    calls = []
    with kinetra.Simulator() as simulator, kinetra.Bus(simulator.port) as bus:
        stopped, closed = threading.Event(), threading.Event()

        def stop_frames(frame):
            calls.append(frame)
            bus.on_frame(None)
            stopped.set()

        bus.on_frame(stop_frames)
        assert stopped.wait(5.0)
        bus.on_frame(lambda frame: (bus.close(), closed.set()))
        assert closed.wait(5.0)
        with pytest.raises(kinetra.BusNotRunning):
            bus.driver(1).get_bus_voltage()
    assert len(calls) == 1


@pytest.mark.parametrize("adapter, bitrate, rate", [("zarvo", 500_000, kinetra.CAN_BAUD_500K),
                                                    ("zarvo", 1_000_000, kinetra.CAN_BAUD_1M),
                                                    ("slcan", 250_000, kinetra.CAN_BAUD_250K)])
def test_each_adapter_and_bit_rate_reaches_the_nodes(adapter, bitrate, rate):
    with kinetra.Simulator(adapter=adapter, bitrate=bitrate) as simulator, \
            kinetra.Bus(simulator.port, adapter=adapter, bitrate=bitrate) as bus:
        assert bus.wait_for(1, timeout=5.0) and bus.driver(1).get_bus_voltage() == pytest.approx(24.0)
        assert simulator.adapter.bit_rate() == rate


def test_an_unplugged_adapter_reports_its_nodes_and_itself_lost():
    lost, adapter_lost = [], threading.Event()
    with kinetra.Simulator() as simulator, kinetra.Bus(simulator.port, on_lost=lost.append,
                                                       on_adapter_lost=adapter_lost.set) as bus:
        assert all(bus.wait_for(node, timeout=5.0) for node in range(1, 5))
        simulator.unplug()
        assert adapter_lost.wait(5.0) and bus.adapter_lost and not bus.running
        assert sorted(lost) == [1, 2, 3, 4]
        with pytest.raises(kinetra.KinetraError):
            bus.driver(1).get_bus_voltage()


def test_a_bus_left_open_at_interpreter_exit_is_closed_without_a_crash():
    script = ("import kinetra\n"
              "sim = kinetra.Simulator()\n"
              "bus = kinetra.Bus(sim.port, on_appeared=lambda node, kind: None)\n"
              "assert bus.wait_for(1)\n"
              "stream = bus.frames()\n"
              "bus.on_frame(lambda frame: None)\n")
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert (done.returncode, done.stderr) == (0, "")
