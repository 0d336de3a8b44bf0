// Arbitrary frames delivered to each proxy class while one of its queries is
// pending: whatever a node (or a transport) hands in, a query ends with a status,
// reads no byte the frame does not carry, and a command with a non-finite
// argument sends nothing.
//
// Input: the proxy class and operation, the operation's arguments, then frames
// (a control byte choosing how the identifier is made and whether the frame
// ends the answer to one request, a DLC taken as it comes, eight data bytes).
// Each request the proxy sends is answered with the next group of frames, then
// with a well-formed reply, so no query waits out its time.

#include <kinetra/actuator.h>
#include <kinetra/driver.h>
#include <kinetra/imu.h>
#include <kinetra/vorlex.h>

#include "can/bus.h"
#include "fuzz_input.h"
#include "proxy_bench.h"

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using kinetra::fuzz::FuzzInput;
using kinetra::fuzz::ProxyBench;
using kinetra::protocol::DeviceType;

struct Proxies {
    explicit Proxies(Interface& bus)
        : driver(ProxyBench::kDriverNode, &bus),
          actuator(ProxyBench::kActuatorNode, &bus),
          imu(ProxyBench::kImuNode, &bus),
          vorlex(ProxyBench::kEncoderNode, &bus) {}
    Driver driver;
    Actuator actuator;
    IMU imu;
    Vorlex vorlex;
};

bool validStatus(ret_status_t status) {
    switch (status) {
        case RET_OK: case RET_NOT_INITIALISED: case RET_TIMEOUT: case RET_NOT_CONNECTED: case RET_NOT_RUNNING:
        case RET_INVALID_ARGUMENT: return true;
    }
    return false;
}

// A text reply carries at most the eight bytes of one frame.
void checkText(ret_status_t status, const std::string& text) {
    if (status == RET_OK && text.size() > 8) std::abort();
}

// A command given a non-finite value must refuse it and send nothing.
void checkFinite(ret_status_t status, std::initializer_list<float> args, const ProxyBench& bench) {
    for (float arg : args) {
        if (!std::isfinite(arg) && (status != RET_INVALID_ARGUMENT || bench.framesSent() != 0)) std::abort();
    }
}

using Operation = std::function<ret_status_t(Proxies&, FuzzInput&, const ProxyBench&)>;

template <typename Proxy>
std::vector<Operation> motorOperations(Proxy Proxies::*member) {
    return {
        [member](Proxies& p, FuzzInput&, const ProxyBench&) {
            float v;
            return (p.*member).getBusVoltage(&v);
        },
        [member](Proxies& p, FuzzInput&, const ProxyBench&) {
            float a, b, c;
            return (p.*member).getMotorPhaseCurrents(&a, &b, &c);
        },
        [member](Proxies& p, FuzzInput&, const ProxyBench&) {
            unsigned char a, b, c, d;
            return (p.*member).getHardwareVersion(&a, &b, &c, &d);
        },
        [member](Proxies& p, FuzzInput&, const ProxyBench&) {
            unsigned char major, minor;
            unsigned short patch;
            return (p.*member).getFirmwareVersion(&major, &minor, &patch);
        },
        [member](Proxies& p, FuzzInput&, const ProxyBench&) {
            std::string commit;
            const ret_status_t status = (p.*member).getFirmwareCommit(&commit);
            checkText(status, commit);
            return status;
        },
        [member](Proxies& p, FuzzInput&, const ProxyBench&) {
            bool a, b;
            return (p.*member).getMotorState(&a, &b);
        },
        [member](Proxies& p, FuzzInput&, const ProxyBench&) {
            unsigned int id;
            return (p.*member).getNodeId(&id);
        },
        [member](Proxies& p, FuzzInput& in, const ProxyBench& bench) {
            const float position = in.real(), b = in.real();
            const ret_status_t status = (p.*member).setPositionControl(position, b);
            checkFinite(status, {position, b}, bench);
            return status;
        },
        [member](Proxies& p, FuzzInput& in, const ProxyBench& bench) {
            const float a = in.real(), b = in.real(), c = in.real(), d = in.real();
            const ret_status_t status = (p.*member).setTrapezoidalTrajectoryControl(a, b, c, d);
            checkFinite(status, {a, b, c, d}, bench);
            return status;
        },
        [member](Proxies& p, FuzzInput&, const ProxyBench&) { return (p.*member).emergencyStop(); },
    };
}

