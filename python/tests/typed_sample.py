# Type-checked with mypy --strict against the package's stub: what a user's typed
# script writes, each value used as its declared type.
import itertools
import threading

import kinetra


def bring_up(port: str) -> float:
    appeared: dict[int, kinetra.DeviceType | int] = {}

    def on_appeared(node: int, kind: kinetra.DeviceType | int) -> None:
        appeared[node] = kind

    with kinetra.Bus(port, adapter="zarvo", bitrate=500_000, on_appeared=on_appeared) as bus:
        if not bus.wait_for(1, timeout=2.0):
            raise TimeoutError("node 1 did not appear")
        driver: kinetra.Driver = bus.driver(1)
        encoder: kinetra.Encoder = bus.encoder(4)
        version: kinetra.FirmwareVersion = driver.get_firmware_version()
        voltage: float = driver.get_bus_voltage()
        nodes: dict[int, kinetra.DeviceType | int] = bus.nodes()
        try:
            driver.set_position_control(1.0, 0)
        except kinetra.ReplyTimeout as error:
            node: int | None = error.node
            operation: str | None = error.operation
            print(node, operation, error.status)
        except kinetra.KinetraError:
            raise
        with bus.frames(maxsize=16, timeout=0.1) as frames:
            for frame in itertools.islice(frames, 8):
                identifier: int = frame.id
                payload: bytes = frame.data
                print(identifier, payload.hex(), frames.dropped)
        print(version.major, len(nodes), encoder, threading.get_ident())
        return voltage


def main() -> None:
    with kinetra.Simulator() as simulator:
        port: str = simulator.port
        print(bring_up(port))


if __name__ == "__main__":
    main()
