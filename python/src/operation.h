#pragma once
// Turns a C++ operation that reports through a status and out-parameters into a
// Python method that returns its values and raises when it fails:
// `ret_status_t get(float* a, bool* b)` becomes `get() -> Result(a, b)` (a named
// tuple), `ret_status_t get(float* a)` becomes `get() -> float`, `ret_status_t
// set(float a)` becomes `set(a) -> None`, and leading inputs stay arguments
// (`get(bool output, unsigned char reg, unsigned char* value, bool* flag)`
// becomes `get(output, reg) -> Result(value, flag)`). The exchange runs with the
// GIL released: every one may wait for a reply.

#include <kinetra/types.h>

#include <pybind11/pybind11.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "errors.h"

namespace kinetra::python {

namespace py = pybind11;

/// Text a device sent. It may hold any bytes; bytes that are not UTF-8 become
/// U+FFFD in Python rather than an exception.
struct DeviceText {
    std::string text;
};

/// An integer argument as Python gave it: any int is accepted, and one outside
/// the C++ type's range is reported as InvalidArgument (with the operation and
/// node) rather than as a TypeError that names no argument.
template <typename T>
struct CheckedInt {
    T value{};
    bool in_range = true;
};

template <typename T>
using PythonInt = std::bool_constant<std::is_integral_v<T> && !std::is_same_v<T, bool>>;

template <typename T>
using PythonInType = std::conditional_t<PythonInt<T>::value, CheckedInt<T>, T>;

template <typename T>
using PythonOutType = std::conditional_t<std::is_same_v<T, std::string>, DeviceText, T>;

template <typename T>
T unwrap(const T& value) {
    return value;
}
template <typename T>
T unwrap(const CheckedInt<T>& value) {
    return value.value;
}
template <typename T>
bool inRange(const T&) {
    return true;
}
template <typename T>
bool inRange(const CheckedInt<T>& value) {
    return value.in_range;
}
template <typename T>
bool finite(const T& value) {
    if constexpr (std::is_floating_point_v<T>) {
        return std::isfinite(value);
    } else {
        return true;
    }
}

template <typename T>
auto toOut(T& value) {
    if constexpr (std::is_same_v<T, std::string>) {
        return DeviceText{value};
    } else {
        return value;
    }
}

/// What a bound operation needs besides its C++ method: its Python name, the
/// names of its arguments, its class's name for messages and the named tuple
/// of its values (none for fewer than two). Kept for the life of the module.
struct OperationInfo {
    std::string name;
    const char* device = "node";
    std::vector<std::string> arguments;
    py::handle result;
};

/// A stable home for the operations' descriptions.
OperationInfo& keepOperationInfo(OperationInfo info);

/// Whether the bus the proxy at `proxy` was made on is closed; then every
/// failure of the proxy reads as RET_NOT_RUNNING. Implemented by the Bus.
bool proxyBusClosed(const void* proxy);

/// How many of the parameters come before the first out-parameter (a pointer).
template <typename... A>
constexpr std::size_t leadingInputs() {
    constexpr bool is_pointer[] = {std::is_pointer_v<A>..., false};
    std::size_t n = 0;
    while (n < sizeof...(A) && !is_pointer[n]) ++n;
    return n;
}

/// Raises for a failed call of `info` on node `node`, naming the argument at fault.
[[noreturn]] void raiseOperation(ret_status_t status, unsigned node, const OperationInfo& info,
                                 const bool* in_range, const bool* is_finite, std::size_t count);

template <auto Method>
struct Operation;

template <typename C, typename R, typename... A, R (C::*Method)(A...)>
struct Operation<Method> {
    static_assert(std::is_same_v<R, ret_status_t>, "a device operation returns its status");
    static constexpr std::size_t kInputs = leadingInputs<A...>();
    static constexpr std::size_t kOutputs = sizeof...(A) - kInputs;
    using Params = std::tuple<A...>;
    template <std::size_t I>
    using Param = std::tuple_element_t<I, Params>;
    template <std::size_t O>
    using Out = std::remove_pointer_t<Param<kInputs + O>>;