std::vector<Operation> driverOperations() {
    std::vector<Operation> ops = motorOperations(&Proxies::driver);
    const std::vector<Operation> more = {
        [](Proxies& p, FuzzInput&, const ProxyBench&) {
            driver_error_t error;
            return p.driver.getErrorCode(&error);
        },
        [](Proxies& p, FuzzInput&, const ProxyBench&) {
            unsigned long long e[6];
            return p.driver.getDebugErrorCode(&e[0], &e[1], &e[2], &e[3], &e[4], &e[5]);
        },
        [](Proxies& p, FuzzInput&, const ProxyBench&) {
            bool enabled, c, d;
            float resistance;
            return p.driver.getBrakeResistorState(&enabled, &resistance, &c, &d);
        },
        [](Proxies& p, FuzzInput& in, const ProxyBench&) {
            unsigned char value;
            bool flag;
            const bool output = in.byte() & 1;
            return p.driver.getMAxxxSPIRegister(output, in.byte(), &value, &flag);
        },
        [](Proxies& p, FuzzInput&, const ProxyBench&) {
            CANBaudRate rate;
            return p.driver.getCANBaudRate(&rate);
        },
        [](Proxies& p, FuzzInput&, const ProxyBench&) {
            unsigned char type;
            int resolution;
            bool index;
            return p.driver.getMotorEncoderConfiguration(&type, &resolution, &index);
        },
        [](Proxies& p, FuzzInput&, const ProxyBench&) {
            // Many exchanges; its text must always parse back (non-finite values become null).
            p.driver.exportConfiguration();
            return RET_OK;
        },
        [](Proxies& p, FuzzInput& in, const ProxyBench& bench) {
            const float under = in.real(), over = in.real();
            const ret_status_t status = p.driver.setDCBusTripLevels(under, over);
            checkFinite(status, {under, over}, bench);
            return status;
        },
    };
    ops.insert(ops.end(), more.begin(), more.end());
    return ops;
}

std::vector<Operation> imuOperations() {
    return {
        [](Proxies& p, FuzzInput&, const ProxyBench&) {
            float x, y, z;
            unsigned char status;
            return p.imu.getAccelerometerData(&x, &y, &z, &status);
        },
        [](Proxies& p, FuzzInput&, const ProxyBench&) {
            float roll, pitch, yaw;
            return p.imu.getEulerAngles(&roll, &pitch, &yaw);
        },
        [](Proxies& p, FuzzInput&, const ProxyBench&) {
            float a, b, c, d;
            return p.imu.getRotationVectorData(&a, &b, &c, &d);
        },
        [](Proxies& p, FuzzInput&, const ProxyBench&) {
            short x, y, z;
            return p.imu.getRawGyroData(&x, &y, &z);
        },
        [](Proxies& p, FuzzInput&, const ProxyBench&) {
            bool status;
            return p.imu.getCalibrationStatus(&status);
        },
        [](Proxies& p, FuzzInput&, const ProxyBench&) {
            std::string commit;
            const ret_status_t status = p.imu.getFirmwareCommit(&commit);
            checkText(status, commit);
            return status;
        },
        [](Proxies& p, FuzzInput& in, const ProxyBench& bench) {
            const float a = in.real(), b = in.real(), c = in.real(), d = in.real();
            const ret_status_t status = p.imu.setOrientation(a, b, c, d);
            checkFinite(status, {a, b, c, d}, bench);
            return status;
        },
    };
}

