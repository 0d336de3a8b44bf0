#pragma once
// Binds a proxy operation under the snake_case of its table name, with the
// argument names and docstring its class's operation table gives it: the
// signature, the description, then the arguments and reply values with their
// units. Several values come back as a named tuple exported from the package.

#include "devices/protocol/operation.h"
#include "operation.h"
#include "snake_case.h"

#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace kinetra::python {

/// "name [unit]" for each field, comma-separated.
std::string fieldList(const protocol::Field* fields, std::size_t count);

/// The docstring of a table entry after its signature line.
std::string docstringOf(const protocol::Operation& op);

/// The name of the caller's argument `index` in `op` (the fields it fills).
const char* argumentName(const protocol::Operation& op, std::size_t index);

/// The names in a parenthesised parameter list as the operation lists write
/// it: "(a, b, c)" -> {"a", "b", "c"}.
std::vector<std::string> parameterNames(const char* list);

/// The named tuple class of an operation's values: kinetra.<Name> where Name is
/// the operation's name without "get" ("getFirmwareVersion" -> FirmwareVersion).
/// The same name with the same fields is one class; another class's operation
/// of that name with other fields gets the class's name in front
/// ("ActuatorMotorThermistorConfiguration").
py::handle resultClass(py::module_& m, const char* proxy_class, const char* operation,
                       const std::vector<std::string>& fields, const std::vector<py::object>& types);

/// Adds `name` to the class's `_operations`, the tuple of its table
/// operations' names in table order (for tools and tests that walk them).
void listOperation(py::handle cls, const std::string& name);

/// The device name a proxy class's messages use ("driver 1: ..."): `value`,
/// given for each proxy class in proxy_common.h.
template <typename Proxy>
struct DeviceName;

template <auto Method, const protocol::Operation& Op, typename Class, std::size_t... I, std::size_t... O>
void defineFromTable(py::module_& m, Class& cls, const char* names, std::index_sequence<I...>,
                     std::index_sequence<O...>) {
    using Op_ = Operation<Method>;
    using Proxy = typename Class::type;
    OperationInfo info;
    info.name = snakeCase(Op.name);
    info.device = DeviceName<Proxy>::value;
    (info.arguments.push_back(argumentName(Op, I)), ...);
    const std::vector<std::string> all = parameterNames(names);
    std::string returns = "None";
    if constexpr (Op_::kOutputs == 1) {
        returns = pythonTypeName<PythonOutType<typename Op_::template Out<0>>>();
    } else if constexpr (Op_::kOutputs > 1) {
        const std::vector<std::string> fields(all.end() - static_cast<std::ptrdiff_t>(Op_::kOutputs), all.end());
        info.result = resultClass(m, cls.attr("__name__").template cast<std::string>().c_str(), Op.name, fields,
                                  {pythonType<PythonOutType<typename Op_::template Out<O>>>()...});
        returns = info.result.attr("__name__").template cast<std::string>();
    }
    std::string signature = info.name + "(self";
    ((signature += ", " + info.arguments[I] + ": " +
                   pythonTypeName<std::remove_cv_t<typename Op_::template Param<I>>>()),
     ...);
    signature += ") -> " + returns;
    const OperationInfo& kept = keepOperationInfo(std::move(info));
    const std::string doc = signature + "\n\n" + docstringOf(Op);
    py::options options;
    options.disable_function_signatures();
    cls.def(kept.name.c_str(), operation<Method>(kept), py::arg(kept.arguments[I].c_str())..., doc.c_str());
    listOperation(cls, kept.name);
}

/// Binds `Method` as the table entry `Op` describes it; `names` is the
/// operation list's parenthesised parameter names.
template <auto Method, const protocol::Operation& Op, typename Class>
void defineFromTable(py::module_& m, Class& cls, const char* names) {
    defineFromTable<Method, Op>(m, cls, names, std::make_index_sequence<Operation<Method>::kInputs>{},
                                std::make_index_sequence<Operation<Method>::kOutputs>{});
}

}  // namespace kinetra::python

/// Given to an operation list with the context (Class, Class, Entries): binds
/// Class::name on `cls` (in module `m`) as the entry Entries::name describes it.
#define KINETRA_BIND_FROM_TABLE(ctx, name, params, args) \
    defineFromTable<&KINETRA_CTX_1 ctx::name, KINETRA_CTX_3 ctx::name>(m, cls, #args);
