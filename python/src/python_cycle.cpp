// A control cycle as Python holds it.

#include "python_cycle.h"

#include <kinetra/actuator.h>
#include <kinetra/driver.h>
#include <kinetra/imu.h>
#include <kinetra/vorlex.h>

#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "bus.h"
#include "errors.h"
#include "proxy_common.h"

namespace kinetra::python {
namespace {

using Type = CycleValue::Type;

/// A reply carries at most this many values.
constexpr std::size_t kMaxValues = 8;
constexpr std::size_t kInitialCapacity = 16;

/// The read's values a cycle writes, and where.
struct Target {
    Type type = Type::Float;
    std::size_t count = 1;
    void* base = nullptr;
};

std::size_t sizeOf(Type type) {
    switch (type) {
        case Type::Float: return sizeof(float);
        case Type::Bool: return sizeof(bool);
        case Type::U8: return sizeof(unsigned char);
        case Type::U16: return sizeof(unsigned short);
        case Type::I16: return sizeof(short);
        case Type::I32: return sizeof(int);
        case Type::U32: return sizeof(unsigned int);
        case Type::U64: break;
    }
    return sizeof(unsigned long long);
}

const char* dtypeName(Type type) {
    switch (type) {
        case Type::Float: return "float32";
        case Type::Bool: return "bool";
        case Type::U8: return "uint8";
        case Type::U16: return "uint16";
        case Type::I16: return "int16";
        case Type::I32: return "int32";
        case Type::U32: return "uint32";
        case Type::U64: break;
    }
    return "uint64";
}

CycleValue valueAt(void* base, Type type, std::size_t k) {
    auto* bytes = static_cast<unsigned char*>(base) + k * sizeOf(type);
    switch (type) {
        case Type::Float: return reinterpret_cast<float*>(bytes);
        case Type::Bool: return reinterpret_cast<bool*>(bytes);
        case Type::U8: return reinterpret_cast<unsigned char*>(bytes);
        case Type::U16: return reinterpret_cast<unsigned short*>(bytes);
        case Type::I16: return reinterpret_cast<short*>(bytes);
        case Type::I32: return reinterpret_cast<int*>(bytes);
        case Type::U32: return reinterpret_cast<unsigned int*>(bytes);
        case Type::U64: break;
    }
    return reinterpret_cast<unsigned long long*>(bytes);
}

/// The value type of a buffer's format (native byte order only), if the cycle writes it.
std::optional<Type> typeOf(const py::buffer_info& info) {
    std::string format = info.format;
    if (!format.empty() && (format[0] == '@' || format[0] == '=')) format.erase(0, 1);
    if (format.size() != 1) return std::nullopt;
    const auto size = static_cast<std::size_t>(info.itemsize);
    const char code = format[0];
    if (code == 'f' && size == sizeof(float)) return Type::Float;
    if (code == '?' && size == sizeof(bool)) return Type::Bool;
    if (code == 'B' && size == 1) return Type::U8;
    if (code == 'H' && size == 2) return Type::U16;
    if (code == 'h' && size == 2) return Type::I16;
    if ((code == 'i' || code == 'l') && size == 4) return Type::I32;
    if ((code == 'I' || code == 'L') && size == 4) return Type::U32;
    if ((code == 'Q' || code == 'L') && size == 8) return Type::U64;
    return std::nullopt;
}

bool contiguous(const py::buffer_info& info) {
    py::ssize_t expected = info.itemsize;
    for (py::ssize_t dim = info.ndim - 1; dim >= 0; --dim) {
        const auto d = static_cast<std::size_t>(dim);
        if (info.shape[d] > 1 && info.strides[d] != expected) return false;
        expected *= info.shape[d];
    }
    return true;
}

/// Adds a read with `target`'s values (an initializer list needs its length at compile time).
template <typename Proxy, typename Reading>
std::size_t addValues(ControlCycle& cycle, Proxy& proxy, Reading reading, const Target& target) {
    std::array<CycleValue, kMaxValues> v{
        valueAt(target.base, target.type, 0), valueAt(target.base, target.type, 1),
        valueAt(target.base, target.type, 2), valueAt(target.base, target.type, 3),
        valueAt(target.base, target.type, 4), valueAt(target.base, target.type, 5),
        valueAt(target.base, target.type, 6), valueAt(target.base, target.type, 7)};
    switch (target.count) {
        case 1: return cycle.add(proxy, reading, {v[0]});
        case 2: return cycle.add(proxy, reading, {v[0], v[1]});
        case 3: return cycle.add(proxy, reading, {v[0], v[1], v[2]});
        case 4: return cycle.add(proxy, reading, {v[0], v[1], v[2], v[3]});
        case 5: return cycle.add(proxy, reading, {v[0], v[1], v[2], v[3], v[4]});
        case 6: return cycle.add(proxy, reading, {v[0], v[1], v[2], v[3], v[4], v[5]});
        case 7: return cycle.add(proxy, reading, {v[0], v[1], v[2], v[3], v[4], v[5], v[6]});
        default: break;
    }
    return cycle.add(proxy, reading, {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]});
}

/// What messages and the bus check need of a proxy.
struct ProxyInfo {
    unsigned node = 0;
    const char* device = "node";
    const void* address = nullptr;
};

template <typename Proxy>
ProxyInfo infoOfProxy(Proxy& proxy) {
    return {proxy.getId(), DeviceName<Proxy>::value, &proxy};
}

ProxyInfo infoOf(const py::handle& proxy) {
    if (py::isinstance<Driver>(proxy)) return infoOfProxy(proxy.cast<Driver&>());
    if (py::isinstance<Actuator>(proxy)) return infoOfProxy(proxy.cast<Actuator&>());
    if (py::isinstance<IMU>(proxy)) return infoOfProxy(proxy.cast<IMU&>());
    if (py::isinstance<Vorlex>(proxy)) return infoOfProxy(proxy.cast<Vorlex&>());
    throw py::type_error("expected a device proxy (Driver, Actuator, IMU or Encoder), got " +
                         std::string(py::str(py::type::of(proxy).attr("__name__"))));
}

py::array_t<float> grown(const py::array_t<float>& old, std::size_t size) {
    const auto capacity = static_cast<std::size_t>(old.size());
    if (size <= capacity) return old;
    py::array_t<float> bigger(static_cast<py::ssize_t>(capacity == 0 ? kInitialCapacity : 2 * capacity));
    std::memset(bigger.mutable_data(), 0, static_cast<std::size_t>(bigger.size()) * sizeof(float));
    if (capacity != 0) std::memcpy(bigger.mutable_data(), old.data(), capacity * sizeof(float));
    return bigger;
}

}  // namespace