std::vector<Operation> vorlexOperations() {
    return {
        [](Proxies& p, FuzzInput&, const ProxyBench&) {
            float angle;
            return p.vorlex.getAbsoluteAngle(&angle);
        },
        [](Proxies& p, FuzzInput&, const ProxyBench&) {
            int count;
            return p.vorlex.getEncoderCount(&count);
        },
        [](Proxies& p, FuzzInput&, const ProxyBench&) {
            unsigned char type;
            int resolution;
            return p.vorlex.getEncoderConfiguration(&type, &resolution);
        },
        [](Proxies& p, FuzzInput& in, const ProxyBench&) {
            unsigned char value;
            bool flag;
            return p.vorlex.getMAxxxSPIRegister(in.byte(), &value, &flag);
        },
        [](Proxies& p, FuzzInput&, const ProxyBench&) {
            CANBaudRate rate;
            return p.vorlex.getCANBaudRate(&rate);
        },
        [](Proxies& p, FuzzInput&, const ProxyBench&) {
            std::string commit;
            const ret_status_t status = p.vorlex.getFirmwareCommit(&commit);
            checkText(status, commit);
            return status;
        },
        [](Proxies& p, FuzzInput& in, const ProxyBench& bench) {
            const float factor = in.real();
            const ret_status_t status = p.vorlex.setScalingFactor(factor);
            checkFinite(status, {factor}, bench);
            return status;
        },
    };
}

struct ProxyClass {
    unsigned node;
    DeviceType type;
    std::vector<Operation> operations;
};

struct Fixture {
    ProxyBench bench;
    Proxies proxies{bench.bus()};
    CANDeviceType* target(unsigned index) {
        CANDeviceType* all[] = {&proxies.driver, &proxies.actuator, &proxies.imu, &proxies.vorlex};
        return all[index];
    }
    const std::vector<ProxyClass> classes = {
        {ProxyBench::kDriverNode, DeviceType::Driver, driverOperations()},
        {ProxyBench::kActuatorNode, DeviceType::Actuator, motorOperations(&Proxies::actuator)},
        {ProxyBench::kImuNode, DeviceType::Imu, imuOperations()},
        {ProxyBench::kEncoderNode, DeviceType::Encoder, vorlexOperations()},
    };
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

// The next frame of the script; `last` tells whether it ends one request's answer.
can_frame_data scriptFrame(FuzzInput& in, unsigned node, DeviceType type, bool& last) {
    const uint8_t control = in.byte();
    last = (control & 0x80) != 0;
    can_frame_data frame{};
    switch (control & 3) {
        case 0:  // a node frame of the proxy's own node, any command
        case 1:  // ... sent as a remote frame
            frame.can_id = kinetra::protocol::nodeFrameId(node, in.byte() & 0x7F, static_cast<uint8_t>(type));
            if (control & 1) frame.can_id |= kinetra::protocol::kRemoteFlag;
            break;
        default:  // any identifier at all
            frame.can_id = in.word();
            break;
    }
    frame.can_dlc = in.byte();
    in.fill(frame.data, sizeof frame.data);
    return frame;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Fixture& f = fixture();
    FuzzInput in(data, size);
    const unsigned index = in.byte() % f.classes.size();
    const ProxyClass& cls = f.classes[index];
    const Operation& operation = cls.operations[in.byte() % cls.operations.size()];
    CANDeviceType* const target = f.target(index);
    // The arguments come first, the script after them.
    std::vector<uint8_t> arguments(16);
    in.fill(arguments.data(), arguments.size());
    FuzzInput args(arguments.data(), arguments.size());

    f.bench.respond([&](const can_frame_data& request) {
        bool last = false;
        while (!in.empty() && !last) {
            can_frame_data frame = scriptFrame(in, cls.node, cls.type, last);
            target->canMsgCallback(&frame);
        }
        can_frame_data reply{};
        can_frame_data copy = request;
        reply.can_id = kinetra::protocol::nodeFrameId(cls.node, getCommandIdFromFrame(&copy),
                                                       static_cast<uint8_t>(cls.type));
        reply.can_dlc = 8;
        for (uint8_t& b : reply.data) b = 0x41;
        target->canMsgCallback(&reply);
    });
    const ret_status_t status = operation(f.proxies, args, f.bench);
    f.bench.respond({});
    if (!validStatus(status)) std::abort();
    return 0;
}
