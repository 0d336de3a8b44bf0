// Walks the operation tables of the four classes: every public operation sends
// the frame its entry declares and its reply decodes, every query has a reply
// route of matching kinds, arguments outside a declared range or not finite are
// refused before anything is sent, and the simulator answers every query.

#include <kinetra/actuator.h>
#include <kinetra/driver.h>
#include <kinetra/imu.h>
#include <kinetra/usb_interface.h>
#include <kinetra/vorlex.h>

#include "devices/protocol/imu_operations.h"
#include "devices/protocol/motor_operations.h"
#include "devices/protocol/vorlex_operations.h"
#include "kinetra_sim/simulator.h"
#include "motor_node_fixture.h"

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

using kinetra::protocol::FrameKind;
using kinetra::protocol::Operation;
using kinetra::protocol::ValueKind;
using kinetra::test::eventually;
using kinetra::test::MotorNodeTest;
namespace motor = kinetra::protocol::motor;

// ---- Calling a public operation with chosen inputs and scratch out-values.

template <typename A, typename Slot>
A argumentOf(Slot& slot, const std::vector<double>& inputs, std::size_t index) {
    if constexpr (std::is_pointer_v<A>) {
        return &slot;
    } else {
        const double value = index < inputs.size() ? inputs[index] : 0.0;
        if constexpr (std::is_enum_v<A>) {
            return static_cast<A>(static_cast<int>(value));
        } else if constexpr (std::is_floating_point_v<A>) {
            return static_cast<A>(value);
        } else {
            return static_cast<A>(static_cast<long long>(value));
        }
    }
}

template <typename Proxy, typename... A, std::size_t... I>
ret_status_t invoke(Proxy& proxy, ret_status_t (Proxy::*method)(A...), const std::vector<double>& inputs,
                    std::index_sequence<I...>) {
    std::tuple<std::remove_pointer_t<A>...> slots{};
    return (proxy.*method)(argumentOf<A>(std::get<I>(slots), inputs, I)...);
}

/// Calls `method` with `inputs` for its leading arguments (zero for the rest)
/// and scratch storage behind its out-pointers.
template <typename Proxy, typename... A>
ret_status_t callWith(Proxy& proxy, ret_status_t (Proxy::*method)(A...), const std::vector<double>& inputs) {
    return invoke(proxy, method, inputs, std::index_sequence_for<A...>{});
}

template <typename Proxy>
struct TableCase {
    const Operation* op;
    std::function<ret_status_t(Proxy&, const std::vector<double>&)> call;
};

// Every operation of the class's lists, next to its table entry.
#define KINETRA_CASE(entries, name, params, args) \
    TableCase<Proxy>{&entries::name, [](Proxy& p, const std::vector<double>& in) { return callWith(p, &Proxy::name, in); }},

template <typename Proxy>
std::vector<TableCase<Proxy>> tableCases();

template <>
std::vector<TableCase<Driver>> tableCases<Driver>() {
    using Proxy = Driver;
    return {KINETRA_MOTOR_SHARED_OPERATIONS(KINETRA_CASE, KINETRA_CASE, motor::shared_ops)
                KINETRA_DRIVER_OPERATIONS(KINETRA_CASE, KINETRA_CASE, motor::driver_ops)};
}

template <>
std::vector<TableCase<Actuator>> tableCases<Actuator>() {
    using Proxy = Actuator;
    return {KINETRA_MOTOR_SHARED_OPERATIONS(KINETRA_CASE, KINETRA_CASE, motor::shared_ops)
                KINETRA_ACTUATOR_OPERATIONS(KINETRA_CASE, KINETRA_CASE, motor::actuator_ops)};
}

template <>
std::vector<TableCase<IMU>> tableCases<IMU>() {
    using Proxy = IMU;
    return {KINETRA_IMU_OPERATIONS(KINETRA_CASE, KINETRA_CASE, kinetra::protocol::imu::imu_ops)
                KINETRA_SENSOR_COMMON_OPERATIONS(KINETRA_CASE, KINETRA_CASE, kinetra::protocol::sensor_ops)};
}

