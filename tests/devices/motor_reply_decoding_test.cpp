// Decoding of every reply layout of the Driver and the Actuator, the values the
// host derives from them, the multi-exchange reads, and replies that do not fit.

#include <kinetra/actuator.h>
#include <kinetra/driver.h>

#include "devices/protocol/motor_controller_protocol.h"
#include "motor_node_fixture.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using kinetra::protocol::DeviceType;
using kinetra::test::floatBytes;
using kinetra::test::MotorNodeTest;
using kinetra::test::twoFloats;
namespace motor = kinetra::protocol::motor;

using Bytes = std::vector<uint8_t>;

Bytes withFloat(float value, Bytes tail = {}) {
    Bytes bytes;
    for (uint8_t b : floatBytes(value)) bytes.push_back(b);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

class MotorReplyTest : public MotorNodeTest {};

// ---- Every float read takes its own command's reply and the right half of it.

struct FloatRead {
    const char* name;
    uint8_t command;
    bool second;  ///< the value is the second float of the reply
    std::function<ret_status_t(Driver&, float*)> on_driver;
    std::function<ret_status_t(Actuator&, float*)> on_actuator;
};

template <typename Op>
FloatRead shared(const char* name, uint8_t command, bool second, Op op) {
    return FloatRead{name, command, second, op, op};
}

std::vector<FloatRead> floatReads() {
    return {
        shared("regen trip", 0x10, false, [](auto& p, float* v) { return p.getRegenCurrentTripLevel(v); }),
        shared("position gain", 0x1C, false, [](auto& p, float* v) { return p.getPositionControllerGain(v); }),
        shared("current bandwidth", 0x20, false, [](auto& p, float* v) { return p.getCurrentControllerBandwidth(v); }),
        shared("encoder bandwidth", 0x23, false, [](auto& p, float* v) { return p.getMotorEncoderBandwidth(v); }),
        shared("zero position", 0x25, false, [](auto& p, float* v) { return p.getZeroPosition(v); }),
        shared("current filter", 0x2A, false, [](auto& p, float* v) { return p.getCurrentFilter(v); }),
        shared("encoder filter", 0x2C, false, [](auto& p, float* v) { return p.getEncoderDataFilter(v); }),
        shared("output position", 0x3C, false, [](auto& p, float* v) { return p.getOutputPosition(v); }),
        shared("output velocity", 0x3D, false, [](auto& p, float* v) { return p.getOutputVelocity(v); }),
        shared("output acceleration", 0x3E, false, [](auto& p, float* v) { return p.getOutputAcceleration(v); }),
        shared("output torque", 0x3F, false, [](auto& p, float* v) { return p.getOutputTorque(v); }),
        shared("motor position", 0x40, false, [](auto& p, float* v) { return p.getMotorPosition(v); }),
        shared("motor velocity", 0x41, false, [](auto& p, float* v) { return p.getMotorVelocity(v); }),
        shared("motor acceleration", 0x42, false, [](auto& p, float* v) { return p.getMotorAcceleration(v); }),
        shared("motor torque", 0x43, false, [](auto& p, float* v) { return p.getMotorTorque(v); }),
        shared("motor temperature", 0x44, false, [](auto& p, float* v) { return p.getMotorTemperature(v); }),
        shared("driver temperature", 0x44, true, [](auto& p, float* v) { return p.getDriverTemperature(v); }),
        shared("bus voltage", 0x46, false, [](auto& p, float* v) { return p.getBusVoltage(v); }),
        shared("bus current", 0x46, true, [](auto& p, float* v) { return p.getBusCurrent(v); }),
        shared("trip under", 0x0C, false, [](auto& p, float* v) { float o; return p.getDCBusTripLevels(v, &o); }),
        shared("trip over", 0x0C, true, [](auto& p, float* v) { float u; return p.getDCBusTripLevels(&u, v); }),
        shared("velocity gain", 0x1E, false,
               [](auto& p, float* v) { float i; return p.getVelocityControllerGains(v, &i); }),
        shared("velocity integrator", 0x1E, true,
               [](auto& p, float* v) { float g; return p.getVelocityControllerGains(&g, v); }),
        shared("current gain", 0x21, false,
               [](auto& p, float* v) { float i; return p.getCurrentControllerGains(v, &i); }),
        shared("current integrator", 0x21, true,
               [](auto& p, float* v) { float g; return p.getCurrentControllerGains(&g, v); }),
        shared("d current", 0x47, false, [](auto& p, float* v) { float q; return p.getIdqCurrents(v, &q); }),
        shared("q current", 0x47, true, [](auto& p, float* v) { float d; return p.getIdqCurrents(&d, v); }),
        shared("phase resistance", 0x55, false,
               [](auto& p, float* v) { float l; return p.getMotorPhaseParameters(v, &l); }),
        shared("phase inductance", 0x55, true,
               [](auto& p, float* v) { float r; return p.getMotorPhaseParameters(&r, v); }),
        FloatRead{"calibration voltage", 0x14, false,
                  [](Driver& d, float* v) { float c; return d.getMotorCalibrationParameters(v, &c); }, nullptr},
        FloatRead{"calibration current", 0x14, true,
                  [](Driver& d, float* v) { float u; return d.getMotorCalibrationParameters(&u, v); }, nullptr},
        FloatRead{"gear ratio", 0x18, false, [](Driver& d, float* v) { return d.getGearBoxParameters(v); }, nullptr},
        FloatRead{"torque limit", 0x33, false, [](Driver& d, float* v) { return d.getMotorTorqueLimit(v); }, nullptr},
        FloatRead{"brake current", 0x48, false, [](Driver& d, float* v) { return d.getBrakeCurrent(v); }, nullptr},
    };
}

// Each command answers with its own id as the first float and id + 0.5 as the
// second, so a getter that reads the wrong command or half shows it.
template <typename Proxy>
void checkFloatReads(Proxy& proxy, std::function<ret_status_t(Proxy&, float*)> FloatRead::*op) {
    for (const FloatRead& read : floatReads()) {
        if (!(read.*op)) continue;
        SCOPED_TRACE(read.name);
        float value = -1.0f;
        ASSERT_EQ((read.*op)(proxy, &value), RET_OK);
        EXPECT_EQ(value, read.command + (read.second ? 0.5f : 0.0f));
    }
}

TEST_F(MotorReplyTest, EveryFloatReadTakesItsOwnValue) {
    startNode(DeviceType::Driver);
    respondWith([](const can_frame_data& request) -> std::optional<Bytes> {
        can_frame_data frame = request;
        const uint8_t command = getCommandIdFromFrame(&frame);
        return twoFloats(static_cast<float>(command), command + 0.5f);
    });
    Driver driver(kNode, &bus);
    checkFloatReads<Driver>(driver, &FloatRead::on_driver);
    Actuator actuator(kNode, &bus);
    checkFloatReads<Actuator>(actuator, &FloatRead::on_actuator);
}

// ---- The other layouts, one reply each.

struct LayoutCase {
    const char* name;
    uint8_t command;
    Bytes reply;
    std::function<void(Driver&)> on_driver;
    std::function<void(Actuator&)> on_actuator;
};

std::vector<LayoutCase> layoutCases() {
    const Bytes commit{0x31, 0x61, 0x32, 0x62, 0x33, 0x63, 0x34, 0x64};
    const Bytes commit_with_zero{0x41, 0x00, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47};
    auto bothCheck = [](auto check) { return std::make_pair(std::function<void(Driver&)>(check),
                                                            std::function<void(Actuator&)>(check)); };
    std::vector<LayoutCase> cases;
    auto add = [&](const char* name, uint8_t command, Bytes reply, auto check) {
        auto checks = bothCheck(check);
        cases.push_back(LayoutCase{name, command, std::move(reply), checks.first, checks.second});
    };
    auto driver = [&](const char* name, uint8_t command, Bytes reply, std::function<void(Driver&)> check) {
        cases.push_back(LayoutCase{name, command, std::move(reply), std::move(check), nullptr});
    };
    auto actuator = [&](const char* name, uint8_t command, Bytes reply, std::function<void(Actuator&)> check) {
        cases.push_back(LayoutCase{name, command, std::move(reply), nullptr, std::move(check)});
    };

    add("node id (u32)", 0x0A, {0x78, 0x56, 0x34, 0x12}, [](auto& p) {
        unsigned v = 0;
        ASSERT_EQ(p.getNodeId(&v), RET_OK);
        EXPECT_EQ(v, 0x12345678u);
    });
    add("hardware version (u8 x4)", 0x03, {1, 2, 3, 4}, [](auto& p) {
        unsigned char a = 0, b = 0, c = 0, d = 0;
        ASSERT_EQ(p.getHardwareVersion(&a, &b, &c, &d), RET_OK);
        EXPECT_EQ(a + b * 10 + c * 100 + d * 1000, 4321);
    });
    add("firmware version (u8, u8, u16)", 0x04, {1, 2, 0x34, 0x12}, [](auto& p) {
        unsigned char major = 0, minor = 0;
        unsigned short patch = 0;
        ASSERT_EQ(p.getFirmwareVersion(&major, &minor, &patch), RET_OK);
        EXPECT_EQ(major, 1);
        EXPECT_EQ(minor, 2);
        EXPECT_EQ(patch, 0x1234);
    });
    add("firmware commit drops byte 7", 0x05, commit, [](auto& p) {
        std::string text;
        ASSERT_EQ(p.getFirmwareCommit(&text), RET_OK);
        EXPECT_EQ(text, "1a2b3c4");
    });
    add("firmware commit keeps a zero byte", 0x05, commit_with_zero, [](auto& p) {
        std::string text;
        ASSERT_EQ(p.getFirmwareCommit(&text), RET_OK);
        EXPECT_EQ(text, std::string("A\0BCDEF", 7));
    });
    add("phase currents (a derived)", 0x45, twoFloats(1.5f, -0.5f), [](auto& p) {
        float a = 0, b = 0, c = 0;
        ASSERT_EQ(p.getMotorPhaseCurrents(&a, &b, &c), RET_OK);
        EXPECT_EQ(a, -1.0f);
        EXPECT_EQ(b, 1.5f);
        EXPECT_EQ(c, -0.5f);
    });
    add("DC calibration currents (a derived)", 0x49, twoFloats(-2.0f, 0.5f), [](auto& p) {
        float a = 0, b = 0, c = 0;
        ASSERT_EQ(p.getDCCalibPhaseCurrents(&a, &b, &c), RET_OK);
        EXPECT_EQ(a, 1.5f);
        EXPECT_EQ(b, -2.0f);
        EXPECT_EQ(c, 0.5f);
    });
    add("controller state (u8)", 0x50, {0xAB, 0xFF}, [](auto& p) {
        unsigned char v = 0;
        ASSERT_EQ(p.getControllerState(&v), RET_OK);
        EXPECT_EQ(v, 0xAB);
    });
    add("motor state (two flags)", 0x51, {0x02}, [](auto& p) {
        bool a = true, b = false;
        ASSERT_EQ(p.getMotorState(&a, &b), RET_OK);
        EXPECT_FALSE(a);
        EXPECT_TRUE(b);
    });
    add("trajectory done (flag)", 0x54, {0xFE}, [](auto& p) {
        bool done = true;
        ASSERT_EQ(p.getTrajectoryDoneStatus(&done), RET_OK);
        EXPECT_FALSE(done);
    });
    add("raw encoder (i32)", 0x56, {0xFF, 0xFF, 0xFF, 0xFF}, [](auto& p) {
        int raw = 0;
        ASSERT_EQ(p.getMotorEncoderRawData(&raw), RET_OK);
        EXPECT_EQ(raw, -1);
    });
    add("output raw encoder (i32)", 0x57, {0x00, 0x00, 0x00, 0x80}, [](auto& p) {
        int raw = 0;
        ASSERT_EQ(p.getOutputEncoderRawData(&raw), RET_OK);
        EXPECT_EQ(raw, INT32_MIN);
    });
    add("CAN status (two flags)", 0x58, {0x01}, [](auto& p) {
        bool a = false, b = true;
        ASSERT_EQ(p.getCANCommunicationStatus(&a, &b), RET_OK);
        EXPECT_TRUE(a);
        EXPECT_FALSE(b);
    });
    add("controller mode (u16)", 0x59, {0x34, 0x12}, [](auto& p) {
        unsigned short v = 0;
        ASSERT_EQ(p.getControllerMode(&v), RET_OK);
        EXPECT_EQ(v, 0x1234);
    });
    add("fault (u32)", 0x5F, {0x01, 0x00, 0x00, 0x80}, [](auto& p) {
        unsigned v = 0;
        ASSERT_EQ(p.getDriverFault(&v), RET_OK);
        EXPECT_EQ(v, 0x80000001u);
    });

    // The classes' own layouts and mappings.
    driver("error code 40", 0x60, {40}, [](Driver& d) {
        driver_error_t e = DRIVER_ERROR_0;
        ASSERT_EQ(d.getErrorCode(&e), RET_OK);
        EXPECT_EQ(e, DRIVER_ERROR_40);
    });
    for (Bytes unknown : {Bytes{41}, Bytes{0x00, 0x01}, Bytes{0xFF, 0xFF, 0xFF, 0xFF}}) {
        driver("unknown error code", 0x60, unknown, [](Driver& d) {
            driver_error_t e = DRIVER_ERROR_0;
            ASSERT_EQ(d.getErrorCode(&e), RET_OK);
            EXPECT_EQ(e, DRIVER_ERROR_UNRECOGNISED);
        });
    }
    driver("error code 255", 0x60, {0xFF}, [](Driver& d) {
        driver_error_t e = DRIVER_ERROR_0;
        ASSERT_EQ(d.getErrorCode(&e), RET_OK);
        EXPECT_EQ(e, DRIVER_ERROR_UNRECOGNISED);
    });
    actuator("error code passes through", 0x60, {0x00, 0x01}, [](Actuator& a) {
        unsigned e = 0;
        ASSERT_EQ(a.getErrorCode(&e), RET_OK);
        EXPECT_EQ(e, 256u);
    });
    driver("brake resistor (float, three flags)", 0x0E, withFloat(2.5f, {0x05}), [](Driver& d) {
        bool enabled = false, c = true, x = false;
        float r = 0;
        ASSERT_EQ(d.getBrakeResistorState(&enabled, &r, &c, &x), RET_OK);
        EXPECT_EQ(r, 2.5f);
        EXPECT_TRUE(enabled);
        EXPECT_FALSE(c);
        EXPECT_TRUE(x);
    });
    {
        Bytes reply{0x07, 0x34, 0x12};
        for (uint8_t b : floatBytes(1.5f)) reply.push_back(b);
        reply.push_back(0xFF);
        driver("motor parameters (u8, u16, float)", 0x12, reply, [](Driver& d) {
            unsigned char poles = 0;
            unsigned short kv = 0;
            float limit = 0;
            ASSERT_EQ(d.getMotorParameters(&poles, &kv, &limit), RET_OK);
            EXPECT_EQ(poles, 7);
            EXPECT_EQ(kv, 0x1234);
            EXPECT_EQ(limit, 1.5f);
        });
    }
    driver("motor encoder configuration (u8, i32, flag)", 0x16, {0x09, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, [](Driver& d) {
        unsigned char type = 0;
        int resolution = 0;
        bool index = false;
        ASSERT_EQ(d.getMotorEncoderConfiguration(&type, &resolution, &index), RET_OK);
        EXPECT_EQ(type, 9);
        EXPECT_EQ(resolution, -1);
        EXPECT_TRUE(index);
    });
    driver("output encoder configuration ignores the enable bit", 0x1A, {0x04, 0x00, 0x10, 0x00, 0x00, 0x02},
           [](Driver& d) {
               unsigned char type = 0;
               int resolution = 0;
               bool index = true;
               ASSERT_EQ(d.getOutputEncoderConfiguration(&type, &resolution, &index), RET_OK);
               EXPECT_EQ(type, 4);
               EXPECT_EQ(resolution, 4096);
               EXPECT_FALSE(index);
           });
    {
        Bytes thermistor = withFloat(10000.0f, {0x6E, 0x0F, 100, 0x01});
        driver("thermistor (float, u16, u8, flag)", 0x28, thermistor, [](Driver& d) {
            bool enabled = false;
            float r = 0;
            unsigned short beta = 0;
            unsigned char upper = 0, lower = 0;
            ASSERT_EQ(d.getMotorThermistorConfiguration(&enabled, &r, &beta, &upper, &lower), RET_OK);
            EXPECT_TRUE(enabled);
            EXPECT_EQ(r, 10000.0f);
            EXPECT_EQ(beta, 3950);
            EXPECT_EQ(upper, 100);
            EXPECT_EQ(lower, 90);
        });
        driver("thermistor lower limit wraps", 0x28, withFloat(1.0f, {0, 0, 5, 0}), [](Driver& d) {
            bool enabled = true;
            float r = 0;
            unsigned short beta = 0;
            unsigned char upper = 0, lower = 0;
            ASSERT_EQ(d.getMotorThermistorConfiguration(&enabled, &r, &beta, &upper, &lower), RET_OK);
            EXPECT_FALSE(enabled);
            EXPECT_EQ(lower, 251);
        });
    }
    actuator("thermistor (u16, u16, u8, u8, flag)", 0x28, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x01}, [](Actuator& a) {
        bool enabled = false;
        unsigned short b = 0, c = 0;
        unsigned char d = 0, e = 0;
        ASSERT_EQ(a.getMotorThermistorConfiguration(&enabled, &b, &c, &d, &e), RET_OK);
        EXPECT_EQ(b, 0x0201);
        EXPECT_EQ(c, 0x0403);
        EXPECT_EQ(d, 5);
        EXPECT_EQ(e, 6);
        EXPECT_TRUE(enabled);
    });
    driver("start-up (three flags)", 0x2E, {0x05}, [](Driver& d) {
        bool a = false, b = true, c = false;
        ASSERT_EQ(d.getStartupConfigs(&a, &b, &c), RET_OK);
        EXPECT_TRUE(a);
        EXPECT_FALSE(b);
        EXPECT_TRUE(c);
    });
    driver("motor type (u8)", 0x35, {0x03}, [](Driver& d) {
        unsigned char type = 0;
        ASSERT_EQ(d.getMotorType(&type), RET_OK);
        EXPECT_EQ(type, 3);
    });
    driver("bit rate listed", 0x3B, {0x20, 0xA1, 0x07, 0x00}, [](Driver& d) {
        CANBaudRate rate = CAN_BAUD_10K;
        ASSERT_EQ(d.getCANBaudRate(&rate), RET_OK);
        EXPECT_EQ(rate, CAN_BAUD_500K);
    });
    driver("bit rate unlisted", 0x3B, {0x80, 0x1A, 0x06, 0x00}, [](Driver& d) {  // 400000
        CANBaudRate rate = CAN_BAUD_10K;
        ASSERT_EQ(d.getCANBaudRate(&rate), RET_OK);
        EXPECT_EQ(static_cast<int>(rate), -1);
    });
    driver("hall state (u8)", 0x4A, {0x05}, [](Driver& d) {
        unsigned char state = 0;
        ASSERT_EQ(d.getHallEncoderState(&state), RET_OK);
        EXPECT_EQ(state, 5);
    });
    driver("motor encoder state (three flags)", 0x52, {0x06}, [](Driver& d) {
        bool a = true, b = false, c = false;
        ASSERT_EQ(d.getMotorEncoderState(&a, &b, &c), RET_OK);
        EXPECT_FALSE(a);
        EXPECT_TRUE(b);
        EXPECT_TRUE(c);
    });
    actuator("motor encoder state (two flags)", 0x52, {0x06}, [](Actuator& a) {
        bool x = true, y = false;
        ASSERT_EQ(a.getMotorEncoderState(&x, &y), RET_OK);
        EXPECT_FALSE(x);
        EXPECT_TRUE(y);
    });
    driver("output encoder state (two flags)", 0x53, {0x02}, [](Driver& d) {
        bool a = true, b = false;
        ASSERT_EQ(d.getOutputEncoderState(&a, &b), RET_OK);
        EXPECT_FALSE(a);
        EXPECT_TRUE(b);
    });
    actuator("output encoder state is the second flag", 0x53, {0x01}, [](Actuator& a) {
        bool b = true;
        ASSERT_EQ(a.getOutputEncoderState(&b), RET_OK);
        EXPECT_FALSE(b);
    });
    driver("register (u8, flag)", 0x30, {0xAB, 0x01}, [](Driver& d) {
        unsigned char value = 0;
        bool flag = false;
        ASSERT_EQ(d.getMAxxxSPIRegister(false, 7, &value, &flag), RET_OK);
        EXPECT_EQ(value, 0xAB);
        EXPECT_TRUE(flag);
    });
    driver("trimming settings from the register bits", 0x30, {0x02, 0x00}, [](Driver& d) {
        bool first = true, second = false, flag = true;
        ASSERT_EQ(d.getMAxxxTrimmingSettings(true, &first, &second, &flag), RET_OK);
        EXPECT_FALSE(first);
        EXPECT_TRUE(second);
        EXPECT_FALSE(flag);
    });
    return cases;
}

TEST_F(MotorReplyTest, EveryLayoutDecodes) {
    auto& driver_node = startNode(DeviceType::Driver);
    auto& actuator_node = startNode(DeviceType::Actuator, kNode + 1);
    Driver driver(kNode, &bus);
    Actuator actuator(kNode + 1, &bus);
    for (const LayoutCase& c : layoutCases()) {
        SCOPED_TRACE(c.name);
        if (c.on_driver) {
            driver_node.answer(c.command, c.reply);
            c.on_driver(driver);
        }
        if (c.on_actuator) {
            actuator_node.answer(c.command, c.reply);
            c.on_actuator(actuator);
        }
    }
}

// ---- Multi-exchange reads.

std::optional<Bytes> debugWord(const can_frame_data& request, int answered) {
    const uint8_t index = request.data[0];
    if (index > answered) return std::nullopt;
    return Bytes{index, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(0x80 | index)};
}

TEST_F(MotorReplyTest, DebugErrorWordsAreReadByIndex) {
    startNode(DeviceType::Driver);
    respondWith([](const can_frame_data& request) { return debugWord(request, 6); });
    Driver driver(kNode, &bus);
    unsigned long long e[6] = {};
    ASSERT_EQ(driver.getDebugErrorCode(&e[0], &e[1], &e[2], &e[3], &e[4], &e[5]), RET_OK);
    for (unsigned k = 1; k <= 6; ++k) EXPECT_EQ(e[k - 1], (0x80ull | k) << 56 | k) << "word " << k;
}

TEST_F(MotorReplyTest, DebugErrorWordsStopAtTheFirstTimeout) {
    startNode(DeviceType::Actuator);
    respondWith([](const can_frame_data& request) { return debugWord(request, 2); });
    Actuator actuator(kNode, &bus);
    unsigned long long e[6] = {7, 7, 7, 7, 7, 7};
    bus.clearSent();
    EXPECT_EQ(actuator.getDebugErrorCode(&e[0], &e[1], &e[2], &e[3], &e[4], &e[5]), RET_TIMEOUT);
    EXPECT_EQ(requestsTo().size(), 3u);
    EXPECT_EQ(e[1], (0x82ull << 56) | 2);
    for (int k = 3; k < 6; ++k) EXPECT_EQ(e[k], 7u) << "word " << k + 1;
}

// Regression: a time-out of the first hall exchange was reported as RET_OK when
// the second answered, although four counts were never written.
TEST_F(MotorReplyTest, HallCountsReportAFirstExchangeTimeout) {
    startNode(DeviceType::Driver);
    respondWith([](const can_frame_data& request) -> std::optional<Bytes> {
        can_frame_data frame = request;
        if (getCommandIdFromFrame(&frame) != motor::kGetHallEncoderStateCountsHigh) return std::nullopt;
        return Bytes{5, 0, 6, 0, 7, 0, 8, 0};
    });
    Driver driver(kNode, &bus);
    unsigned short c[8] = {99, 99, 99, 99, 99, 99, 99, 99};
    bus.clearSent();
    EXPECT_EQ(driver.getHallEncoderStateCounts(&c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]), RET_TIMEOUT);
    EXPECT_EQ(requestsTo().size(), 2u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(c[i], 99);
    for (int i = 4; i < 8; ++i) EXPECT_EQ(c[i], i + 1);
}

TEST_F(MotorReplyTest, HallCountsFillAllEight) {
    startNode(DeviceType::Driver);
    respondWith([](const can_frame_data& request) -> std::optional<Bytes> {
        can_frame_data frame = request;
        const uint8_t base = getCommandIdFromFrame(&frame) == motor::kGetHallEncoderStateCountsLow ? 1 : 5;
        return Bytes{base, 0x01, uint8_t(base + 1), 0x01, uint8_t(base + 2), 0x01, uint8_t(base + 3), 0x01};
    });
    Driver driver(kNode, &bus);
    unsigned short c[8] = {};
    ASSERT_EQ(driver.getHallEncoderStateCounts(&c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]), RET_OK);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(c[i], 0x100 + i + 1);
}

