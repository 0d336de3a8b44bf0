#pragma once
// Carrying out an operation of a class's operation table on a proxy's engine:
// its request payload built field by field from the caller's arguments, its
// declared ranges checked before anything is sent, and its reply stored into
// the out-parameters by the routing table's layout.

#include <kinetra/types.h>

#include "devices/motor_payload.h"
#include "devices/protocol/operation.h"

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>

namespace kinetra {

/// A caller's argument as the number the table's fields take (every argument
/// type of the public operations is exactly representable).
template <typename T>
double operationValue(T value) {
    if constexpr (std::is_enum_v<T>) {
        return static_cast<double>(static_cast<std::underlying_type_t<T>>(value));
    } else {
        return static_cast<double>(value);
    }
}

/// Whether every caller argument fits its field: finite and within any range.
inline bool acceptsArguments(const protocol::Operation& op, const double* args, std::size_t count) {
    std::size_t next = 0;
    for (std::size_t i = 0; i < op.arg_count; ++i) {
        const protocol::Field& field = op.args[i];
        if (field.constant) continue;
        if (next >= count || !field.accepts(args[next++])) return false;
    }
    return next == count;
}

/// The request payload of `op` from the caller's arguments, in field order;
/// constant fields carry their value.
inline can_frame_data requestPayload(const protocol::Operation& op, const double* args, std::size_t count) {
    using protocol::ValueKind;
    MotorPayload payload;
    std::size_t next = 0;
    for (std::size_t i = 0; i < op.arg_count; ++i) {
        const protocol::Field& field = op.args[i];
        const double value = field.constant ? field.value : (next < count ? args[next++] : 0.0);
        if (field.scale != 0.0f) {
            if (field.kind == ValueKind::U8) {
                payload.scaled8(static_cast<float>(value), field.scale);
            } else {
                payload.scaled16(static_cast<float>(value), field.scale);
            }
            continue;
        }
        switch (field.kind) {
            case ValueKind::F32: payload.f32(static_cast<float>(value)); break;
            case ValueKind::Bool: payload.flag(value != 0.0); break;
            case ValueKind::U8: payload.u8(static_cast<uint8_t>(static_cast<int64_t>(value))); break;
            case ValueKind::U16: payload.u16(static_cast<uint16_t>(static_cast<int64_t>(value))); break;
            case ValueKind::I16: payload.i16(static_cast<int16_t>(static_cast<int64_t>(value))); break;
            case ValueKind::I32: payload.i32(static_cast<int32_t>(static_cast<int64_t>(value))); break;
            case ValueKind::U32:
            case ValueKind::U64:
            case ValueKind::Text: payload.u32(static_cast<uint32_t>(static_cast<int64_t>(value))); break;
        }
    }
    return payload.frame();
}

namespace detail {

template <const protocol::Operation& Op, typename Core, typename Tuple, std::size_t... I, std::size_t... O>
ret_status_t performQuery(Core& core, const Tuple& args, std::index_sequence<I...>, std::index_sequence<O...>) {
    constexpr std::size_t kInputs = sizeof...(I);
    const double values[] = {operationValue(std::get<I>(args))..., 0.0};
    if (!acceptsArguments(Op, values, kInputs)) {
        const ret_status_t status = core.guard();
        return status != RET_OK ? status : RET_INVALID_ARGUMENT;
    }
    return core.template queryWith<Op.command>(Op.frame, Op.dlc, requestPayload(Op, values, kInputs),
                                               std::get<kInputs + O>(args)...);
}

}  // namespace detail

/// Carries out `Op` on `core`: a command sends its frame; a query sends its
/// request and stores the reply's first values into the trailing out-pointers.
/// An argument outside its declared range, or not finite, is refused with
/// RET_INVALID_ARGUMENT after the guard sequence (whose status wins) and before
/// anything is sent.
template <const protocol::Operation& Op, typename Core, typename... A>
ret_status_t performOperation(Core& core, A... args) {
    constexpr std::size_t kInputs = Op.callerArgs();
    static_assert(sizeof...(A) >= kInputs, "fewer arguments than the operation's table entry declares");
    if constexpr (!Op.isQuery()) {
        static_assert(sizeof...(A) == kInputs, "a command takes exactly the arguments its table entry declares");
        const double values[] = {operationValue(args)..., 0.0};
        if (!acceptsArguments(Op, values, kInputs)) {
            const ret_status_t status = core.guard();
            return status != RET_OK ? status : RET_INVALID_ARGUMENT;
        }
        return core.sendCommand(Op.command, Op.frame, Op.dlc, requestPayload(Op, values, kInputs));
    } else {
        return detail::performQuery<Op>(core, std::forward_as_tuple(args...), std::make_index_sequence<kInputs>{},
                                        std::make_index_sequence<sizeof...(A) - kInputs>{});
    }
}

}  // namespace kinetra