template <>
std::vector<TableCase<Vorlex>> tableCases<Vorlex>() {
    using Proxy = Vorlex;
    return {KINETRA_VORLEX_OPERATIONS(KINETRA_CASE, KINETRA_CASE, kinetra::protocol::vorlex::vorlex_ops)
                KINETRA_SENSOR_COMMON_OPERATIONS(KINETRA_CASE, KINETRA_CASE, kinetra::protocol::sensor_ops)};
}

#undef KINETRA_CASE

/// Inputs of zero for every argument the caller passes.
std::vector<double> zeroInputs(const Operation& op) { return std::vector<double>(op.callerArgs(), 0.0); }

/// The index among the caller's arguments of field `field`.
std::size_t callerIndex(const Operation& op, std::size_t field) {
    std::size_t index = 0;
    for (std::size_t i = 0; i < field; ++i) index += op.args[i].constant ? 0 : 1;
    return index;
}

/// What the walk needs of each class: its scripted device type, routes and table.
template <typename Proxy, kinetra::protocol::DeviceType Type, const kinetra::protocol::RouteTable& Routes,
          const kinetra::protocol::OperationTable& Table>
struct ClassUnderTest {
    using Proxy_ = Proxy;
    static constexpr kinetra::protocol::DeviceType kType = Type;
    static const kinetra::protocol::RouteTable& routes() { return Routes; }
    static const kinetra::protocol::OperationTable& table() { return Table; }
};
using kinetra::protocol::DeviceType;
using DriverClass = ClassUnderTest<Driver, DeviceType::Driver, motor::kDriverRoutes, motor::kDriverOperations>;
using ActuatorClass =
    ClassUnderTest<Actuator, DeviceType::Actuator, motor::kActuatorRoutes, motor::kActuatorOperations>;
using ImuClass = ClassUnderTest<IMU, DeviceType::Imu, kinetra::protocol::imu::kImuRoutes,
                                kinetra::protocol::imu::kImuOperations>;
using VorlexClass = ClassUnderTest<Vorlex, DeviceType::Encoder, kinetra::protocol::vorlex::kVorlexRoutes,
                                   kinetra::protocol::vorlex::kVorlexOperations>;

template <typename C>
class OperationTableTest : public MotorNodeTest {};
using Classes = ::testing::Types<DriverClass, ActuatorClass, ImuClass, VorlexClass>;
/// Names the typed cases by class, so a failure says which table it walked.
struct ClassName {
    template <typename C>
    static std::string GetName(int) {
        if (std::is_same_v<C, DriverClass>) return "Driver";
        if (std::is_same_v<C, ActuatorClass>) return "Actuator";
        if (std::is_same_v<C, ImuClass>) return "IMU";
        return "Encoder";
    }
};
TYPED_TEST_SUITE(OperationTableTest, Classes, ClassName);

TYPED_TEST(OperationTableTest, EveryOperationSendsItsDeclaredFrameAndItsReplyDecodes) {
    auto& device = this->startNode(TypeParam::kType);
    this->answerEveryQuery(device, TypeParam::routes());
    typename TypeParam::Proxy_ proxy(this->kNode, &this->bus);
    ASSERT_TRUE(eventually([&] { return proxy.isConnected(); }));
    for (const auto& c : tableCases<typename TypeParam::Proxy_>()) {
        SCOPED_TRACE(c.op->name);
        this->bus.clearSent();
        EXPECT_EQ(c.call(proxy, zeroInputs(*c.op)), RET_OK);
        const auto frames = this->requestsTo();
        ASSERT_FALSE(frames.empty());
        can_frame_data first = frames.front();
        EXPECT_EQ(getCommandIdFromFrame(&first), c.op->command);
        EXPECT_EQ(getRtrFromFrame(&first) != 0, c.op->frame == FrameKind::Remote);
        EXPECT_EQ(first.can_dlc, c.op->dlc);
    }
}

