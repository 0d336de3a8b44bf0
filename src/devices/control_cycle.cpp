#include <kinetra/control_cycle.h>

#include "devices/control_cycle_impl.h"
#include "devices/imu_impl.h"
#include "devices/motor_payload.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "devices/protocol/payload.h"
#include "devices/query_engine.h"
#include "devices/vorlex_impl.h"
#include "interface/worker_thread.h"

#include <algorithm>
#include <cmath>

using kinetra::CycleEntry;
using kinetra::CycleProxy;
using kinetra::CycleQuery;
using kinetra::protocol::ValueKind;

namespace {

// A run waits as long as a blocking query does.
constexpr auto kReplyWait = kinetra::QueryEngine<kinetra::reply_value>::kReplyTimeout;

// The pointer type a value of `kind` is handed out to; Float for fixed-point
// values that are scaled.
bool typeFits(ValueKind kind, float scale, CycleValue::Type type) {
    using Type = CycleValue::Type;
    switch (kind) {
        case ValueKind::U8: return type == Type::U8;
        case ValueKind::U16: return type == Type::U16;
        case ValueKind::I16: return type == (scale != 0.0f ? Type::Float : Type::I16);
        case ValueKind::I32: return type == Type::I32;
        case ValueKind::U32: return type == Type::U32;
        case ValueKind::U64: return type == Type::U64;
        case ValueKind::F32: return type == Type::Float;
        case ValueKind::Bool: return type == Type::Bool;
        case ValueKind::Text: return false;
    }
    return false;
}

template <typename T>
void store(void* target, uint64_t bits) {
    *static_cast<T*>(target) = kinetra::protocol::fromBits<T>(bits);
}

// Writes the values of `frame` by the read's layout, packed from payload bit 0.
void decode(const CycleEntry& entry, const can_frame_data& frame) {
    const uint64_t word = kinetra::protocol::payloadWord(frame);
    unsigned offset = 0;
    for (std::size_t i = 0; i < entry.value_count; ++i) {
        const ValueKind kind = entry.query.layout->kinds[i];
        const uint64_t bits = offset < 64 ? word >> offset : 0;
        void* const target = entry.values[i];
        switch (kind) {
            case ValueKind::U8: store<unsigned char>(target, bits); break;
            case ValueKind::U16: store<unsigned short>(target, bits); break;
            case ValueKind::I16:
                if (entry.query.scale != 0.0f) {
                    // In single precision, as the IMU's getters convert.
                    *static_cast<float*>(target) =
                        static_cast<float>(kinetra::protocol::fromBits<short>(bits)) * entry.query.scale;
                } else {
                    store<short>(target, bits);
                }
                break;
            case ValueKind::I32: store<int>(target, bits); break;
            case ValueKind::U32: store<unsigned int>(target, bits); break;
            case ValueKind::U64: store<unsigned long long>(target, bits); break;
            case ValueKind::F32: store<float>(target, bits); break;
            case ValueKind::Bool: store<bool>(target, bits); break;
            case ValueKind::Text: break;
        }
        offset += kinetra::protocol::bitWidth(kind);
    }
}

const kinetra::protocol::motor::CommandFrame& commandFrameOf(MotorCommand command) {
    namespace motor = kinetra::protocol::motor;
    switch (command) {
        case MotorCommand::PositionControl: return motor::kPositionControlFrame;
        case MotorCommand::VelocityControl: return motor::kVelocityControlFrame;
        case MotorCommand::TorqueControl: return motor::kTorqueControlFrame;
        case MotorCommand::Idle: return motor::kIdleFrame;
        case MotorCommand::Active: break;
    }
    return motor::kActiveFrame;
}

bool carriesSetpoint(MotorCommand command) {
    return command == MotorCommand::PositionControl || command == MotorCommand::VelocityControl ||
           command == MotorCommand::TorqueControl;
}

// The set point is the first value; the second field (position feed-forward,
// velocity ramp, torque's second value) stays zero.
void putSetpoint(can_frame_data& frame, float setpoint) {
    const can_frame_data payload = kinetra::MotorPayload().f32(setpoint).frame();
    std::copy(std::begin(payload.data), std::end(payload.data), std::begin(frame.data));
}

}  // namespace

