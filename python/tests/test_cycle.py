# kinetra.ControlCycle: values written in place, commands reaching the motors,
# several buses, per-entry statuses, bad input, and run() without the GIL.
import threading
import time

import numpy as np
import pytest

import kinetra
from kinetra import DeviceType as T, ImuReading, MotorCommand as C, MotorReading as R, Status

NODES = {1: T.Driver, 2: T.Actuator, 3: T.IMU, 4: T.Encoder}


def data_pointer(array):
    return array.__array_interface__["data"][0]


@pytest.fixture
def rig():
    """A private simulator (tests here move motors and inject faults) and its bus."""
    with kinetra.Simulator(NODES) as sim, kinetra.Bus(sim.port) as bus:
        assert all(bus.wait_for(node) for node in NODES)
        yield sim, bus


def run_until(cycle, done, runs=200):
    for _ in range(runs):
        cycle.run()
        if done():
            return True
        time.sleep(0.005)
    return False


def test_values_land_in_the_cycles_arrays_and_the_users_without_copies(rig):
    _, bus = rig
    cycle = kinetra.ControlCycle(bus)
    driver, actuator, encoder = bus.driver(1), bus.actuator(2), bus.encoder(4)
    position = cycle.add_read(driver, R.MotorPosition)
    volts = np.full(2, np.nan, np.float32)
    cycle.add_read(actuator, R.BusVoltageCurrent, out=volts)
    mode = np.zeros(1, np.uint16)
    cycle.add_read(driver, R.ControllerMode, out=mode)
    angle = cycle.add_read(encoder, kinetra.EncoderReading.AbsoluteAngle)
    values = cycle.values
    pointers = (data_pointer(values), data_pointer(volts), data_pointer(mode))
    values[:] = np.nan
    for _ in range(3):
        assert cycle.run()
        assert (data_pointer(cycle.values), data_pointer(volts), data_pointer(mode)) == pointers
    assert np.shares_memory(values, cycle.values)
    # Written through the view taken before the runs: the cycle's own memory.
    assert np.isfinite(values[[position, angle]]).all()
    assert volts[0] == pytest.approx(actuator.get_bus_voltage(), abs=0.5)
    assert mode[0] == driver.get_controller_mode()


@pytest.mark.parametrize("command, setpoint, reading", [
    (C.PositionControl, 0.5, R.MotorPosition),
    (C.VelocityControl, 3.0, R.MotorVelocity),
    (C.PositionControl, -0.25, R.MotorPosition),
])
def test_commands_reach_the_simulated_motors(rig, command, setpoint, reading):
    _, bus = rig
    cycle = kinetra.ControlCycle([bus])
    for proxy in (bus.driver(1), bus.actuator(2)):
        cycle.add_command(proxy, C.Active)
        cmd = cycle.add_command(proxy, command)
        cycle.setpoints[cmd] = setpoint
        cycle.add_read(proxy, reading)
    reads = [2, 5]
    assert run_until(cycle, lambda: np.allclose(cycle.values[reads], setpoint, atol=0.05))
    assert cycle.statuses == (Status.RET_OK,) * len(cycle)


def test_one_cycle_commands_and_reads_motors_on_several_buses():
    with kinetra.Simulator({1: T.Driver, 2: T.Driver}, buses=3) as sim:
        buses = [kinetra.Bus(port) for port in sim.ports]
        try:
            assert all(bus.wait_for(node) for bus in buses for node in (1, 2))
            cycle = kinetra.ControlCycle(buses)
            targets = np.array([0.1, -0.2, 0.3, -0.4, 0.5, -0.6], np.float32)
            positions = np.zeros(6, np.float32)
            commands = []
            for i, (bus, node) in enumerate((bus, node) for bus in buses for node in (1, 2)):
                cycle.add_command(bus.driver(node), C.Active)
                commands.append(cycle.add_command(bus.driver(node), C.PositionControl))
                cycle.add_read(bus.driver(node), R.MotorPosition, out=positions[i:i + 1])
            cycle.setpoints[commands] = targets
            assert run_until(cycle, lambda: np.allclose(positions, targets, atol=0.05))
            assert cycle.buses == tuple(buses)
        finally:
            for bus in buses:
                bus.close()


def test_a_dropped_reply_fails_its_entry_only_and_no_reply_at_all_raises(rig):
    sim, bus = rig
    cycle = kinetra.ControlCycle(bus)
    cycle.add_read(bus.driver(1), R.MotorPosition)
    cycle.add_read(bus.actuator(2), R.MotorPosition)
    sim.node(2).set_reply_faults(drop_fraction=1.0)
    assert cycle.run() is False
    assert cycle.statuses == (Status.RET_OK, Status.RET_TIMEOUT)
    sim.node(1).set_reply_faults(drop_fraction=1.0)
    with pytest.raises(kinetra.ReplyTimeout) as raised:
        cycle.run()
    assert raised.value.status == Status.RET_TIMEOUT and raised.value.node == 1
    sim.node(1).clear_reply_faults()
    sim.node(2).clear_reply_faults()
    assert cycle.run()


