import threading
import time

import pytest

import kinetra
from kinetra import sim


def test_nodes_appear_with_their_types_on_a_thread_of_their_own(bus):
    _, iface, _, events = bus
    assert events.appeared == {1: 1, 2: 2, 3: 3, 4: 4}
    assert threading.get_ident() not in events.threads
    # A node counts as present once its appeared callback was called.
    assert events.wait(lambda: iface.getConnectedDevices() == {1: 1, 2: 2, 3: 3, 4: 4})


@pytest.mark.parametrize("node, read, check", [
    (1, "getBusVoltage", lambda v: v == pytest.approx(24.0)),
    (1, "getFirmwareVersion", lambda v: v == (2, 4, 17)),
    (1, "getFirmwareCommit", lambda v: isinstance(v, str) and len(v) == 7),
    (2, "getHardwareVersion", lambda v: v == (1, 1, 0, 0)),
    (3, "getFirmwareVersion", lambda v: v == (1, 2, 5)),
    (4, "getFirmwareVersion", lambda v: v == (1, 1, 8)),
    (4, "getCANBaudRate", lambda v: v == kinetra.CAN_BAUD_500K),
])
def test_reads_return_status_and_values(bus, node, read, check):
    _, _, proxies, _ = bus
    result = getattr(proxies[node], read)()
    assert result[0] == kinetra.RET_OK
    assert check(kinetra.check(result))


def test_a_setting_reads_back_and_check_unwraps_or_raises(bus):
    simulator, _, proxies, _ = bus
    driver = proxies[1]
    assert driver.setGearBoxParameters(4.0) == kinetra.RET_OK
    assert kinetra.check(driver.getGearBoxParameters()) == pytest.approx(4.0)
    assert kinetra.check(driver.getVelocityControllerGains()) == (pytest.approx(0.16), pytest.approx(0.32))
    # A dropped reply is a time-out: the status says so, check() raises it.
    simulator.node(1).setReplyFaults(drop_fraction=1.0)
    try:
        status, _ = driver.getBusVoltage()
        assert status == kinetra.RET_TIMEOUT
        with pytest.raises(kinetra.KinetraError) as raised:
            kinetra.check(driver.getBusVoltage())
        assert raised.value.status == kinetra.RET_TIMEOUT
    finally:
        simulator.node(1).clearReplyFaults()
    assert kinetra.check(kinetra.RET_OK) is None
    with pytest.raises(TypeError):
        kinetra.check(1.0)


def test_a_move_reaches_its_position(bus):
    _, _, proxies, _ = bus
    driver = proxies[1]
    assert driver.setDeviceToActive() == kinetra.RET_OK
    assert driver.setPositionControl(2.0, 0.0) == kinetra.RET_OK
    deadline = time.monotonic() + 5.0
    position = None
    while time.monotonic() < deadline:
        status, position = driver.getMotorPosition()
        if status == kinetra.RET_OK and abs(position - 2.0) < 0.01:
            break
        time.sleep(0.05)
    assert position == pytest.approx(2.0, abs=0.01)


def test_export_and_import_restore_a_setting(bus):
    _, _, proxies, _ = bus
    driver = proxies[1]
    text = driver.exportConfiguration()
    assert '"Tarvex K3"' in text
    gain = kinetra.check(driver.getPositionControllerGain())
    assert driver.setPositionControllerGain(gain * 2) == kinetra.RET_OK
    assert driver.importConfiguration(text)
    assert kinetra.check(driver.getPositionControllerGain()) == pytest.approx(gain)
    with pytest.raises(RuntimeError):
        driver.importConfiguration("{ not json")


def test_flash_reports_progress_and_the_new_version_runs(bus, tmp_path):
    simulator, iface, proxies, events = bus
    path = tmp_path / "image.hex"
    path.write_text(sim.intelHexText(0x08000000, sim.firmwareImage(1024, 3, 1, 4)))
    stages = []
    clock = kinetra.ManualClock(reply_wait=2.0)
    status = proxies[1].flash(str(path), progress=lambda p: stages.append((p.stage, p.done, p.total)),
                              verify=True, clock=clock)
    assert status == kinetra.RET_OK
    assert stages[0] == (kinetra.FlashStage.Entering, 0, 1)
    assert (kinetra.FlashStage.Writing, 1024, 1024) in stages
    assert stages[-1] == (kinetra.FlashStage.Starting, 1, 1)
    assert sum(clock.sleeps()) >= 5.0  # the pauses passed on the clock, not in real time
    assert events.wait(lambda: iface.isDeviceConnected(1))
    assert kinetra.check(proxies[1].getFirmwareVersion()) == (3, 1, 4)
    # A missing file is refused before anything is sent.
    assert proxies[1].flash(str(tmp_path / "missing.hex")) == kinetra.RET_NOT_INITIALISED


class TurningShaft(kinetra.ProcedureClock):
    """A procedure clock whose pauses turn the simulated shaft at a constant rate:
    pauses take no real time, and each sample sees the exact angle."""

    def __init__(self, encoder, degrees_per_second):
        kinetra.ProcedureClock.__init__(self)
        self.encoder, self.rate, self.paused = encoder, degrees_per_second, 0.0
        encoder.setShaftAngle(0.0)

    def now(self):
        return self.paused

    def sleepFor(self, seconds):
        self.paused += seconds
        self.encoder.setShaftAngle(self.rate * self.paused)