ControlCycle::ControlCycle() : impl_(new ControlCycleImpl) {}

ControlCycle::ControlCycle(Interface* /*iface*/) : ControlCycle() {}

ControlCycle::~ControlCycle() { delete impl_; }

std::size_t ControlCycle::add(Driver& driver, MotorReading reading, float* value) {
    return add(driver, reading, {CycleValue(value)});
}

std::size_t ControlCycle::add(Actuator& actuator, MotorReading reading, float* value) {
    return add(actuator, reading, {CycleValue(value)});
}

std::size_t ControlCycle::add(Driver& driver, MotorReading reading, std::initializer_list<CycleValue> values) {
    const CycleProxy proxy = proxyOf(driver);
    return impl_->addRead(proxy, kinetra::cycleQuery(proxy, reading), values);
}

std::size_t ControlCycle::add(Actuator& actuator, MotorReading reading, std::initializer_list<CycleValue> values) {
    const CycleProxy proxy = proxyOf(actuator);
    return impl_->addRead(proxy, kinetra::cycleQuery(proxy, reading), values);
}

std::size_t ControlCycle::add(IMU& imu, ImuReading reading, std::initializer_list<CycleValue> values) {
    const CycleProxy proxy = proxyOf(imu);
    return impl_->addRead(proxy, kinetra::cycleQuery(proxy, reading), values);
}

std::size_t ControlCycle::add(Vorlex& encoder, EncoderReading reading, std::initializer_list<CycleValue> values) {
    const CycleProxy proxy = proxyOf(encoder);
    return impl_->addRead(proxy, kinetra::cycleQuery(proxy, reading), values);
}

std::size_t ControlCycle::add(Driver& driver, MotorCommand command, float setpoint) {
    return impl_->addCommand(proxyOf(driver), command, setpoint);
}

std::size_t ControlCycle::add(Actuator& actuator, MotorCommand command, float setpoint) {
    return impl_->addCommand(proxyOf(actuator), command, setpoint);
}

ret_status_t ControlCycle::setSetpoint(std::size_t index, float setpoint) { return impl_->setSetpoint(index, setpoint); }

ret_status_t ControlCycle::run() { return impl_->run(); }

ret_status_t ControlCycle::status(std::size_t index) const {
    return index < impl_->entries.size() ? impl_->entries[index].status : RET_INVALID_ARGUMENT;
}

std::size_t ControlCycle::size() const { return impl_->entries.size(); }

CycleProxy ControlCycle::proxyOf(IMU& imu) { return kinetra::cycleProxyOf(imu.impl_, kinetra::CycleClass::Imu); }

CycleProxy ControlCycle::proxyOf(Vorlex& encoder) {
    return kinetra::cycleProxyOf(encoder.impl_, kinetra::CycleClass::Encoder);
}

// ---- Setting up.

std::size_t ControlCycle::ControlCycleImpl::push(CycleEntry entry, Interface* iface) {
    const std::size_t index = entries.size();
    if (entry.status == RET_INVALID_ARGUMENT || iface == nullptr) {
        // Refused, or an interface already gone: in no bus's write.
        if (iface == nullptr && entry.status != RET_INVALID_ARGUMENT) entry.status = RET_NOT_INITIALISED;
        entry.refused = true;
        entries.push_back(std::move(entry));
        return index;
    }
    auto bus = std::find_if(buses.begin(), buses.end(), [&](const kinetra::CycleBusWrite& b) { return b.iface == iface; });
    if (bus == buses.end()) {
        buses.emplace_back();
        bus = buses.end() - 1;
        bus->iface = iface;
    }
    entry.bus = static_cast<std::size_t>(bus - buses.begin());
    (entry.read ? bus->reads : bus->commands).push_back(index);
    bus->frames.resize(bus->reads.size() + bus->commands.size());
    entries.push_back(std::move(entry));
    return index;
}

