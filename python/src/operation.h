#pragma once
// Turns a C++ operation that reports through a status and out-parameters into a
// Python method that returns them: `ret_status_t get(float* a, bool* b)` becomes
// `get() -> (status, a, b)`, `ret_status_t set(float a)` stays `set(a) -> status`,
// and leading inputs stay arguments (`get(bool output, unsigned char reg,
// unsigned char* value, bool* flag)` becomes `get(output, reg) -> (status, value,
// flag)`). The call runs with the GIL released: every one may wait for a reply.

#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

namespace kinetra::python {

namespace py = pybind11;

/// Text a device sent. It may hold any bytes; bytes that are not UTF-8 become
/// U+FFFD in Python rather than an exception.
struct DeviceText {
    std::string text;
};

template <typename T>
struct PythonOut {
    using type = T;
};
template <>
struct PythonOut<std::string> {
    using type = DeviceText;
};

template <typename T>
auto toOut(T& value) {
    if constexpr (std::is_same_v<T, std::string>) {
        return DeviceText{value};
    } else {
        return value;
    }
}

/// How many of the parameters come before the first out-parameter (a pointer).
template <typename... A>
constexpr std::size_t leadingInputs() {
    constexpr bool is_pointer[] = {std::is_pointer_v<A>..., false};
    std::size_t n = 0;
    while (n < sizeof...(A) && !is_pointer[n]) ++n;
    return n;
}

template <auto Method>
struct Operation;

template <typename C, typename R, typename... A, R (C::*Method)(A...)>
struct Operation<Method> {
    static constexpr std::size_t kInputs = leadingInputs<A...>();
    using Params = std::tuple<A...>;
    template <std::size_t I>
    using Param = std::tuple_element_t<I, Params>;
    template <std::size_t O>
    using Out = std::remove_pointer_t<Param<kInputs + O>>;

    template <std::size_t... I, std::size_t... O>
    static auto make(std::index_sequence<I...>, std::index_sequence<O...>) {
        static_assert((std::is_pointer_v<Param<kInputs + O>> && ...), "out-parameters must come last");
        return [](C& self, Param<I>... in) {
            std::tuple<Out<O>...> out{};
            R status;
            {
                py::gil_scoped_release release;
                status = (self.*Method)(in..., &std::get<O>(out)...);
            }
            if constexpr (sizeof...(O) == 0) {
                return status;
            } else {
                return std::tuple<R, typename PythonOut<Out<O>>::type...>(status, toOut(std::get<O>(out))...);
            }
        };
    }

    static auto lambda() {
        return make(std::make_index_sequence<kInputs>{}, std::make_index_sequence<sizeof...(A) - kInputs>{});
    }
};

/// The Python method of the C++ operation `Method` (see the file comment).
template <auto Method>
auto operation() {
    return Operation<Method>::lambda();
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

}  // namespace pybind11::detail