def test_calibration_returns_its_result(bus):
    simulator, _, proxies, _ = bus
    stages = []
    clock = TurningShaft(simulator.node(4), 360.0)
    result = proxies[4].runMAxxxOffAxisCalibration(
        360.0, progress=lambda stage, sample: sample == 0 and stages.append(stage), clock=clock)
    assert result.compatible and result.completed and not result.read_timed_out
    assert result.calibrated and result.reason == "" and result.chip == kinetra.OffAxisChipState.Stored
    assert result.measurements == 3 and len(result.errors) == result.measurements
    assert result.errors[0].half_peak_to_peak >= 3 * result.errors[2].half_peak_to_peak
    assert len(result.compensation_bytes) == 32
    assert stages[0] == kinetra.OffAxisStage.Reset and stages[-1] == kinetra.OffAxisStage.Done


def test_a_silent_node_is_lost_and_its_queries_report_it(bus):
    simulator, iface, proxies, events = bus
    imu = proxies[3]
    simulator.command("heartbeats 3 off")
    try:
        assert events.wait(lambda: 3 in events.lost)
        assert not imu.isConnected()
        assert imu.getFirmwareVersion()[0] == kinetra.RET_NOT_CONNECTED
    finally:
        simulator.command("heartbeats 3 on")
    assert events.wait(lambda: iface.isDeviceConnected(3))
    with pytest.raises(ValueError):
        simulator.command("no such command")


@pytest.mark.filterwarnings("ignore::pytest.PytestUnraisableExceptionWarning")
def test_callback_exceptions_do_not_stop_later_events():
    simulator = sim.Simulator([(sim.NodeKind.Encoder, 7)], generic=True)
    with simulator:
        iface = kinetra.SlcanInterface(kinetra.CAN_BAUD_500K)
        seen = threading.Event()

        def appeared(node, kind):
            seen.set()
            raise RuntimeError("a faulty callback")

        with iface:
            assert iface.initInterface(simulator.portName(), appeared)
            assert seen.wait(3.0)
        assert not iface.isOpen()


@pytest.mark.parametrize("name, code, expected", [
    ("controllerStateName", 0, "idle"),
    ("controllerStateName", 3, "emergency stop"),
    ("controllerStateName", 9, "state 9"),
    ("controllerModeName", 4, "torque"),
    ("controllerModeName", 99, "mode 99"),
    ("driverErrorName", 0, "none"),
    ("driverErrorName", kinetra.DRIVER_ERROR_7, "DRIVER_ERROR_7"),
    ("driverErrorName", 255, "DRIVER_ERROR_UNRECOGNISED"),
    ("faultBitNames", 0b1001, ["bit 0", "bit 3"]),
])
def test_codes_read_by_name(name, code, expected):
    assert getattr(kinetra, name)(code) == expected


def test_a_driver_state_reads_by_name_and_the_version_is_the_library_one(bus):
    _, _, proxies, _ = bus
    driver = proxies[2]  # the actuator: its state is not changed by the other tests
    assert kinetra.controllerStateName(kinetra.check(driver.getControllerState())) == "idle"
    assert kinetra.__version__.startswith("0.")


def test_two_hosts_on_one_simulated_bus_each_hear_the_nodes():
    simulator = sim.Simulator([(sim.NodeKind.Driver, 1)], hosts=2)
    assert simulator.hosts() == 2
    assert simulator.hostPortName(0) == simulator.portName() != simulator.hostPortName(1)
    with pytest.raises(IndexError):
        simulator.hostPortName(2)
    with simulator:
        first, second = kinetra.SlcanInterface(), kinetra.SlcanInterface()
        with first, second:
            assert first.initInterface(simulator.hostPortName(0))
            assert second.initInterface(simulator.hostPortName(1))
            deadline = time.monotonic() + 3.0
            while time.monotonic() < deadline and not (first.isDeviceConnected(1) and second.isDeviceConnected(1)):
                time.sleep(0.01)
            # Neither host takes the other's master heartbeat for a node.
            assert first.getConnectedDevices() == second.getConnectedDevices() == {1: 1}


def test_library_lines_reach_the_sink_and_results_say_what_failed(bus):
    _, _, proxies, _ = bus
    driver = proxies[1]
    lines = []
    arrived = threading.Event()

    def keep(line):
        lines.append(line)
        arrived.set()

    kinetra.setMessageSink(keep)
    try:
        result = driver.importConfigurationResult('{"Tarvex K3": {"motor_pole_pairs": "seven", '
                                                  '"motor_kv_rating": 100, "motor_current_limit": 10}}')
        assert not result.ok()
        assert result.reason == kinetra.ConfigFailure.WrongType
        assert result.member == "motor_pole_pairs"
        assert str(result) == "motor_pole_pairs: expected a number, got a string"
        assert arrived.wait(3.0), "the document the import read reaches the sink"
        assert lines[0] == "{"
    finally:
        kinetra.setMessageSink(None)
    failed = kinetra.FlashResult()
    assert driver.flash("/nonexistent/firmware.hex", result=failed) != kinetra.RET_OK
    assert failed.step == kinetra.FlashStep.File
    assert failed.reason == kinetra.FlashFailure.FileProblem
    assert not failed.in_bootloader
    assert "not known to wait in its bootloader" in str(failed)
    assert "voltage [V]" in kinetra.Driver.getBusVoltage.__doc__
