# The long procedures from Python: firmware update, configuration export and
# import, the encoder's calibration; their progress, their failures as
# exceptions, and stopping them by event, by a raising callback and by Ctrl-C.
import json
import math
import os
import pathlib
import signal
import subprocess
import sys
import threading
import time

import pytest

import kinetra
from kinetra import sim

FLASH_BASE = 0x08000000
DEFAULT_FIRMWARE = (2, 4, 17)


@pytest.fixture(scope="module")
def rig():
    """A bus of its own: these tests flash and reconfigure its nodes."""
    with kinetra.Simulator() as simulator, kinetra.Bus(simulator.port) as bus:
        simulator.node(1).set_boot_timing(erase_time_scale=0)
        simulator.node(2).set_boot_timing(erase_time_scale=0)
        for node in (1, 2, 4):
            assert bus.wait_for(node, timeout=5.0)
        yield simulator, bus


def image(tmp_path, size, version, name="image.hex"):
    path = tmp_path / name
    path.write_text(sim.intel_hex_text(FLASH_BASE, sim.firmware_image(size, *version)))
    return path


def recover(bus, node, path):
    """Finishes an update a failure left in the bootloader; the device runs again."""
    proxy = bus.driver(node) if node == 1 else bus.actuator(node)
    proxy.flash(path, already_in_dfu=True, clock=kinetra.ManualClock())
    assert bus.wait_for(node, timeout=5.0)


def sigint_later(seconds):
    """Delivers SIGINT to the main thread from a timer thread; returns when it was sent."""
    sent = []
    main = threading.main_thread().ident

    def fire():
        sent.append(time.monotonic())
        signal.pthread_kill(main, signal.SIGINT)

    threading.Timer(seconds, fire).start()
    return sent


@pytest.mark.parametrize("node, proxy", [(1, "driver"), (2, "actuator")])
def test_flash_reports_progress_on_the_calling_thread_and_the_new_firmware_runs(rig, tmp_path, node, proxy):
    simulator, bus = rig
    device = getattr(bus, proxy)(node)
    reports, threads = [], set()

    def progress(report):
        reports.append((report.stage, report.done, report.total))
        threads.add(threading.get_ident())

    clock = kinetra.ManualClock()
    device.flash(image(tmp_path, 1024, (3, 1, 4)), verify=True, progress=progress, clock=clock)
    assert threads == {threading.get_ident()}
    assert reports[0] == (kinetra.FlashStage.Entering, 0, 1)
    assert reports[-1] == (kinetra.FlashStage.Starting, 1, 1)
    for stage in (kinetra.FlashStage.Erasing, kinetra.FlashStage.Writing, kinetra.FlashStage.Verifying):
        done = [d for s, d, t in reports if s == stage]
        assert done == sorted(done) and done[-1] == [t for s, d, t in reports if s == stage][-1]
    assert sum(clock.sleeps()) >= 5.0  # the pauses passed on the clock, not in real time
    assert bus.wait_for(node, timeout=5.0)
    assert tuple(device.get_firmware_version()) == (3, 1, 4)
    assert not simulator.node(node).in_bootloader()


@pytest.mark.parametrize("step, fault, stage, failure, status, in_bootloader", [
    (sim.BootStep.Erase, sim.BootFault.Refuse, kinetra.FlashStep.Erase, kinetra.FlashFailure.Refused,
     kinetra.Status.RET_NOT_CONNECTED, True),
    (sim.BootStep.Write, sim.BootFault.Silent, kinetra.FlashStep.Write, kinetra.FlashFailure.NoReply,
     kinetra.Status.RET_TIMEOUT, True),
    (sim.BootStep.Write, sim.BootFault.CorruptByte, kinetra.FlashStep.Verify, kinetra.FlashFailure.Differs,
     kinetra.Status.RET_NOT_CONNECTED, True),
])
def test_a_failed_flash_raises_where_and_why_and_can_be_finished(rig, tmp_path, step, fault, stage, failure,
                                                                 status, in_bootloader):
    simulator, bus = rig
    path = image(tmp_path, 1024, (2, 4, 17))
    simulator.node(1).inject_boot_fault(step, fault)
    with pytest.raises(kinetra.FlashError) as raised:
        bus.driver(1).flash(path, verify=True, clock=kinetra.ManualClock(reply_wait=0.2))
    error = raised.value
    assert (error.stage, error.failure, error.status) == (stage, failure, status)
    assert (error.node, error.operation, error.in_bootloader) == (1, "flash", in_bootloader)
    assert error.reason and error.reason in str(error)
    if failure == kinetra.FlashFailure.Refused:
        assert error.reply_byte != 0
    if stage in (kinetra.FlashStep.Write, kinetra.FlashStep.Verify):
        assert FLASH_BASE <= error.address < FLASH_BASE + 1024
    assert simulator.node(1).in_bootloader() == in_bootloader
    recover(bus, 1, path)