    template <std::size_t... I, std::size_t... O>
    static auto make(const OperationInfo* info, std::index_sequence<I...>, std::index_sequence<O...>) {
        static_assert((std::is_pointer_v<Param<kInputs + O>> && ...), "out-parameters must come last");
        return [info](C& self, PythonInType<Param<I>>... in) -> py::object {
            const bool in_range[] = {inRange(in)..., true};
            const bool is_finite[] = {finite(in)..., true};
            for (std::size_t i = 0; i < kInputs; ++i) {
                if (!in_range[i]) raiseOperation(RET_INVALID_ARGUMENT, self.getId(), *info, in_range, is_finite, kInputs);
            }
            std::tuple<Out<O>...> out{};
            ret_status_t status;
            {
                py::gil_scoped_release release;
                status = (self.*Method)(unwrap(in)..., &std::get<O>(out)...);
            }
            if (status != RET_OK) {
                if (proxyBusClosed(&self)) status = RET_NOT_RUNNING;
                raiseOperation(status, self.getId(), *info, in_range, is_finite, kInputs);
            }
            if constexpr (sizeof...(O) == 0) {
                return py::none();
            } else if constexpr (sizeof...(O) == 1) {
                return py::cast(toOut(std::get<0>(out)));
            } else {
                return info->result(toOut(std::get<O>(out))...);
            }
        };
    }

    static auto lambda(const OperationInfo* info) {
        return make(info, std::make_index_sequence<kInputs>{}, std::make_index_sequence<kOutputs>{});
    }
};

/// The Python method of the C++ operation `Method` (see the file comment).
template <auto Method>
auto operation(const OperationInfo& info) {
    return Operation<Method>::lambda(&info);
}

/// The Python type of a C++ value type (float, int, bool, str or a bound enum).
template <typename T>
py::object pythonType() {
    if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, DeviceText>) {
        return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyUnicode_Type));
    } else if constexpr (std::is_same_v<T, bool>) {
        return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyBool_Type));
    } else if constexpr (std::is_integral_v<T>) {
        return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyLong_Type));
    } else if constexpr (std::is_floating_point_v<T>) {
        return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyFloat_Type));
    } else {
        return py::type::of<T>();
    }
}

/// The name of pythonType<T>() as a signature shows it.
template <typename T>
std::string pythonTypeName() {
    return pythonType<T>().attr("__name__").template cast<std::string>();
}

}  // namespace kinetra::python

namespace pybind11::detail {

template <>
struct type_caster<kinetra::python::DeviceText> {
    PYBIND11_TYPE_CASTER(kinetra::python::DeviceText, const_name("str"));
    bool load(handle, bool) { return false; }
    static handle cast(const kinetra::python::DeviceText& value, return_value_policy, handle) {
        return PyUnicode_DecodeUTF8(value.text.data(), static_cast<Py_ssize_t>(value.text.size()), "replace");
    }
};

template <typename T>
struct type_caster<kinetra::python::CheckedInt<T>> {
    PYBIND11_TYPE_CASTER(kinetra::python::CheckedInt<T>, const_name("int"));
    /// Takes an int (or anything with __index__, but not a float or a bool);
    /// records instead of refusing a value outside T's range.
    bool load(handle src, bool) {
        if (!src || PyFloat_Check(src.ptr()) || PyBool_Check(src.ptr())) return false;
        object number = reinterpret_steal<object>(PyNumber_Index(src.ptr()));
        if (!number) {
            PyErr_Clear();
            return false;
        }
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
        if (v == -1 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        using Limits = std::numeric_limits<T>;
        value.in_range = overflow == 0 && v >= static_cast<long long>(Limits::min()) &&
                         (v < 0 || static_cast<unsigned long long>(v) <= static_cast<unsigned long long>(Limits::max()));
        value.value = value.in_range ? static_cast<T>(v) : T{};
        return true;
    }
};

}  // namespace pybind11::detail