struct PythonCycle::Entry {
    py::object proxy;
    unsigned node = 0;
    bool is_command = false;
    MotorCommand command = MotorCommand::Idle;
    py::object reading;     // the enum value, for rebuilding and messages
    Target target;          // a read's values; base null: values_[index]
    py::object out;         // the user's buffer, kept alive with its view
    std::optional<py::buffer_info> view;
};

PythonCycle::PythonCycle(const py::object& buses) {
    try {
        interfaceOf(buses);
        buses_.append(buses);
    } catch (const py::type_error&) {
        if (!py::isinstance<py::iterable>(buses)) throw;
        for (py::handle bus : buses) {
            interfaceOf(bus);  // TypeError for what is no bus
            buses_.append(bus);
        }
    }
    if (buses_.empty()) throw py::value_error("ControlCycle needs at least one bus");
    probe_ = std::make_unique<ControlCycle>();
    values_ = grown(py::array_t<float>(0), 1);
    setpoints_ = grown(py::array_t<float>(0), 1);
}

PythonCycle::~PythonCycle() = default;

void PythonCycle::checkIdle(const char* operation) const {
    if (running_) {
        raiseError("InvalidArgument", std::string(operation) + ": another thread runs this ControlCycle", operation,
                   py::cast(RET_INVALID_ARGUMENT));
    }
}

void PythonCycle::checkBus(const py::object& proxy, const char* operation) const {
    const ProxyInfo info = infoOf(proxy);
    const Bus* owner = proxyOwner(info.address);
    for (py::handle bus : buses_) {
        if (&bus.cast<Bus&>() == owner) return;
    }
    raiseStatus(RET_INVALID_ARGUMENT, info.node, operation, info.device,
                "its proxy is on a bus this ControlCycle was not made with");
}

std::size_t PythonCycle::append(Entry entry) {
    const std::size_t index = entries_.size();
    values_ = grown(values_, index + 1);
    setpoints_ = grown(setpoints_, index + 1);
    if (entry.is_command) commands_.push_back(index);
    entries_.push_back(std::move(entry));
    cycle_.reset();
    return index;
}