std::size_t ControlCycle::ControlCycleImpl::addRead(const CycleProxy& proxy, const CycleQuery& query,
                                                    std::initializer_list<CycleValue> values) {
    CycleEntry entry;
    entry.read = true;
    entry.handle = proxy.handle;
    entry.query = query;
    bool usable = proxy.handle != nullptr && query.layout != nullptr && values.size() > 0 &&
                  values.size() <= query.layout->count && values.size() <= entry.values.size();
    // A reply names its command: two reads of one command on one proxy could not be told apart.
    usable = usable && std::none_of(entries.begin(), entries.end(), [&](const CycleEntry& other) {
                 return other.read && !other.refused && other.handle == proxy.handle &&
                        other.query.command == query.command;
             });
    if (usable) {
        for (const CycleValue& value : values) {
            const std::size_t i = entry.value_count++;
            usable = usable && value.target() != nullptr && typeFits(query.layout->kinds[i], query.scale, value.type());
            entry.values[i] = value.target();
        }
    }
    entry.status = usable ? RET_TIMEOUT : RET_INVALID_ARGUMENT;
    if (usable) {
        entry.frame.can_id = kinetra::protocol::hostFrameId(proxy.node, query.command, query.kind);
        entry.frame.can_dlc = query.dlc;
    }
    return push(std::move(entry), proxy.iface);
}

std::size_t ControlCycle::ControlCycleImpl::addCommand(const CycleProxy& proxy, MotorCommand command,
                                                       float setpoint) {
    CycleEntry entry;
    entry.handle = proxy.handle;
    entry.has_setpoint = carriesSetpoint(command);
    const kinetra::protocol::motor::CommandFrame& shape = commandFrameOf(command);
    entry.frame.can_id = kinetra::protocol::hostFrameId(proxy.node, shape.id, shape.kind);
    entry.frame.can_dlc = shape.dlc;
    entry.status = proxy.handle != nullptr ? RET_TIMEOUT : RET_INVALID_ARGUMENT;
    const std::size_t index = push(std::move(entry), proxy.iface);
    if (entries[index].has_setpoint) setSetpoint(index, setpoint);
    return index;
}

ret_status_t ControlCycle::ControlCycleImpl::setSetpoint(std::size_t index, float setpoint) {
    if (index >= entries.size() || !entries[index].has_setpoint) return RET_INVALID_ARGUMENT;
    CycleEntry& entry = entries[index];
    entry.setpoint_valid = std::isfinite(setpoint);
    if (!entry.setpoint_valid) return RET_INVALID_ARGUMENT;
    putSetpoint(entry.frame, setpoint);
    return RET_OK;
}

// ---- Running.

ret_status_t ControlCycle::ControlCycleImpl::run() {
    // On an interface's thread the replies this run waits for could not arrive.
    if (kinetra::onInterfaceThread()) return RET_INVALID_ARGUMENT;
    std::unique_lock<std::mutex> one_run(run_mutex, std::try_to_lock);
    if (!one_run.owns_lock() || entries.empty()) return RET_INVALID_ARGUMENT;
    arm();
    send();
    wait();
    disarm();
    for (const CycleEntry& entry : entries) {
        if (entry.status != RET_OK) return entry.status;
    }
    return RET_OK;
}

