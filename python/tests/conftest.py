# One simulated bus for the whole suite: a driver 1, an actuator 2, an IMU 3 and
# an encoder 4 behind the simulated adapter, opened with USBInterface.
import threading

import pytest

import kinetra
from kinetra import sim

NODES = {1: kinetra.Driver, 2: kinetra.Actuator, 3: kinetra.IMU, 4: kinetra.Vorlex}


class Events:
    """What the interface callbacks reported, with a bounded wait for it."""

    def __init__(self):
        self.appeared = {}
        self.lost = []
        self.threads = set()
        self.changed = threading.Condition()

    def on_appeared(self, node, kind):
        with self.changed:
            self.appeared[node] = kind
            self.threads.add(threading.get_ident())
            self.changed.notify_all()

    def on_lost(self, node):
        with self.changed:
            self.lost.append(node)
            self.changed.notify_all()

    def wait(self, predicate, timeout=3.0):
        with self.changed:
            return self.changed.wait_for(predicate, timeout)


@pytest.fixture(scope="session")
def bus():
    simulator = sim.Simulator([(sim.NodeKind.Driver, 1), (sim.NodeKind.Actuator, 2),
                               (sim.NodeKind.Imu, 3), (sim.NodeKind.Encoder, 4)])
    simulator.node(1).setBootTiming(erase_time_scale=0)
    simulator.start()
    simulator.registerAsAdapter()
    iface = kinetra.USBInterface()
    events = Events()
    assert iface.initInterface(simulator.portName(), events.on_appeared, events.on_lost)
    assert events.wait(lambda: len(events.appeared) == 4)
    assert iface.isRunning()
    proxies = {node: cls(node, iface) for node, cls in NODES.items()}
    yield simulator, iface, proxies, events
    iface.closeInterface()
    simulator.stop()