std::size_t PythonCycle::addCommand(const py::object& proxy, MotorCommand command, float setpoint) {
    checkIdle("add_command");
    const ProxyInfo info = infoOf(proxy);
    const unsigned node = info.node;
    if (!std::isfinite(setpoint)) {
        raiseStatus(RET_INVALID_ARGUMENT, node, "add_command", info.device, "the set point must be a finite number");
    }
    checkBus(proxy, "add_command");
    Entry entry;
    entry.proxy = proxy;
    entry.node = node;
    entry.is_command = true;
    entry.command = command;
    std::size_t probed = 0;
    if (py::isinstance<Driver>(proxy)) {
        probed = probe_->add(proxy.cast<Driver&>(), command, setpoint);
    } else if (py::isinstance<Actuator>(proxy)) {
        probed = probe_->add(proxy.cast<Actuator&>(), command, setpoint);
    } else {
        throw py::type_error("add_command(): commands go to a Driver or an Actuator, not to " +
                             std::string(info.device) + " " + std::to_string(node));
    }
    if (probe_->status(probed) == RET_INVALID_ARGUMENT) raiseStatus(RET_INVALID_ARGUMENT, node, "add_command", info.device);
    const std::size_t index = append(std::move(entry));
    const bool has_setpoint = command == MotorCommand::PositionControl || command == MotorCommand::VelocityControl ||
                              command == MotorCommand::TorqueControl;
    if (!has_setpoint) commands_.pop_back();
    setpoints_.mutable_data()[index] = has_setpoint ? setpoint : 0.0f;
    return index;
}

namespace {

/// Adds the read of `reading` on `proxy`, its values to `target`, to `cycle`;
/// its index. TypeError when the proxy's class takes another kind of reading.
std::size_t addReadTo(ControlCycle& cycle, const py::handle& proxy, const py::handle& reading, const Target& target) {
    if (py::isinstance<Driver>(proxy) && py::isinstance<MotorReading>(reading)) {
        return addValues(cycle, proxy.cast<Driver&>(), reading.cast<MotorReading>(), target);
    }
    if (py::isinstance<Actuator>(proxy) && py::isinstance<MotorReading>(reading)) {
        return addValues(cycle, proxy.cast<Actuator&>(), reading.cast<MotorReading>(), target);
    }
    if (py::isinstance<IMU>(proxy) && py::isinstance<ImuReading>(reading)) {
        return addValues(cycle, proxy.cast<IMU&>(), reading.cast<ImuReading>(), target);
    }
    if (py::isinstance<Vorlex>(proxy) && py::isinstance<EncoderReading>(reading)) {
        return addValues(cycle, proxy.cast<Vorlex&>(), reading.cast<EncoderReading>(), target);
    }
    const char* wanted = py::isinstance<IMU>(proxy)      ? "ImuReading"
                         : py::isinstance<Vorlex>(proxy) ? "EncoderReading"
                                                         : "MotorReading";
    throw py::type_error("add_read(): a " + std::string(py::str(py::type::of(proxy).attr("__name__"))) +
                         " takes a " + wanted + ", got " + std::string(py::repr(reading)));
}

/// Whether a fresh cycle accepts the read with `target`'s types.
bool accepted(const py::handle& proxy, const py::handle& reading, Target target) {
    alignas(8) std::array<unsigned char, kMaxValues * 8> scratch{};
    target.base = scratch.data();
    ControlCycle fresh;
    return fresh.status(addReadTo(fresh, proxy, reading, target)) != RET_INVALID_ARGUMENT;
}

}  // namespace