// ---- Failures.

// Values the host derives (phase a, lower limit, bit rate, error code) are
// written only when the reply came.
TEST_F(MotorReplyTest, TimeoutLeavesDerivedValuesUntouched) {
    startNode(DeviceType::Driver);
    Driver driver(kNode, &bus);
    float a = 7, b = 7, c = 7;
    EXPECT_EQ(driver.getMotorPhaseCurrents(&a, &b, &c), RET_TIMEOUT);
    EXPECT_EQ(a, 7.0f);
    bool enabled = true;
    float r = 7;
    unsigned short beta = 7;
    unsigned char upper = 7, lower = 7;
    EXPECT_EQ(driver.getMotorThermistorConfiguration(&enabled, &r, &beta, &upper, &lower), RET_TIMEOUT);
    EXPECT_EQ(lower, 7);
    CANBaudRate rate = CAN_BAUD_250K;
    EXPECT_EQ(driver.getCANBaudRate(&rate), RET_TIMEOUT);
    EXPECT_EQ(rate, CAN_BAUD_250K);
    driver_error_t error = DRIVER_ERROR_3;
    EXPECT_EQ(driver.getErrorCode(&error), RET_TIMEOUT);
    EXPECT_EQ(error, DRIVER_ERROR_3);
}

// The commit text is the one value a sent, unanswered query overwrites: seven
// zero characters, never the previous commit; a refused guard writes nothing.
TEST_F(MotorReplyTest, CommitTimeoutWritesSevenZerosButARefusedGuardNothing) {
    const std::string zeros(7, '\0');
    Driver driver(kNode, &bus);
    Actuator actuator(kNode + 1, &bus);
    std::string driver_commit = "before", actuator_commit = "before";
    EXPECT_EQ(driver.getFirmwareCommit(&driver_commit), RET_NOT_CONNECTED);
    EXPECT_EQ(actuator.getFirmwareCommit(&actuator_commit), RET_NOT_CONNECTED);
    EXPECT_EQ(driver_commit, "before");
    EXPECT_EQ(actuator_commit, "before");
    startNode(DeviceType::Driver);
    startNode(DeviceType::Actuator, kNode + 1);
    EXPECT_EQ(driver.getFirmwareCommit(&driver_commit), RET_TIMEOUT);
    EXPECT_EQ(actuator.getFirmwareCommit(&actuator_commit), RET_TIMEOUT);
    EXPECT_EQ(driver_commit, zeros);
    EXPECT_EQ(actuator_commit, zeros);
}