def test_a_closed_bus_raises_bus_not_running_never_crashes(rig):
    _, bus = rig
    cycle = kinetra.ControlCycle(bus)
    cycle.add_command(bus.driver(1), C.Idle)
    cycle.add_read(bus.driver(1), R.MotorPosition)
    bus.close()
    with pytest.raises(kinetra.BusNotRunning):
        cycle.run()


def test_a_nan_setpoint_raises_before_anything_is_sent(rig):
    sim, bus = rig
    cycle = kinetra.ControlCycle(bus)
    cmd = cycle.add_command(bus.driver(1), C.TorqueControl)
    cycle.add_read(bus.driver(1), R.MotorTorque)
    assert cycle.run()
    heard = sim.node(1).frames_heard()
    for bad in (np.nan, np.inf, -np.inf):
        cycle.setpoints[cmd] = bad
        with pytest.raises(kinetra.InvalidArgument):
            cycle.run()
    assert sim.node(1).frames_heard() == heard


def test_bad_input_raises_clear_exceptions(bus, driver, actuator, imu, encoder):
    with kinetra.Simulator({1: T.Driver}) as other_sim, kinetra.Bus(other_sim.port) as other:
        cycle = kinetra.ControlCycle(bus)
        cycle.add_read(driver, R.MotorPosition)
        cases = [
            (lambda: kinetra.ControlCycle([]), ValueError, "at least one bus"),
            (lambda: kinetra.ControlCycle(driver), TypeError, ""),
            (lambda: cycle.add_read(other.driver(1), R.MotorPosition), kinetra.InvalidArgument, "not made with"),
            (lambda: cycle.add_command(imu, C.Idle), TypeError, "Driver or an Actuator"),
            (lambda: cycle.add_command(encoder, C.PositionControl), TypeError, "Driver or an Actuator"),
            (lambda: cycle.add_command(driver, C.PositionControl, float("nan")), kinetra.InvalidArgument, ""),
            (lambda: cycle.add_read(imu, R.MotorPosition), TypeError, "ImuReading"),
            (lambda: cycle.add_read(driver, ImuReading.Gyro), TypeError, "MotorReading"),
            (lambda: cycle.add_read(driver, R.MotorPosition), ValueError, "already has a read"),
            (lambda: cycle.add_read(actuator, R.BrakeCurrent), kinetra.InvalidArgument, ""),
            (lambda: cycle.add_read(driver, R.ErrorCode), TypeError, "uint32"),
            (lambda: cycle.add_read(driver, R.MotorVelocity, out=np.zeros(1)), TypeError, "dtype"),
            (lambda: cycle.add_read(driver, R.MotorVelocity, out=np.zeros(1, np.int32)), TypeError, "float32"),
            (lambda: cycle.add_read(driver, R.MotorVelocity, out=np.zeros(2, np.float32)), TypeError, ""),
            (lambda: cycle.add_read(driver, R.MotorVelocity, out=np.zeros(4, np.float32)[::2]), ValueError,
             "contiguous"),
            (lambda: cycle.add_read(driver, R.MotorVelocity, out=np.zeros(0, np.float32)), ValueError, "1 to 8"),
            (lambda: cycle.add_read(driver, R.MotorVelocity, out=bytes(4)), ValueError, "writable"),
            (lambda: cycle.add_read(driver, R.MotorVelocity, out=[0.0]), TypeError, "buffer"),
            (lambda: cycle.add_read(driver), TypeError, "add_read"),
        ]
        for call, error, fragment in cases:
            with pytest.raises(error, match=fragment):
                call()
        assert len(cycle) == 1, "a refused entry must not enter the cycle"
        with pytest.raises(kinetra.InvalidArgument):
            kinetra.ControlCycle(bus).run()


def test_run_releases_the_gil(rig):
    sim, bus = rig
    cycle = kinetra.ControlCycle(bus)
    cycle.add_read(bus.driver(1), R.MotorPosition)
    sim.node(1).set_reply_faults(drop_fraction=1.0)  # each run waits its full bound
    counted = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            counted.append(None)

    counter = threading.Thread(target=count)
    counter.start()
    try:
        before = len(counted)
        with pytest.raises(kinetra.ReplyTimeout):
            cycle.run()
        during = len(counted) - before
    finally:
        stop.set()
        counter.join(timeout=5)
    assert during > 1000

