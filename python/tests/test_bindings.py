import math

import pytest

import kinetra


@pytest.mark.parametrize("proxy, read, expected", [
    ("driver", "get_bus_voltage", pytest.approx(24.0)),
    ("driver", "get_firmware_version", (2, 4, 17)),
    ("actuator", "get_hardware_version", (1, 1, 0, 0)),
    ("imu", "get_firmware_version", (1, 2, 5)),
    ("encoder", "get_firmware_version", (1, 1, 8)),
    ("encoder", "get_can_baud_rate", kinetra.CAN_BAUD_500K),
])
def test_reads_return_their_values(request, proxy, read, expected):
    assert getattr(request.getfixturevalue(proxy), read)() == expected


def test_a_setting_reads_back_and_commands_return_none(driver):
    assert driver.set_gear_box_parameters(4.0) is None
    assert driver.get_gear_box_parameters() == pytest.approx(4.0)
    version = driver.get_firmware_version()
    assert isinstance(version, kinetra.FirmwareVersion) and version.major == 2


@pytest.mark.parametrize("args", [(math.nan, 0.0), (math.inf, 0.0), (1.0, -math.inf)])
def test_non_finite_arguments_raise_invalid_argument(driver, args):
    with pytest.raises(kinetra.InvalidArgument) as raised:
        driver.set_position_control(*args)
    assert (raised.value.status, raised.value.node, raised.value.operation) == \
        (kinetra.Status.RET_INVALID_ARGUMENT, 1, "set_position_control")