TEST_F(MotorReplyTest, BitRateOutsideTheTableIsRefusedUnsent) {
    Driver absent(kNode, &bus);
    EXPECT_EQ(absent.setCANBaudRate(static_cast<CANBaudRate>(9)), RET_NOT_CONNECTED);
    startNode(DeviceType::Driver);
    Driver driver(kNode, &bus);
    bus.clearSent();
    EXPECT_EQ(driver.setCANBaudRate(static_cast<CANBaudRate>(9)), RET_INVALID_ARGUMENT);
    EXPECT_EQ(driver.setCANBaudRate(static_cast<CANBaudRate>(-1)), RET_INVALID_ARGUMENT);
    EXPECT_TRUE(requestsTo().empty());
}

// A reply with fewer data bytes than its layout needs, or a remote frame, is no
// answer: the read times out with its out-parameters untouched instead of
// handing out bytes the device never sent. Replies just long enough are taken.
struct ShortReply {
    uint8_t dlc;
    bool remote;
    bool usable;
};

TEST_F(MotorReplyTest, RepliesShorterThanTheirLayoutAreNotAnswers) {
    startNode(DeviceType::Driver);
    Driver driver(kNode, &bus);
    const ShortReply cases[] = {{4, false, false}, {7, false, false}, {0, false, false},
                                {8, true, false},  {8, false, true}};
    for (const ShortReply& c : cases) {
        SCOPED_TRACE(testing::Message() << "dlc " << int(c.dlc) << (c.remote ? " remote" : ""));
        respondWith([](const can_frame_data&) -> std::optional<Bytes> { return twoFloats(12.0f, 1.0f); }, c.dlc,
                    c.remote);
        float current = -3.0f;
        EXPECT_EQ(driver.getBusCurrent(&current), c.usable ? RET_OK : RET_TIMEOUT);
        EXPECT_EQ(current, c.usable ? 1.0f : -3.0f);
    }
    // A flag needs one byte, a value and a flag two (nine bits).
    respondWith([](const can_frame_data&) -> std::optional<Bytes> { return Bytes{0xAB, 0x01}; }, 2);
    unsigned char value = 0;
    bool flag = false;
    EXPECT_EQ(driver.getMAxxxSPIRegister(false, 2, &value, &flag), RET_OK);
    EXPECT_TRUE(flag);
    respondWith([](const can_frame_data&) -> std::optional<Bytes> { return Bytes{0x01}; }, 1);
    bool done = false;
    EXPECT_EQ(driver.getTrajectoryDoneStatus(&done), RET_OK);
    EXPECT_TRUE(done);
}

}  // namespace