std::size_t PythonCycle::addRead(const py::object& proxy, const py::object& reading, const py::object& out) {
    checkIdle("add_read");
    const ProxyInfo info = infoOf(proxy);
    const unsigned node = info.node;
    checkBus(proxy, "add_read");
    Entry entry;
    entry.proxy = proxy;
    entry.node = node;
    entry.reading = reading;
    if (!out.is_none()) {
        if (!PyObject_CheckBuffer(out.ptr())) throw py::type_error("add_read(): out must be a NumPy array or a writable buffer");
        py::buffer_info buffer;
        try {
            buffer = py::reinterpret_borrow<py::buffer>(out).request(true);
        } catch (const py::error_already_set&) {
            throw py::value_error("add_read(): out must be writable");
        }
        const std::optional<Type> type = typeOf(buffer);
        if (!type) throw py::type_error("add_read(): out's dtype must be float32, bool, uint8, uint16, int16, int32, uint32 or uint64, got format '" + buffer.format + "'");
        if (!contiguous(buffer)) throw py::value_error("add_read(): out must be contiguous");
        const auto count = static_cast<std::size_t>(buffer.size);
        if (count == 0 || count > kMaxValues) throw py::value_error("add_read(): out must hold 1 to 8 values, got " + std::to_string(count));
        entry.target = {*type, count, buffer.ptr};
        entry.out = out;
        entry.view.emplace(std::move(buffer));
    }
    // The library refuses at add what it would never send; its own checks, on a
    // cycle that never runs, so a refused read never enters this one.
    Target probed_target = entry.target;
    alignas(8) static std::array<unsigned char, kMaxValues * 8> scratch{};
    probed_target.base = scratch.data();
    const std::size_t probed = addReadTo(*probe_, proxy, reading, probed_target);
    if (probe_->status(probed) == RET_INVALID_ARGUMENT) {
        const std::string what =
            "add_read(): " + std::string(py::str(reading)) + " of " + info.device + " " + std::to_string(node);
        if (accepted(proxy, reading, entry.target)) {
            throw py::value_error(what + ": this proxy already has a read of the same command in this cycle");
        }
        for (Type type : {Type::Float, Type::Bool, Type::U8, Type::U16, Type::I16, Type::I32, Type::U32, Type::U64}) {
            if (accepted(proxy, reading, {type, 1, nullptr})) {
                throw py::type_error(what + " gives " + dtypeName(type) + " values: pass out= a contiguous array of dtype " +
                                     dtypeName(type) + " holding no more values than the reply carries");
            }
        }
        raiseStatus(RET_INVALID_ARGUMENT, node, "add_read", info.device,
                    std::string(py::str(reading)) + " is no reading of its class");
    }
    return append(std::move(entry));
}

void PythonCycle::rebuild() {
    auto cycle = std::make_unique<ControlCycle>();
    float* values = values_.mutable_data();
    const float* setpoints = setpoints_.data();
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Entry& entry = entries_[i];
        if (entry.is_command) {
            if (py::isinstance<Driver>(entry.proxy)) {
                cycle->add(entry.proxy.cast<Driver&>(), entry.command, setpoints[i]);
            } else {
                cycle->add(entry.proxy.cast<Actuator&>(), entry.command, setpoints[i]);
            }
            continue;
        }
        Target target = entry.target;
        if (target.base == nullptr) target.base = &values[i];
        addReadTo(*cycle, entry.proxy, entry.reading, target);
    }
    cycle_ = std::move(cycle);
}

bool PythonCycle::run() {
    checkIdle("run");
    if (entries_.empty()) {
        raiseError("InvalidArgument", "run: the ControlCycle has no entries", "run", py::cast(RET_INVALID_ARGUMENT));
    }
    // Set points first, so that a NaN raises before anything is sent.
    const float* setpoints = setpoints_.data();
    for (std::size_t index : commands_) {
        if (!std::isfinite(setpoints[index])) {
            raiseStatus(RET_INVALID_ARGUMENT, entries_[index].node, "run", infoOf(entries_[index].proxy).device,
                        "set point " + std::to_string(index) + " is not a finite number; nothing sent");
        }
    }
    if (!cycle_) rebuild();
    for (std::size_t index : commands_) cycle_->setSetpoint(index, setpoints[index]);
    ret_status_t status = RET_OK;
    running_ = true;
    {
        py::gil_scoped_release release;
        status = cycle_->run();
    }
    running_ = false;
    if (status == RET_OK) return true;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (cycle_->status(i) == RET_OK) return false;
    }
    // Nothing could be done: the first entry's failure says why. A proxy of a
    // closed bus fails as gone or not running, and the bus's closing is the cause.
    ret_status_t first = cycle_->status(0);
    if (first == RET_NOT_INITIALISED || first == RET_NOT_RUNNING) {
        for (py::handle bus : buses_) {
            if (py::getattr(bus, "closed", py::bool_(false)).cast<bool>()) first = RET_NOT_RUNNING;
        }
    }
    raiseStatus(first, entries_[0].node, "run", infoOf(entries_[0].proxy).device);
}

py::array_t<float> PythonCycle::values() const {
    return py::array_t<float>(static_cast<py::ssize_t>(entries_.size()), values_.data(), values_);
}

py::array_t<float> PythonCycle::setpoints() const {
    return py::array_t<float>(static_cast<py::ssize_t>(entries_.size()), setpoints_.data(), setpoints_);
}

std::size_t PythonCycle::size() const { return entries_.size(); }

py::tuple PythonCycle::statuses() const {
    checkIdle("statuses");
    py::tuple result(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const ret_status_t status = cycle_ ? cycle_->status(i) : RET_TIMEOUT;
        result[i] = py::cast(status);
    }
    return result;
}

}  // namespace kinetra::python