def unusable_file(kind):
    if kind == "no end record":
        text = sim.intel_hex_text(FLASH_BASE, sim.firmware_image(1024, 2, 4, 17))
        return text[:text.rindex(":00000001FF")]
    return sim.intel_hex_text(0x09000000, sim.firmware_image(1024, 2, 4, 17))  # beyond the erased flash


@pytest.mark.parametrize("kind, status", [
    ("missing", kinetra.Status.RET_NOT_INITIALISED),
    ("no end record", kinetra.Status.RET_INVALID_ARGUMENT),
    ("outside the flash", kinetra.Status.RET_INVALID_ARGUMENT),
])
def test_an_unusable_file_is_refused_before_anything_is_sent(rig, tmp_path, kind, status):
    simulator, bus = rig
    path = tmp_path / "bad.hex"
    if kind != "missing":
        path.write_text(unusable_file(kind))
    with pytest.raises(kinetra.FlashError) as raised:
        bus.driver(1).flash(str(path))
    error = raised.value
    assert (error.stage, error.failure, error.status) == (kinetra.FlashStep.File, kinetra.FlashFailure.FileProblem,
                                                          status)
    assert not error.in_bootloader and not simulator.node(1).in_bootloader()


@pytest.mark.parametrize("args, kwargs", [
    ((5,), {}),
    (("x.hex",), {"progress": 5}),
    (("x.hex",), {"cancel": object()}),
    (("x.hex",), {"clock": 3}),
    (("x.hex", True), {}),  # the options are keywords
])
def test_wrong_arguments_raise_type_error_before_the_update_starts(rig, args, kwargs):
    simulator, bus = rig
    with pytest.raises(TypeError):
        bus.driver(1).flash(*args, **kwargs)
    assert not simulator.node(1).in_bootloader()


class Stop(Exception):
    pass


@pytest.mark.parametrize("how", ["event", "flag", "sigint", "callback"])
def test_a_stopped_flash_leaves_the_device_in_its_bootloader_without_the_new_firmware(rig, tmp_path, how):
    simulator, bus = rig
    path = image(tmp_path, 32 * 1024, (9, 9, 9))
    cancel = threading.Event() if how == "event" else kinetra.CancelFlag()
    sent = []

    def progress(report):
        if report.stage != kinetra.FlashStage.Writing or report.done == 0 or sent:
            return
        sent.append(time.monotonic())
        if how == "callback":
            raise Stop("stop here")
        if how == "sigint":
            sigint_later(0.0)
        else:
            threading.Thread(target=cancel.set).start()

    expected = {"event": kinetra.FlashError, "flag": kinetra.FlashError, "sigint": KeyboardInterrupt,
                "callback": Stop}[how]
    with pytest.raises(expected) as raised:
        bus.driver(1).flash(path, progress=progress, cancel=cancel, clock=kinetra.ManualClock())
    if expected is kinetra.FlashError:
        assert raised.value.failure == kinetra.FlashFailure.Cancelled
        assert raised.value.stage == kinetra.FlashStep.Write
    assert sent
    # Stopped during the writes: the bootloader waits, the adapter is back at the bus's rate.
    assert simulator.node(1).in_bootloader()
    assert simulator.adapter.bit_rate() == kinetra.CANBaudRate.CAN_BAUD_500K
    recover(bus, 1, image(tmp_path, 1024, (2, 4, 17), "back.hex"))
    assert tuple(bus.driver(1).get_firmware_version()) == DEFAULT_FIRMWARE


