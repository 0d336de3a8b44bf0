#pragma once
// The step every public proxy operation takes into its implementation: no
// implementation, no call; unusable arguments (a null out-pointer, a NaN or
// infinite set point) are refused after the guard sequence, so the caller still
// learns first that the device cannot be reached, and nothing is sent.

#include <kinetra/types.h>

#include "devices/operation_runner.h"

#include <cmath>
#include <type_traits>

namespace kinetra {

/// Whether one argument of a proxy operation may be used: pointers must not be
/// null, floating-point values must be finite.
template <typename T>
bool isUsableArgument(const T& value) {
    if constexpr (std::is_pointer_v<T>) {
        return value != nullptr;
    } else if constexpr (std::is_floating_point_v<T>) {
        return std::isfinite(value);
    } else {
        return true;
    }
}

/// Runs `method` on the implementation, or reports that there is none, or that an
/// argument is unusable (after the guard sequence, whose status wins).
template <typename Impl, typename Method, typename... Args>
ret_status_t forwardTo(Impl* impl, Method method, Args... args) {
    if (impl == nullptr) return RET_NOT_INITIALISED;
    if (!(isUsableArgument(args) && ...)) {
        const ret_status_t status = impl->guard();
        return status != RET_OK ? status : RET_INVALID_ARGUMENT;
    }
    return (impl->*method)(args...);
}

/// Runs the table entry `Op` on the implementation, with the same checks.
template <const protocol::Operation& Op, typename Impl, typename... Args>
ret_status_t forwardOperation(Impl* impl, Args... args) {
    if (impl == nullptr) return RET_NOT_INITIALISED;
    if (!(isUsableArgument(args) && ...)) {
        const ret_status_t status = impl->guard();
        return status != RET_OK ? status : RET_INVALID_ARGUMENT;
    }
    return performOperation<Op>(*impl, args...);
}

}  // namespace kinetra