TYPED_TEST(OperationTableTest, EveryQueryHasARouteWhoseKindsItsValuesName) {
    std::size_t queries = 0;
    for (const Operation* op : TypeParam::table()) {
        SCOPED_TRACE(op->name);
        EXPECT_NE(op->description[0], '\0');
        EXPECT_EQ(TypeParam::table().find(op->name), op);
        if (!op->isQuery()) continue;
        ++queries;
        const auto* layout = TypeParam::routes().find(op->command);
        ASSERT_NE(layout, nullptr);
        EXPECT_EQ(TypeParam::table().findQuery(op->command)->command, op->command);
        // A text value spans the whole reply, whatever its layout.
        if (op->value_count == 1 && op->values[0].kind == ValueKind::Text) continue;
        ASSERT_LE(op->value_count, layout->count);
        for (std::size_t i = 0; i < op->value_count; ++i) EXPECT_EQ(op->values[i].kind, layout->kinds[i]) << i;
    }
    EXPECT_GT(queries, 0u);
}

TYPED_TEST(OperationTableTest, ArgumentsOutsideTheirRangeOrNotFiniteAreRefusedUnsent) {
    this->startNode(TypeParam::kType);
    typename TypeParam::Proxy_ proxy(this->kNode, &this->bus);
    ASSERT_TRUE(eventually([&] { return proxy.isConnected(); }));
    std::size_t refusals = 0;
    for (const auto& c : tableCases<typename TypeParam::Proxy_>()) {
        const Operation& op = *c.op;
        for (std::size_t field = 0; field < op.arg_count; ++field) {
            const kinetra::protocol::Field& f = op.args[field];
            if (f.constant) continue;
            std::vector<double> refused;
            if (f.ranged) refused = {f.min - 1, f.max + 1};
            if (f.kind == ValueKind::F32 || f.scale != 0.0f) {
                refused.push_back(std::numeric_limits<double>::quiet_NaN());
                refused.push_back(std::numeric_limits<double>::infinity());
            }
            for (double value : refused) {
                SCOPED_TRACE(std::string(op.name) + " " + f.name + " = " + std::to_string(value));
                std::vector<double> inputs = zeroInputs(op);
                inputs[callerIndex(op, field)] = value;
                this->bus.clearSent();
                EXPECT_EQ(c.call(proxy, inputs), RET_INVALID_ARGUMENT);
                EXPECT_TRUE(this->requestsTo().empty());
                ++refusals;
            }
        }
    }
    EXPECT_GT(refusals, 0u);
}

// ---- The simulator answers every query of both tables.

TEST(OperationTableSimulatorTest, TheSimulatorAnswersEveryQuery) {
    using kinetra::sim::NodeKind;
    kinetra::sim::Simulator sim({{NodeKind::Driver, 1}, {NodeKind::Actuator, 2}, {NodeKind::Imu, 3}, {NodeKind::Encoder, 4}});
    sim.start();
    sim.registerAsAdapter();
    USBInterface iface;
    ASSERT_TRUE(iface.initInterface(sim.portName()));
    ASSERT_TRUE(eventually(
        [&] {
            return iface.isRunning() && iface.isDeviceConnected(1) && iface.isDeviceConnected(2) &&
                   iface.isDeviceConnected(3) && iface.isDeviceConnected(4);
        },
        std::chrono::milliseconds(3000)));
    Driver driver(1, &iface);
    Actuator actuator(2, &iface);
    IMU imu(3, &iface);
    Vorlex encoder(4, &iface);
    const auto walk = [](auto& proxy, const auto& cases) {
        for (const auto& c : cases) {
            if (!c.op->isQuery()) continue;
            EXPECT_EQ(c.call(proxy, zeroInputs(*c.op)), RET_OK) << c.op->name;
        }
    };
    walk(driver, tableCases<Driver>());
    walk(actuator, tableCases<Actuator>());
    // The IMU measures only what a report was switched on for.
    for (const auto& c : tableCases<IMU>()) {
        if (std::string(c.op->name).rfind("enable", 0) == 0) {
            ASSERT_EQ(c.call(imu, {100}), RET_OK) << c.op->name;
        }
    }
    walk(imu, tableCases<IMU>());
    walk(encoder, tableCases<Vorlex>());
    iface.closeInterface();
}

}  // namespace