def test_ctrl_c_ends_a_flash_during_a_long_pause_soon(rig, tmp_path):
    # On the real clock the update pauses seconds at a time; Ctrl-C must not wait them out.
    simulator, bus = rig
    sent = sigint_later(0.3)
    started = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        bus.driver(1).flash(image(tmp_path, 1024, (9, 9, 9)))
    ended = time.monotonic()
    assert sent and ended - started < 7.0  # well short of the entry's pauses
    print(f"flash: Ctrl-C returned {1000 * (ended - sent[0]):.1f} ms after the signal")
    if simulator.node(1).in_bootloader() or not bus.wait_for(1, timeout=3.0):
        recover(bus, 1, image(tmp_path, 1024, (2, 4, 17), "back.hex"))


@pytest.mark.parametrize("call", ["flash, bootloader silent", "clear of an MA600"])
def test_ctrl_c_ends_a_wait_for_the_device_soon(rig, tmp_path, call):
    # Fault: a silent bootloader's reply wait (20 s) and the clear's pauses (4.5 s) held Ctrl-C back.
    simulator, bus = rig
    driver = bus.driver(1)
    if call.startswith("flash"):
        simulator.node(1).inject_boot_fault(sim.BootStep.Erase, sim.BootFault.Silent)
        path = image(tmp_path, 1024, (9, 9, 9))
        run = lambda: driver.flash(path, clock=kinetra.ManualClock(reply_wait=30.0))  # noqa: E731
    else:
        driver.configure_output_encoder(9, 16384, False)
        run = lambda: driver.clear_maxxx_off_axis_calibration(True)  # noqa: E731
    sent = sigint_later(0.5)
    with pytest.raises(KeyboardInterrupt):
        run()
    ended = time.monotonic()
    print(f"{call}: Ctrl-C returned {1000 * (ended - sent[0]):.1f} ms after the signal")
    assert ended - sent[0] < 2.0  # generous, and far short of what was left to wait
    if call.startswith("flash"):
        assert simulator.node(1).in_bootloader()
        recover(bus, 1, image(tmp_path, 1024, (2, 4, 17), "back.hex"))
    else:
        driver.disable_output_encoder()


def model_of(document):
    (model,) = document.keys()
    return model


def test_export_and_import_round_trip(rig):
    _, bus = rig
    driver = bus.driver(1)
    text = driver.export_configuration()
    document = json.loads(text)
    gain = driver.get_position_controller_gain()
    driver.set_position_controller_gain(gain * 2)
    driver.import_configuration(text)
    assert driver.get_position_controller_gain() == pytest.approx(gain)
    assert json.loads(driver.export_configuration()) == document


@pytest.mark.parametrize("edit, failure, member", [
    (lambda d: "{ not json", kinetra.ConfigFailure.NotJson, None),
    (lambda d: {**d, "motor_pole_pairs": "seven"}, kinetra.ConfigFailure.WrongType, "motor_pole_pairs"),
    (lambda d: {**d, "motor_pole_pairs": 300}, kinetra.ConfigFailure.DoesNotFit, "motor_pole_pairs"),
])
def test_a_bad_document_raises_naming_the_member_before_anything_is_sent(rig, edit, failure, member):
    _, bus = rig
    driver = bus.driver(1)
    document = json.loads(driver.export_configuration())
    model = model_of(document)
    gain = driver.get_position_controller_gain()
    driver.set_position_controller_gain(gain + 1.0)
    edited = edit(document[model])
    text = edited if isinstance(edited, str) else json.dumps({model: edited})
    with pytest.raises(kinetra.ConfigurationError) as raised:
        driver.import_configuration(text)
    error = raised.value
    assert (error.failure, error.member, error.status) == (failure, member, kinetra.Status.RET_INVALID_ARGUMENT)
    assert (error.node, error.operation, error.groups_written) == (1, "import_configuration", 0)
    assert isinstance(error, kinetra.KinetraError)
    assert driver.get_position_controller_gain() == pytest.approx(gain + 1.0)  # nothing was sent
    driver.set_position_controller_gain(gain)