void ControlCycle::ControlCycleImpl::arm() {
    for (CycleEntry& entry : entries) {
        if (entry.refused) continue;
        if (entry.has_setpoint && !entry.setpoint_valid) {
            entry.status = RET_INVALID_ARGUMENT;
            continue;
        }
        kinetra::CycleHandle& handle = *entry.handle;
        std::lock_guard<std::mutex> handle_lock(handle.mutex);
        if (handle.core == nullptr) {
            entry.status = RET_NOT_INITIALISED;
            continue;
        }
        entry.status = handle.guard(handle.core);
        if (entry.status != RET_OK) continue;
        if (entry.read) {
            // Another cycle's run reads this proxy now, from another thread.
            if (handle.listener != nullptr && handle.listener != this) {
                entry.status = RET_INVALID_ARGUMENT;
                continue;
            }
            handle.listener = this;
        }
        std::lock_guard<std::mutex> lock(mutex);
        entry.armed = true;
        entry.status = RET_TIMEOUT;
        pending += entry.read;
    }
}

void ControlCycle::ControlCycleImpl::send() {
    for (kinetra::CycleBusWrite& bus : buses) {
        // Commands first: a set point of this run goes out before the reads.
        std::size_t count = 0;
        {
            // A reply of another bus may be taken meanwhile: the flags are the receive threads' too.
            std::lock_guard<std::mutex> lock(mutex);
            for (std::size_t index : bus.commands) {
                if (entries[index].armed) bus.frames[count++] = entries[index].frame;
            }
            for (std::size_t index : bus.reads) {
                if (entries[index].armed) bus.frames[count++] = entries[index].frame;
            }
        }
        if (count == 0) continue;
        bus.sent = bus.iface->sendFrames(bus.frames.data(), count) != 0;
        std::lock_guard<std::mutex> lock(mutex);
        for (std::size_t index : bus.commands) {
            CycleEntry& entry = entries[index];
            if (!entry.armed) continue;
            entry.armed = false;
            entry.status = bus.sent ? RET_OK : RET_NOT_RUNNING;
        }
        if (!bus.sent) failReads(bus);
    }
}

void ControlCycle::ControlCycleImpl::wait() {
    const Clock::time_point deadline = Clock::now() + kReplyWait;
    std::unique_lock<std::mutex> lock(mutex);
    while (pending > 0) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline) break;
        answered.wait_until(lock, std::min(deadline, now + kLostAdapterCheck), [this] { return pending == 0; });
        failLostBuses();
    }
}

// With the cycle's mutex held.
void ControlCycle::ControlCycleImpl::failLostBuses() {
    for (kinetra::CycleBusWrite& bus : buses) {
        bool waiting = false;
        for (std::size_t index : bus.reads) waiting = waiting || entries[index].armed;
        if (waiting && (bus.iface->isAdapterLost() || !bus.iface->isOpen())) failReads(bus);
    }
}

// With the cycle's mutex held: the bus's reads still waiting end as not running.
void ControlCycle::ControlCycleImpl::failReads(kinetra::CycleBusWrite& bus) {
    for (std::size_t index : bus.reads) {
        CycleEntry& entry = entries[index];
        if (!entry.armed) continue;
        entry.armed = false;
        entry.status = RET_NOT_RUNNING;
        --pending;
    }
}

void ControlCycle::ControlCycleImpl::disarm() {
    {
        // From here on a reply of this run is dropped: nothing is written after run() returns.
        std::lock_guard<std::mutex> lock(mutex);
        for (CycleEntry& entry : entries) entry.armed = false;
        pending = 0;
    }
    for (CycleEntry& entry : entries) {
        if (!entry.read || entry.refused) continue;
        kinetra::CycleHandle& handle = *entry.handle;
        std::lock_guard<std::mutex> handle_lock(handle.mutex);
        if (handle.listener == this) handle.listener = nullptr;
    }
}

// On a receive thread, with the proxy's handle locked.
bool ControlCycle::ControlCycleImpl::deliver(const void* handle, const can_frame_data& frame, uint8_t command) {
    std::lock_guard<std::mutex> lock(mutex);
    for (CycleEntry& entry : entries) {
        if (!entry.armed || !entry.read || entry.handle.get() != handle || entry.query.command != command) continue;
        decode(entry, frame);
        entry.armed = false;
        entry.status = RET_OK;
        if (--pending == 0) answered.notify_one();
        return true;
    }
    return false;
}
