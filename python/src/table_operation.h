#pragma once
// Binds a proxy operation under the name, argument names and docstring its
// class's operation table gives it: the description, then the arguments and
// reply values with their units.

#include "devices/protocol/operation.h"
#include "operation.h"

#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <utility>

namespace kinetra::python {

/// "name [unit]" for each field, comma-separated.
inline std::string fieldList(const protocol::Field* fields, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        if (fields[i].constant) continue;
        if (!text.empty()) text += ", ";
        text += fields[i].name;
        if (fields[i].unit[0] != '\0') text += std::string(" [") + fields[i].unit + "]";
    }
    return text;
}

/// The docstring of a table entry.
inline std::string docstringOf(const protocol::Operation& op) {
    std::string doc = op.description;
    const std::string args = fieldList(op.args.data(), op.arg_count);
    if (!args.empty()) doc += "\nArguments: " + args + ".";
    const std::string values = fieldList(op.values.data(), op.value_count);
    if (!values.empty()) doc += "\nReply values: " + values + ".";
    return doc;
}

/// The name of the caller's argument `index` in `op` (the fields it fills).
inline const char* argumentName(const protocol::Operation& op, std::size_t index) {
    for (std::size_t i = 0; i < op.arg_count; ++i) {
        if (op.args[i].constant) continue;
        if (index-- == 0) return op.args[i].name;
    }
    return "value";
}

template <auto Method, const protocol::Operation& Op, typename Class, std::size_t... I>
void defineFromTable(Class& cls, std::index_sequence<I...>) {
    cls.def(Op.name, operation<Method>(), py::arg(argumentName(Op, I))..., docstringOf(Op).c_str());
}

/// Binds `Method` as the table entry `Op` describes it.
template <auto Method, const protocol::Operation& Op, typename Class>
void defineFromTable(Class& cls) {
    defineFromTable<Method, Op>(cls, std::make_index_sequence<Operation<Method>::kInputs>{});
}

}  // namespace kinetra::python

/// Given to an operation list with the context (Class, Class, Entries): binds
/// Class::name on `cls` as the entry Entries::name describes it.
#define KINETRA_BIND_FROM_TABLE(ctx, name, params, args) \
    defineFromTable<&KINETRA_CTX_1 ctx::name, KINETRA_CTX_3 ctx::name>(cls);