def test_an_export_from_an_absent_node_names_the_read(rig):
    _, bus = rig
    with pytest.raises(kinetra.ConfigurationError) as raised:
        bus.driver(9).export_configuration()
    assert raised.value.failure == kinetra.ConfigFailure.ReadFailed
    assert raised.value.failed_operation.startswith("get_")
    assert raised.value.status == kinetra.Status.RET_NOT_CONNECTED


@pytest.mark.parametrize("how", ["event set before", "event", "sigint"])
def test_a_stopped_import_sends_no_further_group(rig, how):
    # The position gain is the eleventh of fourteen groups, half a second in.
    _, bus = rig
    driver = bus.driver(1)
    text = driver.export_configuration()
    gain = driver.get_position_controller_gain()
    driver.set_position_controller_gain(gain * 3)
    cancel = threading.Event()
    if how == "event set before":
        cancel.set()
    elif how == "event":
        threading.Timer(0.1, cancel.set).start()
    sent = sigint_later(0.1) if how == "sigint" else []
    expected = KeyboardInterrupt if how == "sigint" else kinetra.ConfigurationError
    with pytest.raises(expected) as raised:
        driver.import_configuration(text, cancel=cancel)
    if expected is kinetra.ConfigurationError:
        assert raised.value.failure == kinetra.ConfigFailure.Cancelled
        assert raised.value.groups_written < 11 and (how == "event" or raised.value.groups_written == 0)
    else:
        print(f"import: Ctrl-C returned {1000 * (time.monotonic() - sent[0]):.1f} ms after the signal")
    assert driver.get_position_controller_gain() == pytest.approx(gain * 3)
    driver.import_configuration(text)
    assert driver.get_position_controller_gain() == pytest.approx(gain)


class TurningShaft(kinetra.ProcedureClock):
    """A procedure clock whose pauses turn the simulated shaft at a constant rate:
    pauses take no real time, and each sample sees the exact angle."""

    def __init__(self, encoder, degrees_per_second):
        kinetra.ProcedureClock.__init__(self)
        self.encoder, self.rate, self.paused = encoder, degrees_per_second, 0.0
        encoder.set_shaft_angle(0.0)

    def now(self):
        return self.paused

    def sleep_for(self, seconds):
        self.paused += seconds
        self.encoder.set_shaft_angle(self.rate * self.paused)


def test_a_calibration_returns_its_result_and_reports_each_stage(rig):
    simulator, bus = rig
    reports, measurements = [], []
    result = bus.encoder(4).run_maxxx_off_axis_calibration(
        360.0, progress=reports.append, samples=measurements.append, clock=TurningShaft(simulator.node(4), 360.0))
    assert result.calibrated and result.chip == kinetra.OffAxisChipState.Stored
    assert result.errors[0].half_peak_to_peak >= 3 * result.errors[2].half_peak_to_peak
    begun = [r.stage for r in reports if r.done == 0]
    assert begun[0] == kinetra.OffAxisStage.Reset and begun[-1] == kinetra.OffAxisStage.Done
    assert [(r.done, r.total) for r in reports if r.stage == kinetra.OffAxisStage.Measurement3][-1] == (500, 500)
    assert [m.measurement for m in measurements] == [1, 2, 3]
    assert all(len(m.measured) == len(m.expected) == 500 for m in measurements)


