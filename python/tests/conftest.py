# One simulated bus for the whole suite: driver 1, actuator 2, IMU 3 and
# encoder 4 behind the simulated Zarvo adapter. Tests that need a fault the
# others must not see, or a bus of their own, make their own simulator.
import pytest

import kinetra

NODES = {1: kinetra.DeviceType.Driver, 2: kinetra.DeviceType.Actuator, 3: kinetra.DeviceType.IMU,
         4: kinetra.DeviceType.Encoder}


@pytest.fixture(scope="session")
def simulator():
    with kinetra.Simulator() as sim:
        # Firmware updates in the suite need not wait for a real erase.
        sim.node(1).set_boot_timing(erase_time_scale=0)
        yield sim


@pytest.fixture(scope="session")
def bus(simulator):
    with kinetra.Bus(simulator.port) as opened:
        for node in NODES:
            assert opened.wait_for(node, timeout=5.0), f"node {node} did not appear"
        yield opened


@pytest.fixture
def driver(bus):
    return bus.driver(1)


@pytest.fixture
def actuator(bus):
    return bus.actuator(2)


@pytest.fixture
def imu(bus):
    return bus.imu(3)


@pytest.fixture
def encoder(bus):
    return bus.encoder(4)