@pytest.mark.parametrize("shaft, kwargs, error, failure, stage", [
    (0.0, {}, kinetra.CalibrationError, kinetra.OffAxisFailure.ShaftStill, kinetra.OffAxisStage.Measurement1),
    (-360.0, {}, kinetra.CalibrationError, kinetra.OffAxisFailure.WrongDirection, kinetra.OffAxisStage.Measurement1),
    (360.0, {"cancel": "set"}, kinetra.CalibrationError, kinetra.OffAxisFailure.Cancelled, kinetra.OffAxisStage.Reset),
    (360.0, {"speed": math.nan}, kinetra.InvalidArgument, None, None),
    (360.0, {"speed": math.inf}, kinetra.InvalidArgument, None, None),
    (360.0, {"read_timeout": 0.0}, kinetra.InvalidArgument, None, None),
])
def test_a_calibration_that_cannot_calibrate_raises_why(rig, shaft, kwargs, error, failure, stage):
    simulator, bus = rig
    if kwargs.get("cancel") == "set":
        kwargs["cancel"] = threading.Event()
        kwargs["cancel"].set()
    speed = kwargs.pop("speed", 360.0)
    with pytest.raises(error) as raised:
        bus.encoder(4).run_maxxx_off_axis_calibration(speed, clock=TurningShaft(simulator.node(4), shaft), **kwargs)
    assert (raised.value.node, raised.value.operation) == (4, "run_maxxx_off_axis_calibration")
    if failure is not None:
        assert (raised.value.failure, raised.value.stage) == (failure, stage)
        assert raised.value.result.failure == failure and raised.value.reason


@pytest.mark.parametrize("output, failure, stage", [
    (False, kinetra.OffAxisFailure.ShaftStill, kinetra.OffAxisStage.Measurement1),  # the motor's encoder, still
    (True, kinetra.OffAxisFailure.Incompatible, kinetra.OffAxisStage.Reset),  # no output encoder configured
])
def test_the_drivers_calibration_raises_for_the_encoder_it_was_given(rig, output, failure, stage):
    _, bus = rig
    with pytest.raises(kinetra.CalibrationError) as raised:
        bus.driver(1).run_maxxx_off_axis_calibration(output, 360.0, clock=kinetra.ManualClock())
    assert (raised.value.failure, raised.value.stage, raised.value.node) == (failure, stage, 1)


def test_a_raising_progress_callback_stops_the_calibration_and_is_raised(rig):
    simulator, bus = rig
    calls = []

    def progress(report):
        calls.append(report)
        if report.stage == kinetra.OffAxisStage.Measurement1 and report.done == 10:
            raise Stop("enough")

    with pytest.raises(Stop):
        bus.encoder(4).run_maxxx_off_axis_calibration(360.0, progress=progress,
                                                      clock=TurningShaft(simulator.node(4), 360.0))
    assert calls[-1].done == 10  # nothing more reached the callback that raised


EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples" / "python"


@pytest.mark.parametrize("example, printed", [
    ("flash_firmware.py", "node 1: firmware 2.5.0 (was 2.4.17)"),
    ("backup_restore.py", "restored from"),
    ("calibrate.py", "bias current trimming:"),
])
def test_the_examples_run_against_a_simulated_bus(tmp_path, example, printed):
    # The package this suite imports, wherever it was found.
    env = {**os.environ, "PYTHONPATH": str(pathlib.Path(kinetra.__file__).resolve().parents[1])}
    run = subprocess.run([sys.executable, str(EXAMPLES / example)], cwd=tmp_path, env=env, capture_output=True,
                         text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert printed in run.stdout


def test_the_procedures_of_a_proxy_whose_bus_closed_raise_bus_not_running(tmp_path):
    with kinetra.Simulator() as simulator:
        with kinetra.Bus(simulator.port) as bus:
            assert bus.wait_for(4, timeout=5.0)
            driver, actuator, encoder = bus.driver(1), bus.actuator(2), bus.encoder(4)
        calls = [lambda: driver.flash(image(tmp_path, 1024, (2, 4, 17))), lambda: actuator.flash("x.hex"),
                 driver.export_configuration, lambda: driver.import_configuration("{}"),
                 lambda: driver.clear_maxxx_off_axis_calibration(False),
                 lambda: encoder.run_maxxx_off_axis_calibration(360.0)]
        for call in calls:
            with pytest.raises(kinetra.BusNotRunning):
                call()
